/* The helper runtime's process-wide state and its instance registry: start-up
 * and unload (the helper's DllMain), registration of an instance at each entry
 * call, the user-code window in which an abort takes effect, and the helper
 * steps of the three instance callbacks (reserve, unreserve, abort).
 *
 * The registry is a toolbox hash table from the instance pointer (8-byte
 * fixed key) to an InstanceRecord. Every read-modify-write of a record and
 * every change of an abort record's flag happens under the registry lock; the
 * pending-abort count changes only atomically, since stoppoints read it
 * without the lock. The steps that run at every entry call change a
 * registered instance's record where the table keeps it (its value copy never
 * moves), so a call locates its record once and stores nothing back.
 *
 * Calls of different instances run side by side on different threads. What
 * each thread remembers for itself (the record it located last) lives in its
 * own thread-local slots, not in a process-wide variable, so that one
 * thread's calls write nothing another thread's calls read, beyond the
 * registry lock itself and the records' own bytes. */
#include "thread_block.h"
#include <string.h>
#include "cnode_startup.h"
#include "helper_internal.h"
#include "qex_rte.h"
#include "hash_table_internal.h"

extern "C" {
volatile int32_t __qex_cnode_abort_flag = 0;
volatile int32_t __qex_cnode_abort_tlv_handle = 0;
}

namespace cnode_helper {

namespace {

typedef CmtTLVHandle (*AbortEntry)(void);
typedef uint32_t (*CurrentProcessId)(void);
typedef void (*NotifyThreadAborted)(uint32_t process_id, uint32_t thread_id);

const char kRefusalMessage[] =
    "ERROR: C Node RTE is not present or is missing cnode_rte_get_abort_tlv export! C Node DLLs will not load.\n";
constexpr int kInitialRegistrySize = 10;

/* The engine's "cnode_rte_get_abort_tlv", resolved at load. */
AbortEntry g_abort_entry = nullptr;
/* 0 while no lock exists. */
CmtThreadLockHandle g_registry_lock = 0;
/* Null while no registry exists. */
HashTableType g_registry = nullptr;

/* The record a thread located last, with its instance, so that the begin and
 * end steps of a call find the record that its entry step located without
 * hashing the key again. Each thread keeps its own in three thread-local
 * slots (instance, record, registry generation); they are read and written
 * only by their thread, under the registry lock. The generation counts the
 * removals from the registry and its disposals, and changes only under the
 * lock: a thread's located record is good while the generation it was
 * located in is current, since the registry then still holds the instance
 * and the record is its value copy, which never moves. Without slots (the
 * process has none left) every step hashes the key. */
DWORD g_located_slots[3] = {TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES};
enum { kLocatedInstance, kLocatedRecord, kLocatedGeneration };
/* Starts at 1: a slot that was never written reads 0 and matches nothing. */
uintptr_t g_registry_generation = 1;

bool located_slots_exist() { return g_located_slots[kLocatedGeneration] != TLS_OUT_OF_INDEXES; }

void allocate_located_slots()
{
    for (DWORD &slot : g_located_slots) slot = TlsAlloc();
    for (DWORD slot : g_located_slots)
        if (slot == TLS_OUT_OF_INDEXES) {
            for (DWORD &s : g_located_slots)
                if (s != TLS_OUT_OF_INDEXES) TlsFree(s), s = TLS_OUT_OF_INDEXES;
            return;
        }
}

void free_located_slots()
{
    for (DWORD &slot : g_located_slots)
        if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot), slot = TLS_OUT_OF_INDEXES;
}

/* Every thread's located record becomes stale. */
void forget_located() { ++g_registry_generation; }

uint64_t key_of(void *instance) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(instance)); }

/* Frees the arrays every registered instance still holds and disposes its
 * list, then the registry itself. */
void dispose_registry()
{
    size_t iterator = 0;
    int position = HashTableIteratorCreate(g_registry, &iterator);
    while (position == 0) { /* 1: at end; negative: an error */
        uint64_t key = 0;
        InstanceRecord record = {};
        if (HashTableIteratorGetItem(g_registry, iterator, &key, sizeof key, &record, sizeof record) == 0 &&
            record.list)
            __cnode_free_string_arrays(record.list, 1);
        position = HashTableIteratorAdvance(g_registry, iterator);
    }
    if (iterator) HashTableIteratorDispose(g_registry, iterator);
    forget_located();
    HashTableDispose(g_registry);
    g_registry = nullptr;
}

