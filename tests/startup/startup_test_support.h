/* Helpers of the start-up tests: the node module loaded through its loader
 * entry with its functions found by name through the engine stand-in (as the
 * environment finds them), the engine's life-cycle log, and a recorder of the
 * message boxes the module shows. */
#pragma once
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "module_loader.h"
#include "standin_rte_startup.h"

namespace startup_testing {

using testing_support::exe_directory;

/* The node DLL, loaded and unloaded by the test. */
struct ModuleUnderTest {
    HMODULE handle = nullptr;

    bool load() { return (handle = LoadLibraryA((exe_directory() + "parse_measurement.dll").c_str())) != nullptr; }
    void unload()
    {
        if (handle) FreeLibrary(handle);
        handle = nullptr;
    }
    ~ModuleUnderTest() { unload(); }

    /* A function of the module, by its linkage-table name. */
    template <typename T> T function(const char *name) const
    {
        return reinterpret_cast<T>(standin_rte_lookup_function(handle, name));
    }
};

inline std::vector<std::string> lifecycle_log()
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < standin_rte_lifecycle_log_count(); ++i) {
        char line[512];
        standin_rte_lifecycle_log_line(i, line, sizeof line);
        lines.emplace_back(line);
    }
    return lines;
}

/* Position of the first line equal to text at or after from, or -1. */
inline long position_in(const std::vector<std::string> &lines, const std::string &text, long from = 0)
{
    for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
        if (lines[i] == text) return static_cast<long>(i);
    return -1;
}

inline long count_in(const std::vector<std::string> &lines, const std::string &text)
{
    long n = 0;
    for (const auto &line : lines) n += line == text;
    return n;
}

/* Records every MessageBoxA call of the process while it lives, by patching
 * the entry of user32's MessageBoxA with a jump to a recorder; the answer is
 * chosen by the test. Restores the entry when destroyed. */
class MessageBoxRecorder {
public:
    struct Box {
        std::string caption, text;
        UINT type;
    };

    explicit MessageBoxRecorder(int answer = IDOK)
    {
        instance() = this;
        answer_ = answer;
        HMODULE user32 = LoadLibraryA("user32.dll");
        entry_ = reinterpret_cast<unsigned char *>(reinterpret_cast<void *>(GetProcAddress(user32, "MessageBoxA")));
        std::memcpy(saved_, entry_, sizeof saved_);
        unsigned char patch[sizeof saved_] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0}; /* mov rax, x; jmp rax */
        void *target = reinterpret_cast<void *>(&record);
        std::memcpy(patch + 2, &target, sizeof target);
        write(patch);
    }
    ~MessageBoxRecorder()
    {
        write(saved_);
        instance() = nullptr;
    }
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    const std::vector<Box> &boxes() const { return boxes_; }

private:
    static MessageBoxRecorder *&instance()
    {
        static MessageBoxRecorder *current = nullptr;
        return current;
    }
    static int WINAPI record(HWND, LPCSTR text, LPCSTR caption, UINT type)
    {
        MessageBoxRecorder *self = instance();
        self->boxes_.push_back({caption ? caption : "", text ? text : "", type});
        return self->answer_;
    }
    void write(const unsigned char *bytes)
    {
        DWORD old = 0;
        VirtualProtect(entry_, sizeof saved_, PAGE_EXECUTE_READWRITE, &old);
        std::memcpy(entry_, bytes, sizeof saved_);
        VirtualProtect(entry_, sizeof saved_, old, &old);
        FlushInstructionCache(GetCurrentProcess(), entry_, sizeof saved_);
    }

    unsigned char *entry_ = nullptr;
    unsigned char saved_[12] = {};
    int answer_ = IDOK;
    std::vector<Box> boxes_;
};

} // namespace startup_testing
