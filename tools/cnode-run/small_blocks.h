/* The program's allocator of small blocks kept per thread (small_blocks.cpp). */
#pragma once

namespace cnode_run {

/* Turns the keeping of freed small blocks on (the default) or off. */
void keep_small_blocks(bool keep);

} // namespace cnode_run
