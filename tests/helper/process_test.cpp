/* What happens once per process, each case in a fresh child process: binding
 * the host memory manager (none loaded yet, then loaded late; every place of
 * the search order, and which place wins when several hold a copy), refusing
 * to load beside an engine without the abort entry (the message read as a
 * native debugger reads it), and the debugger library told of an abort.
 *
 * The child is this program started with "--probe <scenario> [files]": it
 * links none of the stand-ins, loads exactly the libraries its scenario names
 * (paths relative to the program's folder) and prints what it observed. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "child_process.h"
#include "debugged_child.h"
#include "cnode.h"
#include "field_model.h"
#include "module_loader.h"

namespace {

const char kRefusal[] =
    "ERROR: C Node RTE is not present or is missing cnode_rte_get_abort_tlv export! C Node DLLs will not load.\n";

std::string bin() { return testing_support::exe_directory(); }

template <typename T>
T export_of(HMODULE module, const char *name)
{
    return module ? testing_support::export_of<T>(module, name) : nullptr;
}

/* ================================ the child ================================ */

typedef void **(*NewString)(const char *text, int32_t length);
typedef long (*ResizeCalls)(void);
typedef void (*LockHook)(int lock, void *context);
typedef void (*SetLockHooks)(LockHook before_get, LockHook after_release, void *context);
typedef size_t (*LogCount)(void);
typedef int (*LogLine)(size_t i, char *buf, size_t size);

const model::In kInputs = {1, 0, 1, 1, 1, 1, 1, 40};

struct Call {
    __cnode_gwerror cluster;
    int32_t out[8];
};

Call call(const testing_support::NodeModule &m, void *instance, void *source)
{
    Call c{{0, 0, source}, {111, 112, 113, 114, 115, 116, 117, 118}};
    int32_t *o = c.out;
    m.entry(instance, kInputs.cap, kInputs.err_code, kInputs.freq, kInputs.label, kInputs.loss, kInputs.samp,
            kInputs.size, kInputs.volt, &o[0], &o[1], &o[2], &c.cluster, &o[3], &o[4], &o[5], &o[6], &o[7]);
    return c;
}

void print_call(const char *label, const Call &c)
{
    std::printf("%s status=%d code=%d out=%d,%d,%d,%d,%d,%d,%d,%d\n", label, c.cluster.status, c.cluster.code,
                c.out[0], c.out[1], c.out[2], c.out[3], c.out[4], c.out[5], c.out[6], c.out[7]);
}

bool load_module(testing_support::NodeModule &m)
{
    if (m.load()) return true;
    std::printf("module=0 error=%lu\n", GetLastError());
    return false;
}

/* No memory manager at all: every call is refused with 12; once the host has
 * loaded one, the next call binds it and runs. */
int probe_unbound()
{
    if (!LoadLibraryA((bin() + "qex_gwrt.dll").c_str())) return 2;
    testing_support::NodeModule m;
    if (!load_module(m)) return 2;
    char instance = 0;
    m.reserve(&instance);
    /* Never read: the frame stops before the source while nothing is bound. */
    LStr unread = {0, {0}};
    LStrPtr unread_pointer = &unread;
    print_call("before", call(m, &instance, &unread_pointer));
    print_call("before", call(m, &instance, &unread_pointer));
    HMODULE memory = LoadLibraryA((bin() + "gwrt.dll").c_str());
    auto new_string = export_of<NewString>(memory, "standin_mem_new_string");
    if (!new_string) return 2;
    print_call("after", call(m, &instance, new_string("late", 4)));
    return 0;
}

/* Loads the named libraries in order, then the module; one call; prints which
 * loaded memory manager copy served it. */
