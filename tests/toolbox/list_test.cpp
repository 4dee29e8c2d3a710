/* The list's contract at its edges: growth steps, position resolution for
 * reading and for insertion, ranges, searching in both directions, equality,
 * appending, copying, traversal that changes the list, and refusal of null
 * and wrongly tagged handles. */
#include <gtest/gtest.h>
#include <climits>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

ListType make_list(const std::vector<int> &items)
{
    ListType list = ListCreate(sizeof(int));
    for (int v : items) EXPECT_EQ(ListInsertItem(list, &v, LIST_POS_END), 1);
    return list;
}

std::vector<int> contents(ListType list)
{
    std::vector<int> out(ListNumItems(list));
    if (!out.empty()) std::memcpy(out.data(), ListGetDataPtr(list), out.size() * sizeof(int));
    return out;
}

class ToolboxList : public ToolboxTest {};

TEST_F(ToolboxList, CreateAcceptsItemSizesUpTo2GiBMinusOne)
{
    struct Case { size_t itemSize; bool created; };
    for (Case c : {Case{0, true}, Case{1, true}, Case{0x7FFFFFFF, true}, Case{0x80000000u, false},
                   Case{SIZE_MAX, false}}) {
        ListType list = ListCreate(c.itemSize);
        EXPECT_EQ(list != nullptr, c.created) << c.itemSize;
        if (!list) continue;
        const ListView &v = view(list);
        EXPECT_EQ(std::memcmp(list, "TSIL", 4), 0);
        EXPECT_EQ(v.percentIncrease, 10);
        EXPECT_EQ(v.minItemsPerAlloc, 4);
        EXPECT_EQ(v.capacity, 0u);
        EXPECT_EQ(v.numItems, 0);
        EXPECT_EQ(v.data, nullptr);
        EXPECT_EQ(ListGetItemSize(list), static_cast<int>(c.itemSize));
        ListDispose(list);
    }
}

TEST_F(ToolboxList, IsRegisteredAsToolboxResourceUntilDisposed)
{
    ListType list = ListCreate(4);
    EXPECT_EQ(category_of(list), "Toolbox");
    EXPECT_EQ(description_of(list), "ListType 0x" + pointer_text(list));
    ListType copy = ListCopy(list);
    EXPECT_EQ(description_of(copy), "ListType 0x" + pointer_text(copy));
    ListDispose(copy);
    ListDispose(list);
    EXPECT_EQ(description_of(list), "<not tracked>");
}

TEST_F(ToolboxList, GrowthStepsFollowThePolicy)
{
    ListType list = ListCreate(sizeof(int));
    /* capacity after each single insertion: 4 + 1 at the first, 4 + 1 more at the
     * fifth (5 * 110 / 100 - 5 is 0), then 1 + max(4, 10% of the capacity). */
    const uint64_t expected[] = {5, 5, 5, 5, 10, 10, 10, 10, 10, 15};
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(ListInsertItem(list, &i, LIST_POS_END), 1);
        EXPECT_EQ(capacity_of(list), expected[i]) << "after insertion " << i + 1;
    }
    ListDispose(list);

    list = ListCreate(sizeof(int));
    ASSERT_EQ(ListPreAllocate(list, 100), 1);
    EXPECT_EQ(capacity_of(list), 100u);
    for (int i = 0; i < 99; ++i) ListInsertItem(list, &i, LIST_POS_END);
    EXPECT_EQ(capacity_of(list), 100u);
    int last = 99;
    ListInsertItem(list, &last, LIST_POS_END); /* 99 + 1 >= 100: adds 10 + 1 */
    EXPECT_EQ(capacity_of(list), 111u);
    ListDispose(list);

    list = ListCreate(sizeof(int));
    int three[] = {1, 2, 3};
    ListInsertItems(list, three, LIST_POS_END, 3); /* 3 + max(4, 0) */
    EXPECT_EQ(capacity_of(list), 7u);
    ListSetAllocationPolicy(list, 0, 100); /* doubling, no minimum */
    EXPECT_EQ(view(list).minItemsPerAlloc, 0);
    EXPECT_EQ(view(list).percentIncrease, 100);
    ListInsertItems(list, three, LIST_POS_END, 3); /* 6 < 7: no growth */
    EXPECT_EQ(capacity_of(list), 7u);
    ListInsertItem(list, three, LIST_POS_END); /* 7 >= 7: 1 + 7 */
    EXPECT_EQ(capacity_of(list), 15u);
    ListDispose(list);
}

