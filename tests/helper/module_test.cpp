/* The helper runtime through the real DLL: abort requests at chosen moments of
 * a call (the engine stand-in's lock hooks let a request arrive exactly while
 * the module takes or has just released its registry lock), the abort handle
 * fetched once, and a load-to-unload cycle that leaves nothing behind. */
#include "module_fixture.h"

using namespace helper_test;

namespace {

class AbortThroughTheFrame : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        module_.reserve(&instance_);
        quiet_lookups_ = lookups_of_one_call(&instance_);
    }
    void TearDown() override
    {
        EXPECT_EQ(lookups_of_one_call(&instance_), quiet_lookups_) << "an abort count was left pending";
        module_.unreserve(&instance_);
        ModuleTest::TearDown();
    }
    char instance_ = 0;
    long quiet_lookups_ = 0;
};

TEST_F(AbortThroughTheFrame, ARequestInsideTheTextEndsTheCallWith1039AndTheNextCallRunsNormally)
{
    Aborter aborter(module_.abort, &instance_);
    SourceText source("frame");
    CallResult aborted;
    {
        /* The begin step releases the lock with the window open: the request
         * taken then stops the text at its first stoppoint. */
        AbortAtLockMoments moments(aborter, AbortAtLockMoments::kAfterReleasingTheLock);
        aborted = call_entry(module_.entry, &instance_, typical_inputs(), source.handle());
    }
    EXPECT_GE(aborter.requests(), 2);
    EXPECT_EQ(aborted.cluster.status, 1);
    EXPECT_EQ(aborted.cluster.code, 1039);
    EXPECT_TRUE(same(aborted.outputs, untouched_outputs())) << "no statement ran before the first stoppoint";
    EXPECT_TRUE(source.intact());

    CallResult next = call_entry(module_.entry, &instance_, typical_inputs(), source.handle());
    EXPECT_EQ(next.cluster.status, 0);
    EXPECT_EQ(next.cluster.code, 0);
    EXPECT_TRUE(same(next.outputs, expected_outputs(typical_inputs())));
}

TEST_F(AbortThroughTheFrame, ARequestAfterTheLastStoppointLetsTheCallComplete)
{
    Aborter aborter(module_.abort, &instance_);
    SourceText source("late");
    CallResult late;
    {
        /* Before the end step takes the lock the window is still open: the
         * request is set, and the end step clears it. */
        AbortAtLockMoments moments(aborter, AbortAtLockMoments::kBeforeTakingTheLock);
        late = call_entry(module_.entry, &instance_, typical_inputs(), source.handle(), 0, 0);
    }
    EXPECT_GE(aborter.requests(), 3);
    EXPECT_EQ(late.cluster.status, 0);
    EXPECT_EQ(late.cluster.code, 0);
    EXPECT_TRUE(same(late.outputs, expected_outputs(typical_inputs())));
    EXPECT_TRUE(source.intact());
}

TEST_F(AbortThroughTheFrame, RequestsOutsideTheTextChangeNothing)
{
    Aborter aborter(module_.abort, &instance_);
    SourceText source("outside");
    module_.abort(&instance_); /* between calls */
    CallResult after = call_entry(module_.entry, &instance_, typical_inputs(), source.handle());
    EXPECT_EQ(after.cluster.status, 0);
    EXPECT_TRUE(same(after.outputs, expected_outputs(typical_inputs())));

    char never_entered = 0;
    module_.abort(&never_entered);

    /* A call that skips its text because an error came in never opens the window. */
    CallResult skipped;
    {
        AbortAtLockMoments moments(aborter, AbortAtLockMoments::kAfterReleasingTheLock);
        skipped = call_entry(module_.entry, &instance_, typical_inputs(), source.handle(), 1, 42);
    }
    EXPECT_GE(aborter.requests(), 2);
    EXPECT_EQ(skipped.cluster.status, 1);
    EXPECT_EQ(skipped.cluster.code, 42);
    EXPECT_TRUE(same(skipped.outputs, untouched_outputs()));
    EXPECT_TRUE(source.intact());
}

class ModuleLifetime : public ModuleTest {};

TEST_F(ModuleLifetime, SeveralReservationsFetchTheAbortHandleOnceAndUnloadingLeavesNothing)
{
    char instances[3] = {};
    long handles = standin_mem_live_handles();
    long fetches = standin_rte_abort_entry_calls();
    for (char &instance : instances) module_.reserve(&instance);
    EXPECT_EQ(standin_rte_abort_entry_calls(), fetches + 1);
    {
        SourceText source("life");
        for (char &instance : instances) {
            CallResult r = call_entry(module_.entry, &instance, typical_inputs(), source.handle());
            EXPECT_EQ(r.cluster.status, 0);
            EXPECT_TRUE(same(r.outputs, expected_outputs(typical_inputs())));
            EXPECT_TRUE(source.intact());
        }
    }
    module_.unreserve(&instances[0]);
    module_.unload(); /* two instances still registered: unloading frees them */
    EXPECT_EQ(standin_rte_live_blocks(), blocks_before_load_);
    EXPECT_EQ(standin_rte_live_locks(), locks_before_load_);
    EXPECT_EQ(standin_mem_live_handles(), handles);
}

} // namespace
