/* Stoppoints and execution control: where the environment's debugger gets
 * hold of a running thread.
 *
 * __qex_stoppoint (stoppoint_stub.S) runs before every statement and returns
 * at once unless a breakpoint, the global flag or an abort is pending; then
 * __qex_stoppoint_implementation takes over. It turns a pending abort into the
 * jump back to the node's frame, and holds the thread while the debugger's
 * control block asks for it: a breakpoint byte, a suspend request, a single
 * step, or a call the debugger wants run on this thread. The thread's
 * last-error value comes out as it went in.
 *
 * No lock is taken here: every coordination goes through the control block,
 * whose fields are re-read at every test because the debugger changes them
 * while threads run or wait. The one field the module writes, suspend_flag,
 * is consumed with a compare-and-exchange, so that one request stops exactly
 * one thread however many race for it. */
#include <windows.h>
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "debug_support.h"
#include "qex_rte.h"
#include "smart_types.h"

extern "C" {
volatile uint8_t __qex_global_flag = 0;
volatile uint8_t __qex_debugger_present = 0;
volatile int32_t __qex_gw_c_abort_flag = 0;
volatile int32_t __qex_gw_c_abort_tlv_handle = 0;
char __qex_call_message[4096] = {};
HMODULE __qex_module_owner = nullptr;
}

/* Marks this unit as hidden from the debugger's source view (a private
 * symbol of exactly this name, looked up with the unit). */
extern "C" {
[[maybe_unused]] __attribute__((used)) static void __qex_hide_this_file(void) {}
}