void discard_registry_lock()
{
    if (g_registry_lock) CmtDiscardLock(g_registry_lock);
    g_registry_lock = 0;
}

BOOL attach(HINSTANCE module)
{
    if (!InitQEXRTEEx(module, nullptr, nullptr)) return FALSE;
    /* An engine that is not loaded keeps the entry resolved by an earlier load. */
    if (HMODULE engine = GetModuleHandleA("qex_gwrt.dll"))
        g_abort_entry = reinterpret_cast<AbortEntry>(
            reinterpret_cast<void *>(GetProcAddress(engine, "cnode_rte_get_abort_tlv")));
    if (!g_abort_entry) {
        OutputDebugStringA(kRefusalMessage);
        CloseQEXRTE();
        return FALSE;
    }
    if (CmtNewLock(nullptr, 0, &g_registry_lock) < 0) {
        g_registry_lock = 0;
        CloseQEXRTE();
        return FALSE;
    }
    if (HashTableCreate(kInitialRegistrySize, HASH_KEY_FIXED, sizeof(uint64_t), sizeof(InstanceRecord),
                        &g_registry) != 0) {
        g_registry = nullptr;
        discard_registry_lock();
        CloseQEXRTE();
        return FALSE;
    }
    allocate_located_slots();
    watch_debugger_library();
    return TRUE;
}

/* Also reached after a refused attach (the C runtime's entry reports the
 * failure as a detach), so every piece is released only when it exists. */
BOOL detach()
{
    stop_watching_debugger_library();
    if (g_registry) dispose_registry();
    free_located_slots();
    discard_registry_lock();
    CloseQEXRTE();
    return TRUE;
}

} // namespace

RegistryLock::RegistryLock() : held_(g_registry_lock != 0 && CmtGetLock(g_registry_lock) >= 0) {}

RegistryLock::~RegistryLock()
{
    if (held_) CmtReleaseLock(g_registry_lock);
}

bool read_record(void *instance, InstanceRecord &record)
{
    uint64_t key = key_of(instance);
    if (HashTableGetItem(g_registry, &key, &record, sizeof record) == 0) return true;
    record = InstanceRecord{};
    return false;
}

bool store_record(void *instance, const InstanceRecord &record)
{
    uint64_t key = key_of(instance);
    return HashTableInsertItem(g_registry, &key, &record) == 0;
}

bool registry_exists() { return g_registry != nullptr; }

InstanceRecord *record_in_place(void *instance)
{
    const bool slots = located_slots_exist();
    if (slots && thread_block::tls_value(g_located_slots[kLocatedInstance]) == instance &&
        reinterpret_cast<uintptr_t>(thread_block::tls_value(g_located_slots[kLocatedGeneration])) ==
            g_registry_generation)
        return static_cast<InstanceRecord *>(thread_block::tls_value(g_located_slots[kLocatedRecord]));
    uint64_t key = key_of(instance);
    auto *record = static_cast<InstanceRecord *>(toolbox::hash_table_value_in_place(g_registry, &key));
    if (record && slots) {
        TlsSetValue(g_located_slots[kLocatedInstance], instance);
        TlsSetValue(g_located_slots[kLocatedRecord], record);
        TlsSetValue(g_located_slots[kLocatedGeneration], reinterpret_cast<void *>(g_registry_generation));
    }
    return record;
}

bool holds_instance(void *instance)
{
    uint64_t key = key_of(instance);
    int found = 0;
    return HashTableFindItem(g_registry, &key, &found) == 0 && found;
}

bool raise_abort_request(__cnode_abort_tlv_data_t *record)
{
    /* A repeated request for a call whose abort is already pending is dropped:
     * it neither counts again nor notifies again, so that each set flag stands
     * for exactly one count. */
    if (record->flag != 0) return false;
    record->flag = 1;
    __atomic_add_fetch(&__qex_cnode_abort_flag, 1, __ATOMIC_SEQ_CST);
    return true;
}

void clear_abort_request(__cnode_abort_tlv_data_t *record)
{
    if (record->flag == 0) return;
    __atomic_sub_fetch(&__qex_cnode_abort_flag, 1, __ATOMIC_SEQ_CST);
    record->flag = 0;
}

__cnode_abort_tlv_data_t *this_thread_abort_record()
{
    __cnode_abort_tlv_data_t *record = nullptr;
    if (__qex_cnode_abort_tlv_handle != 0 && CmtGetThreadLocalVar(__qex_cnode_abort_tlv_handle, &record) < 0)
        record = nullptr;
    return record;
}

} // namespace cnode_helper

