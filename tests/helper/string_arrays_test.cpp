/* Host string arrays as C arrays of strings: conversion with null elements and
 * its failure paths, resizing in both directions, giving arrays back, and the
 * per-instance tracking that frees what node code left behind. */
#include <cstring>
#include "helper_support.h"
#include "runtime_environment.h"

using namespace helper_test;

namespace {

const void *const kGetCStrArray = reinterpret_cast<const void *>(&__cnode_GetCStrArray);
const void *const kResize = reinterpret_cast<const void *>(&__cnode_resize_string_array);
const void *const kFreeCStrArray = reinterpret_cast<const void *>(&__cnode_FreeCStrArray);
const void *const kFreeStringArrays = reinterpret_cast<const void *>(&__cnode_free_string_arrays);

/* A host string array; a null text stands for a null element. */
UHandle new_string_array(const std::vector<const char *> &texts)
{
    UHandle array = standin_mem_new_array(8, static_cast<int32_t>(texts.size()));
    size_t i = 0;
    for (const char *text : texts) {
        UHandle string = text ? standin_mem_new_string(text, static_cast<int32_t>(std::strlen(text))) : nullptr;
        reinterpret_cast<UHandle *>(static_cast<char *>(*array) + 8)[i++] = string;
    }
    return array;
}

int32_t count_of(UHandle array) { return *static_cast<int32_t *>(*array); }
LStrHandle *slots(UHandle array) { return reinterpret_cast<LStrHandle *>(static_cast<char *>(*array) + 8); }
char *text(LStrHandle string) { return reinterpret_cast<char *>((*string)->str); }

void dispose_string_array(UHandle array)
{
    for (int32_t i = 0; i < count_of(array); ++i)
        if (slots(array)[i]) DSDisposeHandle(reinterpret_cast<UHandle>(slots(array)[i]));
    DSDisposeHandle(array);
}

std::vector<__cnode_string_array_record> tracked(void *instance)
{
    std::vector<__cnode_string_array_record> records;
    ListType list = registered(instance).record.list;
    for (size_t i = 1; i <= ListNumItems(list); ++i)
        records.push_back(*static_cast<__cnode_string_array_record *>(ListGetPtrToItem(list, static_cast<ptrdiff_t>(i))));
    return records;
}

/* A logged call whose bookkeeping-word addresses are the callee's own: checks
 * everything else exactly, and that the two addresses are those of one record
 * (the second word 8 bytes above the first). */
void expect_call_with_bookkeeping(const std::string &line, const std::string &head, const std::string &tail)
{
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    ASSERT_GE(line.size(), head.size() + tail.size());
    ASSERT_EQ(line.compare(line.size() - tail.size(), tail.size(), tail), 0) << line;
    unsigned long long second = 0, first = 0;
    ASSERT_EQ(std::sscanf(line.c_str() + head.size(), "0x%llx, 0x%llx", &second, &first), 2) << line;
    EXPECT_EQ(second, first + 8) << line;
}

class StringArray : public HelperTest {
protected:
    void SetUp() override { ASSERT_TRUE(instance_.enter()); }
    Instance instance_;
};

TEST_F(StringArray, AnEmptyArrayHandsOutNothing)
{
    UHandle array = new_string_array({});
    char **c_array = reinterpret_cast<char **>(0x5e5e);
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    EXPECT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    EXPECT_EQ(c_array, nullptr);
    EXPECT_TRUE(tracked(instance_.get()).empty());
    EXPECT_EQ(protection_log(), std::vector<std::string>{"_UPSaveCurrentEnv()"});
    dispose_string_array(array);
}

TEST_F(StringArray, ConvertsEveryElementTracksTheArrayAndGivesItBack)
{
    UHandle array = new_string_array({"ab", nullptr, ""});
    long handles = standin_mem_live_handles();
    char **c_array = nullptr;
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    ASSERT_NE(c_array, nullptr);
    long blocks = standin_rte_live_blocks();
    EXPECT_EQ(standin_mem_live_handles(), handles + 1) << "the null element gets a string of its own";
    const int32_t counts[] = {3, 1, 1};
    const char *texts[] = {"ab", "", ""};
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(slots(array)[i], nullptr);
        EXPECT_EQ((*slots(array)[i])->cnt, counts[i]);
        EXPECT_EQ(c_array[i], text(slots(array)[i]));
        EXPECT_STREQ(c_array[i], texts[i]);
    }

    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].array, c_array);
    EXPECT_EQ(records[0].count, 3u);
    EXPECT_TRUE(filled_bookkeeping_pair(records[0].bookkeeping_1, records[0].bookkeeping_2));
    auto log = protection_log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "_UPSaveCurrentEnv()");
    EXPECT_EQ(log[1], "_UPRestoreCurrentEnv()");
    expect_call_with_bookkeeping(log[2], "_UPSetOutputStringArrayInfo(1, " + hex(&c_array) + ", ",
                                 ", 3, " + hex(kGetCStrArray) + ")");

    standin_rte_protection_log_enable(1);

    standin_rte_protection_log_clear();
    __cnode_FreeCStrArray(instance_.get(), c_array);
    EXPECT_TRUE(tracked(instance_.get()).empty());
    EXPECT_EQ(standin_rte_live_blocks(), blocks - 1);
    EXPECT_EQ(protection_log(), std::vector<std::string>{call("_UPLibFreeStringArrayInfo", c_array, 2,
                                                               records[0].bookkeeping_2, records[0].bookkeeping_1,
                                                               3, kFreeCStrArray)});
    EXPECT_EQ((*slots(array)[0])->cnt, 3) << "the host strings keep their terminators";
    dispose_string_array(array);
}

