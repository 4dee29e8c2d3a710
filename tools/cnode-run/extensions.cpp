/* The debugging extension of cnode-run: its flags, and the choice between a
 * run under the debugger library and a native trace (debug_session.h). */
#include <cstdio>
#include "debug_session.h"
#include "extensions.h"

namespace cnode_run {

const std::vector<ExtensionFlag> &extension_flags()
{
    static const char kGroup[] =
        "Debugging (one call, unattended; stops are printed, or listed under \"stops\" with --json)";
    static const std::vector<ExtensionFlag> flags = {
        {"--break", "N[,M...]", "hold the node at those stoppoint entries (1 to 41)", kGroup},
        {"--step", "into|next|over|out", "step from the first stop (from entry 1 without --break)", kGroup},
        {"--abort-at", "N", "a second thread requests the abort at entry N (code 1039)", kGroup},
        {"--fault-at", "N", "the node's thread faults at entry N (code 1138)", kGroup},
        {"--trace", nullptr, "print every debugger message; alone, as a native debugger sees them", kGroup},
    };
    return flags;
}

std::optional<int> run_extensions(const Options &options, Host &host)
{
    if (options.extra.empty()) return std::nullopt;
    DebugRequest request;
    std::optional<std::string> problem = parse_debug_flags(options.extra, request);
    if (!problem && options.batch) problem = "the debugging flags run one call and do not combine with --batch";
    if (problem) {
        std::fprintf(stderr, "cnode-run: %s\n(try --help)\n", problem->c_str());
        return 2;
    }
    if (request.needs_library()) return run_debug_session(options, request, host);
    return run_native_trace(options);
}

} // namespace cnode_run
