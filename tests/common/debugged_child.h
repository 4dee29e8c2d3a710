/* Runs another program of the build as a child under the Windows debug API,
 * the way a native debugger runs it, and collects the debug strings it sends
 * (and, when asked, what it prints). */
#pragma once
#include <windows.h>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "child_process.h"

namespace testing_support {

struct DebugRunOptions {
    bool capture_output = false;       /* standard output and error into DebuggedRun::out */
    const char *environment = nullptr; /* an environment block; null: the parent's */
    bool under_debugger = true;        /* false: an ordinary child, no debug events */
    /* false: breakpoints after the loader's first go unhandled, as they would
     * without a debugger; true: they are counted and continued */
    bool later_breaks_handled = true;
};

struct DebuggedRun {
    bool started = false;
    DWORD exit_code = 0xFFFFFFFF;
    std::string out;
    std::vector<std::string> debug_strings;
    int breaks = 0; /* breakpoints after the loader's first */
};

inline std::string read_debug_string(HANDLE process, const OUTPUT_DEBUG_STRING_INFO &info)
{
    std::vector<char> buffer(info.nDebugStringLength ? info.nDebugStringLength : 1);
    SIZE_T read = 0;
    if (info.fUnicode || !ReadProcessMemory(process, info.lpDebugStringData, buffer.data(), buffer.size(), &read))
        return "<unreadable>";
    return std::string(buffer.data(), strnlen(buffer.data(), read));
}

/* Answers the child's debug events until it exits. */
inline void follow_debug_events(HANDLE process, const DebugRunOptions &options, DebuggedRun &run)
{
    bool initial_break_seen = false;
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, 60000)) break;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT:
            run.debug_strings.push_back(read_debug_string(process, event.u.DebugString));
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            } else if (initial_break_seen) {
                ++run.breaks;
                if (!options.later_breaks_handled) status = DBG_EXCEPTION_NOT_HANDLED;
            }
            initial_break_seen = true;
            break;
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            running = false;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}

inline DebuggedRun run_debugged(const std::string &command_line, const DebugRunOptions &options = {})
{
    DebuggedRun run;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_r = nullptr, out_w = nullptr;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (options.capture_output) {
        if (!CreatePipe(&out_r, &out_w, &sa, 0)) return run;
        SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out_w;
        si.hStdError = out_w;
    }
    PROCESS_INFORMATION pi{};
    std::string cmd = command_line;
    DWORD flags = options.under_debugger ? DEBUG_ONLY_THIS_PROCESS : 0;
    run.started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, options.capture_output, flags,
                                 const_cast<char *>(options.environment), nullptr, &si, &pi) != 0;
    if (out_w) CloseHandle(out_w);
    if (!run.started) {
        if (out_r) CloseHandle(out_r);
        return run;
    }
    std::thread reader;
    if (out_r) reader = std::thread([&] { run.out = read_all(out_r); });
    if (options.under_debugger) follow_debug_events(pi.hProcess, options, run);
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &run.exit_code);
    if (reader.joinable()) reader.join();
    if (out_r) CloseHandle(out_r);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return run;
}

} // namespace testing_support
