/* The toolbox's shared globals: created once on first use, however many
 * threads race for them; each thread's record starts from the initial
 * contents; the thread-safe variables keep their values and their locks. */
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>
#include "../../module/toolbox/toolbox_globals.h"
#include "cnode_startup.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

/* The loader entry opens the exit-function library in the DLL; here the
 * program does, before any test creates the globals. */
const bool g_exit_library_open = (_InitExitLib(), true);

using ThreadRecordView = toolbox::ThreadRecord;
HANDLE g_release_claimant;

ThreadRecordView *record_here() { return static_cast<ThreadRecordView *>(toolbox::thread_record()); }

void block_until_signalled(void) { WaitForSingleObject(g_release_claimant, INFINITE); }

/* Two threads meet a fresh module. The first to claim is held inside the
 * creation (its exit-function registration waits for the exit library's lock,
 * held here by a running exit function); the second must wait for it, not
 * create anything, and get its own record once the first has finished. */
bool racing_threads_create_the_globals_once()
{
    long tsvs = standin_rte_tsvs_created(), tlvs = standin_rte_tlvs_created();
    g_release_claimant = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int32_t level = _UserExitFunsTop();
    LW_atexit(block_until_signalled);
    std::thread holder([level] { _PopUserExitFuns(level); });
    Sleep(50);
    std::atomic<int> done{0};
    ThreadRecordView records[2] = {};
    ThreadRecordView *addresses[2] = {};
    auto meet = [&](int i) {
        addresses[i] = record_here();
        if (addresses[i]) records[i] = *addresses[i];
        for (++done; done < 2;) Sleep(1); /* both records alive at once */
    };
    std::thread first(meet, 0);
    while (standin_rte_tsvs_created() - tsvs < 2) Sleep(1);
    std::thread second(meet, 1);
    Sleep(100);
    bool waited = done == 0;
    SetEvent(g_release_claimant);
    first.join(), second.join(), holder.join();
    bool once = standin_rte_tsvs_created() - tsvs == 2 && standin_rte_tlvs_created() - tlvs == 1;
    bool own = addresses[0] && addresses[1] && addresses[0] != addresses[1] && records[0].seed == 0x38589391 &&
               records[1].seed == 0x38589391 && records[1].reseed == 1;
    return waited && once && own;
}

TEST(ToolboxGlobalsDeathTest, RacingThreadsCreateTheGlobalsOnce)
{
    EXPECT_EXIT(std::exit(racing_threads_create_the_globals_once() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

void hold_block(ThreadRecordView *record)
{
    record->block = qex_rte_malloc(32);
    record->block_count = 3;
}

/* A record's block is freed on its own thread: at once when the thread ends;
 * through a deferred call when the exit clean-up discards the variable from
 * another thread, which also discards both thread-safe variables. */
bool record_blocks_are_freed_on_their_threads()
{
    long blocks = standin_rte_live_blocks();
    std::thread([] { hold_block(record_here()); }).join();
    bool freed_at_end = standin_rte_live_blocks() == blocks;
    std::atomic<bool> held{false}, processing{false}, stop{false};
    std::thread owner([&] {
        hold_block(record_here());
        held = true;
        while (!stop) {
            if (processing) ProcessSystemEvents();
            Sleep(0);
        }
    });
    while (!held) Sleep(1);
    long tsvs = standin_rte_live_tsvs();
    record_here()->seed = 42;
    std::thread exiting([] { _ExecUserExitFuns(); });
    Sleep(100);
    bool waited_for_owner = standin_rte_live_blocks() > blocks;
    processing = true;
    exiting.join();
    bool freed_by_owner = standin_rte_live_blocks() == blocks && tsvs - standin_rte_live_tsvs() == 2;
    stop = true;
    owner.join();
    /* Discarded globals are created afresh, no thread keeping its old record. */
    ThreadRecordView *again = record_here(); /* a stale cached address would still hold 42 */
    bool fresh = again && again->seed == 0x38589391;
    return freed_at_end && waited_for_owner && freed_by_owner && fresh;
}

TEST(ToolboxGlobalsDeathTest, RecordBlocksAreFreedOnTheirThreads)
{
    EXPECT_EXIT(std::exit(record_blocks_are_freed_on_their_threads() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(ToolboxGlobals, ThreadSafeVariablesKeepValuesAndLocks)
{
    ASSERT_NE(record_here(), nullptr);
    int a = 0, b = 0;
    EXPECT_EQ(SetMsgCBHandlers(&a), 0);
    EXPECT_EQ(SetTsvPanelsWithLinkedCallbacksList(&b), 0);
    EXPECT_EQ(GetMsgCBHandlers(), &a);
    EXPECT_EQ(GetTsvPanelsWithLinkedCallbacksList(), &b);

    void **value = GetPointerToMsgCBHandlers();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, &a);
    std::atomic<bool> set{false};
    std::thread other([&] { SetMsgCBHandlers(nullptr), set = true; });
    Sleep(50);
    EXPECT_FALSE(set) << "Set did not wait for the holder";
    *value = &b;
    EXPECT_EQ(ReleasePointerToMsgCBHandlers(), 0);
    other.join();
    EXPECT_EQ(GetMsgCBHandlers(), nullptr);
    EXPECT_LT(ReleasePointerToMsgCBHandlers(), 0) << "released a lock it did not hold";
    EXPECT_EQ(SetTsvPanelsWithLinkedCallbacksList(nullptr), 0);
}

TEST(ToolboxGlobals, RecordStartsFromInitialContents)
{
    auto *record = static_cast<toolbox::ThreadRecord *>(toolbox::thread_record());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record, toolbox::thread_record());
    void *other = nullptr;
    std::thread([&] {
        auto *r = static_cast<toolbox::ThreadRecord *>(toolbox::thread_record());
        other = r;
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->seed, 0x38589391);
        EXPECT_EQ(r->reseed, 1);
        EXPECT_EQ(r->x, 0);
    }).join();
    EXPECT_NE(other, record);
    EXPECT_EQ(GetMsgCBHandlers(), nullptr);
    EXPECT_EQ(GetTsvPanelsWithLinkedCallbacksList(), nullptr);
    EXPECT_EQ(ToolboxInit(), 0);
}

} // namespace
