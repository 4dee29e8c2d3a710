/* The abort checks a stoppoint runs: they turn a pending abort of the code
 * running on this thread into the jump back to the frame that armed the
 * thread's abort record. The node check serves this module's own abort
 * requests (the instance callbacks); the host check serves the host's requests
 * for node code, with a record of the same layout.
 *
 * Each check is cheap while nothing is pending (one read of the module-wide
 * count). Any missing piece (no handle, no record, the record's flag clear,
 * the engine not loaded, no "longjmp" export) means the abort waits for a
 * later stoppoint. The jump goes through the engine's own "longjmp", the
 * counterpart of the engine's setjmp that armed the record. A check that does
 * not jump leaves the thread's last-error value as it found it, since it runs
 * before the stoppoint saves that value. */
#include <windows.h>
#include "last_error_keeper.h"
#include "cnode.h"
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "qex_rte.h"

namespace {

typedef void (*EngineLongJump)(void *env, int value);

/* The record's env and the engine's longjmp, when this thread must jump. */
bool find_jump(volatile int32_t &pending, volatile int32_t &tlv_handle, void **env, EngineLongJump *jump)
{
    LastErrorKeeper keep;
    if (pending == 0 || tlv_handle == 0) return false;
    __cnode_abort_tlv_data_t *record = nullptr;
    if (CmtGetThreadLocalVar(tlv_handle, &record) < 0 || !record || record->flag == 0) return false;
    HMODULE engine = GetModuleHandleA("qex_gwrt.dll");
    if (!engine) return false;
    *jump = reinterpret_cast<EngineLongJump>(reinterpret_cast<void *>(GetProcAddress(engine, "longjmp")));
    *env = record->env;
    return *jump != nullptr;
}

void abort_check(volatile int32_t &pending, volatile int32_t &tlv_handle)
{
    void *env = nullptr;
    EngineLongJump jump = nullptr;
    if (find_jump(pending, tlv_handle, &env, &jump)) jump(env, 1); /* does not return */
}

} // namespace

extern "C" void __qex_node_abort_check(void) { abort_check(__qex_cnode_abort_flag, __qex_cnode_abort_tlv_handle); }

extern "C" void __qex_host_abort_check(void) { abort_check(__qex_gw_c_abort_flag, __qex_gw_c_abort_tlv_handle); }
