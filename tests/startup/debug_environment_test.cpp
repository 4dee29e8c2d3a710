/* The thread's debug environment as the module reads and chains it: debug
 * frames entered and left, source positions, installed exception
 * continuations, the control block, and the last-error value kept across. */
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <thread>
#include "cnode_debug.h"
#include "cnode_startup.h"
#include "qex_rte.h"
#include "standin_rte_startup.h"

namespace {

template <typename T> T read_env(void *env, size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<unsigned char *>(env) + offset, sizeof value);
    return value;
}

/* What the module keeps in the environment about where the thread is. */
struct Position {
    uint32_t start, end;
    const char *file;
    void *frame, *image;
    bool operator==(const Position &) const = default;
};

Position position_of(void *env)
{
    return {read_env<uint32_t>(env, QEX_DBG_ENV_RANGE_START), read_env<uint32_t>(env, QEX_DBG_ENV_RANGE_END),
            read_env<const char *>(env, QEX_DBG_ENV_SOURCE_FILE), read_env<void *>(env, QEX_DBG_ENV_CURRENT_FRAME),
            read_env<void *>(env, QEX_DBG_ENV_CURRENT_IMAGE)};
}

const char kOuterFile[] = "outer.c";
const char kInnerFile[] = "inner.c";

TEST(DebugEnvironment, IsTheEnginesPerThreadRecordWithTheSharedControlBlock)
{
    void *env = __DBG_InitializeThreadEnv();
    ASSERT_NE(env, nullptr);
    EXPECT_EQ(__DBG_InitializeThreadEnv(), env);
    EXPECT_EQ(__DBG_GetDebuggerControlVars(), standin_rte_debugger_control_block());

    void *other_env = nullptr;
    void *other_control = nullptr;
    std::thread([&] {
        other_env = __DBG_InitializeThreadEnv();
        other_control = __DBG_GetDebuggerControlVars();
    }).join();
    EXPECT_NE(other_env, env);
    EXPECT_EQ(other_control, standin_rte_debugger_control_block());
}

TEST(DebugEnvironment, ThreadEnvironmentKeepsTheLastErrorValue)
{
    /* Once through the engine's call (slot not yet known to the module), once
     * through the thread-local slot the engine fills in at registration. */
    for (int round = 0; round < 2; ++round) {
        if (round == 1) __DBG_InitDebugImage(GetModuleHandleA(nullptr), 0);
        SetLastError(12345);
        void *env = __DBG_InitializeThreadEnv();
        EXPECT_EQ(GetLastError(), 12345u) << "round " << round;
        EXPECT_NE(env, nullptr);
    }
    EXPECT_EQ(ThreadEnvSlot, standin_rte_thread_env_slot());
    EXPECT_EQ(standin_rte_debugging_level(), 3);
}

TEST(DebugFrames, LeavingTheInnerFrameRestoresTheOuterFunctionsState)
{
    __DBG_InitDebugImage(GetModuleHandleA(nullptr), 0);
    void *env = __DBG_InitializeThreadEnv();
    ASSERT_NE(env, nullptr);

    /* A position set before any instrumented function runs. */
    __qex_debug_frame_t host_frame = {};
    __DBG_SetSourceLocation(env, &host_frame, "host.c", 0x40001004u, 0x1010u);
    const Position before = position_of(env);

    __qex_debug_frame_t outer = {}, inner = {};
    __DBG_EnterFunction(env, &outer, kOuterFile);
    EXPECT_EQ(position_of(env), (Position{0, 0, kOuterFile, &outer, GetModuleHandleA(nullptr)}));
    EXPECT_EQ(outer.previous, before.frame);
    EXPECT_EQ(outer.saved_source_file, before.file);

    __DBG_SetSourceLocation(env, &outer, kOuterFile, 0x40006004u, 0x601Fu); /* line 24, columns 4 to 31 */
    EXPECT_EQ(outer.range_start, 0x40006004u);
    EXPECT_EQ(outer.range_end, 0x601Fu);
    const Position after_outer_statement = position_of(env);

    __DBG_EnterFunction(env, &inner, kInnerFile);
    __DBG_SetSourceLocation(env, &inner, kInnerFile, 0x40002808u, 0x2810u);
    __DBG_SetSourceCallRange(env, &inner, 0x40003000u, 0x3004u);
    __DBG_SetSourceFileName(env, "callee.c");
    EXPECT_EQ(position_of(env), (Position{0x40003000u, 0x3004u, "callee.c", &inner, GetModuleHandleA(nullptr)}));
    EXPECT_EQ(inner.range_start, 0x40003000u);
    __DBG_LeaveFunction(env, &inner);
    EXPECT_EQ(position_of(env), after_outer_statement);

    __DBG_LeaveFunction(env, &outer);
    EXPECT_EQ(position_of(env), before);
}

