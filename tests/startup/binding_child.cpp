/* A program that drives the module's debugger-library entries in one of a few
 * scenarios, for the binding tests to watch from outside: as a native
 * debugger (debug strings, breaks) or through the recording debugger library
 * and this program's exit code and output.
 *
 *   binding_child entries  every entry once; announces "child:text=<address>"
 *                          as a debug string before the stdio echo
 *   binding_child late     every entry without the library, then twice with
 *                          the recording library loaded; prints each entry's
 *                          count as "<entry>=<count>"
 *   binding_child seen     a message, then the library loaded (a message),
 *                          then unloaded again (a message)
 *
 * Exit code 0 when every entry kept the thread's last-error value and the
 * scenario's own checks held. */
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>
#include "cnode_debug.h"
#include "module_loader.h"
#include "recorder.h"

namespace {

const char *const kEntries[] = {"__qex_debug_initialize", "__qex_debug_barrier", "__qex_debug_break",
                                "__qex_debug_message",    "__qex_debug_attach",  "__qex_debug_detach",
                                "__qex_debug_restricted", "__qex_debug_stdio",   "__qex_debug_exception"};

int g_failures = 0;

/* Runs one entry with the last-error value set, and checks it was kept. */
template <typename Call> void keeping_last_error(const char *what, Call call)
{
    SetLastError(4242);
    call();
    if (GetLastError() != 4242) {
        std::printf("%s changed the last-error value\n", what);
        ++g_failures;
    }
}

const char kStdioText[] = "hello";
int g_section_table[6] = {};

void call_every_entry()
{
    keeping_last_error("initialize", [] { __qex_debug_initialize(); });
    keeping_last_error("barrier", [] { __qex_debug_barrier(); });
    keeping_last_error("break", [] { __qex_debug_break(); });
    keeping_last_error("message", [] { __qex_debug_message("@{probe_message:}@"); });
    keeping_last_error("attach", [] {
        void *slot = nullptr;
        __qex_debug_attach(reinterpret_cast<void *>(&call_every_entry), nullptr, GetModuleHandleA(nullptr),
                           g_section_table, &slot);
    });
    keeping_last_error("detach", [] {
        __qex_debug_detach(reinterpret_cast<void *>(&call_every_entry), nullptr, GetModuleHandleA(nullptr));
    });
    keeping_last_error("restricted", [] { __qex_debug_restricted(1); });
    char announce[64];
    std::snprintf(announce, sizeof announce, "child:text=%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(kStdioText)));
    OutputDebugStringA(announce);
    keeping_last_error("stdio", [] { __qex_debug_stdio(kStdioText, 5); });
    keeping_last_error("exception", [] {
        EXCEPTION_RECORD record = {};
        CONTEXT context = {};
        if (__qex_debug_exception(&record, nullptr, &context, nullptr) != 1) {
            std::printf("the exception entry did not answer 1\n");
            ++g_failures;
        }
    });
}

HMODULE load_recording_library()
{
    return LoadLibraryA((testing_support::exe_directory() + "fixtures\\qex_debuglib\\qexdebug.dll").c_str());
}

long recorded(HMODULE library, const char *entry)
{
    auto calls = reinterpret_cast<recorder_calls_t>(reinterpret_cast<void *>(GetProcAddress(library, "recorder_calls")));
    return calls ? calls(entry) : -1;
}

int late()
{
    call_every_entry();
    HMODULE library = load_recording_library();
    if (!library) return 20;
    call_every_entry();
    call_every_entry();
    for (const char *entry : kEntries) std::printf("%s=%ld\n", entry, recorded(library, entry));
    return 0;
}

int seen()
{
    __qex_debug_message("@{first:}@");
    HMODULE library = load_recording_library();
    if (!library) return 20;
    __qex_debug_message("@{second:}@");
    if (recorded(library, "__qex_debug_message") != 1) return 21;
    FreeLibrary(library);
    if (GetModuleHandleA("qexdebug.dll")) return 22;
    __qex_debug_message("@{third:}@");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string scenario = argc > 1 ? argv[1] : "";
    int result = 30;
    if (scenario == "entries") {
        call_every_entry();
        result = 0;
    } else if (scenario == "late") {
        result = late();
    } else if (scenario == "seen") {
        result = seen();
    }
    return result != 0 ? result : (g_failures ? 10 : 0);
}
