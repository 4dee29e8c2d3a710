/* The instance registry and the abort machinery driven directly: registration
 * at entry, the thread an instance last ran on, failures to register, the
 * user-code window, abort requests and their count, the jump back from a
 * stoppoint, and finding engine library copies beside other modules. */
#include <atomic>
#include <string>
#include <thread>
#include "helper_support.h"
#include "node_text.h"
#include "qex_rte.h"
#include "runtime_environment.h"
#include "cnode_debug.h"

using namespace helper_test;

namespace {

__cnode_abort_tlv_data_t *this_thread_record()
{
    __cnode_abort_tlv_data_t *record = nullptr;
    __cnode_CmtGetThreadLocalVar(__qex_cnode_abort_tlv_handle, &record);
    return record;
}

int32_t pending_aborts() { return __qex_cnode_abort_flag; }

class Registry : public HelperTest {};

TEST_F(Registry, TheFirstEntryRegistersTheInstanceWithTheCallingThread)
{
    Instance instance;
    EXPECT_FALSE(registered(instance.get()).held);
    ASSERT_TRUE(instance.enter());
    Registered r = registered(instance.get());
    EXPECT_TRUE(r.held);
    EXPECT_NE(r.record.list, nullptr);
    EXPECT_EQ(r.record.thread_id, GetCurrentThreadId());
    EXPECT_EQ(r.record.abort_data, this_thread_record());
    EXPECT_NE(r.record.abort_data, nullptr);
    EXPECT_EQ(r.record.in_user_code, 0);
    EXPECT_EQ(r.record.process_id, 0u) << "no debugger library is loaded";
}

TEST_F(Registry, AnInstanceEnteredOnAnotherThreadCarriesThatThreadsIdAndRecord)
{
    Instance instance;
    ASSERT_TRUE(instance.enter());
    ListType list = registered(instance.get()).record.list;
    DWORD other_id = 0;
    __cnode_abort_tlv_data_t *other_record = nullptr;
    Registered seen;
    std::thread other([&] {
        other_id = GetCurrentThreadId();
        other_record = this_thread_record();
        if (instance.enter()) seen = registered(instance.get());
    });
    other.join();
    ASSERT_TRUE(seen.held);
    EXPECT_EQ(seen.record.thread_id, other_id);
    EXPECT_EQ(seen.record.abort_data, other_record);
    EXPECT_NE(seen.record.abort_data, this_thread_record());
    EXPECT_EQ(seen.record.list, list) << "the instance keeps its list";
}

TEST_F(Registry, UnreservingAnUnknownInstanceDoesNothing)
{
    Instance known;
    ASSERT_TRUE(known.enter());
    char unknown = 0;
    long blocks = standin_rte_live_blocks();
    EXPECT_EQ(__cnode_unreserve_callback(&unknown), 0);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    EXPECT_TRUE(registered(known.get()).held);
    EXPECT_FALSE(registered(&unknown).held);
}

/* Entry, begin and end change the kept record where the registry holds it and
 * remember the record last located: each step must act on the instance it
 * names, whichever was located last, and an instance removed and registered
 * again must get its new record, never the one removed. */
TEST_F(Registry, EachStepChangesTheRecordOfTheInstanceItNames)
{
    Instance first, second;
    ASSERT_TRUE(first.enter());
    ASSERT_TRUE(second.enter()); /* located last */
    __cnode_on_begin_user_code(first.get());
    EXPECT_EQ(registered(first.get()).record.in_user_code, 1);
    EXPECT_EQ(registered(second.get()).record.in_user_code, 0);
    __cnode_on_begin_user_code(second.get());
    __cnode_on_end_user_code(first.get());
    EXPECT_EQ(registered(first.get()).record.in_user_code, 0);
    EXPECT_EQ(registered(second.get()).record.in_user_code, 1);
    __cnode_on_end_user_code(second.get());
    EXPECT_EQ(registered(second.get()).record.in_user_code, 0);
}

TEST_F(Registry, AnInstanceRemovedAndEnteredAgainGetsANewRecord)
{
    Instance instance, other;
    ASSERT_TRUE(other.enter());
    ASSERT_TRUE(instance.enter());
    __cnode_on_begin_user_code(instance.get());
    __cnode_on_end_user_code(instance.get());
    __cnode_on_unreserve(instance.get());
    ASSERT_FALSE(registered(instance.get()).held);
    __cnode_on_begin_user_code(instance.get());
    EXPECT_FALSE(registered(instance.get()).held) << "no window for an instance the registry does not hold";
    __cnode_on_end_user_code(instance.get());

    ASSERT_TRUE(instance.enter());
    Registered again = registered(instance.get());
    ASSERT_TRUE(again.held) << "registered again, not taken for the removed record";
    EXPECT_NE(again.record.list, nullptr);
    EXPECT_EQ(again.record.in_user_code, 0);
    __cnode_on_begin_user_code(instance.get());
    EXPECT_EQ(registered(instance.get()).record.in_user_code, 1);
    __cnode_on_end_user_code(instance.get());
    EXPECT_EQ(registered(instance.get()).record.in_user_code, 0);
    EXPECT_TRUE(registered(other.get()).held);
}

struct RegistrationFailure {
    const char *name;
    long lock_fails_at;
    long allocation_fails_at;
};

class RegistrationFails : public HelperTest, public ::testing::WithParamInterface<RegistrationFailure> {};

TEST_P(RegistrationFails, TheClusterSaysCode2AndNothingIsKept)
{
    const RegistrationFailure &c = GetParam();
    Instance instance;
    LStr source = {5, {'x'}};
    LStrPtr source_pointer = &source;
    __cnode_gwerror cluster{0, 7, &source_pointer};
    long blocks = standin_rte_live_blocks();
    if (c.lock_fails_at) standin_rte_fail_lock_get_nth(c.lock_fails_at);
    if (c.allocation_fails_at) standin_rte_fail_alloc_nth(c.allocation_fails_at);
    EXPECT_EQ(__cnode_helper_initialize(instance.get(), &cluster), 0);
    EXPECT_EQ(cluster.status, 1);
    EXPECT_EQ(cluster.code, 2);
    EXPECT_EQ(cluster.source, &source_pointer);
    EXPECT_EQ(source.cnt, 5);
    standin_rte_reset();
    EXPECT_FALSE(registered(instance.get()).held);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    EXPECT_EQ(__cnode_helper_initialize(instance.get(), nullptr), 1) << "a later entry registers";
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistrationFails,
                         ::testing::Values(RegistrationFailure{"registry_lock_refused", 1, 0},
                                           RegistrationFailure{"no_memory_for_the_list", 0, 1},
                                           RegistrationFailure{"no_memory_for_the_registry_entry", 0, 2}),
                         [](const ::testing::TestParamInfo<RegistrationFailure> &info) {
                             return std::string(info.param.name);
                         });

class AbortRequest : public HelperTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pending_aborts(), 0);
        ASSERT_TRUE(instance_.enter());
        record_ = this_thread_record();
        ASSERT_NE(record_, nullptr);
    }
    void TearDown() override
    {
        EXPECT_EQ(pending_aborts(), 0) << "the count of pending aborts must come back to 0";
        HelperTest::TearDown();
    }
    Instance instance_;
    __cnode_abort_tlv_data_t *record_ = nullptr;
};

