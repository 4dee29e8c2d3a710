/* The stoppoint of the built module, driven as the debugger drives it: the
 * fast path, breakpoints, single steps by frame address, suspend requests,
 * calls evaluated on a held thread with the barrier up, watchpoints, and the
 * abort checks' refusal to jump without a record.
 *
 * Statements here are functions of this test that call the module's
 * stoppoint with breakpoint bytes of their own; their frame pointers are the
 * frame addresses the stoppoint compares (this file keeps frame pointers). */
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include "debugger_fixture.h"
#include "standin_rte.h"

using namespace testing_support;

namespace {

constexpr DWORD kLastErrorMark = 0x1234ABCD;

DebuggedModule g;

class Stoppoint : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g.load()) << "module, its symbols or the control block missing"; }
    void SetUp() override { g.quiet(); }
    void TearDown() override { g.quiet(); }

    /* Stop checks on for every stoppoint: the module's flag and the block's. */
    static void stop_checks_on()
    {
        *g.global_flag = 1;
        g.control->global_flag = 1;
    }
};

/* A statement: records its frame address, marks the last-error value, passes
 * the stoppoint and records what it finds afterwards. */
struct Statement {
    volatile unsigned char byte = 0;
    uint64_t frame = 0;
    DWORD last_error_after = 0;
    char exe_state[16] = {};
};

__attribute__((noinline)) void run_statement(Statement &s)
{
    uint64_t rbp;
    asm volatile("movq %%rbp, %0" : "=r"(rbp));
    s.frame = rbp;
    auto exe_state = g.hook<void (*)(char *)>("__qex_get_exe_state");
    exe_state(s.exe_state);
    SetLastError(kLastErrorMark);
    g.stoppoint(&s.byte);
    s.last_error_after = GetLastError();
}

/* The same statement one call deeper: its frame address is smaller. */
__attribute__((noinline)) void run_statement_deeper(Statement &s)
{
    run_statement(s);
    asm volatile("" ::: "memory"); /* not a tail call: this frame stays below the caller's */
}

/* The control block asks every thread that enters the implementation to stop;
 * the fast path never looks at it. */
TEST_F(Stoppoint, FastPathCallsNothingAndKeepsTheLastError)
{
    g.control->global_flag = 1;
    g.control->suspend_flag = 1;
    long lookups = standin_rte_tlv_get_calls();
    Statement s;
    Runner node([&] { run_statement(s); });
    ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs)) << "the thread was held: the implementation ran";
    EXPECT_EQ(s.last_error_after, kLastErrorMark);
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BARRIER), 0);
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BREAK), 0);
    EXPECT_EQ(g.control->suspend_flag, 1);
    EXPECT_EQ(standin_rte_tlv_get_calls(), lookups);
}

TEST_F(Stoppoint, BreakpointWithoutGlobalFlagSuspendsOnceAndKeepsTheLastError)
{
    Statement s;
    s.byte = 1;
    Runner node([&] { run_statement(s); });
    standin_dbg_stop_t stop{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop), 1);
    EXPECT_EQ(stop.kind, STANDIN_DBG_BREAK);
    EXPECT_EQ(stop.thread_id, node.id());
    EXPECT_EQ(stop.entry, &s.byte) << "the stoppoint's home slot names the statement";
    EXPECT_EQ(stop.frame_address, s.frame) << "the frame address is the statement's frame pointer";
    EXPECT_FALSE(node.finished_within(kQuietMs));
    ASSERT_EQ(standin_dbg_release(stop.id), 1);
    ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BREAK), 1);
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BARRIER), 1);
    EXPECT_EQ(s.last_error_after, kLastErrorMark);
}

/* Held at the barrier first, the thread goes on to the break once released. */
TEST_F(Stoppoint, ArrivalAtTheBarrierCanBeHeldBeforeTheBreak)
{
    standin_dbg_hold(1, 1);
    Statement s;
    s.byte = 1;
    Runner node([&] { run_statement(s); });
    for (int kind : {STANDIN_DBG_BARRIER, STANDIN_DBG_BREAK}) {
        standin_dbg_stop_t stop{};
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop), 1);
        EXPECT_EQ(stop.kind, kind);
        EXPECT_EQ(stop.entry, &s.byte);
        EXPECT_EQ(standin_dbg_held_count(), 1u);
        standin_dbg_release(stop.id);
    }
    ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
    EXPECT_EQ(s.last_error_after, kLastErrorMark);
}

TEST_F(Stoppoint, GlobalFlagAloneReturnsBeforeTheDebugger)
{
    *g.global_flag = 1;
    Statement s;
    run_statement(s);
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BARRIER), 0);
    EXPECT_EQ(s.last_error_after, kLastErrorMark);
}

