/* The entry frame through the real DLL: the cluster states it can leave, the
 * source text's round trip through the memory manager, and the debug switches
 * it leaves behind. */
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "field_model.h"
#include "module_loader.h"
#include "standin_memory.h"
#include "standin_rte.h"

using testing_support::export_of;
using testing_support::NodeModule;

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

struct Call {
    model::In in{1, 0, 1, 1, 1, 1, 1, 16};
    __cnode_gwerror cluster{};
    model::Out out{kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
                   kUntouched};
};

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin_rte_reset();
        standin_mem_reset();
        ASSERT_TRUE(node.load());
        node.reserve(&instance);
    }
    void TearDown() override
    {
        node.unreserve(&instance);
        node.unload();
        standin_mem_reset();
    }

    void run(Call &c, void *inst = nullptr)
    {
        model::Out &o = c.out;
        node.entry(inst ? inst : &instance, c.in.cap, c.in.err_code, c.in.freq, c.in.label, c.in.loss, c.in.samp,
                   c.in.size, c.in.volt, &o.cap_indx, &o.err_code_indx, &o.err_msg_indx, &c.cluster,
                   &o.freq_indx, &o.loss_indx, &o.samp_indx, &o.unit_indx, &o.volt_indx);
    }

    static LStrHandle text_handle(const std::string &text)
    {
        return reinterpret_cast<LStrHandle>(standin_mem_new_string(text.data(), static_cast<int32_t>(text.size())));
    }
    static std::string text_of(LStrHandle h) { return std::string(reinterpret_cast<char *>((*h)->str), static_cast<size_t>((*h)->cnt)); }

    NodeModule node;
    int instance = 0;
};

TEST_F(Frame, NormalCallComputesAndKeepsTheIncomingCode)
{
    Call c;
    c.cluster.code = 77;
    LStrHandle source = text_handle("where");
    c.cluster.source = source;
    run(c);
    EXPECT_EQ(c.out, model::positions(c.in));
    EXPECT_EQ(c.cluster.status, 0);
    EXPECT_EQ(c.cluster.code, 77);
    EXPECT_EQ(c.cluster.source, source) << "the handle itself is never replaced";
    EXPECT_EQ(text_of(source), "where");
    DSDisposeHandle(reinterpret_cast<UHandle>(source));
}

TEST_F(Frame, IncomingErrorSkipsTheTextAndReturnsEverythingUnchanged)
{
    for (uint8_t status : {1, 255}) {
        Call c;
        c.cluster.status = status;
        c.cluster.code = 42;
        LStrHandle source = text_handle("abc");
        c.cluster.source = source;
        run(c);
        EXPECT_EQ(c.out.samp_indx, kUntouched);
        EXPECT_EQ(c.out.err_msg_indx, kUntouched);
        EXPECT_EQ(c.out.volt_indx, kUntouched);
        EXPECT_EQ(c.cluster.status, status);
        EXPECT_EQ(c.cluster.code, 42);
        EXPECT_EQ(text_of(source), "abc");
        DSDisposeHandle(reinterpret_cast<UHandle>(source));
    }
}

TEST_F(Frame, SourceTextRoundTrips)
{
    struct TextCase {
        std::string in, out;
        bool moving;
    } cases[] = {
        {"abc", "abc", false},
        {"", "", false},
        {std::string("\xff\x01 binary \x7f\x80", 12), std::string("\xff\x01 binary \x7f\x80", 12), false},
        {std::string(5000, 'x'), std::string(5000, 'x'), false},
        {"moved about", "moved about", true},
        {std::string("ab\0cd", 5), "ab", false}, /* measured with strlen on the way back */
    };
    for (const auto &tc : cases) {
        standin_mem_set_always_move(tc.moving);
        Call c;
        LStrHandle source = text_handle(tc.in);
        c.cluster.source = source;
        run(c);
        EXPECT_EQ(c.cluster.status, 0);
        EXPECT_EQ(text_of(source), tc.out) << "input of " << tc.in.size() << " bytes";
        EXPECT_EQ(c.out, model::positions(c.in));
        DSDisposeHandle(reinterpret_cast<UHandle>(source));
    }
}

TEST_F(Frame, NullSourceIsAnEmptyText)
{
    Call c;
    c.cluster.source = nullptr;
    run(c);
    EXPECT_EQ(c.cluster.status, 0);
    EXPECT_EQ(c.cluster.source, nullptr);
    EXPECT_EQ(c.out, model::positions(c.in));
}

TEST_F(Frame, FailedGrowthOfTheSourceCostsItsLastByte)
{
    Call c;
    LStrHandle source = text_handle("abc");
    c.cluster.source = source;
    standin_mem_fail_nth(1); /* the growth by a terminator */
    run(c);
    EXPECT_EQ(c.cluster.status, 0);
    EXPECT_EQ(c.out, model::positions(c.in));
    EXPECT_EQ(text_of(source), "ab");
    DSDisposeHandle(reinterpret_cast<UHandle>(source));
}