int probe_bind(int count, char **files)
{
    if (!LoadLibraryA((bin() + "qex_gwrt.dll").c_str())) return 2;
    std::vector<std::pair<std::string, HMODULE>> loaded;
    for (int i = 0; i < count; ++i) {
        HMODULE h = LoadLibraryA((bin() + files[i]).c_str());
        if (!h) {
            std::printf("cannot load %s\n", files[i]);
            return 2;
        }
        loaded.emplace_back(files[i], h);
    }
    testing_support::NodeModule m;
    if (!load_module(m)) return 2;
    NewString new_string = nullptr;
    std::vector<long> before;
    for (auto &[name, h] : loaded) {
        if (!new_string) new_string = export_of<NewString>(h, "standin_mem_new_string");
        auto calls = export_of<ResizeCalls>(h, "standin_mem_resize_calls");
        before.push_back(calls ? calls() : 0);
    }
    if (!new_string) return 2;
    char instance = 0;
    m.reserve(&instance);
    Call c = call(m, &instance, new_string("where", 5));
    std::printf("status=%d code=%d\n", c.cluster.status, c.cluster.code);
    for (size_t i = 0; i < loaded.size(); ++i) {
        auto calls = export_of<ResizeCalls>(loaded[i].second, "standin_mem_resize_calls");
        if (calls && calls() != before[i]) std::printf("bound=%s\n", loaded[i].first.c_str());
    }
    return 0;
}

/* The module beside an engine that lacks the abort entry. */
int probe_refuse()
{
    if (!LoadLibraryA((bin() + "fixtures\\engine_without_abort_entry\\qex_gwrt.dll").c_str())) return 2;
    HMODULE module = LoadLibraryA((bin() + "parse_measurement.dll").c_str());
    std::printf("loaded=%d\n", module ? 1 : 0);
    std::printf("regular_engine_loaded=%d\n", GetModuleHandleA((bin() + "qex_gwrt.dll").c_str()) ? 1 : 0);
    return 0;
}

/* With the debugger library loaded (before the module, or after it), an abort
 * that takes effect is reported to it with the debugged process and the
 * aborted thread. The request comes from
 * another thread while the call's user-code window is open (the engine's lock
 * hook fires as the begin step releases the registry lock). */
struct AbortOnRelease {
    DWORD target;
    HANDLE request, done;
};

void abort_on_release(int, void *context)
{
    auto *a = static_cast<AbortOnRelease *>(context);
    if (GetCurrentThreadId() != a->target) return;
    SetEvent(a->request);
    WaitForSingleObject(a->done, INFINITE);
}

int probe_debugger(bool library_after_module)
{
    HMODULE engine = LoadLibraryA((bin() + "qex_gwrt.dll").c_str());
    HMODULE memory = LoadLibraryA((bin() + "gwrt.dll").c_str());
    testing_support::NodeModule m;
    if (!library_after_module && !LoadLibraryA((bin() + "qexdebug.dll").c_str())) return 2;
    if (!load_module(m)) return 2;
    HMODULE debugger = LoadLibraryA((bin() + "qexdebug.dll").c_str());
    auto set_hooks = export_of<SetLockHooks>(engine, "standin_rte_set_lock_hooks");
    auto new_string = export_of<NewString>(memory, "standin_mem_new_string");
    auto log_count = export_of<LogCount>(debugger, "standin_dbg_log_count");
    auto log_line = export_of<LogLine>(debugger, "standin_dbg_log_line");
    if (!set_hooks || !new_string || !log_count || !log_line) return 2;
    char instance = 0;
    m.reserve(&instance);

    AbortOnRelease a{GetCurrentThreadId(), CreateEventA(nullptr, FALSE, FALSE, nullptr),
                     CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    volatile bool stop = false;
    std::thread aborter([&] {
        for (;;) {
            WaitForSingleObject(a.request, INFINITE);
            if (stop) return;
            m.abort(&instance);
            SetEvent(a.done);
        }
    });
    set_hooks(nullptr, abort_on_release, &a);
    Call c = call(m, &instance, new_string("dbg", 3));
    set_hooks(nullptr, nullptr, nullptr);
    stop = true;
    SetEvent(a.request);
    aborter.join();

    print_call("call", c);
    std::printf("process=%lu thread=%lu\n", GetCurrentProcessId(), GetCurrentThreadId());
    for (size_t i = 0; i < log_count(); ++i) {
        char line[256];
        log_line(i, line, sizeof line);
        if (std::strncmp(line, "thread_aborted", 14) == 0) std::printf("%s\n", line);
    }
    return 0;
}

int run_probe(int argc, char **argv)
{
    if (argc < 1) return 2;
    _setmode(_fileno(stdout), _O_BINARY); /* lines end in "\n" alone */
    std::string scenario = argv[0];
    int status = 2;
    if (scenario == "unbound") status = probe_unbound();
    if (scenario == "bind") status = probe_bind(argc - 1, argv + 1);
    if (scenario == "refuse") status = probe_refuse();
    if (scenario == "debugger" && argc == 2) status = probe_debugger(std::string(argv[1]) == "after");
    std::fflush(stdout);
    return status;
}

/* ================================ the parent ================================ */

std::string self() { return bin() + "helper_process_tests.exe"; }

testing_support::ChildResult probe(const std::string &arguments)
{
    return testing_support::run_child("\"" + self() + "\" --probe " + arguments);
}

std::string outputs_text(const model::In &in)
{
    model::Out o = model::positions(in);
    char text[128];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d,%d,%d", o.cap_indx, o.err_code_indx, o.err_msg_indx,
                  o.freq_indx, o.loss_indx, o.samp_indx, o.unit_indx, o.volt_indx);
    return text;
}