TEST_F(AbortRequest, OutsideTheUserCodeWindowIsDropped)
{
    __cnode_on_abort(instance_.get()); /* entered, window closed */
    Instance never_entered;
    __cnode_on_abort(never_entered.get());
    EXPECT_EQ(pending_aborts(), 0);
    EXPECT_EQ(record_->flag, 0);
    __cnode_on_begin_user_code(instance_.get());
    __cnode_on_end_user_code(instance_.get());
    EXPECT_EQ(record_->flag, 0);
}

TEST_F(AbortRequest, InsideTheWindowItCountsOnceAndTheEndClearsIt)
{
    __cnode_on_begin_user_code(instance_.get());
    EXPECT_EQ(registered(instance_.get()).record.in_user_code, 1);
    __cnode_on_abort(instance_.get());
    __cnode_on_abort(instance_.get()); /* repeated: already pending, not counted again */
    EXPECT_EQ(pending_aborts(), 1);
    EXPECT_EQ(record_->flag, 1);
    __cnode_on_end_user_code(instance_.get()); /* arrived after the last stoppoint: no jump, cleared */
    EXPECT_EQ(pending_aborts(), 0);
    EXPECT_EQ(record_->flag, 0);
    EXPECT_EQ(registered(instance_.get()).record.in_user_code, 0);
}

TEST_F(AbortRequest, UnreservedWhileInTheWindowTheRequestIsStillGivenBack)
{
    __cnode_on_begin_user_code(instance_.get());
    __cnode_on_abort(instance_.get());
    ASSERT_EQ(pending_aborts(), 1);
    __cnode_on_unreserve(instance_.get());
    __cnode_on_end_user_code(instance_.get());
    EXPECT_EQ(record_->flag, 0);
    EXPECT_FALSE(registered(instance_.get()).held) << "the end step does not register the instance again";
}

TEST_F(AbortRequest, ALeftOverRequestIsClearedByTheNextEntryOnThatThread)
{
    __cnode_on_begin_user_code(instance_.get());
    __cnode_on_abort(instance_.get());
    standin_rte_fail_lock_get_nth(1);
    __cnode_on_end_user_code(instance_.get()); /* cannot take the lock: the request stays */
    EXPECT_EQ(pending_aborts(), 1);
    EXPECT_EQ(record_->flag, 1);
    ASSERT_TRUE(instance_.enter());
    EXPECT_EQ(record_->flag, 0);
}

