/* Protection bookkeeping: the engine's pointer checking records for memory
 * handed to node code. The stand-in checks nothing. A test that asks for it
 * (standin_rte_protection_log_enable) gets every call, with its name and
 * arguments, appended to a log that it reads and clears; pointers are written
 * as 0x%016llx, integers in decimal. The log is off at load and after a
 * reset: a host that runs the node without reading it (cnode-run, a long
 * batch) must not grow it without bound. */
#include "rte_internal.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> &log_lines()
{
    static std::vector<std::string> lines;
    return lines;
}

volatile long g_logging = 0;

/* One log line, built argument by argument and appended when complete. While
 * logging is off a line costs nothing but the test. */
struct Line {
    std::string text;
    explicit Line(const char *name)
    {
        if (g_logging) text = std::string(name) + '(';
    }
    Line &p(const void *v)
    {
        if (text.empty()) return *this;
        char b[32];
        std::snprintf(b, sizeof b, "0x%016llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(v)));
        return add(b);
    }
    Line &i(long long v) { return text.empty() ? *this : add(std::to_string(v)); }
    Line &u(unsigned long long v) { return text.empty() ? *this : add(std::to_string(v)); }
    Line &add(const std::string &s)
    {
        if (text.empty()) return *this;
        if (text.back() != '(') text += ", ";
        text += s;
        return *this;
    }
    ~Line()
    {
        if (text.empty()) return;
        text += ')';
        rte::TableLock guard;
        log_lines().push_back(std::move(text));
    }
};

} // namespace

extern "C" void standin_UPSetOutputPointerSizeInfo(int kind, void *pointer_address, size_t bytes,
                                                   void *function, int type_code)
{
    Line("_UPSetOutputPointerSizeInfo").i(kind).p(pointer_address).u(bytes).p(function).i(type_code);
}

extern "C" void standin_UPResizePointerSizeInfo(int kind, void *previous, void *pointer_address,
                                                size_t old_bytes, size_t new_bytes, void *function,
                                                int type_code)
{
    Line("_UPResizePointerSizeInfo").i(kind).p(previous).p(pointer_address).u(old_bytes).u(new_bytes)
        .p(function).i(type_code);
}

extern "C" void *standin_UPReturnPointerSizeInfo(void *pointer, size_t bytes)
{
    Line("_UPReturnPointerSizeInfo").p(pointer).u(bytes);
    return pointer;
}

extern "C" void standin_UPLibFreeDynPtrInfo(void *pointer, int kind, void *function)
{
    Line("_UPLibFreeDynPtrInfo").p(pointer).i(kind).p(function);
}

/* The two bookkeeping words of a string array are the engine's: the stand-in
 * fills them with recognisable tokens (0xB0000000 + n and 0xC0000000 + n, n
 * counting from 1 per filling call), so tests can follow them from the call
 * that handed the array out to the one that frees it. */
static volatile long g_bookkeeping_serial = 0;

static void fill_bookkeeping(void *bookkeeping_1_address, void *bookkeeping_2_address)
{
    uintptr_t n = static_cast<uintptr_t>(InterlockedIncrement(&g_bookkeeping_serial));
    if (bookkeeping_1_address) *static_cast<void **>(bookkeeping_1_address) = reinterpret_cast<void *>(0xB0000000u + n);
    if (bookkeeping_2_address) *static_cast<void **>(bookkeeping_2_address) = reinterpret_cast<void *>(0xC0000000u + n);
}

extern "C" void standin_UPSetOutputStringArrayInfo(int kind, void *array_address, void *bookkeeping_2_address,
                                                   void *bookkeeping_1_address, size_t count, void *function)
{
    Line("_UPSetOutputStringArrayInfo").i(kind).p(array_address).p(bookkeeping_2_address)
        .p(bookkeeping_1_address).u(count).p(function);
    fill_bookkeeping(bookkeeping_1_address, bookkeeping_2_address);
}

extern "C" void standin_UPResizeStringArrayInfo(int kind, void *current, void *array_address,
                                                void *bookkeeping_2_address, void *bookkeeping_1_address,
                                                size_t old_count, size_t new_count, void *function)
{
    Line("_UPResizeStringArrayInfo").i(kind).p(current).p(array_address).p(bookkeeping_2_address)
        .p(bookkeeping_1_address).u(old_count).u(new_count).p(function);
    fill_bookkeeping(bookkeeping_1_address, bookkeeping_2_address);
}

extern "C" void standin_UPLibFreeStringArrayInfo(void *array, int kind, void *bookkeeping_2,
                                                 void *bookkeeping_1, size_t count, void *function)
{
    Line("_UPLibFreeStringArrayInfo").p(array).i(kind).p(bookkeeping_2).p(bookkeeping_1).u(count).p(function);
}

extern "C" void standin_UPSaveCurrentEnv(void) { Line("_UPSaveCurrentEnv"); }
extern "C" void standin_UPRestoreCurrentEnv(void) { Line("_UPRestoreCurrentEnv"); }

extern "C" size_t standin_rte_protection_log_count(void)
{
    rte::TableLock guard;
    return log_lines().size();
}

extern "C" int standin_rte_protection_log_line(size_t i, char *buf, size_t size)
{
    rte::TableLock guard;
    if (i >= log_lines().size()) return -1;
    const std::string &s = log_lines()[i];
    if (buf && size) {
        size_t n = s.size() < size - 1 ? s.size() : size - 1;
        std::memcpy(buf, s.data(), n);
        buf[n] = 0;
    }
    return static_cast<int>(s.size());
}

extern "C" void standin_rte_protection_log_clear(void)
{
    rte::TableLock guard;
    log_lines().clear();
}

extern "C" void standin_rte_protection_log_enable(int on) { g_logging = on; }

void rte::reset_protection_log()
{
    g_logging = 0;
    standin_rte_protection_log_clear();
}
