/* The module's exit-function registry: reverse order, 32 slots, popping to a
 * level, clearing by the engine, registrations from exit functions and from
 * other threads during a run, the protected variants, and exit with and
 * without the engine. */
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include "cnode_startup.h"
#include "standin_rte.h"
#include "startup_test_support.h"

using namespace startup_testing;

namespace {

std::string g_ran;

void run_a() { g_ran += 'A'; }
void run_b() { g_ran += 'B'; }
void run_c() { g_ran += 'C'; }
void run_d() { g_ran += 'D'; }
void run_a_registering_d()
{
    g_ran += 'A';
    __QEX_LinkName_atexit(run_d);
}

class ExitFunctions : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin_rte_reset();
        standin_rte_lifecycle_log_clear();
        _InitExitLib();
        g_ran.clear();
    }
    void TearDown() override
    {
        _ExecUserExitFuns();
        _CloseExitLib();
        standin_rte_set_support_dll_answer(2);
    }
    static void register_abc()
    {
        ASSERT_EQ(__QEX_LinkName_atexit(run_a), 0);
        ASSERT_EQ(LW_atexit(run_b), 0);
        ASSERT_EQ(__QEX_LinkName_atexit(run_c), 0);
    }
};

TEST_F(ExitFunctions, RunLastRegisteredFirstAndLeaveTheTableEmpty)
{
    register_abc();
    EXPECT_EQ(_UserExitFunsTop(), 3);
    _ExecUserExitFuns();
    EXPECT_EQ(g_ran, "CBA");
    EXPECT_EQ(_UserExitFunsTop(), 0);
    _ExecUserExitFuns();
    EXPECT_EQ(g_ran, "CBA") << "each function runs once";
}

TEST_F(ExitFunctions, TheThirtyThirdRegistrationIsRefused)
{
    static int runs = 0;
    runs = 0;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(__QEX_LinkName_atexit([] { ++runs; }), 0) << i;
    EXPECT_EQ(__QEX_LinkName_atexit(run_a), -1);
    EXPECT_EQ(LW_atexit(run_a), -1);
    EXPECT_EQ(_UserExitFunsTop(), 32);
    _ExecUserExitFuns();
    EXPECT_EQ(runs, 32);
    EXPECT_EQ(g_ran, "");
}

TEST_F(ExitFunctions, PoppingRunsTheFunctionsAboveTheLevel)
{
    struct Case {
        int32_t level;
        const char *ran;
        int32_t left;
    } cases[] = {{1, "CB", 1}, {0, "CBA", 0}, {-2, "CBA", 0}, {3, "", 3}, {5, "", 3}, {2, "C", 2}};
    for (const Case &c : cases) {
        register_abc();
        g_ran.clear();
        _PopUserExitFuns(c.level);
        EXPECT_EQ(g_ran, c.ran) << "level " << c.level;
        EXPECT_EQ(_UserExitFunsTop(), c.left) << "level " << c.level;
        _ExecUserExitFuns();
    }
}

TEST_F(ExitFunctions, TheEngineClearsTheTableWithoutRunningIt)
{
    register_abc();
    EXPECT_EQ(standin_rte_atexit_cleanups_registered(), 1);
    EXPECT_EQ(standin_rte_run_atexit_cleanups(), 1);
    EXPECT_EQ(_UserExitFunsTop(), 0);
    _ExecUserExitFuns();
    EXPECT_EQ(g_ran, "");
    _CloseExitLib();
    EXPECT_EQ(standin_rte_atexit_cleanups_registered(), 0) << "the callback is withdrawn at close";
    _InitExitLib();
}

TEST_F(ExitFunctions, AFunctionRegisteredWhileRunningRunsNext)
{
    ASSERT_EQ(__QEX_LinkName_atexit(run_a_registering_d), 0);
    ASSERT_EQ(__QEX_LinkName_atexit(run_b), 0);
    _ExecUserExitFuns();
    EXPECT_EQ(g_ran, "BAD");
    EXPECT_EQ(_UserExitFunsTop(), 0);
}