struct ConversionFailure {
    const char *name;
    std::vector<const char *> texts;
    long host_fails_at;   /* nth host operation from now, 0: none */
    long engine_fails_at; /* nth engine allocation from now, 0: none */
    int32_t first_count_after; /* the first element's count afterwards */
};

class StringArrayConversionFailure : public StringArray, public ::testing::WithParamInterface<ConversionFailure> {};

TEST_P(StringArrayConversionFailure, HandsOutNothingAndKeepsNothing)
{
    const ConversionFailure &c = GetParam();
    UHandle array = new_string_array(c.texts);
    long blocks = standin_rte_live_blocks();
    char **c_array = reinterpret_cast<char **>(0x5e5e);
    if (c.host_fails_at) standin_mem_fail_nth(c.host_fails_at);
    if (c.engine_fails_at) standin_rte_fail_alloc_nth(c.engine_fails_at);
    EXPECT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 0);
    EXPECT_EQ(c_array, nullptr);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    EXPECT_TRUE(tracked(instance_.get()).empty());
    if (slots(array)[0]) {
        EXPECT_EQ((*slots(array)[0])->cnt, c.first_count_after);
    }
    dispose_string_array(array);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringArrayConversionFailure,
    ::testing::Values(ConversionFailure{"no_string_for_a_null_element", {nullptr, "b"}, 1, 0, 0},
                      ConversionFailure{"second_terminator_refused", {"a", "b"}, 2, 0, 2},
                      ConversionFailure{"no_memory_for_the_c_array", {"a", "b"}, 0, 1, 1}),
    [](const ::testing::TestParamInfo<ConversionFailure> &info) { return std::string(info.param.name); });

TEST_F(StringArray, AnArrayHandedOutWithoutTrackingIsStillFreed)
{
    Instance stranger; /* never entered: it has no list */
    UHandle array = new_string_array({"x"});
    long blocks = standin_rte_live_blocks();
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, stranger.get()), 1);
    EXPECT_FALSE(registered(stranger.get()).held) << "tracking does not register an instance";
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    __cnode_FreeCStrArray(stranger.get(), c_array);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    EXPECT_EQ(protection_log(), std::vector<std::string>{call("_UPLibFreeStringArrayInfo", c_array, 2, nullptr,
                                                               nullptr, 0, kFreeCStrArray)});
    dispose_string_array(array);
}