TEST_F(ToolboxList, NewSlotsAreZeroFilled)
{
    ListType list = make_list({1, 2, 3, 4, 5, 6});
    const int *data = static_cast<const int *>(ListGetDataPtr(list));
    for (uint64_t i = ListNumItems(list); i < capacity_of(list); ++i) EXPECT_EQ(data[i], 0);
    ListDispose(list);
}

TEST_F(ToolboxList, ZeroSizeItemsNeverAllocate)
{
    ListType list = ListCreate(0);
    long blocks = standin_rte_live_blocks();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(ListInsertItem(list, nullptr, LIST_POS_FRONT), 1);
    EXPECT_EQ(ListNumItems(list), 1000u);
    EXPECT_EQ(capacity_of(list), 0u);
    EXPECT_EQ(ListGetDataPtr(list), nullptr);
    EXPECT_EQ(ListPreAllocate(list, 50), 1);
    ListRemoveItem(list, nullptr, 1);
    EXPECT_EQ(ListNumItems(list), 999u);
    EXPECT_EQ(standin_rte_live_blocks(), blocks);
    ListDispose(list);
}

TEST_F(ToolboxList, InsertionPositions)
{
    struct Case { std::vector<int> before; ptrdiff_t position; int result; std::vector<int> after; };
    const Case cases[] = {
        {{10, 20, 30}, LIST_POS_FRONT, 1, {99, 10, 20, 30}},
        {{10, 20, 30}, LIST_POS_END, 1, {10, 20, 30, 99}},
        {{10, 20, 30}, 1, 1, {99, 10, 20, 30}},
        {{10, 20, 30}, 2, 1, {10, 99, 20, 30}},
        {{10, 20, 30}, 3, 1, {10, 20, 99, 30}},
        {{10, 20, 30}, 4, 1, {10, 20, 30, 99}}, /* count + 1 is the end */
        {{10, 20, 30}, 5, 0, {10, 20, 30}},     /* count + 2 fails */
        {{10, 20, 30}, -2, 0, {10, 20, 30}},    /* below LIST_POS_FRONT: refused */
        {{}, LIST_POS_FRONT, 1, {99}},          /* front of an empty list appends */
        {{}, LIST_POS_END, 1, {99}},
        {{}, 1, 1, {99}},
        {{}, 2, 0, {}},
    };
    for (const Case &c : cases) {
        ListType list = make_list(c.before);
        int item = 99;
        EXPECT_EQ(ListInsertItem(list, &item, c.position), c.result) << "position " << c.position;
        EXPECT_EQ(contents(list), c.after) << "position " << c.position;
        ListDispose(list);
    }
}

TEST_F(ToolboxList, InsertItemsTakesARangeOrZeros)
{
    ListType list = make_list({1, 2, 3});
    int two[] = {7, 8};
    EXPECT_EQ(ListInsertItems(list, two, 2, 2), 1);
    EXPECT_EQ(contents(list), (std::vector<int>{1, 7, 8, 2, 3}));
    EXPECT_EQ(ListInsertItems(list, nullptr, LIST_POS_FRONT, 2), 1);
    EXPECT_EQ(contents(list), (std::vector<int>{0, 0, 1, 7, 8, 2, 3}));
    EXPECT_EQ(ListInsertItems(list, two, 1, 0), 0);
    EXPECT_EQ(ListInsertItems(list, two, 1, -1), 0);
    EXPECT_EQ(ListNumItems(list), 7u);
    ListDispose(list);
}