TEST_F(ExitFunctions, ARegistrationFromAnotherThreadWaitsForTheRunToEnd)
{
    /* Static, since the exit function is a plain function pointer; set afresh
     * on every run of the test (a repeated run would otherwise find `inside`
     * already true and register before the run holds the registry). */
    static HANDLE release = nullptr;
    static std::atomic<bool> inside;
    inside = false;
    release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(__QEX_LinkName_atexit([] {
                  inside = true;
                  WaitForSingleObject(release, INFINITE);
              }),
              0);
    std::thread runner([] { _ExecUserExitFuns(); });
    while (!inside) Sleep(1);
    std::atomic<bool> registered{false};
    std::thread registrar([&] {
        __QEX_LinkName_atexit(run_a);
        registered = true;
    });
    Sleep(200);
    EXPECT_FALSE(registered) << "the run holds the registry";
    SetEvent(release);
    runner.join();
    registrar.join();
    EXPECT_TRUE(registered);
    EXPECT_EQ(_UserExitFunsTop(), 1);
    CloseHandle(release);
}

TEST_F(ExitFunctions, ProtectedVariantsAreCheckedAndReportARefusal)
{
    char expected[160];
    ASSERT_EQ(_UP_atexit(run_a), 0);
    snprintf(expected, sizeof expected, "_UPLibChkSize(0x%016llx, 0, 1, 0, 1, 0x%016llx)",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&run_a)),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&_UP_atexit)));
    auto log = lifecycle_log();
    long checked_at = position_in(log, expected);
    EXPECT_GE(checked_at, 0) << expected;
    EXPECT_GT(position_in(log, "_UPLibClearArgs"), checked_at);
    for (const auto &line : log) EXPECT_NE(line.rfind("_UPLibBreakpoint", 0), 0u) << "accepted: no report";

    for (int i = 1; i < 32; ++i) ASSERT_EQ(_UP_LW_atexit(run_b), 0);
    standin_rte_lifecycle_log_clear();
    EXPECT_EQ(_UP_LW_atexit(run_c), -1);
    snprintf(expected, sizeof expected, "_UPLibBreakpoint(0, -1, 0x%016llx)",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&LW_atexit)));
    EXPECT_GE(position_in(lifecycle_log(), expected), 0) << expected;
    snprintf(expected, sizeof expected, "_UPLibChkSize(0x%016llx, 0, 1, 0, 1, 0x%016llx)",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&run_c)),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&_UP_LW_atexit)));
    EXPECT_GE(position_in(lifecycle_log(), expected), 0) << expected;
}

TEST_F(ExitFunctions, ExitReturnsAfterRunningThemWhenTheEngineIsGone)
{
    struct Case {
        const char *name;
        void (*make_gone)();
    } cases[] = {
        {"no published flag", [] { standin_rte_withdraw_detached_flag(); }},
        {"flag says detached", [] { standin_rte_set_detached(1); }},
    };
    for (const Case &c : cases) {
        standin_rte_set_support_dll_answer(3); /* the stand-alone engine can go away; the host's never does */
        c.make_gone();
        g_ran.clear();
        register_abc();
        __QEX_LinkName_exit(5);
        EXPECT_EQ(g_ran, "CBA") << c.name;
        EXPECT_EQ(position_in(lifecycle_log(), "QEXRTDllAbnormalExit(5)"), -1) << c.name;
    }
}

TEST(ExitFunctionsDeathTest, ExitWithTheEngineThereEndsTheProcessThroughIt)
{
    EXPECT_EXIT(
        {
            _InitExitLib();
            __QEX_LinkName_atexit([] { fputs("exit function ran\n", stderr); });
            __QEX_LinkName_exit(7);
            fputs("exit returned\n", stderr);
            ExitProcess(99);
        },
        ::testing::ExitedWithCode(7), "exit function ran");
}

} // namespace