TEST_F(StringArray, ShrinkingDisposesTheCutElementsAndKeepsTheFirstEntries)
{
    UHandle array = new_string_array({"one", "two", "three"});
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    char **before = c_array;
    char *first = c_array[0];
    long handles = standin_mem_live_handles();
    LStrHandle *elements = nullptr;
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    ASSERT_EQ(__cnode_resize_string_array(array, 1, c_array, &c_array, &elements, instance_.get()), 1);
    EXPECT_EQ(count_of(array), 1);
    EXPECT_EQ(standin_mem_live_handles(), handles - 2);
    EXPECT_EQ(elements, slots(array));
    EXPECT_EQ(c_array[0], first);
    EXPECT_STREQ(c_array[0], "one");

    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 1u) << "the resized array replaces the old one";
    EXPECT_EQ(records[0].array, c_array);
    EXPECT_EQ(records[0].count, 1u);
    EXPECT_TRUE(filled_bookkeeping_pair(records[0].bookkeeping_1, records[0].bookkeeping_2));
    auto log = protection_log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "_UPSaveCurrentEnv()");
    EXPECT_EQ(log[1], "_UPRestoreCurrentEnv()");
    expect_call_with_bookkeeping(log[2], "_UPResizeStringArrayInfo(3, " + hex(before) + ", " + hex(&c_array) + ", ",
                                 ", 3, 1, " + hex(kResize) + ")");
    __cnode_FreeCStrArray(instance_.get(), c_array);
    dispose_string_array(array);
}

TEST_F(StringArray, GrowingAddsEmptyStringsWhoseEntriesPointAtTheirTerminators)
{
    UHandle array = new_string_array({"x"});
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    long handles = standin_mem_live_handles();
    standin_mem_set_always_move(1);
    LStrHandle *elements = nullptr;
    ASSERT_EQ(__cnode_resize_string_array(array, 3, c_array, &c_array, &elements, instance_.get()), 1);
    EXPECT_EQ(count_of(array), 3);
    EXPECT_EQ(standin_mem_live_handles(), handles + 2);
    EXPECT_EQ(elements, slots(array)) << "the element pointer follows the moved block";
    EXPECT_STREQ(c_array[0], "x");
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ((*slots(array)[i])->cnt, 1);
        EXPECT_EQ(c_array[i], text(slots(array)[i]));
        EXPECT_EQ(*c_array[i], '\0');
    }
    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].array, c_array);
    EXPECT_EQ(records[0].count, 3u);
    __cnode_FreeCStrArray(instance_.get(), c_array);
    dispose_string_array(array);
}

TEST_F(StringArray, ResizingWithoutACArrayConvertsFirst)
{
    UHandle array = new_string_array({"p", "q"});
    char **c_array = nullptr;
    LStrHandle *elements = nullptr;
    ASSERT_EQ(__cnode_resize_string_array(array, 3, nullptr, &c_array, &elements, instance_.get()), 1);
    ASSERT_NE(c_array, nullptr);
    EXPECT_EQ((*slots(array)[0])->cnt, 2);
    EXPECT_STREQ(c_array[0], "p");
    EXPECT_STREQ(c_array[1], "q");
    EXPECT_STREQ(c_array[2], "");
    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].array, c_array);
    EXPECT_EQ(records[0].count, 3u);
    __cnode_FreeCStrArray(instance_.get(), c_array);

    UHandle empty = new_string_array({});
    c_array = nullptr;
    ASSERT_EQ(__cnode_resize_string_array(empty, 2, nullptr, &c_array, &elements, instance_.get()), 1);
    ASSERT_NE(c_array, nullptr);
    EXPECT_EQ(count_of(empty), 2);
    EXPECT_STREQ(c_array[0], "");
    EXPECT_EQ(c_array[1], text(slots(empty)[1]));
    __cnode_FreeCStrArray(instance_.get(), c_array);
    dispose_string_array(array);
    dispose_string_array(empty);
}

TEST_F(StringArray, ShrinkingToNothingGivesTheCArrayBack)
{
    UHandle array = new_string_array({"a", "b"});
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    long blocks = standin_rte_live_blocks();
    LStrHandle *elements = nullptr;
    ASSERT_EQ(__cnode_resize_string_array(array, 0, c_array, &c_array, &elements, instance_.get()), 1);
    EXPECT_EQ(count_of(array), 0);
    EXPECT_EQ(c_array, nullptr);
    EXPECT_TRUE(tracked(instance_.get()).empty());
    EXPECT_EQ(standin_rte_live_blocks(), blocks - 1);
    dispose_string_array(array);
}