/* Single steps: whether a statement stops, by step type, stepping thread and
 * where its frame lies against the step's frame. */
enum class Thread { Any, This, Other };
enum class Depth { Same, Deeper, StepFrameAbove };
struct StepCase {
    const char *name;
    uint8_t type;
    Thread thread;
    Depth depth;
    bool stops;
    const char *label; /* __qex_get_exe_state on the statement's thread */
};

class SingleStep : public Stoppoint, public ::testing::WithParamInterface<StepCase> {};

TEST_P(SingleStep, StopsAsTheFrameAndThreadSay)
{
    const StepCase &c = GetParam();
    stop_checks_on();
    Statement s;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<uint64_t> outer_frame{0};
    Runner node([&] {
        uint64_t rbp;
        asm volatile("movq %%rbp, %0" : "=r"(rbp));
        outer_frame = rbp;
        WaitForSingleObject(go, INFINITE);
        if (c.depth == Depth::Deeper) run_statement_deeper(s);
        else run_statement(s);
    });
    while (outer_frame == 0) Sleep(1);
    /* The step frame: the frame of the function running run_statement. */
    uint64_t step_frame = outer_frame;
    if (c.depth == Depth::StepFrameAbove) step_frame += 0x1000;
    g.control->single_step_frame = c.depth == Depth::Same ? 0 : step_frame;
    g.control->single_step_thread = c.thread == Thread::Any ? 0 : c.thread == Thread::This ? node.id() : 1;
    g.control->single_step_flag = c.type;
    SetEvent(go);

    standin_dbg_stop_t stop{};
    int stopped = standin_dbg_wait_stop(c.stops ? kArrivalTimeoutMs : kQuietMs, &stop);
    EXPECT_EQ(stopped, c.stops ? 1 : 0);
    if (stopped && c.depth != Depth::Deeper) {
        /* run_statement's own frame bounds the step when it runs at the same depth. */
        EXPECT_EQ(stop.frame_address, s.frame);
    }
    if (stopped) standin_dbg_release(stop.id);
    ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
    EXPECT_STREQ(s.exe_state, c.label);
    EXPECT_EQ(s.last_error_after, kLastErrorMark);
    CloseHandle(go);
}

/* For Same and StepFrameAbove the step frame is set from the statement's own
 * frame below (see SameFrame), so here the cases with a set frame use Deeper
 * (the step frame is the caller's, the statement runs one call deeper) or
 * StepFrameAbove. */
INSTANTIATE_TEST_SUITE_P(
    ByTypeThreadAndFrame, SingleStep,
    ::testing::Values(StepCase{"IntoStopsDeeper", 1, Thread::This, Depth::Deeper, true, "into"},
                      StepCase{"NextRunsThroughADeeperCall", 2, Thread::This, Depth::Deeper, false, "next"},
                      StepCase{"OverRunsThroughADeeperCall", 4, Thread::This, Depth::Deeper, false, "over"},
                      StepCase{"OutRunsThroughADeeperCall", 3, Thread::This, Depth::Deeper, false, "out"},
                      StepCase{"NextWithFrameAboveRunsThrough", 2, Thread::This, Depth::StepFrameAbove, false,
                               "next"},
                      StepCase{"AnyThreadStopsWhateverTheFrame", 2, Thread::Any, Depth::Deeper, true, "next"},
                      StepCase{"OtherThreadsStepDoesNotStopThisOne", 1, Thread::Other, Depth::Same, false,
                               "continue"},
                      StepCase{"TypeFiveNeverStops", 5, Thread::This, Depth::Same, false, "continue"},
                      StepCase{"TypeFiveOnAnyThreadStops", 5, Thread::Any, Depth::Same, true, "continue"}),
    [](const ::testing::TestParamInfo<StepCase> &info) { return std::string(info.param.name); });

/* Next, over and out stop in the very frame they name (greater or equal). */
TEST_F(Stoppoint, StepStopsInTheFrameItNames)
{
    for (uint8_t type : {2, 3, 4}) {
        SCOPED_TRACE(static_cast<int>(type));
        g.quiet();
        stop_checks_on();
        /* Learn the statement's frame from a breakpoint stop, then step in it. */
        Statement s;
        s.byte = 1;
        Runner node([&] {
            run_statement(s);
            s.byte = 0;
            run_statement(s); /* the same function, the same caller: the same frame */
        });
        standin_dbg_stop_t first{};
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &first), 1);
        g.control->single_step_thread = node.id();
        g.control->single_step_frame = first.frame_address;
        g.control->single_step_flag = type;
        standin_dbg_release(first.id);
        standin_dbg_stop_t second{};
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &second), 1);
        EXPECT_EQ(second.frame_address, first.frame_address);
        g.control->single_step_flag = 0;
        standin_dbg_release(second.id);
        ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
    }
}

