/* Module life cycle: what the engine keeps of every attached module, the
 * support-library answer, the detached flag the engine publishes in named
 * shared memory, the exit-function clearing callbacks modules hand over, the
 * registration of the engine with the debugger, abnormal exit, and the
 * protection checks of protected exit-function registrations.
 *
 * Each attached module's linkage table is kept as received and searched by
 * name with a binary search under strcmp, the way the engine, the environment
 * and the debugger find a module's functions; so a table that is not sorted
 * by strcmp fails its lookups here as it would there. */
#include "rte_internal.h"
#include "standin_rte_startup.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 1)
struct LinkageRecord {
    const char *name;
    void *address;
    int32_t kind;
};
#pragma pack(pop)
static_assert(sizeof(LinkageRecord) == 20, "linkage records are 20 packed bytes");

typedef void (*ClearingCallback)(void);

std::vector<standin_rte_attachment_t> &attachments()
{
    static std::vector<standin_rte_attachment_t> modules;
    return modules;
}

std::vector<std::string> &lifecycle_log()
{
    static std::vector<std::string> lines;
    return lines;
}

std::vector<ClearingCallback> &clearing_callbacks()
{
    static std::vector<ClearingCallback> callbacks;
    return callbacks;
}

void log_line(std::string line)
{
    rte::TableLock guard;
    lifecycle_log().push_back(std::move(line));
}

std::string pointer_text(const void *p)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%016llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return b;
}

rte::FailCountdown g_fail_attach;
volatile LONG g_support_answer = 2;

/* The shared memory in which the engine tells the modules of the process
 * whether it has been detached: one 32-bit flag, named after the support
 * library and the process id. */
class DetachedFlag {
public:
    DetachedFlag() { publish(2); }
    ~DetachedFlag()
    {
        set(1); /* the engine is going */
        withdraw();
    }
    void publish(int32_t answer)
    {
        withdraw();
        char name[160];
        std::snprintf(name, sizeof name, "%s, %lu", base_name(answer), GetCurrentProcessId());
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name);
        if (!mapping_) return;
        view_ = static_cast<volatile int32_t *>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0));
        if (view_) *view_ = 0;
    }
    void set(int32_t detached)
    {
        if (view_) *view_ = detached;
    }
    void withdraw()
    {
        if (view_) UnmapViewOfFile(const_cast<int32_t *>(view_));
        if (mapping_) CloseHandle(mapping_);
        view_ = nullptr;
        mapping_ = nullptr;
    }

private:
    static const char *base_name(int32_t answer)
    {
        switch (answer) {
        case 2: return "Tamberlane QEX Shmen for QEXRTEHasBeenDetached for QexGwRt";
        case 1: return "Tamberlane QEX Shmen for QEXRTEHasBeenDetached for Pelmora";
        default: return "Tamberlane QEX Shmem for QEXRTEHasBeenDetached";
        }
    }
    HANDLE mapping_ = nullptr;
    volatile int32_t *view_ = nullptr;
};

DetachedFlag g_detached_flag; /* published while the engine is loaded */

standin_rte_attachment_t *find_locked(void *module)
{
    auto &all = attachments();
    if (all.empty()) return nullptr;
    if (!module) return &all.back();
    for (auto &a : all)
        if (a.module == module) return &a;
    return nullptr;
}

} // namespace

extern "C" int32_t standin_WhichRuntimeSupportDll(void) { return g_support_answer; }

extern "C" int32_t standin_InitQEXRTDll(void *module, const void *linkage_table, int32_t linkage_count,
                                        const void *table_1, int32_t count_1, const void *table_2,
                                        int32_t count_2, const void *table_3, int32_t count_3, void *block,
                                        const char *const *components)
{
    log_line("InitQEXRTDll");
    if (g_fail_attach.take()) return 0;
    standin_rte_attachment_t a = {module,   linkage_table, linkage_count, {table_1, table_2, table_3},
                                  {count_1, count_2, count_3}, block, components};
    rte::TableLock guard;
    if (auto *kept = find_locked(module); kept && module) {
        *kept = a;
    } else {
        attachments().push_back(a);
    }
    return 1;
}

extern "C" void standin_CloseQEXRTDll(void *module)
{
    log_line("CloseQEXRTDll");
    rte::TableLock guard;
    auto &all = attachments();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [module](const standin_rte_attachment_t &a) { return a.module == module; }),
              all.end());
}

/* The engine ends the process when a module asks it to exit. */
extern "C" void standin_QEXRTDllAbnormalExit(int32_t code)
{
    log_line("QEXRTDllAbnormalExit(" + std::to_string(code) + ")");
    ExitProcess(static_cast<UINT>(code));
}

