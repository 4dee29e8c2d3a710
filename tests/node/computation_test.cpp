/* The node's computation: the reply-line cases, wrap-around at the 32-bit
 * limits, negative settings, the range checks against size - 1, and which
 * stoppoints execution passes. */
#include <gtest/gtest.h>
#include <climits>
#include <random>
#include <vector>
#include "field_model.h"
#include "node_text.h"

namespace {

struct Case {
    const char *name;
    model::In in;
    model::Out expected; /* samp, freq, cap, loss, unit, volt, err_code, err_msg */
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

model::Out run_text(const model::In &in)
{
    __cnode_node_locals l{};
    l.label = in.label; l.err_code = in.err_code; l.samp = in.samp; l.freq = in.freq;
    l.cap = in.cap; l.loss = in.loss; l.volt = in.volt; l.size = in.size;
    __cnode_node_text(&l); /* the module's own build, with its stoppoints */
    return {l.samp_indx, l.freq_indx, l.cap_indx, l.loss_indx, l.unit_indx, l.volt_indx, l.err_code_indx,
            l.err_msg_indx};
}

const Case kCases[] = {
    /*            label err samp freq cap loss volt size */
    {"all fields, labels on", {1, 0, 1, 1, 1, 1, 1, 16}, {1, 3, 6, 9, 10, 12, -1, 14}},
    {"last position 13 drops the message", {1, 0, 1, 1, 1, 1, 1, 14}, {1, 3, 6, 9, 10, 12, -1, -1}},
    {"last position 14 keeps the message", {1, 0, 1, 1, 1, 1, 1, 15}, {1, 3, 6, 9, 10, 12, -1, 14}},
    {"labels off, error present", {0, 1, 1, 5, 0, 1, 0, 4}, {1, 2, -1, 3, -1, -1, 0, -1}},
    {"sample of 2 shifts by label + 1 per sample", {1, 0, 2, 1, 0, 0, 0, 100}, {1, 5, -1, -1, -1, -1, -1, 7}},
    {"negative frequency is kept", {0, 0, 1, -2, 1, 1, 1, 10}, {0, 1, -1, 0, -1, 1, -1, 2}},
    {"size 0 removes every position", {1, 0, 1, 1, 1, 1, 1, 0}, {-1, -1, -1, -1, -1, -1, -1, -1}},
    {"size 0 keeps the error code token", {1, 7, 1, 1, 1, 1, 1, 0}, {-1, -1, -1, -1, -1, -1, 0, -1}},
    {"smallest size wraps to the largest last position",
     {1, 0, 1, 1, 1, 1, 1, INT32_MIN}, {1, 3, 6, 9, 10, 12, -1, 14}},
    {"label wraps: 2 * label + 1 overflows", {INT32_MAX, 0, 1, 1, 1, 1, 1, INT32_MAX},
     /* samp_indx = MAX lies past MAX - 1; label + 1 = MIN; freq_indx = MIN + MAX = -1;
      * W = -1; err_msg_indx = -1 - 4 - MAX wraps to MAX - 3 */
     {-1, -1, -2, -3, -2, -4, -1, INT32_MAX - 3}},
    {"large sample multiplies past the limit", {1, 0, INT32_MAX, 0, 0, 0, 0, INT32_MAX},
     /* freq_indx = MAX * 2 + 1 wraps to -1 */
     {1, -1, -1, -1, -1, -1, -1, -2}},
    {"negative positions pass the range check", {0, INT32_MIN, 1, 1, 1, 1, 1, 5},
     {INT32_MIN, INT32_MIN + 1, INT32_MIN + 2, INT32_MIN + 3, -1, INT32_MIN + 4, 0, -1}},
    {"negative label makes W negative", {-1, 0, 1, 1, 1, 1, 1, 10}, {-1, -1, -2, -3, -2, -4, -1, -4}},
    {"absent fields stay -1 whatever the size", {1, 0, 0, 0, 0, 0, 0, 100}, {-1, -1, -1, -1, -1, -1, -1, 0}},
};

class ComputationCase : public ::testing::TestWithParam<Case> {};

TEST_P(ComputationCase, ModuleTextGivesThePositions)
{
    const Case &c = GetParam();
    EXPECT_EQ(run_text(c.in), c.expected);
}

TEST_P(ComputationCase, IndependentModelAgrees)
{
    const Case &c = GetParam();
    EXPECT_EQ(model::positions(c.in), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ComputationCase, ::testing::ValuesIn(kCases),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             for (char &ch : n) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(Computation, RandomInputsAgreeWithTheModel)
{
    std::mt19937 rng(20261209);
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 1, 2, 3, INT32_MAX - 1, INT32_MAX};
    auto pick = [&]() -> int32_t {
        switch (rng() % 3) {
        case 0: return extremes[rng() % 10];
        case 1: return static_cast<int32_t>(rng() % 9) - 3;
        default: return static_cast<int32_t>(rng());
        }
    };
    for (int i = 0; i < 20000; ++i) {
        model::In in{pick(), pick(), pick(), pick(), pick(), pick(), pick(), pick()};
        ASSERT_EQ(run_text(in), model::positions(in)) << "case " << i;
    }
}

/* Which stoppoints the text passes: a point that is short-circuited or whose
 * assignment is skipped makes no call. */
std::vector<int> entries_passed(model::In in)
{
    __cnode_node_locals l{};
    l.label = in.label; l.err_code = in.err_code; l.samp = in.samp; l.freq = in.freq;
    l.cap = in.cap; l.loss = in.loss; l.volt = in.volt; l.size = in.size;
    std::vector<int> seen;
    cnode_text::run(&l, [&](int entry) { seen.push_back(entry); });
    return seen;
}

TEST(Computation, StoppointsOnlyOnThePointsPassed)
{
    struct StopCase {
        model::In in;
        std::vector<int> entries;
    } cases[] = {
        /* every field present and in range, no error: every first and second
         * condition is tested, no assignment of steps 13 to 19 runs */
        {{1, 0, 1, 1, 1, 1, 1, 16},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 18, 19, 20, 21, 23, 24, 26, 27, 29, 30, 32, 33, 34, 36,
          37, 39, 40}},
        /* nothing present, error set, labels off: clamps skipped, first
         * conditions decide, the error branch runs */
        {{0, 5, 0, 0, 0, 0, 0, 1},
         {1, 3, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20, 22, 23, 25, 26, 28, 29, 31, 32, 35, 36, 38,
          39, 41}},
        /* loss present, labels off: step 17 stops at its second condition */
        {{0, 0, 1, 0, 0, 3, 0, 0},
         {1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 18, 19, 20, 21, 22, 23, 25, 26, 28, 29, 30, 31, 32, 33, 35, 36,
          38, 39, 40, 41}},
    };
    for (const auto &c : cases) EXPECT_EQ(entries_passed(c.in), c.entries);
}

TEST(Computation, StoppointTableHasFortyTwoEntriesAllClear)
{
    EXPECT_EQ(sizeof(__qex_stoppoint_table), 42u);
    for (unsigned char b : __qex_stoppoint_table) EXPECT_EQ(b, 0);
}

} // namespace
