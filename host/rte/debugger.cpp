/* Debugger services: the per-thread debug environment, the debugger control
 * block every environment points to, the thread-local slot through which
 * modules reach their thread's environment, the current debugging level, and
 * calls run on behalf of the debugger shielded against faults.
 *
 * An environment is 8192 zeroed bytes (modules use fields up to offset 7808),
 * made on a thread's first request, kept in the thread-local slot, and
 * discarded when its thread ends (a fiber-local slot's callback does that). */
#include "rte_internal.h"
#include "standin_rte_startup.h"
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kEnvSize = 8192;
constexpr size_t kControlBlockOffset = 7792;
/* Engine-private: the innermost shielded call of the thread. */
constexpr size_t kSafeCallOffset = 7000;

alignas(64) unsigned char g_control_block[4096];

INIT_ONCE g_slots_once = INIT_ONCE_STATIC_INIT;
DWORD g_tls = TLS_OUT_OF_INDEXES;
DWORD g_fls = FLS_OUT_OF_INDEXES;
volatile long g_live_envs = 0;
volatile LONG g_level = 0;

void WINAPI discard_env(void *env)
{
    if (!env) return;
    TlsSetValue(g_tls, nullptr);
    std::free(env);
    InterlockedDecrement(&g_live_envs);
}

BOOL CALLBACK allocate_slots(PINIT_ONCE, PVOID, PVOID *)
{
    g_tls = TlsAlloc();
    g_fls = FlsAlloc(discard_env);
    return g_tls != TLS_OUT_OF_INDEXES && g_fls != FLS_OUT_OF_INDEXES;
}

bool slots_ready() { return InitOnceExecuteOnce(&g_slots_once, allocate_slots, nullptr, nullptr) != FALSE; }

/* Where a shielded call resumes when it faults: filled like a module's
 * exception continuation. */
struct SafeCallRecord {
    void *continuation;
    void *stack_pointer;
    void *frame_pointer;
    SafeCallRecord *outer;
    volatile DWORD code;
};

SafeCallRecord *&innermost_safe_call(unsigned char *env)
{
    return *reinterpret_cast<SafeCallRecord **>(env + kSafeCallOffset);
}

} // namespace

extern "C" __attribute__((returns_twice)) int standin_capture_resume_point(SafeCallRecord *record);

extern "C" void *standin_DBG_GetCurrentThreadEnv(void)
{
    if (!slots_ready()) return nullptr;
    DWORD saved = GetLastError();
    void *env = TlsGetValue(g_tls);
    if (!env) {
        env = std::calloc(1, kEnvSize);
        if (env) {
            void *control = g_control_block;
            std::memcpy(static_cast<unsigned char *>(env) + kControlBlockOffset, &control, sizeof control);
            TlsSetValue(g_tls, env);
            FlsSetValue(g_fls, env);
            InterlockedIncrement(&g_live_envs);
        }
    }
    SetLastError(saved);
    return env;
}

extern "C" void standin_GetLocalThreadEnvSlot(uint32_t *slot)
{
    if (slot && slots_ready()) *slot = g_tls;
}

extern "C" int32_t standin_SetCurrentDebuggingLevel(int32_t level) { return InterlockedExchange(&g_level, level); }

/* Resumes a faulting shielded call at its record, only while Windows
 * dispatches the exception (an unwind is never redirected). */
extern "C" EXCEPTION_DISPOSITION standin_safe_call_handler(EXCEPTION_RECORD *record, void *, CONTEXT *context,
                                                           void *)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    if (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) return ExceptionContinueSearch;
    auto *env = static_cast<unsigned char *>(TlsGetValue(g_tls));
    SafeCallRecord *call = env ? innermost_safe_call(env) : nullptr;
    if (!call) return ExceptionContinueSearch;
    call->code = record->ExceptionCode;
    context->Rip = reinterpret_cast<DWORD64>(call->continuation);
    context->Rsp = reinterpret_cast<DWORD64>(call->stack_pointer);
    context->Rbp = reinterpret_cast<DWORD64>(call->frame_pointer);
    context->Rax = 1;
    return ExceptionContinueExecution;
}

extern "C" __attribute__((optimize("no-omit-frame-pointer"))) int32_t
standin_DBG_SafeCall(void (*function)(intptr_t, intptr_t), intptr_t value, intptr_t operand)
{
    asm(".seh_handler standin_safe_call_handler, @except");
    auto *env = static_cast<unsigned char *>(standin_DBG_GetCurrentThreadEnv());
    if (!env || !function) return -1;
    SafeCallRecord record = {};
    record.outer = innermost_safe_call(env);
    if (standin_capture_resume_point(&record) == 0) {
        innermost_safe_call(env) = &record;
        function(value, operand);
    }
    /* After a fault only memory is trustworthy: env is read again. */
    auto *again = static_cast<unsigned char *>(TlsGetValue(g_tls));
    innermost_safe_call(again) = record.outer;
    return static_cast<int32_t>(record.code);
}

/* An engine unloaded while threads still hold environments must not leave
 * its discard callback behind in their fiber-local slots. */
void rte::debugger_process_detach()
{
    if (g_fls != FLS_OUT_OF_INDEXES) FlsFree(g_fls);
    g_fls = FLS_OUT_OF_INDEXES;
}

extern "C" void *standin_rte_debugger_control_block(void) { return g_control_block; }
extern "C" int32_t standin_rte_debugging_level(void) { return g_level; }
extern "C" uint32_t standin_rte_thread_env_slot(void) { return slots_ready() ? g_tls : TLS_OUT_OF_INDEXES; }
extern "C" long standin_rte_live_thread_envs(void) { return g_live_envs; }