TEST_F(ToolboxList, InsertingItemsOfTheListItselfSurvivesItsGrowth)
{
    /* Full lists, so that every insertion moves the data block. */
    struct Case { ptrdiff_t from; ptrdiff_t count; ptrdiff_t at; std::vector<int> after; };
    const Case cases[] = {
        {1, 2, LIST_POS_END, {1, 2, 3, 4, 5, 1, 2}},
        {4, 2, 1, {4, 5, 1, 2, 3, 4, 5}},
        {2, 3, 3, {1, 2, 2, 3, 4, 3, 4, 5}}, /* the source range straddles the insertion point */
        {1, 1, 2, {1, 1, 2, 3, 4, 5}},
    };
    for (const Case &c : cases) {
        ListType list = ListCreate(sizeof(int));
        ListSetAllocationPolicy(list, 0, 0);
        for (int v = 1; v <= 5; ++v) ListInsertItem(list, &v, LIST_POS_END);
        ListCompact(list);
        ASSERT_EQ(capacity_of(list), 5u);
        EXPECT_EQ(ListInsertItems(list, ListGetPtrToItem(list, c.from), c.at, c.count), 1);
        EXPECT_EQ(contents(list), c.after) << "from " << c.from << " at " << c.at;
        ListDispose(list);
    }
}

TEST_F(ToolboxList, ReadingPositions)
{
    ListType list = make_list({10, 20, 30});
    struct Case { ptrdiff_t position; int expected; }; /* 0 = no item */
    for (Case c : {Case{LIST_POS_FRONT, 10}, Case{LIST_POS_END, 30}, Case{1, 10}, Case{2, 20}, Case{3, 30},
                   Case{4, 0}, Case{-2, 0}, Case{PTRDIFF_MAX, 0}}) {
        const int *p = static_cast<const int *>(ListGetPtrToItem(list, c.position));
        EXPECT_EQ(p ? *p : 0, c.expected) << "position " << c.position;
        int out = 0;
        ListGetItem(list, &out, c.position);
        EXPECT_EQ(out, c.expected) << "position " << c.position;
    }
    ListType empty = ListCreate(sizeof(int));
    for (ptrdiff_t position : {ptrdiff_t{LIST_POS_FRONT}, ptrdiff_t{LIST_POS_END}, ptrdiff_t{1}})
        EXPECT_EQ(ListGetPtrToItem(empty, position), nullptr);
    ListDispose(empty);
    ListDispose(list);
}

TEST_F(ToolboxList, RangesMustLieWithinTheList)
{
    struct Case { ptrdiff_t first; ptrdiff_t count; std::vector<int> got; };
    const Case cases[] = {
        {1, 3, {10, 20, 30}}, {2, 2, {20, 30}}, {LIST_POS_FRONT, 1, {10}}, {LIST_POS_END, 1, {30}},
        {LIST_POS_END, 2, {}}, {2, 3, {}}, {1, 0, {}}, {1, -1, {}}, {4, 1, {}}, {1, PTRDIFF_MAX, {}},
    };
    for (const Case &c : cases) {
        ListType list = make_list({10, 20, 30});
        std::vector<int> out(4, -1);
        ListGetItems(list, out.data(), c.first, c.count);
        std::vector<int> expected_out = c.got;
        expected_out.resize(4, -1);
        EXPECT_EQ(out, expected_out) << "get " << c.first << "," << c.count;

        int replacement[3] = {7, 8, 9};
        ListReplaceItems(list, replacement, c.first, c.count);
        std::vector<int> replaced = contents(list);
        int changed = 0;
        for (int v : replaced) changed += v >= 7 && v <= 9;
        EXPECT_EQ(changed, static_cast<int>(c.got.size())) << "replace " << c.first << "," << c.count;
        ListDispose(list);

        list = make_list({10, 20, 30});
        uint64_t capacity = capacity_of(list);
        std::fill(out.begin(), out.end(), -1);
        ListRemoveItems(list, out.data(), c.first, c.count);
        EXPECT_EQ(out, expected_out) << "remove " << c.first << "," << c.count;
        EXPECT_EQ(ListNumItems(list), 3 - c.got.size());
        EXPECT_EQ(capacity_of(list), capacity);
        ListDispose(list);
    }
}

