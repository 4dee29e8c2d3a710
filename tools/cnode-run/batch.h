/* cnode-run --batch: JSON Lines in, one answer per line out, in input order. */
#pragma once
#include <string>
#include "host.h"
#include "options.h"

namespace cnode_run {

/* Reads lines from the file descriptor in until its end and writes the answers
 * to out (both in binary mode). The input flags in options are every line's
 * defaults. With options.threads other than 1, that many workers (0: one per
 * processor) each run the node on an instance of its own, while this thread
 * reads; a bounded window of chunks is in flight, so memory does not grow
 * with the input's length. Returns the exit status; for kExitWrite the reason
 * is in failure. */
int run_batch(Host &host, const Options &options, int in, std::FILE *out, std::string &failure);

} // namespace cnode_run
