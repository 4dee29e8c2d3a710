/* The node itself held at its stoppoints through the entry point of the built
 * module: an abort requested while it is held at a point comes back as 1039
 * with the outputs computed before that point, a fault raised there comes
 * back as 1138, the process lives on and the next call runs normally; and
 * single steps visit the node's points in the order its text passes them. */
#include <gtest/gtest.h>
#include <vector>
#include "debugger_fixture.h"
#include "field_model.h"
#include "standin_memory.h"
#include "standin_rte.h"

using namespace testing_support;

namespace {

constexpr int32_t kIncoming = 0x5A5A5A5A;

/* The node's text as a list of points, written out plainly: run(in, stop_at)
 * gives the outputs as they stand when the text reaches point stop_at (0:
 * never, the whole text), with untouched outputs at their incoming value,
 * and the points passed on the way. */
struct Partial {
    model::Out out;
    std::vector<int> passed;
    bool reached = false;
};

Partial run_points(model::In in, int stop_at)
{
    Partial p;
    model::Out &o = p.out;
    o = {kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming};
    auto at = [&](int point) {
        if (point == stop_at) p.reached = true;
        if (!p.reached) p.passed.push_back(point);
        return p.reached;
    };
    auto w = [](int64_t v) { return model::fold(v); };
    int64_t label = in.label, err = in.err_code, samp = in.samp, volt = in.volt;
    int64_t freq = in.freq, cap = in.cap, loss = in.loss, size = in.size;
    if (at(1)) return p;
    if (freq > 0) { if (at(2)) return p; freq = 1; }
    if (at(3)) return p;
    if (cap > 0) { if (at(4)) return p; cap = 1; }
    if (at(5)) return p;
    if (loss > 0) { if (at(6)) return p; loss = 1; }
    int64_t width = w(2 * label + 1);
    if (at(7)) return p;
    o.samp_indx = w(label + err);
    if (at(8)) return p;
    o.freq_indx = w(w(samp * w(label + 1)) + o.samp_indx);
    if (at(9)) return p;
    o.cap_indx = w(w(freq * width) + o.freq_indx);
    if (at(10)) return p;
    o.loss_indx = w(w(cap * width) + o.cap_indx);
    if (at(11)) return p;
    o.unit_indx = w(int64_t{o.loss_indx} + 1);
    if (at(12)) return p;
    o.volt_indx = w(w(loss * width) + o.loss_indx);
    if (at(13)) return p;
    o.err_msg_indx = w(w(w(volt * width) + o.volt_indx) - label);
    if (at(14)) return p;
    if (err != 0) {
        if (at(15)) return p;
        o.err_code_indx = 0;
        if (at(16)) return p;
        o.err_msg_indx = -1;
        if (at(17)) return p;
    } else {
        if (at(18)) return p;
        o.err_code_indx = -1;
    }
    if (at(19)) return p;
    size = w(size - 1);
    struct Check {
        int first;
        int32_t model::Out::*field;
        bool absent;
    };
    /* Steps 13 to 16, 18 and 19: an absence test, the range test, the assignment. */
    auto range_step = [&](int first, int32_t model::Out::*field, bool absent) {
        if (at(first)) return true;
        if (!absent) {
            if (at(first + 1)) return true;
            if (o.*field <= size) return false;
        }
        if (at(first + 2)) return true;
        o.*field = -1;
        return false;
    };
    if (range_step(20, &model::Out::samp_indx, samp == 0)) return p;
    if (range_step(23, &model::Out::freq_indx, freq == 0)) return p;
    if (range_step(26, &model::Out::cap_indx, cap == 0)) return p;
    if (range_step(29, &model::Out::loss_indx, loss == 0)) return p;
    if (at(32)) return p;
    bool unit_off = loss == 0;
    if (!unit_off) {
        if (at(33)) return p;
        unit_off = label == 0;
        if (!unit_off) {
            if (at(34)) return p;
            unit_off = o.unit_indx > size;
        }
    }
    if (unit_off) {
        if (at(35)) return p;
        o.unit_indx = -1;
    }
    if (range_step(36, &model::Out::volt_indx, volt == 0)) return p;
    if (range_step(39, &model::Out::err_msg_indx, err != 0)) return p;
    return p;
}

const model::In kInputs[] = {
    {1, 0, 1, 1, 1, 1, 1, 16}, {1, 0, 1, 1, 1, 1, 1, 14}, {0, 1, 1, 5, 0, 1, 0, 4},
    {0, 0, 1, -2, 1, 1, 1, 10}, {1, 0, 2, 1, 0, 0, 0, 0},  {3, 7, 0, 0, 9, -1, 2, INT32_MIN},
};

/* The plain model agrees with the independent model of the whole computation. */
TEST(NodePoints, ModelOfThePointsAgreesWithTheWholeComputation)
{
    for (const model::In &in : kInputs) EXPECT_EQ(run_points(in, 0).out, model::positions(in));
}

DebuggedModule g;

struct Result {
    model::Out out;
    __cnode_gwerror cluster{};
};

class NodeDebug : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g.load()); }
    void SetUp() override
    {
        g.quiet();
        standin_mem_reset();
        g.node.reserve(&instance_);
    }
    void TearDown() override
    {
        g.node.unreserve(&instance_);
        g.quiet();
    }

    /* One call of the entry point on this thread. */
    Result call(const model::In &in)
    {
        Result r;
        r.out = {kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming, kIncoming};
        r.cluster.source = standin_mem_new_string("", 0);
        model::Out &o = r.out;
        g.node.entry(&instance_, in.cap, in.err_code, in.freq, in.label, in.loss, in.samp, in.size, in.volt,
                     &o.cap_indx, &o.err_code_indx, &o.err_msg_indx, &r.cluster, &o.freq_indx, &o.loss_indx,
                     &o.samp_indx, &o.unit_indx, &o.volt_indx);
        return r;
    }

    int instance_ = 0;
};

