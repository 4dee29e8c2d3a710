/* Allocation failure in handles, integer lists, the existence registry and
 * data-text conversion: every engine allocation of each call fails in turn
 * until the call succeeds; each failure must give the documented result,
 * leave the target as it was and leave no engine block or registration. */
#include <functional>
#include <vector>
#include "cnode_startup.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class ObjectsAllocationFailure : public ToolboxTest {};

/* Calls round(n) for n = 1, 2, ... until it succeeds, with the nth allocation
 * failing; checks the engine after each round. Returns the failed rounds. */
int failed_rounds(const std::function<bool()> &call)
{
    for (long n = 1; n <= 64; ++n) {
        EngineBaseline before;
        standin_rte_fail_alloc_nth(n);
        bool ok = call();
        standin_rte_fail_alloc_nth(0);
        EXPECT_EQ(before.extra_blocks(), 0) << "round " << n;
        EXPECT_EQ(before.extra_resources(), 0) << "round " << n;
        EXPECT_EQ(standin_rte_resource_tracking(), 1) << "round " << n;
        if (ok) return static_cast<int>(n - 1);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

TEST_F(ObjectsAllocationFailure, EveryAllocationOfEveryCall)
{
    const std::vector<unsigned char> bytes(100, 0x5A);
    ListType target = BuildIntegerList(2, 1, 2);
    Handle handle = NewHandle(4);
    std::memcpy(*handle, "abc", 4);
    const struct { const char *name; std::function<bool()> call; int failures; } calls[] = {
        {"new empty handle", [] { Handle h = NewHandle(0); DisposeHandle(h); return h != nullptr; }, 1},
        {"new handle", [] { Handle h = NewHandle(8); DisposeHandle(h); return h != nullptr; }, 2},
        {"resize of a handle", [&] {
             void *before = *handle;
             int ok = SetHandleSize(handle, 40);
             if (!ok) {
                 EXPECT_EQ(*handle, before);
                 EXPECT_EQ(GetHandleSize(handle), 4u);
                 EXPECT_STREQ(static_cast<char *>(*handle), "abc");
             }
             return ok == 1;
         }, 1},
        {"integer list", [] {
             ListType list = reinterpret_cast<ListType>(1);
             int status = GetIntListFromParmInfo(std::vector<uint64_t>(30, 7).data(), 30, &list);
             EXPECT_TRUE(status == 0 || (status == -12 && list == nullptr));
             ListDispose(list);
             return status == 0;
         }, 8}, /* the record, then each of the data block's 7 growths on the way to 30 items */
        {"built list", [] { ListType l = BuildIntegerList(0, 1, 2, 0); ListDispose(l); return l != nullptr; }, 2},
        {"append", [&] {
             int ok = AppendToIntegerList(target, 3, 7, 8, 9);
             EXPECT_EQ(ListNumItems(target), ok ? 5u : 2u);
             return ok == 1;
         }, 3}, /* temporary record, its data, the target's growth */
        {"data to text", [&] {
             char *text = reinterpret_cast<char *>(1);
             int ok = ConvertDataToText(bytes.data(), bytes.size(), &text);
             EXPECT_EQ(ok == 0, text == nullptr);
             qex_rte_free(text);
             return ok == 1;
         }, 1},
        {"text to data", [] {
             unsigned char *data = reinterpret_cast<unsigned char *>(1);
             int ok = ConvertTextToData("EQRS", nullptr, &data);
             EXPECT_EQ(ok == 0, data == nullptr);
             qex_rte_free(data);
             return ok == 1;
         }, 1},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failed_rounds(c.call), c.failures);
    }
    ListDispose(target);
    DisposeHandle(handle);
}

TEST_F(ObjectsAllocationFailure, RegistryCreationAndGrowth)
{
    _InitExitLib();
    int object = 0;
    /* The registry's record, then its data block. Each round ends with the
     * exit clean-up, so the next one creates the registry afresh. */
    int failures = failed_rounds([&] {
        int ok = RegisterExistence(&object);
        EXPECT_EQ(ObjectExists(&object), ok);
        _ExecUserExitFuns();
        return ok == 1;
    });
    EXPECT_EQ(failures, 2);
    _CloseExitLib();
}

} // namespace
