/* Entry of the engine stand-in: thread-local records are discarded as their
 * thread ends, the way the real engine does. */
#include "rte_internal.h"

static SRWLOCK g_tables = SRWLOCK_INIT;

rte::TableLock::TableLock() { AcquireSRWLockExclusive(&g_tables); }
rte::TableLock::~TableLock() { ReleaseSRWLockExclusive(&g_tables); }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_THREAD_ATTACH) {
        rte::deferred_thread_attach();
    } else if (reason == DLL_THREAD_DETACH) {
        rte::tlv_thread_detach();
        rte::deferred_thread_detach();
    } else if (reason == DLL_PROCESS_DETACH)
        rte::debugger_process_detach();
    return TRUE;
}

extern "C" void standin_rte_reset(void)
{
    rte::reset_allocator();
    rte::reset_switches();
    rte::reset_locks();
    rte::reset_protection_log();
}
