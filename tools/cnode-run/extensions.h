/* Extensions of cnode-run beyond a plain run (debugging flags). The core
 * parses the node's inputs and the output format; an extension claims its own
 * flags and, when any of them was given, runs the node its own way. */
#pragma once
#include <optional>
#include <string>
#include <vector>
#include "host.h"
#include "options.h"

namespace cnode_run {

/* A flag an extension claims: its name, its value's name (null for a flag
 * without a value), its help line and its group in --help. */
struct ExtensionFlag {
    const char *name;
    const char *value_name;
    const char *help;
    const char *group;
};
const std::vector<ExtensionFlag> &extension_flags();

/* Runs the extensions named in options.extra on a loaded host; returns the exit
 * status, or nullopt when no extension was asked for. */
std::optional<int> run_extensions(const Options &options, Host &host);

} // namespace cnode_run
