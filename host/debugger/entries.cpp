/* The eleven entries of the debugger library as a node module finds them by
 * name, and the log in which the stand-in keeps every call it received.
 *
 * The entries do what a debugger needs to observe: messages and registrations
 * are logged in order, the barrier and the break are arrivals that a
 * controlling thread can hold (holding.cpp). Nothing here returns a result the
 * module relies on. */
#include "debugger_internal.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex g_log_lock;
std::vector<std::string> &log_lines()
{
    static std::vector<std::string> lines;
    return lines;
}

/* Exception dispositions as the dispatcher reads them. */
constexpr int kContinueSearch = 1;

} // namespace

void dbg::log(std::string line)
{
    std::lock_guard<std::mutex> guard(g_log_lock);
    log_lines().push_back(std::move(line));
}

std::string dbg::format(const char *fmt, ...)
{
    char buf[512];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

void dbg::reset_log()
{
    std::lock_guard<std::mutex> guard(g_log_lock);
    log_lines().clear();
}

extern "C" size_t standin_dbg_log_count(void)
{
    std::lock_guard<std::mutex> guard(g_log_lock);
    return log_lines().size();
}

extern "C" int standin_dbg_log_line(size_t i, char *buf, size_t size)
{
    std::lock_guard<std::mutex> guard(g_log_lock);
    if (i >= log_lines().size()) return -1;
    const std::string &line = log_lines()[i];
    if (buf && size > 0) {
        size_t n = line.size() < size - 1 ? line.size() : size - 1;
        std::memcpy(buf, line.data(), n);
        buf[n] = 0;
    }
    return static_cast<int>(line.size());
}

extern "C" void standin_dbg_log_clear(void) { dbg::reset_log(); }

/* ---- the library's entries ---- */

extern "C" void standin_debug_initialize(void) { dbg::log("initialize"); }

extern "C" void standin_debug_barrier(void) { dbg::arrive(STANDIN_DBG_BARRIER); }

extern "C" void standin_debug_break(void) { dbg::arrive(STANDIN_DBG_BREAK); }

extern "C" void standin_debug_message(const char *message)
{
    dbg::log(message ? std::string(message) : std::string("(null message)"));
}

extern "C" void standin_debug_attach(void *function, void *seh_info, void *owner, void *sections, void *slot)
{
    dbg::log(dbg::format("attach function=%p seh_info=%p owner=%p sections=%p slot=%p", function, seh_info, owner,
                         sections, slot));
}

extern "C" void standin_debug_detach(void *function, void *seh_info, void *owner)
{
    dbg::log(dbg::format("detach function=%p seh_info=%p owner=%p", function, seh_info, owner));
}

extern "C" void standin_debug_restricted(int32_t restricted) { dbg::log(dbg::format("restricted %d", restricted)); }

extern "C" void standin_debug_stdio(const char *text, uint32_t count)
{
    dbg::log(dbg::format("stdio text=%p count=%u", static_cast<const void *>(text), count));
}

extern "C" int standin_debug_exception(EXCEPTION_RECORD *record, void *, CONTEXT *, void *)
{
    dbg::log(dbg::format("exception code=0x%08lx", record ? record->ExceptionCode : 0UL));
    return kContinueSearch;
}

extern "C" uint32_t standin_debug_current_process_id(void) { return GetCurrentProcessId(); }

extern "C" void standin_debug_notify_thread_aborted(uint32_t process_id, uint32_t thread_id)
{
    dbg::log(dbg::format("thread_aborted process=%u thread=%u", process_id, thread_id));
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