TEST_F(Frame, FailedShrinkKeepsTheTerminatorInTheCount)
{
    Call c;
    LStrHandle source = text_handle("abc");
    c.cluster.source = source;
    standin_mem_fail_nth(2); /* the shrink back */
    run(c);
    EXPECT_EQ(c.cluster.status, 0);
    EXPECT_EQ(text_of(source), std::string("abc\0", 4));
    DSDisposeHandle(reinterpret_cast<UHandle>(source));
}

TEST_F(Frame, EmptySourceThatCannotGrowIsReportedAsCode2)
{
    Call c;
    c.cluster.code = 9;
    LStrHandle source = text_handle("");
    c.cluster.source = source;
    standin_mem_fail_nth(1);
    run(c);
    EXPECT_EQ(c.cluster.status, 1);
    EXPECT_EQ(c.cluster.code, 2);
    EXPECT_EQ(c.out.samp_indx, kUntouched) << "the text must not run";
    EXPECT_EQ((*source)->cnt, 0);
    DSDisposeHandle(reinterpret_cast<UHandle>(source));
}

TEST_F(Frame, DebugSwitchesReadAsTheFrameLeavesThem)
{
    HMODULE engine = GetModuleHandleA("qex_gwrt.dll");
    ASSERT_NE(engine, nullptr);
    auto set_lib = export_of<int (*)(int)>(engine, "SetBreakOnLibraryErrors");
    auto set_prot = export_of<int (*)(int)>(engine, "SetBreakOnProtectionErrors");
    auto set_first = export_of<int (*)(int)>(engine, "SetBreakOnFirstChanceExceptions");
    auto set_track = export_of<int (*)(int)>(engine, "SetEnableResourceTracking");
    auto get_lib = export_of<int (*)()>(engine, "GetBreakOnLibraryErrors");
    auto get_prot = export_of<int (*)()>(engine, "GetBreakOnProtectionErrors");
    auto get_first = export_of<int (*)()>(engine, "GetBreakOnFirstChanceExceptions");
    set_lib(1);
    set_prot(0);
    set_first(1);
    set_track(1);
    for (uint8_t status : {0, 1}) { /* with and without the node's text */
        Call c;
        c.cluster.status = status;
        run(c);
        EXPECT_EQ(get_lib(), 0);
        EXPECT_EQ(get_prot(), 1);
        EXPECT_EQ(get_first(), 0);
        EXPECT_EQ(standin_rte_resource_tracking(), 0);
    }
}

/* Resource tracking is a setting of each thread: a call on another thread
 * (which turns tracking on around its text and off after it) leaves this
 * thread's setting alone, so an allocation here is still tracked. */
TEST_F(Frame, ACallOnAnotherThreadLeavesThisThreadsResourceTracking)
{
    auto set_track =
        export_of<int (*)(int)>(GetModuleHandleA("qex_gwrt.dll"), "SetEnableResourceTracking");
    ASSERT_NE(set_track, nullptr);
    set_track(1);
    int other_after = -1;
    std::thread([&] {
        Call c;
        run(c);
        other_after = standin_rte_resource_tracking();
    }).join();
    EXPECT_EQ(other_after, 0);
    EXPECT_EQ(standin_rte_resource_tracking(), 1);
    set_track(0);
}

TEST_F(Frame, SourceTextProtectionIsGivenAndReleased)
{
    Call c;
    LStrHandle source = text_handle("hello");
    c.cluster.source = source;
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    run(c);
    std::vector<std::string> lines;
    char buf[256];
    for (size_t i = 0; i < standin_rte_protection_log_count(); ++i) {
        standin_rte_protection_log_line(i, buf, sizeof buf);
        lines.push_back(buf);
    }
    ASSERT_EQ(lines.size(), 2u);
    /* the text as handed out (6 bytes with its terminator), then its release */
    std::string handed = lines[0].substr(0, lines[0].find(','));
    EXPECT_EQ(lines[0], handed + ", 6)");
    EXPECT_EQ(handed.rfind("_UPReturnPointerSizeInfo(0x", 0), 0u);
    std::string pointer = handed.substr(std::strlen("_UPReturnPointerSizeInfo("));
    EXPECT_EQ(lines[1].rfind("_UPLibFreeDynPtrInfo(" + pointer + ", 1, 0x", 0), 0u) << lines[1];
    DSDisposeHandle(reinterpret_cast<UHandle>(source));
}

TEST_F(Frame, InstancesOnSeveralThreadsComputeIndependently)
{
    constexpr int kThreads = 4, kCalls = 300;
    std::vector<int> instances(kThreads);
    for (int &i : instances) node.reserve(&i);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kCalls; ++k) {
                Call c;
                c.in = {t, k % 3, 1 + t, k, 1, 1, k % 2, k};
                LStrHandle source = text_handle("thread");
                c.cluster.source = source;
                run(c, &instances[static_cast<size_t>(t)]);
                if (!(c.out == model::positions(c.in)) || c.cluster.status != 0 || text_of(source) != "thread")
                    ++failures[static_cast<size_t>(t)];
                DSDisposeHandle(reinterpret_cast<UHandle>(source));
            }
        });
    for (auto &th : threads) th.join();
    for (int &i : instances) node.unreserve(&i);
    for (int f : failures) EXPECT_EQ(f, 0);
}

} // namespace
