/* Recovery from hardware exceptions: a call armed exactly as the entry frame
 * arms itself resumes at its continuation with the result 1 when a function
 * compiled for debugging faults further in; without a continuation that
 * encloses the fault the exception goes on to the next handler. */
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdint>
#include <cstring>
#include "cnode_debug.h"
#include "standin_rte.h"
#include "standin_rte_startup.h"

extern "C" void call_with_registers_set(void (*function)(void *), void *argument, uint64_t *out);
extern "C" void clobber_and_fault(void *address);

namespace {

int *volatile g_null = nullptr;

/* The stack pointer of the function this is inlined into; between calls it
 * stays put unless a call returned with a different one. */
[[gnu::always_inline]] inline uintptr_t stack_pointer()
{
    uintptr_t sp;
    asm volatile("mov %%rsp, %0" : "=r"(sp));
    return sp;
}

/* A function compiled for debugging that faults. */
extern "C" __attribute__((noinline)) void fault_in_debug_function(void *)
{
    asm(".seh_handler __qex_exception_handler, @except");
    *g_null = 1;
}

/* The entry frame's arming of its continuation, a call, and the end step's restore.
 * Whatever must survive the resumption is volatile. */
extern "C" __attribute__((noinline)) int armed_call(void (*inner)(void *), void *argument, volatile int *working)
{
    asm(".seh_handler __qex_exception_handler, @except");
    __cnode_exception_info_t info = {};
    __cnode_exception_info_t *volatile previous = nullptr;
    volatile int result = 0;
    if (__DBG_GetExceptionInfo(&info) != 0) {
        result = 1;
        goto end;
    }
    previous = __DBG_SetExceptionInfo(&info);
    *working = 7; /* a working copy written before the fault */
    inner(argument);
    *working = 8;
end:
    __DBG_SetExceptionInfo(previous);
    return result;
}

__cnode_exception_info_t *installed()
{
    void *env = __DBG_InitializeThreadEnv();
    __cnode_exception_info_t *info;
    std::memcpy(&info, static_cast<unsigned char *>(env) + QEX_DBG_ENV_EXCEPTION_INFO, sizeof info);
    return info;
}

TEST(FaultRecovery, AccessViolationResumesAtTheContinuationWithOne)
{
    volatile int working = 0;
    EXPECT_EQ(armed_call(fault_in_debug_function, nullptr, &working), 1);
    EXPECT_EQ(working, 7);
    EXPECT_EQ(installed(), nullptr) << "the end step put the previous continuation back";

    working = 0;
    EXPECT_EQ(armed_call([](void *) {}, nullptr, &working), 0) << "no fault, no second return";
    EXPECT_EQ(working, 8);
}

TEST(FaultRecovery, NonVolatileRegistersComeBackAsTheCallerLeftThem)
{
    struct Call {
        volatile int working = 0;
        int result = -1;
    } call;
    uint64_t registers[10] = {};
    call_with_registers_set(
        [](void *p) {
            auto *c = static_cast<Call *>(p);
            c->result = armed_call(clobber_and_fault, nullptr, &c->working);
        },
        &call, registers);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.working, 7);
    const uint64_t expected[10] = {0x1111111111111111, 0x2222222222222222, 0x3333333333333333,
                                   0x4444444444444444, 0x5555555555555555, 0x6666666666666666,
                                   0x7777777777777777, 0x0606060606060606, 0x0a0a0a0a0a0a0a0a,
                                   0x0f0f0f0f0f0f0f0f};
    const char *names[10] = {"rbx", "rsi", "rdi", "r12", "r13", "r14", "r15", "xmm6", "xmm10", "xmm15"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(registers[i], expected[i]) << names[i];
}

TEST(FaultRecovery, TenThousandFaultsInARowLeakNothing)
{
    volatile int working = 0;
    ASSERT_EQ(armed_call(fault_in_debug_function, nullptr, &working), 1); /* first-use allocations */
    long blocks = standin_rte_live_blocks();
    long envs = standin_rte_live_thread_envs();
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    const uintptr_t stack_before = stack_pointer();

    int resumed = 0;
    for (int i = 0; i < 10000; ++i) resumed += armed_call(clobber_and_fault, nullptr, &working);

    EXPECT_EQ(resumed, 10000);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    EXPECT_EQ(standin_rte_live_thread_envs(), envs);
    DWORD handles_after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles_after);
    EXPECT_EQ(handles_after, handles);
    EXPECT_EQ(installed(), nullptr);
    EXPECT_EQ(stack_pointer(), stack_before) << "each recovery gives back the stack it unwound";
}

/* ---- faults the module's handler passes on ---- */

__cnode_exception_info_t g_outer_continuation;
int g_outer_handler_calls = 0;
int g_module_handler_answer = -1;

/* Names the module's handler in its stead and records its answer. */
extern "C" int spy_handler(EXCEPTION_RECORD *record, void *frame, CONTEXT *context, void *dispatcher)
{
    g_module_handler_answer = __qex_exception_handler(record, frame, context,
                                                      static_cast<struct _DISPATCHER_CONTEXT *>(dispatcher));
    return g_module_handler_answer;
}