TEST_F(ToolboxList, RemovalClosesTheGap)
{
    ListType list = make_list({1, 2, 3, 4, 5, 6});
    ListRemoveItems(list, nullptr, 2, 3);
    EXPECT_EQ(contents(list), (std::vector<int>{1, 5, 6}));
    int out = 0;
    ListRemoveItem(list, &out, LIST_POS_FRONT);
    EXPECT_EQ(out, 1);
    ListRemoveItem(list, nullptr, LIST_POS_END);
    EXPECT_EQ(contents(list), (std::vector<int>{5}));
    ListDispose(list);
}

TEST_F(ToolboxList, FindSearchesForwardOrBackward)
{
    ListType list = make_list({1, 2, 3, 2, 5, 2, 7});
    int two = 2;
    struct Case { ptrdiff_t start; ptrdiff_t end; size_t found; };
    for (Case c : {Case{1, 7, 2}, Case{3, 7, 4}, Case{5, 2, 4}, Case{7, 1, 6}, Case{LIST_POS_END, LIST_POS_FRONT, 6},
                   Case{5, 5, 0}, Case{6, 6, 6}, Case{8, 1, 0}, Case{1, 8, 0}, Case{-2, 3, 0}}) {
        EXPECT_EQ(ListFindItemInRange(list, &two, c.start, c.end, nullptr), c.found)
            << c.start << ".." << c.end;
        EXPECT_EQ(ListFindItemInRange(list, &two, c.start, c.end, compare_ints), c.found)
            << c.start << ".." << c.end;
    }
    EXPECT_EQ(ListFindItem(list, &two, 5, nullptr), 6u);
    EXPECT_EQ(ListFindItem(list, &two, LIST_POS_FRONT, nullptr), 2u);
    EXPECT_EQ(ListFindItem(list, nullptr, 1, nullptr), 0u);
    ListType empty = ListCreate(sizeof(int));
    EXPECT_EQ(ListFindItem(empty, &two, LIST_POS_FRONT, nullptr), 0u);
    ListDispose(empty);
    ListDispose(list);
}

/* Records the argument order a compare function receives. */
const void *g_first_argument = nullptr;
int compare_recording_order(const void *a, const void *b)
{
    if (!g_first_argument) g_first_argument = a;
    return compare_ints(a, b);
}

TEST_F(ToolboxList, CompareReceivesTheCallersItemFirst)
{
    ListType list = make_list({1, 2, 3});
    int wanted = 3;
    g_first_argument = nullptr;
    EXPECT_EQ(ListFindItem(list, &wanted, 1, compare_recording_order), 3u);
    EXPECT_EQ(g_first_argument, &wanted);
    ListDispose(list);
}

TEST_F(ToolboxList, InsertAfterAndBeforeTheFirstMatch)
{
    struct Case { bool after; int find; std::vector<int> result; };
    const Case cases[] = {
        {true, 2, {1, 2, 99, 3, 2}},  {true, 5, {1, 2, 3, 2, 99}},
        {false, 2, {1, 99, 2, 3, 2}}, {false, 5, {99, 1, 2, 3, 2}},
    };
    for (const Case &c : cases) {
        ListType list = make_list({1, 2, 3, 2});
        int item = 99;
        int result = c.after ? ListInsertAfterItem(list, &item, &c.find, compare_ints)
                             : ListInsertBeforeItem(list, &item, &c.find, nullptr);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(contents(list), c.result);
        ListDispose(list);
    }
}

