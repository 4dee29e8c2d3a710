/* cnode-run's debugging flags and the two ways it debugs the node:
 *
 *   --break N[,M...]          hold the node at those stoppoint entries (1 to 41)
 *   --step into|next|over|out step from the first stop (from entry 1 without --break)
 *   --abort-at N              a second thread requests the abort when the node reaches entry N
 *   --fault-at N              the node's thread faults at entry N
 *   --trace                   print every message of the debugger channel
 *
 * With any of the first four the node runs on a thread of its own in this
 * process with the debugger library loaded, and this program plays the
 * debugger. --trace alone runs the node in a child process under the Windows
 * debug API, without the library, and prints each debug string the child
 * sends; with the library loaded it prints the library's log instead. */
#pragma once
#include <optional>
#include <string>
#include <vector>
#include "host.h"
#include "options.h"

namespace cnode_run {

struct DebugRequest {
    std::vector<int> breaks;
    int step = 0; /* 0 none, else the control block's step type */
    bool trace = false;
    int abort_at = 0, fault_at = 0;
    bool needs_library() const { return !breaks.empty() || step != 0 || abort_at != 0 || fault_at != 0; }
};

bool is_debug_flag(const std::string &flag, bool &takes_value);
/* Reads the debugging flags kept in Options::extra; an error message for bad usage. */
std::optional<std::string> parse_debug_flags(const std::vector<std::string> &extra, DebugRequest &request);

/* Runs the node once under the debugger library; returns the exit status. */
int run_debug_session(const Options &options, const DebugRequest &request, Host &host);
/* Runs this program again, without --trace, as a debugged child; returns its exit status. */
int run_native_trace(const Options &options);

} // namespace cnode_run