extern "C" __attribute__((noinline)) void fault_under_spy(void *)
{
    asm(".seh_handler spy_handler, @except");
    *g_null = 1;
}

/* The next handler: records that the fault reached it, then resumes at the
 * outer frame's own continuation through the module's handler. */
extern "C" int outer_handler(EXCEPTION_RECORD *record, void *frame, CONTEXT *context, void *dispatcher)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    ++g_outer_handler_calls;
    __DBG_SetExceptionInfo(&g_outer_continuation);
    return __qex_exception_handler(record, frame, context, static_cast<struct _DISPATCHER_CONTEXT *>(dispatcher));
}

/* Runs inner with the given record installed (or none); the outer
 * continuation is armed but left to outer_handler to install. */
extern "C" __attribute__((noinline)) int guarded_call(__cnode_exception_info_t *inner_record)
{
    asm(".seh_handler outer_handler, @except");
    __cnode_exception_info_t *volatile previous = __DBG_SetExceptionInfo(nullptr);
    volatile int result = 0;
    if (__DBG_GetExceptionInfo(&g_outer_continuation) != 0) {
        result = 1;
    } else {
        __DBG_SetExceptionInfo(inner_record);
        fault_under_spy(nullptr);
    }
    __DBG_SetExceptionInfo(previous);
    return result;
}

TEST(FaultRecovery, WithoutAnEnclosingContinuationTheFaultGoesOnToTheNextHandler)
{
    volatile char here = 0;
    __cnode_exception_info_t below = {};
    below.continuation = reinterpret_cast<void *>(&fault_under_spy); /* never used */
    /* below any point of the fault */
    below.stack_pointer = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(&here) - 65536);
    below.frame_pointer = nullptr;

    struct Case {
        const char *name;
        __cnode_exception_info_t *record;
    } cases[] = {{"no continuation installed", nullptr}, {"continuation below the fault", &below}};
    for (const Case &c : cases) {
        g_outer_handler_calls = 0;
        g_module_handler_answer = -1;
        EXPECT_EQ(guarded_call(c.record), 1) << c.name;
        EXPECT_EQ(g_module_handler_answer, ExceptionContinueSearch) << c.name;
        EXPECT_EQ(g_outer_handler_calls, 1) << c.name;
    }
}

/* ---- the handler's decision on its own ---- */

TEST(ExceptionHandler, ResumesOnlyWhileDispatchingAndOnlyWithAnEnclosingContinuation)
{
    alignas(16) static uint64_t stack[16] = {};
    const DWORD64 fault_sp = reinterpret_cast<DWORD64>(&stack[4]);
    __cnode_exception_info_t at = {reinterpret_cast<void *>(0x1234), reinterpret_cast<void *>(fault_sp),
                                   reinterpret_cast<void *>(0x5678)};
    __cnode_exception_info_t below = at;
    below.stack_pointer = reinterpret_cast<void *>(fault_sp - 8);

    struct Case {
        const char *name;
        __cnode_exception_info_t *installed;
        DWORD flags;
        int disposition;
    } cases[] = {
        {"dispatch, continuation at the fault's stack pointer", &at, 0, ExceptionContinueExecution},
        {"dispatch, nothing installed", nullptr, 0, ExceptionContinueSearch},
        {"dispatch, continuation below the fault", &below, 0, ExceptionContinueSearch},
        {"unwinding", &at, EXCEPTION_UNWINDING, ExceptionContinueSearch},
        {"exit unwind", &at, EXCEPTION_EXIT_UNWIND, ExceptionContinueSearch},
        {"non-continuable", &at, EXCEPTION_NONCONTINUABLE, ExceptionContinueSearch},
    };
    for (const Case &c : cases) {
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionFlags = c.flags;
        CONTEXT context = {};
        context.Rsp = fault_sp;
        context.Rip = 0x9999;
        context.Rbx = 0xB;
        __cnode_exception_info_t *previous = __DBG_SetExceptionInfo(c.installed);
        int disposition = __qex_exception_handler(&record, nullptr, &context, nullptr);
        __DBG_SetExceptionInfo(previous);
        EXPECT_EQ(disposition, c.disposition) << c.name;
        if (disposition == ExceptionContinueExecution) {
            EXPECT_EQ(context.Rip, 0x1234u) << c.name;
            EXPECT_EQ(context.Rsp, fault_sp) << c.name;
            EXPECT_EQ(context.Rbp, 0x5678u) << c.name;
            EXPECT_EQ(context.Rax, 1u) << c.name;
        } else {
            EXPECT_EQ(context.Rip, 0x9999u) << c.name << ": context untouched";
        }
        EXPECT_EQ(context.Rbx, 0xBu) << c.name;
    }
    EXPECT_EQ(__REL_CleanupExceptHandler(nullptr, nullptr, nullptr, nullptr), ExceptionContinueSearch);
}

} // namespace
