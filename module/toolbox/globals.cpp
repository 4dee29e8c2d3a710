/* The toolbox's own state: one 224-byte record per thread (the random
 * generator's state and a heap block held for the thread), two process-wide
 * pointer-sized values in thread-safe variables of the run-time engine
 * (TsvPanelsWithLinkedCallbacksList and MsgCBHandlers, six access functions
 * each), their one-time creation, the start-up entry ToolboxInit and the
 * clean-ups of records and globals.
 *
 * Rules kept:
 *   - Nothing is created at load. The first thread_record() call creates the
 *     engine's thread-local variable of the records and both thread-safe
 *     variables (set to null), and registers the exit clean-up; exactly one
 *     thread does so, the one whose interlocked exchange of the claimed word
 *     found 0. Threads arriving meanwhile poll the initialised flag every 10 ms.
 *     The creations' statuses are not checked: a variable the engine refused
 *     leaves its handle 0, and its operations fail with the engine's status.
 *   - The initialised flag is published with release order after every
 *     creation, so a thread that reads it set sees the handles.
 *   - Each thread caches its record's address in a Windows TLS slot of the
 *     module; the slot is cleared whenever the engine discards that record
 *     (on the ending thread, or in every thread by freeing the slot's index
 *     when the globals are discarded), so a cached address is always live.
 *   - The access functions pass the engine's statuses through; GetPointerTo
 *     leaves the variable locked until ReleasePointerTo on the same thread.
 *   - A record is cleaned up (its block freed with the engine's free, its
 *     positive count reset) on its own thread when that thread ends, at once.
 *     When the variable is discarded from some thread, the block is detached
 *     from the record there and freed on the owning thread by a deferred call
 *     with a 2000-ms time-out: the engine frees the record itself as soon as
 *     the clean-up returns, so a call that runs after a time-out must not
 *     touch the record, only the block it was given.
 *   - At exit, unless the engine has been detached, the records' variable and
 *     both thread-safe variables are discarded; the globals then count as not
 *     created, so a later use would create them afresh.
 *   - A private function, kept by the compiler although nothing calls it,
 *     references the list display's anchor, so every module that carries the
 *     toolbox also carries the list display. */
#include <windows.h>
#include "cnode_startup.h"
#include "qex_rte.h"
#include "smart_types.h"
#include "toolbox.h"
#include "toolbox_globals.h"
#include "toolbox_internal.h"

/* The module's own interlocked exchange (the platform shims), not the
 * compiler's intrinsic of the same name. */
extern "C" long toolbox_interlocked_exchange(volatile long *target, long value) __asm__("_InterlockedExchange");

namespace toolbox {

volatile unsigned char g_globals_initialised = 0;
CmtTLVHandle g_thread_record_variable = 0;
DWORD g_record_cache = TLS_OUT_OF_INDEXES;

} // namespace toolbox

namespace {

using toolbox::ThreadRecord;

volatile long g_globals_claimed = 0;
CmtTSVHandle g_panels_with_linked_callbacks = 0;
CmtTSVHandle g_message_callback_handlers = 0;

[[gnu::used]] void link_list_display() { __qex_toolbox_smart_type_default_types(); }

constexpr int kRecordCleanupTimeoutMs = 2000;
constexpr DWORD kClaimPollMs = 10;

void free_detached_block(void *block) { qex_rte_free(block); }

/* The engine's discard callback of the records' variable. */
void record_cleanup(void *record_pointer, int reason, void *, unsigned int thread_id)
{
    if (reason == CMT_TLV_THREAD_ENDING) TlsSetValue(toolbox::g_record_cache, nullptr);
    auto *record = static_cast<ThreadRecord *>(record_pointer);
    if (!record || (!record->block && record->block_count <= 0)) return;
    void *block = record->block;
    record->block = nullptr;
    if (record->block_count > 0) record->block_count = 0;
    if (!block) return;
    if (reason == CMT_TLV_DISCARDED)
        PostDeferredCallToThreadAndWait(free_detached_block, block, static_cast<int>(thread_id),
                                        kRecordCleanupTimeoutMs);
    else
        free_detached_block(block);
}

void exit_cleanup(void)
{
    if (!QEXRTEHasBeenDetached()) {
        CmtDiscardThreadLocalVar(toolbox::g_thread_record_variable);
        UninitializeTsvPanelsWithLinkedCallbacksList();
        UninitializeMsgCBHandlers();
    }
    if (toolbox::g_record_cache != TLS_OUT_OF_INDEXES) TlsFree(toolbox::g_record_cache);
    toolbox::g_record_cache = TLS_OUT_OF_INDEXES;
    toolbox::g_thread_record_variable = 0;
    g_panels_with_linked_callbacks = 0;
    g_message_callback_handlers = 0;
    __atomic_store_n(&toolbox::g_globals_initialised, 0, __ATOMIC_RELEASE);
    toolbox_interlocked_exchange(&g_globals_claimed, 0);
}

/* The six access functions of one variable. */
int new_variable(CmtTSVHandle *handle) { return CmtNewTSV(sizeof(void *), handle); }

void **pointer_to(CmtTSVHandle handle)
{
    void **value = nullptr;
    if (CmtGetTSVPtr(handle, &value) < 0) return nullptr;
    return value;
}

void *value_of(CmtTSVHandle handle)
{
    void **value = nullptr;
    if (CmtGetTSVPtr(handle, &value) < 0) return nullptr;
    void *result = value ? *value : nullptr;
    CmtReleaseTSVPtr(handle);
    return result;
}

} // namespace

