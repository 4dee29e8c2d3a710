/* The toolbox's shared globals: created once on first use, however many
 * threads race for them; each thread's record starts from the initial
 * contents; the thread-safe variables keep their values and their locks. */
#include <gtest/gtest.h>
#include <windows.h>
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