TEST_F(Stoppoint, OneSuspendRequestStopsExactlyOneOfTwoRacingThreads)
{
    stop_checks_on();
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        standin_dbg_reset();
        stop_checks_on();
        g.control->suspend_flag = 1;
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Statement a, b;
        Runner first([&] { WaitForSingleObject(go, INFINITE); run_statement(a); });
        Runner second([&] { WaitForSingleObject(go, INFINITE); run_statement(b); });
        SetEvent(go);
        standin_dbg_stop_t stop{};
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop), 1);
        DWORD passer = stop.thread_id == first.id() ? second.id() : first.id();
        bool passed = (passer == first.id() ? first : second).finished_within(kArrivalTimeoutMs);
        EXPECT_TRUE(passed) << "the thread that lost the race must pass";
        EXPECT_EQ(standin_dbg_wait_stop(0, nullptr), 0);
        EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BREAK), 1);
        EXPECT_EQ(g.control->suspend_flag, 0);
        standin_dbg_release(stop.id);
        CloseHandle(go);
    }
}

/* The call a debugger asks a held thread to run. */
struct CallRecord {
    std::atomic<DWORD> thread{0};
    std::atomic<intptr_t> value{0}, operand{0};
    std::atomic<int> calls{0};
};
CallRecord g_call;

void recorded_call(intptr_t value, intptr_t operand)
{
    g_call.thread = GetCurrentThreadId();
    g_call.value = value;
    g_call.operand = operand;
    ++g_call.calls;
}

void faulting_call(intptr_t, intptr_t)
{
    ++g_call.calls;
    int *volatile unmapped = reinterpret_cast<int *>(static_cast<uintptr_t>(0x20));
    *unmapped = 1;
}

TEST_F(Stoppoint, CallEvaluationRunsOnTheHeldThreadWhileOthersSleepAtTheBarrier)
{
    g_call.calls = 0;
    Statement held;
    held.byte = 1;
    Runner caller([&] { run_statement(held); });
    standin_dbg_stop_t first{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &first), 1);

    /* The debugger raises the call with its barrier, then another thread
     * reaches a stoppoint with stop checks on. */
    stop_checks_on();
    g.control->call_function = reinterpret_cast<uintptr_t>(&recorded_call);
    g.control->call_value = 7;
    g.control->call_operand = static_cast<uint64_t>(-3);
    g.control->call_thread = caller.id();
    g.control->call_barrier = 1;
    g.control->call_evaluation = 1;
    Statement other;
    Runner bystander([&] { run_statement(other); });
    EXPECT_FALSE(bystander.finished_within(kQuietMs)) << "another thread passed the barrier";

    standin_dbg_release(first.id);
    standin_dbg_stop_t after_call{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &after_call), 1) << "no stop after the call";
    EXPECT_EQ(after_call.thread_id, caller.id());
    EXPECT_EQ(g_call.calls, 1);
    EXPECT_EQ(g_call.thread, caller.id());
    EXPECT_EQ(g_call.value, 7);
    EXPECT_EQ(g_call.operand, -3);
    std::vector<std::string> log = debugger_log();
    EXPECT_NE(std::find(log.begin(), log.end(), "@{call|reset:6}@"), log.end());
    EXPECT_FALSE(bystander.finished_within(kQuietMs)) << "the barrier is still up";
    EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BARRIER), 3) << "a waiting thread calls the barrier once";

    g.control->call_evaluation = 0;
    EXPECT_TRUE(bystander.finished_within(kArrivalTimeoutMs)) << "the barrier came down; the bystander passes";
    standin_dbg_release(after_call.id);
    ASSERT_TRUE(caller.finished_within(kArrivalTimeoutMs));
    EXPECT_EQ(held.last_error_after, kLastErrorMark);
    EXPECT_EQ(g_call.calls, 1);
}

TEST_F(Stoppoint, AFaultingCallIsContainedAndTheThreadStopsAgain)
{
    g_call.calls = 0;
    Statement held;
    held.byte = 1;
    Runner caller([&] { run_statement(held); });
    standin_dbg_stop_t first{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &first), 1);
    g.control->call_function = reinterpret_cast<uintptr_t>(&faulting_call);
    g.control->call_thread = caller.id();
    g.control->call_evaluation = 1;
    standin_dbg_release(first.id);
    standin_dbg_stop_t again{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &again), 1);
    EXPECT_EQ(g_call.calls, 1);
    g.control->call_evaluation = 0;
    standin_dbg_release(again.id);
    ASSERT_TRUE(caller.finished_within(kArrivalTimeoutMs));
    EXPECT_EQ(held.last_error_after, kLastErrorMark);
}