namespace {

using Control = __qex_debugger_control_t;

/* How long a thread waits between looks at a call evaluation's barrier. */
constexpr DWORD kBarrierPollMilliseconds = 100;

const char kUpdateWatchpoints[] = "@{update_watchpoints:}@";
const char kCallReset[] = "@{call|reset:6}@";

Control *control_block() { return static_cast<Control *>(__DBG_GetDebuggerControlVars()); }

/* Either check may leave by the jump back to the node's frame. */
void abort_checks()
{
    __qex_node_abort_check();
    __qex_host_abort_check();
}

bool is_current_thread(uint64_t thread) { return thread == GetCurrentThreadId(); }

/* Whether a single step stops at a stoppoint whose function has this frame
 * address. Next, out and over stop only in that frame or one nearer the stack
 * base (larger address), so a deeper call runs through. */
bool single_step_stops(const Control *c, uintptr_t frame)
{
    uint32_t thread = c->single_step_thread;
    uint8_t type = c->single_step_flag;
    if (thread == 0) return type != 0;
    if (!is_current_thread(thread)) return false;
    switch (type) {
    case QEX_STEP_INTO: return true;
    case QEX_STEP_NEXT:
    case QEX_STEP_OUT:
    case QEX_STEP_OVER: return frame >= c->single_step_frame;
    default: return false;
    }
}

/* Consumes a suspend request: true for the one thread that clears it. */
bool take_suspend_request(Control *c)
{
    uint8_t seen = c->suspend_flag;
    while (seen != 0)
        if (__atomic_compare_exchange_n(&c->suspend_flag, &seen, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return true;
    return false;
}

/* Runs the debugger's call on this thread, shielded by the engine. */
void run_requested_call(const Control *c)
{
    auto function = reinterpret_cast<__qex_call_function_t>(static_cast<uintptr_t>(c->call_function));
    __qex_send_message(kCallReset);
    __DBG_SafeCall(function, static_cast<intptr_t>(c->call_value), static_cast<intptr_t>(c->call_operand));
}

/* Holds the thread for as long as a breakpoint, a suspend request, a step or
 * a call asks for it (the decision order is the debugger's contract). */
void hold_for_debugger(Control *c, volatile unsigned char *entry, uintptr_t frame)
{
    for (;;) {
        __qex_debug_barrier();
        abort_checks();
        while (c->call_evaluation && c->call_barrier && !is_current_thread(c->call_thread))
            Sleep(kBarrierPollMilliseconds);
        bool calling = c->call_evaluation && c->call_function && is_current_thread(c->call_thread);
        bool stepping = c->single_step_flag != 0 && single_step_stops(c, frame);
        if (c->watchpoint_flag) __qex_send_message(kUpdateWatchpoints);
        bool suspend = take_suspend_request(c);
        if (*entry == 0 && !suspend && !stepping && !calling) return;
        if (calling) run_requested_call(c);
        __qex_suspend();
        abort_checks();
        calling = c->call_evaluation && c->call_function && (c->call_barrier || is_current_thread(c->call_thread));
        if (!calling) return;
    }
}

const char *step_label(uint8_t type)
{
    switch (type) {
    case QEX_STEP_INTO: return "into";
    case QEX_STEP_NEXT: return "next";
    case QEX_STEP_OUT: return "out";
    case QEX_STEP_OVER: return "over";
    default: return "continue";
    }
}

/* The stack slot holding the caller's return address, found by scanning
 * upward from the function's own frame. */
void **return_address_slot(void *frame, void *return_address)
{
    constexpr int kMaxWords = 4096;
    void **p = static_cast<void **>(frame);
    for (int i = 0; i < kMaxWords; ++i, ++p)
        if (*p == return_address) return p;
    return nullptr;
}

} // namespace

/* The stub jumps here with the breakpoint byte and the slot of its return
 * address. The prologue's first step pushes the caller's frame pointer just
 * below that slot; that word is the frame address of the function holding the
 * stoppoint. Nothing restores the last-error value when an abort check jumps
 * back to the node's frame: the node's code is being left. */
extern "C" void __qex_stoppoint_implementation(volatile unsigned char *entry, void **return_address_slot)
{
    abort_checks();
    Control *c = control_block();
    if (!c || (*entry == 0 && c->global_flag == 0)) return;
    DWORD last_error = GetLastError();
    hold_for_debugger(c, entry, reinterpret_cast<uintptr_t>(return_address_slot[-1]));
    SetLastError(last_error);
}

/* Keeps the run-time types' value displays, and their table, in the module. */
extern "C" void __qex_smart_type_reference(void) { __qex_smart_type_default_types(); }

extern "C" uint8_t __qex_debugger_is_present(void) { return __qex_debugger_present; }

extern "C" void __qex_get_exe_state(char *label)
{
    const char *text = "continue";
    if (const Control *c = control_block()) {
        uint32_t thread = c->single_step_thread;
        if (thread == 0 || is_current_thread(thread)) text = step_label(c->single_step_flag);
    }
    lstrcpyA(label, text);
}

extern "C" void __qex_suspend(void) { __qex_debug_break(); }

extern "C" void __qex_debug_safe_call(void)
{
    DWORD last_error = GetLastError();
    if (const Control *c = control_block()) run_requested_call(c);
    SetLastError(last_error);
}

extern "C" void __qex_omp_region(void)
{
    DWORD last_error = GetLastError();
    if (const Control *c = control_block()) {
        uint8_t type = c->single_step_flag;
        uint32_t thread = c->single_step_thread;
        if ((type == QEX_STEP_NEXT || type == QEX_STEP_OVER) && (thread == 0 || is_current_thread(thread)))
            __qex_send_message("@{set_exe_state|into:15}@");
    }
    SetLastError(last_error);
}

extern "C" void __qex_iw_load(void *, void *)
{
    /* The debugger wrote the path; never read past the buffer. */
    __qex_call_message[sizeof __qex_call_message - 1] = 0;
    HMODULE library = LoadLibraryA(__qex_call_message);
    if (!library) return;
    FARPROC entry = GetProcAddress(library, "InteractiveWindow");
    if (!entry) {
        FreeLibrary(library);
        return;
    }
    wsprintfA(__qex_call_message, "@{iw|main|%p:4|9}@", reinterpret_cast<void *>(entry));
    __qex_send_message(__qex_call_message);
}

extern "C" void __qex_restrict_debugging(HMODULE owner, int32_t restricted)
{
    __qex_module_owner = owner;
    __qex_debug_restricted(restricted);
}

extern "C" __attribute__((noinline)) void __qex_pharlap_enter(void *function, void *seh_info)
{
    void **slot = return_address_slot(__builtin_frame_address(0), __builtin_return_address(0));
    __qex_debug_attach(function, seh_info, __qex_module_owner, __qex_project_sections_filled(), slot);
}

extern "C" void __qex_pharlap_leave(void *function, void *seh_info)
{
    __qex_debug_detach(function, seh_info, __qex_module_owner);
}

/* The longest real-time message is 70 characters. */
constexpr size_t kRtMainMessageSize = 71;

extern "C" __attribute__((noinline)) void __qex_pharlap_enter_rtmain(void *function, void *seh_info, uint32_t id,
                                                                     void *handle)
{
    char message[kRtMainMessageSize] = {};
    void **slot = return_address_slot(__builtin_frame_address(0), __builtin_return_address(0));
    __qex_debug_attach(function, seh_info, __qex_module_owner, __qex_project_sections_filled(), slot);
    wsprintfA(message, "@{rtmain_enter|%p|%p|%u:14|%u|%u}@", static_cast<void *>(__qex_module_owner), handle, id,
              31u, 48u);
    __qex_send_message(message);
}

extern "C" void __qex_pharlap_leave_rtmain(void *function, void *seh_info, uint32_t id, void *handle)
{
    char message[kRtMainMessageSize] = {};
    wsprintfA(message, "@{rtmain_leave|%p|%p|%u:14|%u|%u}@", static_cast<void *>(__qex_module_owner), handle, id,
              31u, 48u);
    __qex_send_message(message);
    __qex_debug_detach(function, seh_info, __qex_module_owner);
}
