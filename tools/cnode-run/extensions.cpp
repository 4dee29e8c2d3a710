/* No extension is built in yet: every unknown flag is bad usage. */
#include "extensions.h"

namespace cnode_run {

bool extension_flag(const std::string &, bool &) { return false; }

std::optional<int> run_extensions(const Options &options, Host &)
{
    if (options.extra.empty()) return std::nullopt;
    return std::nullopt;
}

} // namespace cnode_run