TEST(MemoryManagerBinding, WithoutOneEveryCallFailsWith12UntilTheHostLoadsIt)
{
    auto r = probe("unbound");
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    std::string refused = "before status=1 code=12 out=111,112,113,114,115,116,117,118\n";
    EXPECT_EQ(r.out, refused + refused + "after status=0 code=0 out=" + outputs_text(kInputs) + "\n");
}

struct Placement {
    const char *name;
    std::vector<const char *> files; /* loaded in this order */
    const char *bound;
};

const char kCommon[] = "fixtures\\binding\\common\\Tamberlane.Common.dll";
const char kCCode[] = "fixtures\\binding\\ccode\\Tamberlane.CCode.dll";
const char kCommonGwrt[] = "fixtures\\binding\\common\\Win64\\gwrt.dll";
const char kCCodeGwrt[] = "fixtures\\binding\\ccode\\Win64\\gwrt.dll";
const char kExeGwrt[] = "Win64\\gwrt.dll";
const char kPlainGwrt[] = "fixtures\\binding\\plain\\gwrt.dll";
const char kCommonGwffrt[] = "fixtures\\binding\\common\\Win64\\gwffrt.dll";
const char kCCodeGwffrt[] = "fixtures\\binding\\ccode\\Win64\\gwffrt.dll";
const char kExeGwffrt[] = "Win64\\gwffrt.dll";
const char kPlainGwffrt[] = "fixtures\\binding\\plain\\gwffrt.dll";

const Placement kPlacements[] = {
    /* each place when it is the only one */
    {"gwrt_beside_common", {kCommon, kCommonGwrt}, kCommonGwrt},
    {"gwrt_beside_ccode", {kCCode, kCCodeGwrt}, kCCodeGwrt},
    {"gwrt_beside_the_executable", {kExeGwrt}, kExeGwrt},
    {"gwrt_by_name", {kPlainGwrt}, kPlainGwrt},
    {"gwffrt_beside_common", {kCommon, kCommonGwffrt}, kCommonGwffrt},
    {"gwffrt_beside_ccode", {kCCode, kCCodeGwffrt}, kCCodeGwffrt},
    {"gwffrt_beside_the_executable", {kExeGwffrt}, kExeGwffrt},
    {"gwffrt_by_name", {kPlainGwffrt}, kPlainGwffrt},
    /* the earlier place wins; the copy loaded first is the one a name alone finds */
    {"common_before_a_copy_found_by_name", {kPlainGwrt, kCommon, kCommonGwrt}, kCommonGwrt},
    {"ccode_before_a_copy_found_by_name", {kPlainGwrt, kCCode, kCCodeGwrt}, kCCodeGwrt},
    {"executable_before_a_copy_found_by_name", {kPlainGwrt, kExeGwrt}, kExeGwrt},
    {"common_before_ccode_and_executable", {kExeGwrt, kCCode, kCCodeGwrt, kCommon, kCommonGwrt}, kCommonGwrt},
    {"ccode_before_executable", {kExeGwrt, kCCode, kCCodeGwrt}, kCCodeGwrt},
    {"gwrt_by_name_before_any_gwffrt", {kCommon, kCommonGwffrt, kExeGwffrt, kPlainGwrt}, kPlainGwrt},
    {"gwffrt_beside_common_before_by_name", {kPlainGwffrt, kCommon, kCommonGwffrt}, kCommonGwffrt},
    {"a_neighbour_without_its_copy_is_passed_over", {kCommon, kCCode, kCCodeGwrt}, kCCodeGwrt},
};