void toolbox::initialise_globals()
{
    if (__atomic_load_n(&g_globals_initialised, __ATOMIC_ACQUIRE)) return;
    if (toolbox_interlocked_exchange(&g_globals_claimed, 1) != 0) {
        while (!__atomic_load_n(&g_globals_initialised, __ATOMIC_ACQUIRE)) Sleep(kClaimPollMs);
        return;
    }
    g_record_cache = TlsAlloc();
    ThreadRecord initial = {};
    initial.seed = kInitialSeed;
    initial.reseed = 1;
    CmtNewThreadLocalVar(sizeof initial, &initial, record_cleanup, nullptr, &g_thread_record_variable);
    InitializeTsvPanelsWithLinkedCallbacksList();
    SetTsvPanelsWithLinkedCallbacksList(nullptr);
    InitializeMsgCBHandlers();
    SetMsgCBHandlers(nullptr);
    __QEX_LinkName_atexit(exit_cleanup);
    __atomic_store_n(&g_globals_initialised, 1, __ATOMIC_RELEASE);
}

void *toolbox::thread_record_from_engine()
{
    void *record = nullptr;
    if (CmtGetThreadLocalVar(g_thread_record_variable, &record) < 0 || !record) return nullptr;
    TlsSetValue(g_record_cache, record);
    return record;
}

extern "C" {

int InitializeTsvPanelsWithLinkedCallbacksList(void) { return new_variable(&g_panels_with_linked_callbacks); }
int UninitializeTsvPanelsWithLinkedCallbacksList(void) { return CmtDiscardTSV(g_panels_with_linked_callbacks); }
void **GetPointerToTsvPanelsWithLinkedCallbacksList(void) { return pointer_to(g_panels_with_linked_callbacks); }
int ReleasePointerToTsvPanelsWithLinkedCallbacksList(void) { return CmtReleaseTSVPtr(g_panels_with_linked_callbacks); }
int SetTsvPanelsWithLinkedCallbacksList(void *value) { return CmtSetTSV(g_panels_with_linked_callbacks, &value); }
void *GetTsvPanelsWithLinkedCallbacksList(void) { return value_of(g_panels_with_linked_callbacks); }

int InitializeMsgCBHandlers(void) { return new_variable(&g_message_callback_handlers); }
int UninitializeMsgCBHandlers(void) { return CmtDiscardTSV(g_message_callback_handlers); }
void **GetPointerToMsgCBHandlers(void) { return pointer_to(g_message_callback_handlers); }
int ReleasePointerToMsgCBHandlers(void) { return CmtReleaseTSVPtr(g_message_callback_handlers); }
int SetMsgCBHandlers(void *value) { return CmtSetTSV(g_message_callback_handlers, &value); }
void *GetMsgCBHandlers(void) { return value_of(g_message_callback_handlers); }

int ToolboxInit(void) { return 0; }

} // extern "C"
