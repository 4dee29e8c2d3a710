/* cnode-run as the node's debugger: the node runs once on a thread of its
 * own while this thread holds it at its stoppoints through the debugger
 * library, describes every stop, steps, requests an abort or makes the node's
 * thread fault, and finally prints the call's result.
 *
 * The debugger finds the module's breakpoint bytes and global flag through
 * the symbols of the module's file, and the engine's control block through
 * the library. Each stop names its entry from the breakpoint byte that the
 * stoppoint left on the held thread's stack, and the frame address from the
 * same walk; the locals shown are the node's text replayed on the same inputs
 * up to that entry. Everything the debugger set is cleared before the result
 * is printed. */
#include <atomic>
#include <cstdio>
#include <thread>
#include "debug_session.h"
#include "debugger_library.h"
#include "node_points.h"
#include "output.h"

namespace cnode_run {

namespace {

constexpr uint32_t kPollMilliseconds = 50;
constexpr int kStepOut = 3;

const char *step_name(int type)
{
    static const char *const names[] = {"none", "into", "next", "out", "over"};
    return type >= 0 && type <= 4 ? names[type] : "none";
}

struct Stop {
    int entry = 0;
    std::string reason;
    bool abort_requested = false;
    LocalsAt locals;
};

struct NamedValue {
    const char *name;
    int32_t LocalsAt::*field;
};
constexpr NamedValue kInputs[] = {
    {"cap", &LocalsAt::cap},   {"err_code", &LocalsAt::err_code}, {"freq", &LocalsAt::freq},
    {"label", &LocalsAt::label}, {"loss", &LocalsAt::loss},       {"samp", &LocalsAt::samp},
    {"size", &LocalsAt::size}, {"volt", &LocalsAt::volt},
};
constexpr NamedValue kOutputs[] = {
    {"cap_indx", &LocalsAt::cap_indx},         {"err_code_indx", &LocalsAt::err_code_indx},
    {"err_msg_indx", &LocalsAt::err_msg_indx}, {"freq_indx", &LocalsAt::freq_indx},
    {"loss_indx", &LocalsAt::loss_indx},       {"samp_indx", &LocalsAt::samp_indx},
    {"unit_indx", &LocalsAt::unit_indx},       {"volt_indx", &LocalsAt::volt_indx},
};

int32_t output_value(const LocalsAt &l, const std::string &name)
{
    for (const NamedValue &v : kOutputs)
        if (name == v.name) return l.*v.field;
    return 0;
}

class Session {
public:
    Session(const Options &options, const DebugRequest &request, Host &host, DebuggerLibrary &library)
        : options_(options), request_(request), host_(host), lib_(library) {}

    int run();

private:
    bool locate(std::string &error);
    void arm();
    void disarm();
    void handle(const standin_dbg_stop_t &held);
    void step_from(const standin_dbg_stop_t &held, int type);
    bool is_break_entry(int entry) const;
    void print_stop(const Stop &stop) const;
    void flush_trace();
    nlohmann::ordered_json stop_json(const Stop &stop) const;