class SearchOrder : public ::testing::TestWithParam<Placement> {};

TEST_P(SearchOrder, BindsTheCopyOfTheFirstPlaceThatHasOne)
{
    const Placement &p = GetParam();
    std::string arguments = "bind";
    for (const char *file : p.files) arguments += std::string(" ") + file;
    auto r = probe(arguments);
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    EXPECT_EQ(r.out, std::string("status=0 code=0\nbound=") + p.bound + "\n");
}

INSTANTIATE_TEST_SUITE_P(Places, SearchOrder, ::testing::ValuesIn(kPlacements),
                         [](const ::testing::TestParamInfo<Placement> &info) { return std::string(info.param.name); });

using testing_support::DebuggedRun;

/* Runs a probe under the Windows debug API, as a native debugger does, and
 * collects the strings it sends to the debug output and what it prints. A
 * breakpoint after the loader's own goes unhandled, as without a debugger. */
DebuggedRun run_debugged(const std::string &arguments)
{
    testing_support::DebugRunOptions options;
    options.capture_output = true;
    options.later_breaks_handled = false;
    return testing_support::run_debugged("\"" + self() + "\" --probe " + arguments, options);
}

TEST(StartUp, BesideAnEngineWithoutTheAbortEntryTheModuleRefusesToLoadAndSaysSoOnce)
{
    DebuggedRun run = run_debugged("refuse");
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exit_code, 0u) << run.out;
    EXPECT_EQ(run.out, "loaded=0\nregular_engine_loaded=0\n");
    size_t messages = 0;
    for (const std::string &s : run.debug_strings) messages += s == kRefusal;
    EXPECT_EQ(messages, 1u) << "debug output strings seen: " << run.debug_strings.size();
}

/* Loaded before the module, or only after it (then the module must notice
 * the library at a later call). */
class DebuggerLibrary : public ::testing::TestWithParam<const char *> {};

TEST_P(DebuggerLibrary, IsToldWhichThreadOfWhichProcessIsAborted)
{
    auto r = probe(std::string("debugger ") + GetParam());
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    std::string first = r.out.substr(0, r.out.find('\n') + 1);
    EXPECT_EQ(first, "call status=1 code=1039 out=111,112,113,114,115,116,117,118\n");
    unsigned long process = 0, thread = 0;
    size_t ids = r.out.find("process=");
    ASSERT_NE(ids, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + ids, "process=%lu thread=%lu", &process, &thread), 2);
    EXPECT_EQ(r.out.substr(ids), "process=" + std::to_string(process) + " thread=" + std::to_string(thread) +
                                     "\nthread_aborted process=" + std::to_string(process) +
                                     " thread=" + std::to_string(thread) + "\n")
        << "exactly one notification, for the aborted call's thread";
}

INSTANTIATE_TEST_SUITE_P(LoadedAt, DebuggerLibrary, ::testing::Values("before", "after"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param) + "_the_module";
                         });

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--probe") == 0) return run_probe(argc - 2, argv + 2);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
