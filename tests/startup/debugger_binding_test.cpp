/* The module's binding to the environment's debugger library, watched from
 * outside: each case runs a child program (binding_child) that drives the
 * nine entries, either under the Windows debug API, as a native debugger
 * sees it (debug strings, breaks), or plainly. The "OS" environment variable
 * of the child decides whether it counts as the PHARLAP system. */
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>
#include "child_process.h"
#include "module_loader.h"

namespace {

struct ChildRun {
    DWORD exit_code = 0xFFFFFFFF;
    std::vector<std::string> debug_strings; /* the module's, without the child's own "child:" notes */
    std::vector<std::string> child_notes;
    int breaks = 0; /* breakpoints after the loader's initial one */
    std::string out;
};

/* The current environment with OS replaced (or removed when os is null). */
std::string environment_with_os(const char *os)
{
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *p = strings; *p; p += std::strlen(p) + 1) {
        std::string entry(p);
        std::string name = entry.substr(0, entry.find('='));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        if (name == "OS") continue;
        block += entry;
        block += '\0';
    }
    FreeEnvironmentStringsA(strings);
    if (os) {
        block += std::string("OS=") + os;
        block += '\0';
    }
    block += '\0';
    return block;
}

std::string read_string(HANDLE process, const OUTPUT_DEBUG_STRING_INFO &info)
{
    std::string text(info.nDebugStringLength, '\0');
    SIZE_T got = 0;
    ReadProcessMemory(process, info.lpDebugStringData, text.data(), text.size(), &got);
    text.resize(got);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

ChildRun run_child(const std::string &scenario, const char *os, bool under_debugger)
{
    ChildRun run;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_r, out_w;
    CreatePipe(&out_r, &out_w, &sa, 0);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_w;
    si.hStdError = out_w;
    PROCESS_INFORMATION pi{};
    std::string command = "\"" + testing_support::exe_directory() + "binding_child.exe\" " + scenario;
    std::string environment = environment_with_os(os);
    DWORD flags = under_debugger ? DEBUG_ONLY_THIS_PROCESS : 0;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, flags, environment.data(), nullptr, &si,
                        &pi)) {
        CloseHandle(out_r);
        CloseHandle(out_w);
        return run;
    }
    CloseHandle(out_w);
    std::thread reader([&] { run.out = testing_support::read_all(out_r); });

    if (under_debugger) {
        bool initial_break_seen = false;
        for (bool running = true; running;) {
            DEBUG_EVENT event{};
            if (!WaitForDebugEvent(&event, 60000)) break;
            DWORD continuation = DBG_CONTINUE;
            switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT: {
                std::string text = read_string(pi.hProcess, event.u.DebugString);
                (text.rfind("child:", 0) == 0 ? run.child_notes : run.debug_strings).push_back(text);
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                    if (initial_break_seen) ++run.breaks;
                    initial_break_seen = true;
                } else {
                    continuation = DBG_EXCEPTION_NOT_HANDLED;
                }
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
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
        }
    }
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &run.exit_code);
    reader.join();
    run.out.erase(std::remove(run.out.begin(), run.out.end(), '\r'), run.out.end());
    CloseHandle(out_r);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return run;
}

bool has(const std::vector<std::string> &strings, const std::string &text)
{
    return std::find(strings.begin(), strings.end(), text) != strings.end();
}

bool has_prefix(const std::vector<std::string> &strings, const std::string &prefix)
{
    return std::any_of(strings.begin(), strings.end(), [&](const std::string &s) { return s.rfind(prefix, 0) == 0; });
}

TEST(DebuggerBinding, WithoutLibraryOrDebuggerNothingHappens)
{
    ChildRun run = run_child("entries", "Windows_NT", false);
    EXPECT_EQ(run.exit_code, 0u) << run.out << " (a break without a debugger would have ended the child)";
}

TEST(DebuggerBinding, NativeDebuggerGetsTheFallbacks)
{
    ChildRun run = run_child("entries", "Windows_NT", true);
    EXPECT_EQ(run.exit_code, 0u) << run.out;
    EXPECT_TRUE(has(run.debug_strings, "@{probe_message:}@"));
    ASSERT_EQ(run.child_notes.size(), 1u);
    const std::string address = run.child_notes[0].substr(std::strlen("child:text="));
    EXPECT_TRUE(has(run.debug_strings, "@{echo_stdio|" + address + "|5:12|29}@")) << address;
    EXPECT_TRUE(has_prefix(run.debug_strings, "@{module_attach|")) << "the attach fallback announces the module";
    EXPECT_TRUE(has_prefix(run.debug_strings, "@{module_detach|"));
    EXPECT_EQ(run.breaks, 1) << "the break fallback";
    EXPECT_EQ(run.debug_strings.size(), 4u);
}

TEST(DebuggerBinding, ThePharlapSystemNeverFallsBack)
{
    const std::string long_pharlap = "PHARLAP" + std::string(100, 'x');
    struct Case {
        const char *os; /* null: unset */
        bool pharlap;
    } cases[] = {{"PHARLAP", true},         {"pharlap", true},      {"PhArLaP ETS 13", true},
                 {long_pharlap.c_str(), true}, {"PHARLA", false},     {"Windows_NT", false},
                 {"XPHARLAP", false},       {nullptr, false}};
    for (const Case &c : cases) {
        const std::string label = c.os ? c.os : "(unset)";
        ChildRun run = run_child("entries", c.os, true);
        EXPECT_EQ(run.exit_code, 0u) << label << run.out;
        EXPECT_EQ(run.debug_strings.empty(), c.pharlap) << label;
        EXPECT_EQ(run.breaks, c.pharlap ? 0 : 1) << label;
    }
}

TEST(DebuggerBinding, ALibraryThatAppearsLaterIsBound)
{
    struct Case {
        const char *os;
        long calls; /* per entry, of the two rounds made with the library loaded */
    } cases[] = {{"Windows_NT", 2}, {"PHARLAP", 0}}; /* PHARLAP keeps the handle of its first look-up */
    for (const Case &c : cases) {
        ChildRun run = run_child("late", c.os, false);
        EXPECT_EQ(run.exit_code, 0u) << c.os << run.out;
        for (const char *entry : {"__qex_debug_initialize", "__qex_debug_barrier", "__qex_debug_break",
                                  "__qex_debug_message", "__qex_debug_attach", "__qex_debug_detach",
                                  "__qex_debug_restricted", "__qex_debug_stdio", "__qex_debug_exception"})
            EXPECT_NE(run.out.find(std::string(entry) + "=" + std::to_string(c.calls) + "\n"), std::string::npos)
                << c.os << ": " << entry << "\n"
                << run.out;
    }
}

TEST(DebuggerBinding, OnceTheLibraryWasSeenANativeDebuggerGetsNoMoreFallbacks)
{
    ChildRun run = run_child("seen", "Windows_NT", true);
    EXPECT_EQ(run.exit_code, 0u) << run.out;
    EXPECT_TRUE(has(run.debug_strings, "@{first:}@"));
    EXPECT_FALSE(has(run.debug_strings, "@{second:}@")) << "went to the library";
    EXPECT_FALSE(has(run.debug_strings, "@{third:}@")) << "the library was seen loaded before";
}

} // namespace
