/* Runs another program of the build as a child process with its standard input
 * fed from a string and its standard output and error captured. */
#pragma once
#include <windows.h>
#include <string>
#include <thread>

namespace testing_support {

struct ChildResult {
    DWORD exit_code = 0xFFFFFFFF;
    std::string out, err;
};

inline std::string read_all(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    return text;
}

inline ChildResult run_child(const std::string &command_line, const std::string &input = {})
{
    ChildResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE in_r, in_w, out_r, out_w, err_r, err_w;
    if (!CreatePipe(&in_r, &in_w, &sa, 0) || !CreatePipe(&out_r, &out_w, &sa, 0) || !CreatePipe(&err_r, &err_w, &sa, 0))
        return result;
    SetHandleInformation(in_w, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    PROCESS_INFORMATION pi{};
    std::string cmd = command_line;
    BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(in_r);
    CloseHandle(out_w);
    CloseHandle(err_w);
    if (!started) {
        CloseHandle(in_w);
        CloseHandle(out_r);
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
    result.out = read_all(out_r);
    writer.join();
    err_reader.join();
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &result.exit_code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(out_r);
    CloseHandle(err_r);
    return result;
}

} // namespace testing_support