/* A thread inside the window with its abort record armed, aborted from the
 * test's thread: its next stoppoint jumps back to the armed point. */
TEST_F(AbortRequest, AnArmedThreadJumpsBackAtItsNextStoppoint)
{
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE requested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> passed_stoppoint{false}, jumped_back{false}, in_window{false};
    __cnode_abort_tlv_data_t *node_record = nullptr;
    Instance node;
    std::thread runner([&] {
        if (!node.enter()) return;
        node_record = this_thread_record();
        if (qex_rte_setjmp(node_record->env) == 0) {
            __cnode_on_begin_user_code(node.get());
            in_window = registered(node.get()).record.in_user_code == 1;
            SetEvent(inside);
            WaitForSingleObject(requested, INFINITE);
            __qex_stoppoint(&__qex_stoppoint_table[1]);
            passed_stoppoint = true;
        } else {
            jumped_back = true;
        }
        __cnode_on_end_user_code(node.get());
    });
    ASSERT_EQ(WaitForSingleObject(inside, 10000), WAIT_OBJECT_0);
    __cnode_on_abort(node.get());
    EXPECT_EQ(pending_aborts(), 1);
    SetEvent(requested);
    runner.join();
    EXPECT_TRUE(in_window);
    EXPECT_TRUE(jumped_back);
    EXPECT_FALSE(passed_stoppoint);
    EXPECT_EQ(record_->flag, 0) << "the test thread's own record is untouched";
    CloseHandle(inside);
    CloseHandle(requested);
}

TEST_F(AbortRequest, AStoppointOnAThreadWithoutARequestPassesWhileAnotherIsPending)
{
    Instance other;
    std::atomic<int> stage{0};
    std::thread holder([&] {
        if (!other.enter()) return;
        __cnode_on_begin_user_code(other.get());
        __cnode_on_abort(other.get());
        stage = 1;
        while (stage != 2) Sleep(1);
        __cnode_on_end_user_code(other.get());
    });
    while (stage != 1) Sleep(1);
    EXPECT_EQ(pending_aborts(), 1);
    __cnode_on_begin_user_code(instance_.get());
    __qex_stoppoint(&__qex_stoppoint_table[2]); /* slow path, but this thread's flag is clear */
    SetLastError(1234);
    __qex_node_abort_check();
    __qex_host_abort_check();
    EXPECT_EQ(GetLastError(), 1234u) << "a check that does not jump keeps the last-error value";
    __cnode_on_end_user_code(instance_.get());
    stage = 2;
    holder.join();
}

/* Finding a copy of an engine library in the "Win64" folder beside a loaded
 * module; the copies are loaded here only for the look-up (this program's
 * memory manager is bound already). */
class EngineModuleSearch : public HelperTest {
protected:
    static std::string bin()
    {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string p(path, n);
        return p.substr(0, p.find_last_of('\\') + 1);
    }
};

TEST_F(EngineModuleSearch, FindsOnlyACopyThatIsLoadedFromTheFolderBesideTheModule)
{
    std::string folder = bin() + "fixtures\\binding\\common\\";
    EXPECT_EQ(__cnode_find_engine_module("Tamberlane.Common.dll", "gwrt.dll"), nullptr) << "neighbour not loaded";
    HMODULE neighbour = LoadLibraryA((folder + "Tamberlane.Common.dll").c_str());
    ASSERT_NE(neighbour, nullptr);
    EXPECT_EQ(__cnode_find_engine_module("Tamberlane.Common.dll", "gwrt.dll"), nullptr) << "copy not loaded";
    HMODULE copy = LoadLibraryA((folder + "Win64\\gwrt.dll").c_str());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, GetModuleHandleA("gwrt.dll")) << "a second copy beside the linked one";
    EXPECT_EQ(__cnode_find_engine_module("Tamberlane.Common.dll", "gwrt.dll"), copy);
    EXPECT_EQ(__cnode_find_engine_module("Tamberlane.Common.dll", "gwffrt.dll"), nullptr);
    EXPECT_EQ(__cnode_find_engine_module("Tamberlane.CCode.dll", "gwrt.dll"), nullptr);

    EXPECT_EQ(__cnode_find_engine_module(nullptr, "gwrt.dll"), nullptr) << "no copy beside the executable yet";
    HMODULE beside_exe = LoadLibraryA((bin() + "Win64\\gwrt.dll").c_str());
    ASSERT_NE(beside_exe, nullptr);
    EXPECT_EQ(__cnode_find_engine_module(nullptr, "gwrt.dll"), beside_exe);

    /* A name that cannot fit behind the folder finds nothing and writes nothing past the buffer. */
    std::string long_name(3000, 'x');
    EXPECT_EQ(__cnode_find_engine_module(nullptr, long_name.c_str()), nullptr);
    FreeLibrary(beside_exe);
    FreeLibrary(copy);
    FreeLibrary(neighbour);
}

} // namespace