TEST_F(ToolboxList, EqualityNeedsSameCountSizeAndBytes)
{
    ListType a = make_list({1, 2, 3});
    ListType same = make_list({1, 2, 3});
    ListType other = make_list({1, 2, 4});
    ListType shorter = make_list({1, 2});
    /* Two 2-byte items whose bytes equal the first item of a 4-byte list: a
     * comparison over the first list's item size would call them equal. */
    ListType halves = ListCreate(2);
    uint16_t h[] = {1, 0};
    ListInsertItems(halves, h, LIST_POS_END, 2);
    ListType words = ListCreate(4);
    uint32_t w[] = {1, 0xFFFFFFFF};
    ListInsertItems(words, w, LIST_POS_END, 2);
    ListType empty4 = ListCreate(4);
    ListType empty8 = ListCreate(8);

    EXPECT_EQ(ListEqual(nullptr, nullptr), 1);
    EXPECT_EQ(ListEqual(a, a), 1);
    EXPECT_EQ(ListEqual(a, nullptr), 0);
    EXPECT_EQ(ListEqual(nullptr, a), 0);
    EXPECT_EQ(ListEqual(a, same), 1);
    EXPECT_EQ(ListEqual(a, other), 0);
    EXPECT_EQ(ListEqual(a, shorter), 0);
    EXPECT_EQ(ListEqual(halves, words), 0);
    EXPECT_EQ(ListEqual(words, halves), 0);
    EXPECT_EQ(ListEqual(empty4, empty8), 0);
    for (ListType l : {a, same, other, shorter, halves, words, empty4, empty8}) ListDispose(l);
}