TEST_F(Stoppoint, WatchpointFlagAsksForAnUpdateAtAStop)
{
    stop_checks_on();
    g.control->watchpoint_flag = 1;
    Statement s;
    s.byte = 1;
    Runner node([&] { run_statement(s); });
    standin_dbg_stop_t stop{};
    ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop), 1);
    g.control->watchpoint_flag = 0;
    standin_dbg_release(stop.id);
    ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
    std::vector<std::string> log = debugger_log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "@{update_watchpoints:}@"), 1);
}

/* A pending abort without a thread-local handle, or without a record flag for
 * this thread, is ignored: the statement runs. */
TEST_F(Stoppoint, PendingAbortWithoutHandleOrRecordIsIgnored)
{
    auto abort_entry = reinterpret_cast<int32_t (*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("qex_gwrt.dll"), "cnode_rte_get_abort_tlv")));
    ASSERT_NE(abort_entry, nullptr);
    int32_t real_handle = abort_entry(); /* this thread's record in it is all zero: flag clear */
    struct Pending {
        const char *name;
        volatile int32_t *flag, *handle;
        int32_t handle_value;
    };
    for (const Pending &p : {Pending{"node, no handle", g.cnode_abort_flag, g.cnode_abort_tlv_handle, 0},
                             Pending{"host, no handle", g.gw_abort_flag, g.gw_abort_tlv_handle, 0},
                             Pending{"node, record flag clear", g.cnode_abort_flag, g.cnode_abort_tlv_handle,
                                     real_handle},
                             Pending{"host, record flag clear", g.gw_abort_flag, g.gw_abort_tlv_handle,
                                     real_handle}}) {
        SCOPED_TRACE(p.name);
        int32_t saved_flag = *p.flag, saved_handle = *p.handle;
        *p.handle = p.handle_value;
        *p.flag = 1;
        Statement s;
        run_statement(s); /* a jump would leave this test's frame: it would not come back here */
        EXPECT_EQ(s.last_error_after, kLastErrorMark);
        *p.flag = saved_flag;
        *p.handle = saved_handle;
    }
}

TEST_F(Stoppoint, OmpRegionSwitchesNextAndOverToInto)
{
    auto omp_region = g.hook<void (*)(void)>("__qex_omp_region");
    ASSERT_NE(omp_region, nullptr);
    struct Case {
        uint8_t type;
        uint32_t thread; /* 0 any, 1 this, 2 another */
        bool sends;
    };
    for (const Case &c : {Case{2, 0, true}, Case{4, 1, true}, Case{1, 0, false}, Case{3, 1, false},
                          Case{2, 2, false}, Case{0, 0, false}}) {
        SCOPED_TRACE(testing::Message() << int(c.type) << "/" << c.thread);
        standin_dbg_log_clear();
        g.control->single_step_flag = c.type;
        g.control->single_step_thread = c.thread == 0 ? 0 : c.thread == 1 ? GetCurrentThreadId() : 1;
        SetLastError(kLastErrorMark);
        omp_region();
        EXPECT_EQ(GetLastError(), kLastErrorMark);
        std::vector<std::string> log = debugger_log();
        EXPECT_EQ(log.size(), c.sends ? 1u : 0u);
        if (c.sends && !log.empty()) {
            EXPECT_EQ(log[0], "@{set_exe_state|into:15}@");
        }
    }
}

TEST_F(Stoppoint, SafeCallRunsTheRequestedCallAndKeepsTheLastError)
{
    auto safe_call = g.hook<void (*)(void)>("__qex_debug_safe_call");
    ASSERT_NE(safe_call, nullptr);
    g_call.calls = 0;
    for (auto function : {&recorded_call, &faulting_call}) {
        g.control->call_function = reinterpret_cast<uintptr_t>(function);
        g.control->call_value = 11;
        g.control->call_operand = 12;
        SetLastError(kLastErrorMark);
        safe_call();
        EXPECT_EQ(GetLastError(), kLastErrorMark);
    }
    EXPECT_EQ(g_call.calls, 2);
    EXPECT_EQ(g_call.value, 11);
    std::vector<std::string> log = debugger_log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "@{call|reset:6}@"), 2);
}

TEST_F(Stoppoint, DebuggerPresenceIsTheModuleFlag)
{
    auto present = g.hook<uint8_t (*)(void)>("__qex_debugger_is_present");
    auto flag = g.hook<volatile uint8_t *>("__qex_debugger_present");
    ASSERT_TRUE(present && flag);
    EXPECT_EQ(present(), 0);
    *flag = 1;
    EXPECT_EQ(present(), 1);
    *flag = 0;
}

} // namespace
