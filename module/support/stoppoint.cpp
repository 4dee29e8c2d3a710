/* Stoppoints: node code calls __qex_stoppoint before every statement. With no
 * breakpoint at the statement, no global flag and no abort pending it returns
 * at once; otherwise the implementation runs the abort checks, which turn a
 * pending abort of this thread's node code into the jump back to its frame.
 *
 * Least layer: breakpoints, stepping, suspension and debugger calls are not
 * handled here yet; the full stoppoint (an assembly stub without a frame, and
 * the implementation's whole decision order) takes this file's place. */
#include <windows.h>
#include "cnode.h"
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "qex_rte.h"

extern "C" {
volatile uint8_t __qex_global_flag = 0;
volatile uint8_t __qex_debugger_present = 0;
volatile int32_t __qex_gw_c_abort_flag = 0;
volatile int32_t __qex_gw_c_abort_tlv_handle = 0;
}

namespace {

typedef void (*LongJump)(void *env, int value);

/* Jumps back to the frame that armed this thread's abort record when its flag
 * is set. Any missing piece means the abort waits for a later stoppoint. */
void abort_check(volatile int32_t &pending, volatile int32_t &tlv_handle)
{
    if (pending == 0 || tlv_handle == 0) return;
    __cnode_abort_tlv_data_t *record = nullptr;
    if (CmtGetThreadLocalVar(tlv_handle, &record) < 0 || !record || record->flag == 0) return;
    HMODULE rte = GetModuleHandleA("qex_gwrt.dll");
    if (!rte) return;
    auto jump = reinterpret_cast<LongJump>(reinterpret_cast<void *>(GetProcAddress(rte, "longjmp")));
    if (!jump) return;
    jump(record->env, 1);
}

} // namespace

extern "C" void __qex_stoppoint_implementation(volatile unsigned char *, void **)
{
    abort_check(__qex_cnode_abort_flag, __qex_cnode_abort_tlv_handle);
    abort_check(__qex_gw_c_abort_flag, __qex_gw_c_abort_tlv_handle);
}

extern "C" void __qex_stoppoint(volatile unsigned char *entry)
{
    if ((__qex_global_flag | *entry) == 0 && __qex_cnode_abort_flag == 0 && __qex_gw_c_abort_flag == 0) return;
    __qex_stoppoint_implementation(entry, static_cast<void **>(__builtin_frame_address(0)) + 1);
}