    const Options &options_;
    const DebugRequest &request_;
    Host &host_;
    DebuggerLibrary &lib_;
    volatile unsigned char *table_ = nullptr;
    volatile uint8_t *global_flag_ = nullptr;
    standin_dbg_control_block_t *control_ = nullptr;
    std::vector<Stop> stops_;
    std::vector<std::string> trace_;
    size_t trace_seen_ = 0;
    bool abort_requested_ = false;
};

bool Session::locate(std::string &error)
{
    table_ = static_cast<volatile unsigned char *>(lib_.module_symbol(host_.module(), "__qex_stoppoint_table"));
    global_flag_ = static_cast<volatile uint8_t *>(lib_.module_symbol(host_.module(), "__qex_global_flag"));
    control_ = lib_.control_block();
    if (!table_ || !global_flag_) error = "the module's file has no symbols for its stoppoints";
    else if (!control_) error = "the engine offers no debugger control block";
    return error.empty();
}

bool Session::is_break_entry(int entry) const
{
    for (int b : request_.breaks)
        if (b == entry) return true;
    return entry == request_.abort_at || entry == request_.fault_at;
}

/* Breakpoint bytes for every entry the flags name; a fault armed at its entry;
 * stepping without a breakpoint starts with a suspend request, so the node
 * stops at its first statement. */
void Session::arm()
{
    lib_.clear_control_block();
    lib_.hold(0, 1);
    for (int entry = kFirstEntry; entry <= kLastEntry; ++entry)
        if (is_break_entry(entry)) table_[entry] = 1;
    if (request_.fault_at) lib_.fault_next_barrier(0, &table_[request_.fault_at]);
    if (request_.step && request_.breaks.empty() && !request_.abort_at && !request_.fault_at) {
        *global_flag_ = 1;
        control_->global_flag = 1;
        control_->suspend_flag = 1;
    }
}

void Session::disarm()
{
    for (int entry = kFirstEntry; entry <= kLastEntry; ++entry) table_[entry] = 0;
    *global_flag_ = 0;
    lib_.clear_control_block();
}

/* Next, over and out are bounded by the frame of the held function: next and
 * over stop again in that frame, out only in a frame nearer the stack base. */
void Session::step_from(const standin_dbg_stop_t &held, int type)
{
    *global_flag_ = 1;
    control_->global_flag = 1;
    control_->single_step_thread = held.thread_id;
    control_->single_step_frame = type == kStepOut ? held.frame_address + 1 : held.frame_address;
    control_->single_step_flag = static_cast<uint8_t>(type);
}

void Session::handle(const standin_dbg_stop_t &held)
{
    Stop stop;
    ptrdiff_t offset = held.entry ? held.entry - table_ : 0;
    stop.entry = offset >= kFirstEntry && offset <= kLastEntry ? static_cast<int>(offset) : 0;
    bool stepping = control_->single_step_flag != 0;
    if (stop.entry && table_[stop.entry]) stop.reason = "breakpoint";
    else if (stepping) stop.reason = std::string("step ") + step_name(control_->single_step_flag);
    else stop.reason = "suspend";
    stop.locals = locals_at(options_.inputs, stop.entry);

    if (request_.abort_at && stop.entry == request_.abort_at && !abort_requested_) {
        /* This thread is the second one; the held thread sees the request when it resumes. */
        host_.abort_callback()(host_.instance());
        abort_requested_ = stop.abort_requested = true;
    }
    if (request_.step) step_from(held, request_.step);
    stops_.push_back(stop);
    if (!options_.json) print_stop(stop);
    flush_trace();
    lib_.release(held.id);
}

void Session::print_stop(const Stop &stop) const
{
    if (stop.entry == 0) std::printf("stop (%s) at a statement outside the node's points\n", stop.reason.c_str());
    else
        std::printf("stop at entry %d (%s): %s\n", stop.entry, stop.reason.c_str(), describe_point(stop.entry).c_str());
    if (stop.entry && !stop.locals.reached)
        std::printf("  (the node's text does not pass this entry for these inputs)\n");
    else if (stop.entry) {
        std::printf("  locals:");
        for (const NamedValue &v : kInputs) std::printf(" %s=%d", v.name, stop.locals.*v.field);
        std::printf("\n  computed so far:");
        if (stop.locals.assigned.empty()) std::printf(" (nothing yet)");
        for (const std::string &name : stop.locals.assigned)
            std::printf(" %s=%d", name.c_str(), output_value(stop.locals, name));
        std::printf("\n");
    }
    if (stop.abort_requested) std::printf("  abort requested from a second thread\n");
    std::fflush(stdout);
}

void Session::flush_trace()
{
    if (!request_.trace) return;
    for (std::string &line : lib_.log_from(trace_seen_)) {
        ++trace_seen_;
        if (options_.json) trace_.push_back(std::move(line));
        else std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

nlohmann::ordered_json Session::stop_json(const Stop &stop) const
{
    nlohmann::ordered_json j;
    j["entry"] = stop.entry;
    j["reason"] = stop.reason;
    if (const NodePoint *p = node_point(stop.entry)) {
        j["step"] = p->step;
        j["part"] = p->part;
        j["code"] = p->code;
    }
    if (stop.locals.reached) {
        nlohmann::ordered_json locals, computed;
        for (const NamedValue &v : kInputs) locals[v.name] = stop.locals.*v.field;
        for (const std::string &name : stop.locals.assigned) computed[name] = output_value(stop.locals, name);
        j["locals"] = locals;
        j["computed"] = computed.is_null() ? nlohmann::ordered_json::object() : computed;
    }
    if (stop.abort_requested) j["abort_requested"] = true;
    return j;
}

int Session::run()
{
    std::string error;
    if (!locate(error)) {
        std::fprintf(stderr, "cnode-run: %s\n", error.c_str());
        return kExitUsage;
    }
    arm();
    Outputs out;
    std::atomic<bool> done{false};
    std::thread node([&] {
        out = host_.call(options_.inputs, options_.error);
        done = true;
    });
    for (;;) {
        standin_dbg_stop_t held{};
        if (lib_.wait_stop(kPollMilliseconds, &held)) handle(held);
        else if (done) break;
    }
    node.join();
    disarm();
    flush_trace();

    if (options_.json) {
        nlohmann::ordered_json j = to_json(out);
        nlohmann::ordered_json stops = nlohmann::ordered_json::array();
        for (const Stop &s : stops_) stops.push_back(stop_json(s));
        j["stops"] = stops;
        if (request_.trace) j["trace"] = trace_;
        std::printf("%s\n", json_line(j).c_str());
    } else {
        print_table(out);
    }
    std::fflush(stdout);
    return out.status != 0 ? kExitError : kExitOk;
}

} // namespace

int run_debug_session(const Options &options, const DebugRequest &request, Host &host)
{
    DebuggerLibrary library;
    std::string error;
    if (!library.load(error)) {
        std::fprintf(stderr, "cnode-run: %s\n", error.c_str());
        return kExitUsage;
    }
    Session session(options, request, host, library);
    return session.run();
}

} // namespace cnode_run