/* Every point the default inputs pass, held and aborted from this thread. */
TEST_F(NodeDebug, AbortWhileHeldAtAPointReturns1039WithTheOutputsComputedSoFar)
{
    const model::In in = kInputs[0];
    std::vector<int> points = run_points(in, 0).passed;
    ASSERT_EQ(points.size(), 31u);
    for (int point : points) {
        SCOPED_TRACE(point);
        g.stoppoint_table[point] = 1;
        Result r;
        Runner node([&] { r = call(in); });
        standin_dbg_stop_t stop{};
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop), 1);
        EXPECT_EQ(stop.entry, &g.stoppoint_table[point]) << "held at another point";
        EXPECT_EQ(g.node.abort(&instance_), 0);
        standin_dbg_release(stop.id);
        ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
        g.stoppoint_table[point] = 0;
        EXPECT_EQ(r.cluster.status, 1);
        EXPECT_EQ(r.cluster.code, 1039);
        EXPECT_EQ(r.out, run_points(in, point).out);
        EXPECT_EQ(*g.cnode_abort_flag, 0) << "the pending count comes back to 0";

        Result next = call(in);
        EXPECT_EQ(next.cluster.status, 0);
        EXPECT_EQ(next.out, model::positions(in));
    }
}

TEST_F(NodeDebug, FaultAtAPointReturns1138AndTheProcessLivesOn)
{
    for (const model::In &in : {kInputs[0], kInputs[2], kInputs[5]}) {
        for (int point : {1, 9, 14, 19, 32}) {
            Partial expected = run_points(in, point);
            if (!expected.reached) continue;
            SCOPED_TRACE(testing::Message() << "point " << point << ", label " << in.label);
            g.stoppoint_table[point] = 1;
            standin_dbg_fault_next_barrier(0, &g.stoppoint_table[point]);
            Result r = call(in);
            g.stoppoint_table[point] = 0;
            EXPECT_EQ(r.cluster.status, 1);
            EXPECT_EQ(r.cluster.code, 1138);
            EXPECT_EQ(r.out, expected.out);
            EXPECT_EQ(standin_dbg_arrivals(STANDIN_DBG_BREAK), 0) << "the fault struck before any stop";
            standin_dbg_reset();

            Result next = call(in);
            EXPECT_EQ(next.cluster.status, 0);
            EXPECT_EQ(next.out, model::positions(in));
        }
    }
}

/* Stepping with next from the first point visits every point the text passes,
 * in order, each at the frame of the node's text. */
TEST_F(NodeDebug, SteppingVisitsThePointsInTheOrderTheTextPassesThem)
{
    for (const model::In &in : {kInputs[0], kInputs[2], kInputs[3]}) {
        SCOPED_TRACE(in.label);
        g.quiet();
        std::vector<int> expected = run_points(in, 0).passed;
        g.stoppoint_table[1] = 1;
        Result r;
        Runner node([&] { r = call(in); });
        std::vector<int> visited;
        uint64_t frame = 0;
        standin_dbg_stop_t stop{};
        while (standin_dbg_wait_stop(kArrivalTimeoutMs, &stop) == 1) {
            visited.push_back(static_cast<int>(stop.entry - g.stoppoint_table));
            if (frame == 0) frame = stop.frame_address;
            EXPECT_EQ(stop.frame_address, frame);
            *g.global_flag = 1;
            g.control->global_flag = 1;
            g.control->single_step_thread = stop.thread_id;
            g.control->single_step_frame = stop.frame_address;
            g.control->single_step_flag = 2;
            standin_dbg_release(stop.id);
            if (visited.size() == expected.size()) break;
        }
        g.control->single_step_flag = 0;
        standin_dbg_release_all();
        ASSERT_TRUE(node.finished_within(kArrivalTimeoutMs));
        EXPECT_EQ(visited, expected);
        EXPECT_EQ(r.cluster.status, 0);
        EXPECT_EQ(r.out, model::positions(in));
    }
}

} // namespace
