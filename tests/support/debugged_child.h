/* Runs another program of the build as a child under the Windows debug API,
 * the way a native debugger runs it, and collects the debug strings it sends. */
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace testing_support {

struct DebuggedRun {
    bool started = false;
    DWORD exit_code = 0xFFFFFFFF;
    std::vector<std::string> debug_strings;
};

inline DebuggedRun run_debugged(const std::string &command_line)
{
    DebuggedRun run;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = command_line;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &si,
                        &pi))
        return run;
    run.started = true;
    for (bool running = true; running;) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, 60000)) break;
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            std::string text(ev.u.DebugString.nDebugStringLength, '\0');
            SIZE_T got = 0;
            ReadProcessMemory(pi.hProcess, ev.u.DebugString.lpDebugStringData, text.data(), text.size(), &got);
            text.resize(got);
            while (!text.empty() && text.back() == '\0') text.pop_back();
            run.debug_strings.push_back(text);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            run.exit_code = ev.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default: break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return run;
}

} // namespace testing_support
