/* Extensions of cnode-run beyond a plain run (debugging flags). The core
 * parses the node's inputs and the output format; an extension claims its own
 * flags and, when any of them was given, runs the node its own way. */
#pragma once
#include <optional>
#include <string>
#include "host.h"
#include "options.h"

namespace cnode_run {

/* True when flag belongs to an extension; takes_value says whether it is
 * followed by a value. */
bool extension_flag(const std::string &flag, bool &takes_value);

/* Runs the extensions named in options.extra on a loaded host; returns the exit
 * status, or nullopt when no extension was asked for. */
std::optional<int> run_extensions(const Options &options, Host &host);

} // namespace cnode_run
