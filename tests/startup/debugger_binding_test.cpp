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
#include <vector>
#include "debugged_child.h"
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

ChildRun run_child(const std::string &scenario, const char *os, bool under_debugger)
{
    std::string environment = environment_with_os(os);
    testing_support::DebugRunOptions options;
    options.capture_output = true;
    options.environment = environment.c_str();
    options.under_debugger = under_debugger;
    testing_support::DebuggedRun debugged = testing_support::run_debugged(
        "\"" + testing_support::exe_directory() + "binding_child.exe\" " + scenario, options);
    ChildRun run;
    run.exit_code = debugged.exit_code;
    run.breaks = debugged.breaks;
    run.out = debugged.out;
    run.out.erase(std::remove(run.out.begin(), run.out.end(), '\r'), run.out.end());
    for (std::string &text : debugged.debug_strings)
        (text.rfind("child:", 0) == 0 ? run.child_notes : run.debug_strings).push_back(std::move(text));
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