TEST(DebugFrames, AnEnclosingLeaveForgetsFramesAbandonedFurtherIn)
{
    void *env = __DBG_InitializeThreadEnv();
    const Position before = position_of(env);
    __qex_debug_frame_t outer = {}, abandoned = {};
    __DBG_EnterFunction(env, &outer, kOuterFile);
    __DBG_EnterFunction(env, &abandoned, kInnerFile); /* never left: a jump went past it */
    __DBG_LeaveFunction(env, &outer);
    EXPECT_EQ(position_of(env), before);
}

TEST(DebugFrames, WithoutAnEnvironmentThePositionOperationsDoNothing)
{
    __qex_debug_frame_t frame = {};
    __DBG_EnterFunction(nullptr, &frame, kOuterFile);
    __DBG_SetSourceLocation(nullptr, &frame, kOuterFile, 1, 2);
    __DBG_SetSourceCallRange(nullptr, &frame, 1, 2);
    __DBG_SetSourceFileName(nullptr, kInnerFile);
    __DBG_LeaveFunction(nullptr, &frame);
    EXPECT_EQ(frame.range_start, 0u);
    EXPECT_EQ(frame.previous, nullptr);
}

TEST(ExceptionContinuation, InstalledRecordsStackPerThread)
{
    __cnode_exception_info_t first = {}, second = {};
    __cnode_exception_info_t *original = __DBG_SetExceptionInfo(&first);
    EXPECT_EQ(__DBG_SetExceptionInfo(&second), &first);
    void *env = __DBG_InitializeThreadEnv();
    EXPECT_EQ(read_env<void *>(env, QEX_DBG_ENV_EXCEPTION_INFO), &second);

    __cnode_exception_info_t *seen_elsewhere = &first;
    std::thread([&] { seen_elsewhere = __DBG_SetExceptionInfo(nullptr); }).join();
    EXPECT_EQ(seen_elsewhere, nullptr) << "another thread has its own continuation";

    EXPECT_EQ(__DBG_SetExceptionInfo(nullptr), &second) << "null returns the installed record";
    EXPECT_EQ(read_env<void *>(env, QEX_DBG_ENV_EXCEPTION_INFO), nullptr) << "and leaves none installed";
    EXPECT_EQ(__DBG_SetExceptionInfo(original), nullptr);
}

TEST(DebugEnvironment, EndedThreadsDiscardTheirEnvironments)
{
    __DBG_InitializeThreadEnv();
    long before = standin_rte_live_thread_envs();
    for (int i = 0; i < 20; ++i) std::thread([] { __DBG_InitializeThreadEnv(); }).join();
    EXPECT_EQ(standin_rte_live_thread_envs(), before);
}

TEST(DebugRegistration, DoesNothingVisibleWhenNoOutdatedEnvironmentIsLoaded)
{
    ASSERT_EQ(GetModuleHandleA("qex.dll"), nullptr);
    __DBG_InitDebugImage(GetModuleHandleA(nullptr), 1);
    EXPECT_EQ(DebugImageModule, GetModuleHandleA(nullptr));
    EXPECT_EQ(__DBG_CleanupExceptHandler(nullptr, nullptr, nullptr, nullptr), 1);
}

/* The engine's shielded call, which the debugger's call evaluation runs on a
 * stopped thread. */
int *volatile g_nowhere = nullptr;
intptr_t g_sum = 0;

TEST(DebuggerServices, SafeCallRunsTheCallAndContainsItsFault)
{
    g_sum = 0;
    EXPECT_EQ(__DBG_SafeCall([](intptr_t value, intptr_t operand) { g_sum = value + operand; }, 2, 3), 0);
    EXPECT_EQ(g_sum, 5);
    EXPECT_EQ(__DBG_SafeCall([](intptr_t, intptr_t) { *g_nowhere = 1; }, 0, 0),
              static_cast<int32_t>(EXCEPTION_ACCESS_VIOLATION));
    /* A fault in a nested shielded call is contained by the inner one. */
    EXPECT_EQ(__DBG_SafeCall(
                  [](intptr_t, intptr_t) {
                      g_sum = __DBG_SafeCall([](intptr_t, intptr_t) { *g_nowhere = 2; }, 0, 0);
                  },
                  0, 0),
              0);
    EXPECT_EQ(g_sum, static_cast<intptr_t>(static_cast<int32_t>(EXCEPTION_ACCESS_VIOLATION)));
    EXPECT_EQ(__DBG_SafeCall(nullptr, 0, 0), -1);
}

} // namespace
