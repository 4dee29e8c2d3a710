/* List ordering against an independent model of the quick sort's steps (same
 * result order, same number of comparisons), against std::sort and
 * std::stable_sort on random data, and bisection places. */
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class ListOrder : public ToolboxTest {};

/* Item of 8 bytes: the key orders, the tag tells equal keys apart. */
struct Tagged {
    int key, tag;
    bool operator==(const Tagged &) const = default;
};

long g_compares = 0;
int by_key(const void *a, const void *b)
{
    ++g_compares;
    return compare_ints(a, b);
}

/* The quick sort as a list of steps over indices: median of three, pivot
 * parked before hi, partition, larger side pending, smaller side next. */
long model_quick_sort(std::vector<Tagged> &v)
{
    long compares = 0;
    auto greater = [&](int a, int b) { return ++compares, v[a].key > v[b].key; };
    auto less = [&](int a, int b) { return ++compares, v[a].key < v[b].key; };
    std::vector<std::pair<int, int>> pending;
    if (v.size() < 2) return 0;
    int lo = 0, hi = static_cast<int>(v.size()) - 1;
    for (;;) {
        int n = hi - lo + 1;
        if (n >= 2) {
            int mid = n == 2 ? hi : lo + (n - 1) / 2;
            if (greater(lo, mid)) std::swap(v[lo], v[mid]);
            if (n > 2 && greater(lo, hi)) std::swap(v[lo], v[hi]);
            if (n > 2 && greater(mid, hi)) std::swap(v[mid], v[hi]);
            if (n > 3) {
                int pivot = hi - 1, i = lo, j = pivot;
                std::swap(v[mid], v[pivot]);
                for (;;) {
                    for (++i; i < pivot && less(i, pivot); ++i) {}
                    for (--j; j > lo && greater(j, pivot); --j) {}
                    if (i >= j) break;
                    std::swap(v[i], v[j]);
                }
                std::swap(v[pivot], v[i]);
                if (hi - i < i - lo) {
                    if (i - 1 > lo) pending.push_back({lo, i - 1});
                    lo = i;
                } else {
                    if (i + 1 < hi) pending.push_back({i + 1, hi});
                    hi = i;
                }
                continue;
            }
        }
        if (pending.empty()) return compares;
        std::tie(lo, hi) = pending.back();
        pending.pop_back();
    }
}

ListType list_from(const void *items, size_t count, size_t size)
{
    ListType list = ListCreate(size);
    if (count) ListInsertItems(list, items, LIST_POS_END, static_cast<ptrdiff_t>(count));
    return list;
}

template <typename T>
std::vector<T> items_of(ListType list)
{
    const T *data = static_cast<const T *>(ListGetDataPtr(list));
    return std::vector<T>(data, data + ListNumItems(list));
}

std::vector<Tagged> random_tagged(std::mt19937 &rng, size_t n, int range)
{
    std::vector<Tagged> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = {static_cast<int>(rng() % static_cast<unsigned>(range)), static_cast<int>(i)};
    return v;
}

TEST_F(ListOrder, QuickSortFollowsItsStepsExactly)
{
    std::mt19937 rng(20261210);
    const size_t sizes[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 16, 17, 33, 100, 1000, 5000};
    for (size_t n : sizes)
        for (int range : {2, 10, 1 << 30}) {
            std::vector<Tagged> v = random_tagged(rng, n, range), model = v;
            long expected = model_quick_sort(model);
            ListType list = list_from(v.data(), n, sizeof(Tagged));
            g_compares = 0;
            ListQuickSort(list, by_key);
            EXPECT_EQ(g_compares, expected) << n << " items, keys below " << range;
            EXPECT_EQ(items_of<Tagged>(list), model) << n << " items, keys below " << range;
            ListDispose(list);
        }
}

TEST_F(ListOrder, TinyInputsTakeOneAndThreeComparisons)
{
    for (std::vector<int> v : {std::vector<int>{9, 4}, {1, 2, 3}, {1, 3, 2}, {2, 1, 3}, {2, 3, 1}, {3, 1, 2}, {3, 2, 1}}) {
        ListType list = list_from(v.data(), v.size(), sizeof(int));
        g_compares = 0;
        ListQuickSort(list, by_key);
        EXPECT_EQ(g_compares, v.size() == 2 ? 1 : 3);
        std::sort(v.begin(), v.end());
        EXPECT_EQ(items_of<int>(list), v);
        ListDispose(list);
    }
}

