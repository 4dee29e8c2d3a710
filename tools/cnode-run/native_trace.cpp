/* --trace without the debugger library: the node runs the way a native
 * debugger sees it. This program starts itself again, without --trace, as a
 * child under the Windows debug API; the module in the child finds no debugger
 * library but a debugger attached, so its messages (module_attach and
 * module_detach among them) come as debug strings, which are printed here as
 * they arrive. The child's own output follows; with --json the messages join
 * the child's JSON object under "trace". */
#include <cstdio>
#include <thread>
#include "debug_session.h"
#include "output.h"

namespace cnode_run {

namespace {


/* Quotes one argument so that the child's C runtime reads it back unchanged. */
std::string quoted(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, '\\');
    return q + "\"";
}

/* The child's command line: this program with the same node inputs, incoming
 * cluster, module and output format, and no debugging flag. */
std::string child_command_line(const Options &o)
{
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string cmd = quoted(narrow(exe, n));
    const Inputs &in = o.inputs;
    const std::pair<const char *, int32_t> values[] = {
        {"--label", in.label}, {"--err-code", in.err_code}, {"--samp", in.samp}, {"--freq", in.freq},
        {"--cap", in.cap},     {"--loss", in.loss},         {"--volt", in.volt}, {"--size", in.size},
        {"--status", o.error.status}, {"--code", o.error.code},
    };
    for (const auto &[flag, value] : values) cmd += std::string(" ") + flag + " " + std::to_string(value);
    cmd += " --source " + quoted(o.error.source);
    if (!o.module_path.empty()) cmd += " --module " + quoted(o.module_path);
    if (o.json) cmd += " --json";
    return cmd;
}

std::string read_debug_string(HANDLE process, const OUTPUT_DEBUG_STRING_INFO &info)
{
    std::string text(info.nDebugStringLength, '\0');
    SIZE_T got = 0;
    if (info.fUnicode || !ReadProcessMemory(process, info.lpDebugStringData, text.data(), text.size(), &got)) return {};
    text.resize(got);
    while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

} // namespace

int run_native_trace(const Options &options)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr;
    if (!CreatePipe(&out_read, &out_write, &sa, 0)) return kExitUsage;
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    /* The child reads its arguments as UTF-8 from its wide command line. */
    std::wstring cmd = widen(child_command_line(options));
    BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                                  nullptr, &si, &pi);
    CloseHandle(out_write);
    if (!started) {
        CloseHandle(out_read);
        std::fprintf(stderr, "cnode-run: cannot start the traced child (Windows error %lu)\n", GetLastError());
        return kExitUsage;
    }
    std::string child_output;
    std::thread reader([&] {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(out_read, buf, sizeof buf, &n, nullptr) && n > 0) child_output.append(buf, n);
    });

    std::vector<std::string> trace;
    DWORD exit_code = kExitUsage;
    for (bool running = true; running;) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, INFINITE)) break;
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            std::string text = read_debug_string(pi.hProcess, ev.u.DebugString);
            if (options.json) trace.push_back(text);
            else {
                std::printf("%s\n", text.c_str());
                std::fflush(stdout);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            /* Breakpoints (the loader's, or a DebugBreak of the module's fallback)
             * are passed over; every other exception goes to the child's handlers. */
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exit_code = ev.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default: break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
    reader.join();
    CloseHandle(out_read);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    if (options.json) {
        nlohmann::ordered_json j = nlohmann::ordered_json::parse(child_output, nullptr, false);
        if (j.is_object()) {
            j["trace"] = trace;
            std::printf("%s\n", json_line(j).c_str());
        } else {
            std::fputs(child_output.c_str(), stdout);
        }
    } else {
        std::fputs(child_output.c_str(), stdout);
    }
    std::fflush(stdout);
    return static_cast<int>(exit_code);
}

} // namespace cnode_run
