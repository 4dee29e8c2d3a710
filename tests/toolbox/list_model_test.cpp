/* Long random sequences of list operations, checked after every step against
 * a std::vector model. Seeds are fixed so that a failure repeats; sizes stay
 * bounded so that every kind of position (front, end, inside, one past, out of
 * range) keeps coming up. */
#include <gtest/gtest.h>
#include <string>
#include <algorithm>
#include <random>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

using Model = std::vector<int>;

class ToolboxListModel : public ToolboxTest, public ::testing::WithParamInterface<uint32_t> {};

/* Position resolution as the list defines it, for reading and for insertion. */
ptrdiff_t model_read_position(const Model &m, ptrdiff_t p)
{
    ptrdiff_t n = static_cast<ptrdiff_t>(m.size());
    ptrdiff_t r = p == LIST_POS_FRONT ? 1 : p == LIST_POS_END ? n : p;
    return r >= 1 && r <= n ? r : 0;
}

ptrdiff_t model_insert_position(const Model &m, ptrdiff_t p)
{
    ptrdiff_t n = static_cast<ptrdiff_t>(m.size());
    if (p == LIST_POS_END) return n + 1;
    if (p == LIST_POS_FRONT) return n ? 1 : n + 1;
    return p >= 1 && p <= n + 1 ? p : 0;
}

struct Runner {
    std::mt19937 random;
    ListType list;
    Model model;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

    ptrdiff_t any_position()
    {
        ptrdiff_t n = static_cast<ptrdiff_t>(model.size());
        switch (pick(0, 5)) {
        case 0: return LIST_POS_FRONT;
        case 1: return LIST_POS_END;
        case 2: return n + 1;
        case 3: return n + 2;
        default: return pick(1, static_cast<int>(n) + 1);
        }
    }

    std::vector<int> fresh_items(int count)
    {
        std::vector<int> items(static_cast<size_t>(count));
        for (int &v : items) v = pick(0, 9); /* few values: searches and duplicates find something */
        return items;
    }

    void insert()
    {
        ptrdiff_t p = any_position();
        int count = pick(0, 4);
        bool zeros = pick(0, 7) == 0;
        std::vector<int> items = zeros ? std::vector<int>(static_cast<size_t>(count)) : fresh_items(count);
        ptrdiff_t at = model_insert_position(model, p);
        int expected = count > 0 && at ? 1 : 0;
        int result = count == 1 && pick(0, 1) ? ListInsertItem(list, zeros ? nullptr : items.data(), p)
                                              : ListInsertItems(list, zeros ? nullptr : items.data(), p, count);
        ASSERT_EQ(result, expected) << "insert at " << p << " count " << count;
        if (expected) model.insert(model.begin() + (at - 1), items.begin(), items.end());
    }

    void remove()
    {
        ptrdiff_t p = any_position();
        int count = pick(0, 3);
        ptrdiff_t first = model_read_position(model, p);
        bool fits = count > 0 && first && first + count - 1 <= static_cast<ptrdiff_t>(model.size());
        std::vector<int> out(4, -1);
        ListRemoveItems(list, pick(0, 1) ? out.data() : nullptr, p, count);
        if (fits) model.erase(model.begin() + (first - 1), model.begin() + (first - 1 + count));
    }

    void get_and_replace()
    {
        ptrdiff_t p = any_position();
        int count = pick(1, 3);
        ptrdiff_t first = model_read_position(model, p);
        bool fits = first && first + count - 1 <= static_cast<ptrdiff_t>(model.size());
        std::vector<int> out(3, -1);
        ListGetItems(list, out.data(), p, count);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(out[static_cast<size_t>(i)], fits && i < count ? model[static_cast<size_t>(first - 1 + i)] : -1);
        std::vector<int> items = fresh_items(count);
        ListReplaceItems(list, items.data(), p, count);
        if (fits) std::copy(items.begin(), items.end(), model.begin() + (first - 1));
    }