TEST_F(ListOrder, SortsAgreeWithTheStandardSorts)
{
    std::mt19937 rng(7);
    for (size_t n : {0u, 1u, 2u, 3u, 31u, 128u, 2000u}) {
        std::vector<Tagged> v = random_tagged(rng, n, 50), stable = v;
        std::stable_sort(stable.begin(), stable.end(), [](auto &a, auto &b) { return a.key < b.key; });
        std::vector<int> keys;
        for (auto &t : stable) keys.push_back(t.key);
        for (auto sort : {ListQuickSort, ListHeapSort, ListInsertionSort}) {
            ListType list = list_from(v.data(), n, sizeof(Tagged));
            sort(list, by_key);
            std::vector<Tagged> got = items_of<Tagged>(list);
            std::vector<int> got_keys;
            for (auto &t : got) got_keys.push_back(t.key);
            EXPECT_EQ(got_keys, keys) << n;
            EXPECT_TRUE(sort != ListInsertionSort || got == stable) << "insertion sort is stable, " << n << " items";
            EXPECT_EQ(ListIsSorted(list, by_key), 1);
            ListDispose(list);
        }
    }
}

/* Null compare: memcmp over the item size, with every swap unit (5 bytes
 * byte-wise, 6 in 16-bit units, 12 in 32-bit units) moving whole items. */
TEST_F(ListOrder, NullCompareSortsRawBytesForEverySwapUnit)
{
    std::mt19937 rng(3);
    for (size_t size : {1u, 2u, 5u, 6u, 12u}) {
        std::vector<std::string> items(300);
        for (auto &s : items) {
            s.resize(size);
            for (auto &c : s) c = static_cast<char>(rng() % 4);
        }
        std::string flat;
        for (auto &s : items) flat += s;
        ListType list = list_from(flat.data(), items.size(), size);
        ListQuickSort(list, nullptr);
        std::sort(items.begin(), items.end());
        std::string sorted;
        for (auto &s : items) sorted += s;
        EXPECT_EQ(std::string(static_cast<char *>(ListGetDataPtr(list)), flat.size()), sorted) << size;
        ListDispose(list);
    }
    int le[] = {1, 256};
    ListType list = list_from(le, 2, sizeof(int));
    ListQuickSort(list, nullptr);
    EXPECT_EQ(items_of<int>(list), (std::vector<int>{256, 1})); /* 00 01 .. sorts before 01 00 .. */
    ListDispose(list);
}

TEST_F(ListOrder, BisectionFindsAndPlaces)
{
    struct Case {
        std::vector<int> keys;
        int sought;
        size_t found; /* ListBinSearch */
        size_t place; /* where ListInsertInOrder puts it */
    };
    const Case cases[] = {
        {{}, 5, 0, 1},           {{5}, 5, 1, 1},          {{1, 3, 5, 7}, 1, 1, 1},     {{1, 3, 5, 7}, 8, 0, 5},
        {{1, 3, 5, 7}, 4, 0, 3}, {{1, 3, 5, 7}, 0, 0, 1}, {{2, 2, 2, 2, 2}, 2, 3, 3}, {{1, 2, 2, 2, 9, 9}, 9, 5, 5},
    };
    for (const Case &c : cases) {
        std::vector<Tagged> items;
        for (int k : c.keys) items.push_back({k, static_cast<int>(items.size())});
        ListType list = list_from(items.data(), items.size(), sizeof(Tagged));
        Tagged sought{c.sought, 99};
        EXPECT_EQ(ListBinSearch(list, &sought, by_key), c.found) << c.sought;
        EXPECT_EQ(ListInsertInOrder(list, &sought, by_key), 1);
        items.insert(items.begin() + static_cast<ptrdiff_t>(c.place - 1), sought);
        EXPECT_EQ(items_of<Tagged>(list), items) << c.sought;
        ListDispose(list);
    }
    int any = 1;
    EXPECT_EQ(ListBinSearch(nullptr, &any, IntCompare), 0u);
    EXPECT_EQ(ListInsertInOrder(nullptr, &any, IntCompare), 0);
}

TEST_F(ListOrder, CompareFunctionsAnswerMinusOneZeroOne)
{
    short s[] = {-5, 3};
    float f[] = {1.5f, std::nanf("")};
    double d[] = {-0.0, 0.0};
    const char *t[] = {"abc", "ABD"};
    EXPECT_EQ((std::vector<int>{ShortCompare(&s[0], &s[1]), ShortCompare(&s[1], &s[0]), FloatCompare(&f[0], &f[1]),
                                DoubleCompare(&d[0], &d[1]), CStringCompare(&t[0], &t[1]) > 0,
                                CStringNoCaseCompare(&t[0], &t[1]) < 0}),
              (std::vector<int>{-1, 1, 0, 0, 1, 1})); /* unordered and signed zeros compare equal */
}

}  // namespace