TEST_F(ToolboxList, AppendCopiesBehindAndSizesExactly)
{
    ListType destination = make_list({1, 2});
    ListType source = make_list({3, 4, 5});
    ListType bytes = ListCreate(1);
    ListType empty = ListCreate(sizeof(int));
    int fake[16] = {};
    EXPECT_EQ(ListAppend(destination, nullptr), 1);
    EXPECT_EQ(ListAppend(nullptr, source), 0);
    EXPECT_EQ(ListAppend(reinterpret_cast<ListType>(fake), source), 0);
    EXPECT_EQ(ListAppend(destination, reinterpret_cast<ListType>(fake)), 0);
    EXPECT_EQ(ListAppend(destination, bytes), 0);
    EXPECT_EQ(ListAppend(destination, empty), 1);
    EXPECT_EQ(contents(destination), (std::vector<int>{1, 2}));
    EXPECT_EQ(ListAppend(destination, source), 1);
    EXPECT_EQ(contents(destination), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(capacity_of(destination), 5u);
    EXPECT_EQ(contents(source), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(ListAppend(source, source), 1);
    EXPECT_EQ(contents(source), (std::vector<int>{3, 4, 5, 3, 4, 5}));
    EXPECT_EQ(capacity_of(source), 6u);
    for (ListType l : {destination, source, bytes, empty}) ListDispose(l);
}

TEST_F(ToolboxList, CopyHoldsExactlyTheItemsAndThePolicy)
{
    ListType list = make_list({1, 2, 3, 4, 5, 6});
    ListSetAllocationPolicy(list, 7, 50);
    ListType copy = ListCopy(list);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(contents(copy), contents(list));
    EXPECT_EQ(capacity_of(copy), 6u);
    EXPECT_EQ(view(copy).minItemsPerAlloc, 7);
    EXPECT_EQ(view(copy).percentIncrease, 50);
    EXPECT_NE(ListGetDataPtr(copy), ListGetDataPtr(list));
    ListType empty = ListCreate(3);
    ListType empty_copy = ListCopy(empty);
    EXPECT_EQ(ListGetItemSize(empty_copy), 3);
    EXPECT_EQ(ListGetDataPtr(empty_copy), nullptr);
    for (ListType l : {list, copy, empty, empty_copy}) ListDispose(l);
}

TEST_F(ToolboxList, CompactPreAllocateAndClear)
{
    ListType list = make_list({1, 2, 3, 4, 5, 6});
    ListCompact(list);
    EXPECT_EQ(capacity_of(list), 6u);
    EXPECT_EQ(ListPreAllocate(list, 4), 1); /* shortfall of 4 */
    EXPECT_EQ(capacity_of(list), 10u);
    EXPECT_EQ(ListPreAllocate(list, 4), 1); /* room already */
    EXPECT_EQ(capacity_of(list), 10u);
    ListClear(list);
    EXPECT_EQ(ListNumItems(list), 0u);
    EXPECT_EQ(capacity_of(list), 10u);
    ListCompact(list);
    EXPECT_EQ(capacity_of(list), 0u);
    EXPECT_EQ(ListGetDataPtr(list), nullptr);
    ListDispose(list);
}

TEST_F(ToolboxList, RemoveDuplicatesKeepsFirstOccurrences)
{
    struct Case { std::vector<int> before, after; };
    const Case cases[] = {
        {{3, 1, 3, 2, 1, 3, 3}, {3, 1, 2}}, {{5, 5, 5, 5}, {5}}, {{1, 2, 3}, {1, 2, 3}}, {{}, {}}, {{4}, {4}},
    };
    for (const Case &c : cases) {
        ListType list = make_list(c.before);
        ListRemoveDuplicates(list, c.before.size() % 2 ? compare_ints : nullptr);
        EXPECT_EQ(contents(list), c.after);
        ListDispose(list);
    }
}

struct Walk {
    explicit Walk(ListType l) : list(l) {}
    ListType list;
    std::vector<size_t> indices;
    std::vector<int> values;
    int stop_at = 0; /* value that makes the callback return -1 */
    bool remove_each = false;
};

int walk_step(size_t index, void *item, Walk *walk)
{
    int value = *static_cast<int *>(item);
    walk->indices.push_back(index);
    walk->values.push_back(value);
    if (walk->remove_each) ListRemoveItem(walk->list, nullptr, static_cast<ptrdiff_t>(index));
    return value == walk->stop_at ? -1 : value;
}
int walk_int(int index, void *item, void *data) { return walk_step(static_cast<size_t>(index), item, static_cast<Walk *>(data)); }
int walk_size(size_t index, void *item, void *data) { return walk_step(index, item, static_cast<Walk *>(data)); }

TEST_F(ToolboxList, ApplyToEachWalksAndStops)
{
    for (bool extended : {false, true}) {
        auto apply = [&](ListType list, int ascending, Walk *walk) {
            return extended ? ListApplyToEachEx(list, ascending, walk_size, walk)
                            : ListApplyToEach(list, ascending, walk_int, walk);
        };
        ListType list = make_list({10, 20, 30, 40});
        Walk up{list};
        EXPECT_EQ(apply(list, 1, &up), 40);
        EXPECT_EQ(up.indices, (std::vector<size_t>{1, 2, 3, 4}));
        Walk down{list};
        EXPECT_EQ(apply(list, 0, &down), 10);
        EXPECT_EQ(down.values, (std::vector<int>{40, 30, 20, 10}));
        Walk stop{list};
        stop.stop_at = 20;
        EXPECT_EQ(apply(list, 1, &stop), -1);
        EXPECT_EQ(stop.values, (std::vector<int>{10, 20}));

        /* Removing the visited item: the ascending walk re-reads the count and
         * never goes past the end; the descending one ends at the front. */
        Walk removing{list};
        removing.remove_each = true;
        apply(list, 1, &removing);
        EXPECT_EQ(removing.values, (std::vector<int>{10, 30}));
        EXPECT_EQ(contents(list), (std::vector<int>{20, 40}));
        Walk removing_down{list};
        removing_down.remove_each = true;
        apply(list, 0, &removing_down);
        EXPECT_EQ(removing_down.values, (std::vector<int>{40, 20}));
        EXPECT_EQ(ListNumItems(list), 0u);

        Walk none{list};
        EXPECT_EQ(apply(list, 1, &none), 0);
        EXPECT_EQ(apply(nullptr, 1, &none), 0);
        EXPECT_EQ(extended ? ListApplyToEachEx(list, 1, nullptr, nullptr) : ListApplyToEach(list, 1, nullptr, nullptr), 0);
        ListDispose(list);
    }
}

TEST_F(ToolboxList, DisposePtrListFreesTheStoredBlocks)
{
    long before = standin_rte_live_blocks();
    ListType list = ListCreate(sizeof(void *));
    for (int i = 0; i < 5; ++i) {
        void *block = qex_rte_malloc(16);
        ListInsertItem(list, &block, LIST_POS_END);
    }
    void *none = nullptr;
    ListInsertItem(list, &none, LIST_POS_END);
    ListDisposePtrList(list);
    EXPECT_EQ(standin_rte_live_blocks(), before);
}

TEST_F(ToolboxList, NullAndWronglyTaggedHandlesAreRefused)
{
    /* A record with every field plausible but the tag. */
    ListView fake_record{0x4C495355, 10, 4, 4, 4, 2, nullptr};
    int storage[4] = {1, 2, 3, 4};
    fake_record.data = storage;
    for (ListType bad : {static_cast<ListType>(nullptr), reinterpret_cast<ListType>(&fake_record)}) {
        int item = 1;
        EXPECT_EQ(__QEXToolboxValidateList(bad), 0);
        EXPECT_EQ(ListNumItems(bad), 0u);
        EXPECT_EQ(ListGetItemSize(bad), 0);
        EXPECT_EQ(ListGetDataPtr(bad), nullptr);
        EXPECT_EQ(ListGetPtrToItem(bad, 1), nullptr);
        EXPECT_EQ(ListCopy(bad), nullptr);
        EXPECT_EQ(ListPreAllocate(bad, 1), 0);
        EXPECT_EQ(ListInsertItem(bad, &item, LIST_POS_END), 0);
        EXPECT_EQ(ListInsertItems(bad, &item, LIST_POS_END, 1), 0);
        EXPECT_EQ(ListInsertAfterItem(bad, &item, &item, nullptr), 0);
        EXPECT_EQ(ListInsertBeforeItem(bad, &item, &item, nullptr), 0);
        EXPECT_EQ(ListFindItem(bad, &item, 1, nullptr), 0u);
        EXPECT_EQ(ListFindItemInRange(bad, &item, 1, 2, nullptr), 0u);
        EXPECT_EQ(ListApplyToEach(bad, 1, walk_int, nullptr), 0);
        EXPECT_EQ(ListApplyToEachEx(bad, 1, walk_size, nullptr), 0);
        int out = -1;
        ListGetItem(bad, &out, 1);
        ListGetItems(bad, &out, 1, 1);
        EXPECT_EQ(out, -1);
        ListReplaceItem(bad, &item, 1);
        ListReplaceItems(bad, &item, 1, 1);
        ListRemoveItem(bad, &out, 1);
        ListRemoveItems(bad, &out, 1, 1);
        ListRemoveDuplicates(bad, nullptr);
        ListSetAllocationPolicy(bad, 1, 1);
        ListCompact(bad);
        ListClear(bad);
        ListDispose(bad);
        ListDisposePtrList(bad);
    }
    EXPECT_EQ(fake_record.numItems, 2);
    EXPECT_EQ(fake_record.capacity, 4u);
    EXPECT_EQ(fake_record.minItemsPerAlloc, 4);
    EXPECT_EQ(storage[0], 1);
}

TEST_F(ToolboxList, NullBuffersAreIgnored)
{
    ListType list = make_list({1, 2, 3});
    ListGetItem(list, nullptr, 1);
    ListGetItems(list, nullptr, 1, 2);
    ListReplaceItem(list, nullptr, 1);
    ListReplaceItems(list, nullptr, 1, 2);
    EXPECT_EQ(contents(list), (std::vector<int>{1, 2, 3}));
    ListDispose(list);
}

} // namespace
