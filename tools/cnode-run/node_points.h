/* The node's 41 stoppoint entries as a debugger describes them: which of the
 * nineteen steps, which part of it, and the statement or condition; and the
 * node's locals as they stand when the thread reaches an entry. */
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "options.h"

namespace cnode_run {

constexpr int kFirstEntry = 1, kLastEntry = 41;

struct NodePoint {
    int entry;
    int step;          /* 1 to 19 */
    const char *part;  /* "test", "assignment", "first condition", ... */
    const char *code;  /* the statement or condition as the node's text has it */
};

/* The point of an entry, or null outside 1..41. */
const NodePoint *node_point(int entry);
/* "step 13, second condition: samp_indx > size" */
std::string describe_point(int entry);

/* The sixteen locals just before the point of an entry runs, with a mark for
 * each output the text has assigned by then. */
struct LocalsAt {
    bool reached = false; /* false: the text does not pass this entry for these inputs */
    int32_t cap = 0, err_code = 0, freq = 0, label = 0, loss = 0, samp = 0, size = 0, volt = 0;
    int32_t cap_indx = 0, err_code_indx = 0, err_msg_indx = 0, freq_indx = 0, loss_indx = 0, samp_indx = 0,
            unit_indx = 0, volt_indx = 0;
    std::vector<std::string> assigned; /* outputs computed so far, in the order they were */
};

/* Runs the node's own text on the inputs (outputs starting at 0, as the host
 * passes them) up to the entry. The text is deterministic, so this is the
 * state the held node thread has at that point. */
LocalsAt locals_at(const Inputs &in, int entry);
/* The entries the text passes for these inputs, in order. */
std::vector<int> entries_passed(const Inputs &in);

} // namespace cnode_run
