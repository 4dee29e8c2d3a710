/* PostDeferredCallToThreadAndWait against real target threads that process
 * events: who runs the call, what is returned, and that exactly one side
 * frees each record (a double free stops the stand-in; a leak shows in the
 * engine's live blocks and locks). */
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <random>
#include <thread>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

/* A thread that processes events until stopped; busy_ms first keeps it from
 * doing so. */
class EventThread {
public:
    explicit EventThread(int busy_ms = 0)
        : thread_([this, busy_ms] {
              id_ = GetCurrentThreadId();
              ready_ = true;
              Sleep(static_cast<DWORD>(busy_ms));
              while (!stop_) {
                  ProcessSystemEvents();
                  Sleep(0);
              }
              ProcessSystemEvents();
          })
    {
        while (!ready_) Sleep(0);
    }
    ~EventThread() { join(); }
    void join()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int id() const { return static_cast<int>(id_); }

private:
    std::atomic<DWORD> id_{0};
    std::atomic<bool> ready_{false}, stop_{false};
    std::thread thread_;
};

struct Ran {
    std::atomic<DWORD> thread{0};
    std::atomic<int> count{0};
    int sleep_ms = 0;
};

void note_call(void *data)
{
    auto *ran = static_cast<Ran *>(data);
    Sleep(static_cast<DWORD>(ran->sleep_ms));
    ran->thread = GetCurrentThreadId();
    ++ran->count;
}

class ToolboxDeferredCall : public ToolboxTest {
protected:
    void SetUp() override
    {
        ToolboxTest::SetUp();
        locks_ = standin_rte_live_locks();
    }
    void TearDown() override
    {
        EXPECT_EQ(standin_rte_live_locks(), locks_) << "record locks leaked";
        ToolboxTest::TearDown();
    }
    long locks_ = 0;
};

TEST_F(ToolboxDeferredCall, OutcomeByTarget)
{
    struct Case {
        const char *name;
        int busy_ms;      /* the target's delay before it processes events */
        int timeout_ms;
        bool own_thread;
        bool ran_on_return; /* the call has run when the function returns */
    };
    const Case cases[] = {
        {"own thread, no time-out", 0, -1, true, true},
        {"own thread, zero time-out", 0, 0, true, true},
        {"processing target, no time-out", 0, -1, false, true},
        {"processing target, generous time-out", 0, 10000, false, true},
        {"busy target, zero time-out", 300, 0, false, false},
        {"busy target, short time-out", 300, 20, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EventThread target(c.busy_ms);
        Ran ran;
        int thread = c.own_thread ? static_cast<int>(GetCurrentThreadId()) : target.id();
        EXPECT_EQ(PostDeferredCallToThreadAndWait(note_call, &ran, thread, c.timeout_ms), 0);
        EXPECT_EQ(ran.count.load(), c.ran_on_return ? 1 : 0);
        target.join(); /* the abandoned call runs and frees its record there */
        EXPECT_EQ(ran.count.load(), 1);
        EXPECT_EQ(ran.thread.load(), static_cast<DWORD>(thread));
    }
}

TEST_F(ToolboxDeferredCall, RefusalsLeaveNothingBehind)
{
    Ran ran;
    EXPECT_EQ(PostDeferredCallToThreadAndWait(nullptr, &ran, static_cast<int>(GetCurrentThreadId()), -1), -65);
    DWORD ended = 0;
    std::thread([&] { ended = GetCurrentThreadId(); }).join();
    EXPECT_EQ(PostDeferredCallToThreadAndWait(note_call, &ran, static_cast<int>(ended), -1), -45);
    standin_rte_fail_lock_new_nth(1);
    EXPECT_EQ(PostDeferredCallToThreadAndWait(note_call, &ran, static_cast<int>(GetCurrentThreadId()), -1), -12);
    EXPECT_EQ(ran.count.load(), 0);
}

/* Every allocation fails in turn: the record (-12 from the toolbox), then the
 * engine's queue entry (-12 from the post); the third round succeeds. */
TEST_F(ToolboxDeferredCall, EachAllocationFailureIsReportedAndCleanedUp)
{
    EventThread target;
    for (long n = 1;; ++n) {
        ASSERT_LE(n, 3);
        Ran ran;
        long blocks = standin_rte_live_blocks();
        standin_rte_fail_alloc_nth(n);
        int status = PostDeferredCallToThreadAndWait(note_call, &ran, target.id(), -1);
        standin_rte_fail_alloc_nth(0);
        EXPECT_EQ(standin_rte_live_blocks(), blocks) << "round " << n;
        if (status >= 0) {
            EXPECT_EQ(n, 3);
            EXPECT_EQ(ran.count.load(), 1);
            break;
        }
        EXPECT_EQ(status, -12) << "round " << n;
        EXPECT_EQ(ran.count.load(), 0);
    }
}

/* Time-outs that fall just before, during and just after the call's end, so
 * that the hand-over under the lock goes either way many times. */
TEST_F(ToolboxDeferredCall, ThousandsOfRacingHandOversFreeEveryRecordOnce)
{
    EventThread target;
    std::mt19937 random(12345);
    static Ran ran[2000];
    for (Ran &r : ran) {
        r.sleep_ms = random() % 8 == 0 ? 1 : 0;
        int timeout = static_cast<int>(random() % 3) - 1; /* -1, 0 or 1 ms */
        ASSERT_GE(PostDeferredCallToThreadAndWait(note_call, &r, target.id(), timeout), 0);
        if (timeout == -1) {
            EXPECT_EQ(r.count.load(), 1);
        }
    }
    target.join();
    for (Ran &r : ran) EXPECT_EQ(r.count.load(), 1);
}

} // namespace
