/* Runs another program of the build as a child process with its standard input
 * fed from a string and its standard output and error captured. */
#pragma once
#include <windows.h>
#include <cstdio>
#include <psapi.h>
#include <algorithm>
#include <string>
#include <thread>

namespace testing_support {

struct ChildResult {
    DWORD exit_code = 0xFFFFFFFF;
    std::string out, err;
    size_t peak_memory = 0; /* the child's largest committed bytes seen */
};

/* How the child is started: its command line as UTF-8 through the wide
 * CreateProcessW (else as ANSI text), and with its standard output a pipe
 * whose reading end is closed at once, so that every write fails. */
struct ChildOptions {
    bool utf8_command_line = false;
    bool output_closed = false;
};

inline std::string read_all(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    return text;
}

inline ChildResult run_child(const std::string &command_line, const std::string &input = {},
                             ChildOptions options = {})
{
    ChildResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE in_r, in_w, out_r, out_w, err_r, err_w;
    if (!CreatePipe(&in_r, &in_w, &sa, 0) || !CreatePipe(&out_r, &out_w, &sa, 0) || !CreatePipe(&err_r, &err_w, &sa, 0))
        return result;
    SetHandleInformation(in_w, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    if (options.output_closed) CloseHandle(out_r), out_r = nullptr;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    PROCESS_INFORMATION pi{};
    UINT code_page = options.utf8_command_line ? CP_UTF8 : CP_ACP;
    std::wstring cmd(command_line.size() + 1, L'\0');
    cmd.resize(static_cast<size_t>(MultiByteToWideChar(code_page, 0, command_line.data(),
                                                       static_cast<int>(command_line.size()), cmd.data(),
                                                       static_cast<int>(cmd.size()))));
    BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD start_error = started ? 0 : GetLastError(); /* before the handles are closed */
    CloseHandle(in_r);
    CloseHandle(out_w);
    CloseHandle(err_w);
    if (!started) {
        /* Named in the test's output: an exit code of 0xFFFFFFFF alone does not
         * tell a child that never started from one that ended so. */
        std::fprintf(stderr, "run_child: CreateProcessW failed with error %lu for %s\n", start_error,
                     command_line.c_str());
        CloseHandle(in_w);
        if (out_r) CloseHandle(out_r);
        CloseHandle(err_r);
        return result;
    }
    std::thread writer([&] {
        DWORD written = 0;
        size_t off = 0;
        while (off < input.size() &&
               WriteFile(in_w, input.data() + off, static_cast<DWORD>(input.size() - off), &written, nullptr))
            off += written;
        CloseHandle(in_w);
    });
    std::thread err_reader([&] { result.err = read_all(err_r); });
    /* The peak is sampled while the child runs: not every system keeps a
     * finished process's counters. */
    std::thread sampler([&] {
        do {
            PROCESS_MEMORY_COUNTERS memory{};
            if (K32GetProcessMemoryInfo(pi.hProcess, &memory, sizeof memory))
                result.peak_memory = std::max(result.peak_memory, static_cast<size_t>(memory.PagefileUsage));
        } while (WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT);
    });
    if (out_r) result.out = read_all(out_r);
    writer.join();
    err_reader.join();
    WaitForSingleObject(pi.hProcess, INFINITE);
    sampler.join();
    GetExitCodeProcess(pi.hProcess, &result.exit_code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (out_r) CloseHandle(out_r);
    CloseHandle(err_r);
    return result;
}

} // namespace testing_support
