/* The table of the node's stoppoint entries and the replay of its text that
 * yields the locals at an entry. The replay instantiates the node's own text
 * (node_text.h) with a stop action that snapshots the locals, so it cannot
 * drift from what the module runs. */
#include "node_points.h"
#include <cstring>
#include "node_text.h"

namespace cnode_run {

namespace {

constexpr NodePoint kPoints[] = {
    {1, 1, "test", "freq > 0"},
    {2, 1, "assignment", "freq = 1"},
    {3, 2, "test", "cap > 0"},
    {4, 2, "assignment", "cap = 1"},
    {5, 3, "test", "loss > 0"},
    {6, 3, "assignment", "loss = 1"},
    {7, 4, "assignment", "samp_indx = label + err_code"},
    {8, 5, "assignment", "freq_indx = samp * (label + 1) + samp_indx"},
    {9, 6, "assignment", "cap_indx = freq * (2 * label + 1) + freq_indx"},
    {10, 7, "assignment", "loss_indx = cap * (2 * label + 1) + cap_indx"},
    {11, 8, "assignment", "unit_indx = loss_indx + 1"},
    {12, 9, "assignment", "volt_indx = loss * (2 * label + 1) + loss_indx"},
    {13, 10, "assignment", "err_msg_indx = volt * (2 * label + 1) + volt_indx - label"},
    {14, 11, "test", "err_code != 0"},
    {15, 11, "non-zero branch, first assignment", "err_code_indx = 0"},
    {16, 11, "non-zero branch, second assignment", "err_msg_indx = -1"},
    {17, 11, "end of the non-zero branch", "}"},
    {18, 11, "zero branch, assignment", "err_code_indx = -1"},
    {19, 12, "assignment", "size = size - 1"},
    {20, 13, "first condition", "samp == 0"},
    {21, 13, "second condition", "samp_indx > size"},
    {22, 13, "assignment", "samp_indx = -1"},
    {23, 14, "first condition", "freq == 0"},
    {24, 14, "second condition", "freq_indx > size"},
    {25, 14, "assignment", "freq_indx = -1"},
    {26, 15, "first condition", "cap == 0"},
    {27, 15, "second condition", "cap_indx > size"},
    {28, 15, "assignment", "cap_indx = -1"},
    {29, 16, "first condition", "loss == 0"},
    {30, 16, "second condition", "loss_indx > size"},
    {31, 16, "assignment", "loss_indx = -1"},
    {32, 17, "first condition", "loss == 0"},
    {33, 17, "second condition", "label == 0"},
    {34, 17, "third condition", "unit_indx > size"},
    {35, 17, "assignment", "unit_indx = -1"},
    {36, 18, "first condition", "volt == 0"},
    {37, 18, "second condition", "volt_indx > size"},
    {38, 18, "assignment", "volt_indx = -1"},
    {39, 19, "first condition", "err_code != 0"},
    {40, 19, "second condition", "err_msg_indx > size"},
    {41, 19, "assignment", "err_msg_indx = -1"},
};
static_assert(sizeof kPoints / sizeof kPoints[0] == kLastEntry);

/* The entries whose statement assigns an output, with the output's name. */
struct Assignment {
    int entry;
    const char *output;
};
constexpr Assignment kAssignments[] = {
    {7, "samp_indx"},      {8, "freq_indx"},      {9, "cap_indx"},       {10, "loss_indx"},
    {11, "unit_indx"},     {12, "volt_indx"},     {13, "err_msg_indx"},  {15, "err_code_indx"},
    {16, "err_msg_indx"},  {18, "err_code_indx"}, {22, "samp_indx"},     {25, "freq_indx"},
    {28, "cap_indx"},      {31, "loss_indx"},     {35, "unit_indx"},     {38, "volt_indx"},
    {41, "err_msg_indx"},
};

const char *assigned_output(int entry)
{
    for (const Assignment &a : kAssignments)
        if (a.entry == entry) return a.output;
    return nullptr;
}

__cnode_node_locals initial_locals(const Inputs &in)
{
    __cnode_node_locals l;
    l.cap = in.cap;
    l.err_code = in.err_code;
    l.freq = in.freq;
    l.label = in.label;
    l.loss = in.loss;
    l.samp = in.samp;
    l.size = in.size;
    l.volt = in.volt;
    for (volatile int32_t *output : {&l.cap_indx, &l.err_code_indx, &l.err_msg_indx, &l.freq_indx, &l.loss_indx,
                                     &l.samp_indx, &l.unit_indx, &l.volt_indx})
        *output = 0;
    return l;
}

void copy_locals(const __cnode_node_locals &l, LocalsAt &out)
{
    out.cap = l.cap;
    out.err_code = l.err_code;
    out.freq = l.freq;
    out.label = l.label;
    out.loss = l.loss;
    out.samp = l.samp;
    out.size = l.size;
    out.volt = l.volt;
    out.cap_indx = l.cap_indx;
    out.err_code_indx = l.err_code_indx;
    out.err_msg_indx = l.err_msg_indx;
    out.freq_indx = l.freq_indx;
    out.loss_indx = l.loss_indx;
    out.samp_indx = l.samp_indx;
    out.unit_indx = l.unit_indx;
    out.volt_indx = l.volt_indx;
}

} // namespace

const NodePoint *node_point(int entry)
{
    return entry >= kFirstEntry && entry <= kLastEntry ? &kPoints[entry - 1] : nullptr;
}

std::string describe_point(int entry)
{
    const NodePoint *p = node_point(entry);
    if (!p) return "not a point of the node's text";
    return "step " + std::to_string(p->step) + ", " + p->part + ": " + p->code;
}

LocalsAt locals_at(const Inputs &in, int entry)
{
    __cnode_node_locals l = initial_locals(in);
    LocalsAt result;
    std::vector<std::string> assigned;
    cnode_text::run(&l, [&](int passing) {
        if (result.reached) return;
        if (passing == entry) {
            result.reached = true;
            copy_locals(l, result);
            result.assigned = assigned;
            return;
        }
        if (const char *output = assigned_output(passing)) {
            bool seen = false;
            for (const std::string &name : assigned) seen = seen || name == output;
            if (!seen) assigned.emplace_back(output);
        }
    });
    return result;
}

std::vector<int> entries_passed(const Inputs &in)
{
    __cnode_node_locals l = initial_locals(in);
    std::vector<int> entries;
    cnode_text::run(&l, [&](int passing) { entries.push_back(passing); });
    return entries;
}

} // namespace cnode_run
