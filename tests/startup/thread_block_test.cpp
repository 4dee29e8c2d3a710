/* The thread record read directly: the last-error value and the thread-local
 * slots must be the ones the system's own calls read and write, for slots in
 * the record and in the expansion block, on a thread that has set them and on
 * one that has not. */
#include <gtest/gtest.h>
#include <windows.h>
#include <thread>
#include <vector>
#include "thread_block.h"

namespace {

TEST(ThreadBlock, LastErrorIsTheSystemsValueBothWays)
{
    for (DWORD value : {0ul, 5ul, 12345ul, 0x80070005ul, 0xFFFFFFFFul}) {
        SetLastError(value);
        EXPECT_EQ(thread_block::last_error(), value);
        thread_block::set_last_error(value ^ 0x5A5A5A5Au);
        EXPECT_EQ(GetLastError(), value ^ 0x5A5A5A5Au);
    }
}

/* Enough slots that some lie beyond the 64 of the thread record. */
class ThreadBlockSlots : public ::testing::Test {
protected:
    void SetUp() override
    {
        while (slots_.size() < 100) {
            DWORD slot = TlsAlloc();
            ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
            slots_.push_back(slot);
        }
        ASSERT_GE(slots_.back(), thread_block::kInlineSlotCount) << "no slot in the expansion block";
    }
    void TearDown() override
    {
        for (DWORD slot : slots_) TlsFree(slot);
    }
    static void *value_for(DWORD slot) { return reinterpret_cast<void *>(uintptr_t{0x1000} + slot * 16); }
    std::vector<DWORD> slots_;
};

TEST_F(ThreadBlockSlots, EverySlotReadsWhatTlsGetValueReads)
{
    for (DWORD slot : slots_) ASSERT_TRUE(TlsSetValue(slot, value_for(slot)));
    for (DWORD slot : slots_) {
        SetLastError(777);
        EXPECT_EQ(thread_block::tls_value(slot), value_for(slot)) << "slot " << slot;
        EXPECT_EQ(GetLastError(), 777u) << "a direct read leaves the last-error value alone";
        EXPECT_EQ(thread_block::tls_value(slot), TlsGetValue(slot)) << "slot " << slot;
    }
}

TEST_F(ThreadBlockSlots, AThreadThatSetNothingReadsNullEverywhere)
{
    for (DWORD slot : slots_) ASSERT_TRUE(TlsSetValue(slot, value_for(slot)));
    std::vector<void *> seen;
    std::thread other([&] {
        for (DWORD slot : slots_) seen.push_back(thread_block::tls_value(slot));
        /* Now with an expansion block of its own, for the last slot only. */
        TlsSetValue(slots_.back(), value_for(1));
        seen.push_back(thread_block::tls_value(slots_.back()));
        seen.push_back(thread_block::tls_value(slots_[slots_.size() - 2]));
    });
    other.join();
    ASSERT_EQ(seen.size(), slots_.size() + 2);
    for (size_t i = 0; i < slots_.size(); ++i) EXPECT_EQ(seen[i], nullptr) << "slot " << slots_[i];
    EXPECT_EQ(seen[slots_.size()], value_for(1));
    EXPECT_EQ(seen[slots_.size() + 1], nullptr);
    EXPECT_EQ(thread_block::tls_value(slots_.back()), value_for(slots_.back())) << "this thread's value stays";
}

TEST(ThreadBlock, SlotsOutsideTheSystemsRangeReadNull)
{
    for (DWORD slot : {thread_block::kInlineSlotCount + thread_block::kExpansionSlotCount, 0x7FFFFFFFul,
                       static_cast<DWORD>(TLS_OUT_OF_INDEXES)})
        EXPECT_EQ(thread_block::tls_value(slot), nullptr) << "slot " << slot;
}

} // namespace