extern "C" void standin_RegisterAtExitCleanup(ClearingCallback callback)
{
    log_line("__RegisterAtExitCleanup");
    rte::TableLock guard;
    auto &all = clearing_callbacks();
    if (std::find(all.begin(), all.end(), callback) == all.end()) all.push_back(callback);
}

extern "C" void standin_UnregisterAtExitCleanup(ClearingCallback callback)
{
    log_line("__UnregisterAtExitCleanup");
    rte::TableLock guard;
    auto &all = clearing_callbacks();
    all.erase(std::remove(all.begin(), all.end(), callback), all.end());
}

extern "C" int32_t standin_DBG_RegisterRTEWithDebugger(void)
{
    log_line("__DBG_RegisterRTEWithDebugger");
    return 0;
}

extern "C" int32_t standin_DBG_UnregisterRTEWithDebugger(void)
{
    log_line("__DBG_UnregisterRTEWithDebugger");
    return 0;
}

extern "C" void standin_UPLibChkSize(const void *pointer, size_t size, int32_t kind, int32_t count, int32_t check,
                                     void *function)
{
    log_line("_UPLibChkSize(" + pointer_text(pointer) + ", " + std::to_string(size) + ", " + std::to_string(kind) +
             ", " + std::to_string(count) + ", " + std::to_string(check) + ", " + pointer_text(function) + ")");
}

extern "C" void standin_UPLibClearArgs(void) { log_line("_UPLibClearArgs"); }

extern "C" void standin_UPLibBreakpoint(int32_t kind, int64_t value, void *function)
{
    log_line("_UPLibBreakpoint(" + std::to_string(kind) + ", " + std::to_string(value) + ", " +
             pointer_text(function) + ")");
}

/* ---- test controls ---- */

extern "C" int standin_rte_attached_count(void)
{
    rte::TableLock guard;
    return static_cast<int>(attachments().size());
}

extern "C" int standin_rte_attachment(void *module, standin_rte_attachment_t *out)
{
    rte::TableLock guard;
    standin_rte_attachment_t *a = find_locked(module);
    if (!a) return -1;
    if (out) *out = *a;
    return 0;
}

extern "C" void *standin_rte_lookup_function(void *module, const char *name)
{
    if (!name) return nullptr;
    rte::TableLock guard;
    standin_rte_attachment_t *a = find_locked(module);
    if (!a || !a->linkage_table || a->linkage_count <= 0) return nullptr;
    auto *records = static_cast<const LinkageRecord *>(a->linkage_table);
    size_t low = 0, high = static_cast<size_t>(a->linkage_count);
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        int order = std::strcmp(name, records[mid].name);
        if (order == 0) return records[mid].address;
        if (order < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
}

extern "C" void standin_rte_fail_attach_nth(long n) { g_fail_attach.arm(n, false); }

extern "C" size_t standin_rte_lifecycle_log_count(void)
{
    rte::TableLock guard;
    return lifecycle_log().size();
}

extern "C" int standin_rte_lifecycle_log_line(size_t i, char *buf, size_t size)
{
    rte::TableLock guard;
    if (i >= lifecycle_log().size()) return -1;
    const std::string &s = lifecycle_log()[i];
    if (buf && size) {
        size_t n = std::min(s.size(), size - 1);
        std::memcpy(buf, s.data(), n);
        buf[n] = 0;
    }
    return static_cast<int>(s.size());
}

extern "C" void standin_rte_lifecycle_log_clear(void)
{
    rte::TableLock guard;
    lifecycle_log().clear();
}

extern "C" void standin_rte_lifecycle_note(const char *text) { log_line(text ? text : ""); }

extern "C" int standin_rte_atexit_cleanups_registered(void)
{
    rte::TableLock guard;
    return static_cast<int>(clearing_callbacks().size());
}

extern "C" int standin_rte_run_atexit_cleanups(void)
{
    std::vector<ClearingCallback> callbacks;
    {
        rte::TableLock guard;
        callbacks = clearing_callbacks();
    }
    for (ClearingCallback c : callbacks) c();
    return static_cast<int>(callbacks.size());
}

extern "C" void standin_rte_set_support_dll_answer(int32_t answer)
{
    InterlockedExchange(&g_support_answer, answer);
    g_detached_flag.publish(answer);
}

extern "C" void standin_rte_set_detached(int32_t detached) { g_detached_flag.set(detached); }
extern "C" void standin_rte_withdraw_detached_flag(void) { g_detached_flag.withdraw(); }