TEST_F(StringArray, AFailedGrowthUndoesTheNewElements)
{
    UHandle array = new_string_array({"x"});
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, instance_.get()), 1);
    char **before = c_array;
    long handles = standin_mem_live_handles();
    standin_mem_fail_nth(3); /* the block, the first new string, then the second new string */
    LStrHandle *elements = nullptr;
    EXPECT_EQ(__cnode_resize_string_array(array, 3, c_array, &c_array, &elements, instance_.get()), 0);
    EXPECT_EQ(count_of(array), 1);
    EXPECT_EQ(standin_mem_live_handles(), handles);
    EXPECT_EQ(c_array, before);
    EXPECT_STREQ(c_array[0], "x");

    EXPECT_EQ(__cnode_resize_string_array(array, size_t{2147483648u}, c_array, &c_array, &elements, instance_.get()),
              0);
    EXPECT_EQ(count_of(array), 1);
    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].array, before);
    __cnode_FreeCStrArray(instance_.get(), c_array);
    dispose_string_array(array);
}

TEST_F(StringArray, ArraysLeftByACallAreFreedWhenTheNextCallStarts)
{
    UHandle first = new_string_array({"a", "b"});
    UHandle second = new_string_array({"c"});
    char **a = nullptr, **b = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(first, &a, instance_.get()), 1);
    ASSERT_EQ(__cnode_GetCStrArray(second, &b, instance_.get()), 1);
    long blocks = standin_rte_live_blocks();
    auto records = tracked(instance_.get());
    ASSERT_EQ(records.size(), 2u);
    ListType list = registered(instance_.get()).record.list;

    standin_rte_protection_log_enable(1);

    standin_rte_protection_log_clear();
    ASSERT_TRUE(instance_.enter());
    EXPECT_EQ(standin_rte_live_blocks(), blocks - 2);
    EXPECT_TRUE(tracked(instance_.get()).empty());
    EXPECT_EQ(registered(instance_.get()).record.list, list) << "the list is emptied, not replaced";
    EXPECT_EQ(protection_log(),
              (std::vector<std::string>{call("_UPLibFreeStringArrayInfo", a, 1, records[0].bookkeeping_2,
                                             records[0].bookkeeping_1, 2, kFreeStringArrays),
                                        call("_UPLibFreeStringArrayInfo", b, 1, records[1].bookkeeping_2,
                                             records[1].bookkeeping_1, 1, kFreeStringArrays)}));
    dispose_string_array(first);
    dispose_string_array(second);
}

TEST_F(StringArray, UnreservingFreesTheArraysAndTheInstanceRecord)
{
    Instance other;
    UHandle array = new_string_array({"a"});
    long blocks = standin_rte_live_blocks();
    ASSERT_TRUE(other.enter());
    char **c_array = nullptr;
    ASSERT_EQ(__cnode_GetCStrArray(array, &c_array, other.get()), 1);
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    __cnode_on_unreserve(other.get());
    EXPECT_FALSE(registered(other.get()).held);
    EXPECT_EQ(standin_rte_live_blocks(), blocks) << "arrays, list and registry entry all gone";
    auto log = protection_log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("_UPLibFreeStringArrayInfo(" + hex(c_array) + ", 1, ", 0), 0u) << log[0];
    dispose_string_array(array);
}

TEST(StringArrayRecords, CompareByArrayAddressUnsigned)
{
    struct Case {
        uintptr_t a, b;
        int32_t expected;
    };
    const Case cases[] = {{0x10, 0x20, -1}, {0x20, 0x10, 1}, {0x30, 0x30, 0}, {0x8000000000000000ull, 0x1, 1}};
    for (const Case &c : cases) {
        __cnode_string_array_record a{reinterpret_cast<char **>(c.a), nullptr, nullptr, 7};
        __cnode_string_array_record b{reinterpret_cast<char **>(c.b), reinterpret_cast<void *>(1), nullptr, 9};
        EXPECT_EQ(__cnode_compare_array_records(&a, &b), c.expected) << std::hex << c.a << " vs " << c.b;
    }
}

} // namespace