    void find()
    {
        int wanted = pick(0, 9);
        ptrdiff_t start = any_position(), end = any_position();
        ptrdiff_t s = model_read_position(model, start), e = model_read_position(model, end);
        size_t expected = 0;
        if (s && e) {
            ptrdiff_t step = s <= e ? 1 : -1;
            for (ptrdiff_t q = s;; q += step) {
                if (model[static_cast<size_t>(q - 1)] == wanted) {
                    expected = static_cast<size_t>(q);
                    break;
                }
                if (q == e) break;
            }
        }
        ASSERT_EQ(ListFindItemInRange(list, &wanted, start, end, pick(0, 1) ? compare_ints : nullptr), expected)
            << start << ".." << end;
    }

    void insert_around_match()
    {
        int wanted = pick(0, 9), item = pick(0, 9);
        auto match = std::find(model.begin(), model.end(), wanted);
        if (pick(0, 1)) {
            ASSERT_EQ(ListInsertAfterItem(list, &item, &wanted, compare_ints), 1);
            model.insert(match == model.end() ? model.end() : match + 1, item);
        } else {
            ASSERT_EQ(ListInsertBeforeItem(list, &item, &wanted, nullptr), 1);
            model.insert(match == model.end() ? model.begin() : match, item);
        }
    }

    void append_copy()
    {
        ListType copy = ListCopy(list);
        ASSERT_EQ(ListEqual(copy, list), 1);
        if (pick(0, 1)) {
            ASSERT_EQ(ListAppend(list, copy), 1);
        } else {
            ASSERT_EQ(ListAppend(list, list), 1);
        }
        Model doubled = model;
        model.insert(model.end(), doubled.begin(), doubled.end());
        ListDispose(copy);
    }

    void remove_duplicates()
    {
        ListRemoveDuplicates(list, pick(0, 1) ? compare_ints : nullptr);
        Model unique;
        for (int v : model)
            if (std::find(unique.begin(), unique.end(), v) == unique.end()) unique.push_back(v);
        model = unique;
    }

    void step()
    {
        switch (pick(0, 15)) {
        case 0: case 1: case 2: case 3: insert(); break;
        case 4: case 5: case 6: remove(); break;
        case 7: get_and_replace(); break;
        case 8: case 9: find(); break;
        case 10: insert_around_match(); break;
        case 11: if (model.size() < 40) append_copy(); break;
        case 12: if (pick(0, 5) == 0) remove_duplicates(); break;
        case 13: ListCompact(list); break;
        case 14: ASSERT_EQ(ListPreAllocate(list, static_cast<size_t>(pick(0, 20))), 1); break;
        case 15:
            if (pick(0, 9) == 0) {
                ListClear(list);
                model.clear();
            }
            break;
        }
        if (model.size() > 150) { /* keep sizes bounded */
            ListRemoveItems(list, nullptr, 1, 100);
            model.erase(model.begin(), model.begin() + 100);
        }
    }

    void check() const
    {
        ASSERT_EQ(ListNumItems(list), model.size());
        ASSERT_LE(static_cast<uint64_t>(view(list).numItems), view(list).capacity);
        const int *data = static_cast<const int *>(ListGetDataPtr(list));
        ASSERT_TRUE(model.empty() || std::equal(model.begin(), model.end(), data));
    }
};

TEST_P(ToolboxListModel, RandomSequencesAgreeWithAVector)
{
    Runner runner{std::mt19937(GetParam()), ListCreate(sizeof(int)), {}};
    for (int i = 0; i < 4000; ++i) {
        ASSERT_NO_FATAL_FAILURE(runner.step()) << "step " << i;
        ASSERT_NO_FATAL_FAILURE(runner.check()) << "step " << i;
    }
    ListDispose(runner.list);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ToolboxListModel, ::testing::Values(1u, 2u, 3u, 1234u, 0xC0FFEEu),
                         [](const auto &info) { return "seed_" + std::to_string(info.param); });

} // namespace
