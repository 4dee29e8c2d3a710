/* The built module as the debugger sees it: loaded like the host loads it,
 * with the debugger library stand-in present, and its unexported debugger
 * hooks and variables found through the symbols of its file. Tests play the
 * debugger through the stand-in's controls and the engine's control block. */
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include "module_loader.h"
#include "module_symbols.h"
#include "standin_debugger.h"

namespace testing_support {

/* Long enough for a held thread to show up under a loaded machine; waits for
 * something that must not happen use the shorter one. */
constexpr uint32_t kArrivalTimeoutMs = 10000;
constexpr uint32_t kQuietMs = 300;

struct DebuggedModule {
    NodeModule node;
    void (*stoppoint)(volatile unsigned char *) = nullptr;
    volatile uint8_t *global_flag = nullptr;
    volatile int32_t *cnode_abort_flag = nullptr, *cnode_abort_tlv_handle = nullptr;
    volatile int32_t *gw_abort_flag = nullptr, *gw_abort_tlv_handle = nullptr;
    volatile unsigned char *stoppoint_table = nullptr;
    standin_dbg_control_block_t *control = nullptr;

    template <typename T>
    T hook(const char *name) const
    {
        return symbol_as<T>(node.handle, name);
    }

    bool load()
    {
        if (!node.load()) return false;
        stoppoint = hook<void (*)(volatile unsigned char *)>("__qex_stoppoint");
        global_flag = hook<volatile uint8_t *>("__qex_global_flag");
        cnode_abort_flag = hook<volatile int32_t *>("__qex_cnode_abort_flag");
        cnode_abort_tlv_handle = hook<volatile int32_t *>("__qex_cnode_abort_tlv_handle");
        gw_abort_flag = hook<volatile int32_t *>("__qex_gw_c_abort_flag");
        gw_abort_tlv_handle = hook<volatile int32_t *>("__qex_gw_c_abort_tlv_handle");
        stoppoint_table = hook<volatile unsigned char *>("__qex_stoppoint_table");
        control = standin_dbg_control_block();
        return stoppoint && global_flag && cnode_abort_flag && cnode_abort_tlv_handle && gw_abort_flag &&
               gw_abort_tlv_handle && stoppoint_table && control;
    }

    /* Everything a debugger may have set, cleared. */
    void quiet()
    {
        standin_dbg_reset();
        if (global_flag) *global_flag = 0;
        for (int i = 0; stoppoint_table && i < 42; ++i) stoppoint_table[i] = 0;
    }
};

/* Lines of the stand-in's log, without the "restricted" notices: the
 * module's loader entry sends those whenever any thread of the process starts
 * or ends, so they are no part of what a test's own calls sent. */
inline std::vector<std::string> debugger_log()
{
    std::vector<std::string> lines;
    for (size_t i = 0, n = standin_dbg_log_count(); i < n; ++i) {
        char buf[8192];
        if (standin_dbg_log_line(i, buf, sizeof buf) < 0) continue;
        if (std::strncmp(buf, "restricted ", 11) != 0) lines.emplace_back(buf);
    }
    return lines;
}

/* The offsets of the field separators of a "@{...}@" message, as its text
 * shows them (every "|" before the position list), and the position list
 * itself (the numbers after the last ":"). */
struct MessageLayout {
    std::vector<int> separators;
    std::vector<int> positions;
    bool well_formed = false;
};

inline MessageLayout layout_of(const std::string &message)
{
    MessageLayout m;
    if (message.size() < 5 || message.compare(0, 2, "@{") != 0 || message.compare(message.size() - 2, 2, "}@") != 0)
        return m;
    size_t colon = message.rfind(':');
    if (colon == std::string::npos) return m;
    for (size_t i = 0; i < colon; ++i)
        if (message[i] == '|') m.separators.push_back(static_cast<int>(i));
    std::string list = message.substr(colon + 1, message.size() - 2 - colon - 1);
    size_t start = 0;
    while (start < list.size()) {
        size_t bar = list.find('|', start);
        std::string number = list.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return m;
        m.positions.push_back(std::stoi(number));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    m.well_formed = true;
    return m;
}

/* A thread that must finish: joined on destruction, after the test released it. */
class Runner {
public:
    template <typename F>
    explicit Runner(F &&body) : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        thread_ = std::thread([this, body = std::forward<F>(body)]() mutable {
            id_ = GetCurrentThreadId();
            body();
            SetEvent(done_);
        });
        while (id_ == 0) Sleep(1);
    }
    /* A thread still held when the test ends is let go with every stop
     * condition cleared, so it cannot be held again. */
    ~Runner()
    {
        standin_dbg_clear_control_block();
        standin_dbg_release_all();
        if (thread_.joinable()) thread_.join();
        CloseHandle(done_);
    }
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    DWORD id() const { return id_; }
    bool finished_within(uint32_t ms) const { return WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }

private:
    HANDLE done_;
    volatile DWORD id_ = 0;
    std::thread thread_;
};

} // namespace testing_support
