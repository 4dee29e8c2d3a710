/* The debugging extension of cnode-run: its flags, and the choice between a
 * run under the debugger library and a native trace (debug_session.h). */
#include <cstdio>
#include "debug_session.h"
#include "extensions.h"

namespace cnode_run {

bool extension_flag(const std::string &flag, bool &takes_value) { return is_debug_flag(flag, takes_value); }

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