using namespace cnode_helper;

extern "C" BOOL WINAPI __cnode_helper_DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH: return attach(module);
    case DLL_PROCESS_DETACH: return detach();
    default: return TRUE;
    }
}

namespace {

/* What an entry call records about the thread that makes it: the debugged
 * process, the thread, and the thread's abort record. All three belong to the
 * calling thread alone, so they are fetched before the registry lock is taken:
 * the lock is held only for what it guards. */
InstanceRecord entering_thread()
{
    InstanceRecord entered = {};
    entered.thread_id = GetCurrentThreadId();
    if (auto process_id =
            reinterpret_cast<CurrentProcessId>(debugger_library_export("__qex_debug_current_process_id")))
        entered.process_id = process_id();
    entered.abort_data = this_thread_abort_record();
    return entered;
}

} // namespace

/* A registered instance's record is updated where the registry keeps it; only
 * the first call of an instance stores a new record. Under the lock, the
 * thread's leftover abort request (from an earlier call on this thread) is
 * cleared (it still gives back its count), and the record is located and
 * changed with nothing but this unit's own steps in between. */
extern "C" int32_t __cnode_helper_initialize(void *instance, __cnode_gwerror *error)
{
    bool registered = false;
    InstanceRecord entered = entering_thread();
    {
        RegistryLock lock;
        if (lock.held() && registry_exists()) {
            if (entered.abort_data) clear_abort_request(entered.abort_data);
            if (InstanceRecord *kept = record_in_place(instance)) {
                /* Arrays the node code did not give back by the end of the
                 * previous call are freed now (a kept record always has its
                 * list). */
                __cnode_free_string_arrays(kept->list, 0);
                kept->abort_data = entered.abort_data;
                kept->process_id = entered.process_id;
                kept->thread_id = entered.thread_id;
                registered = true;
            } else {
                entered.list = ListCreate(sizeof(__cnode_string_array_record));
                if (entered.list) {
                    registered = store_record(instance, entered);
                    if (!registered) ListDispose(entered.list);
                }
            }
        }
    }
    if (registered) return bind_memory_manager_once(error);
    if (error) {
        error->status = 1;
        error->code = CNODE_ERR_NO_MEMORY_OR_LOCK;
    }
    return 0;
}

/* The window opens only for an instance the registry holds: an instance
 * unreserved while its call runs is not registered again by its own end
 * steps. Both steps change the kept record in place. */
extern "C" void __cnode_on_begin_user_code(void *instance)
{
    RegistryLock lock;
    if (!lock.held()) return;
    if (InstanceRecord *record = record_in_place(instance)) record->in_user_code = 1;
}

extern "C" void __cnode_on_end_user_code(void *instance)
{
    RegistryLock lock;
    if (!lock.held() || !registry_exists()) return;
    if (InstanceRecord *record = record_in_place(instance)) {
        record->in_user_code = 0;
        if (record->abort_data) clear_abort_request(record->abort_data);
    } else if (__cnode_abort_tlv_data_t *own = this_thread_abort_record()) {
        /* Unreserved during the call: a request made for it before the
         * unreservation sits on this thread's record, the one the call ran
         * with; it is cleared here, so the count still returns to 0. */
        clear_abort_request(own);
    }
}

extern "C" void __cnode_on_reserve(void *)
{
    RegistryLock lock;
    if (!lock.held()) return;
    if (__qex_cnode_abort_tlv_handle == 0) __qex_cnode_abort_tlv_handle = g_abort_entry();
}

extern "C" void __cnode_on_unreserve(void *instance)
{
    RegistryLock lock;
    if (!lock.held()) return;
    uint64_t key = key_of(instance);
    InstanceRecord record = {};
    forget_located();
    if (HashTableRemoveItem(g_registry, &key, &record, sizeof record) == 0 && record.list)
        __cnode_free_string_arrays(record.list, 1);
}

extern "C" void __cnode_on_abort(void *instance)
{
    RegistryLock lock;
    InstanceRecord record;
    if (!lock.held() || !read_record(instance, record)) return;
    /* Outside the user-code window the request is dropped, not remembered. */
    if (!record.abort_data || !record.in_user_code) return;
    if (!raise_abort_request(record.abort_data)) return;
    if (record.process_id != 0 && record.thread_id != 0)
        if (auto notify = reinterpret_cast<NotifyThreadAborted>(
                debugger_library_export("__qex_debug_notify_thread_aborted")))
            notify(record.process_id, record.thread_id);
}
