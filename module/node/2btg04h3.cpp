/* The node's text: the field positions of an instrument's reply line, with a
 * stoppoint before every statement and every part of a condition. */
#include "cnode_debug.h"
#include "node_text.h"

volatile unsigned char __qex_stoppoint_table[42] = {}; /* declared extern "C" in node_text.h */

extern "C" void __cnode_node_text(__cnode_node_locals *locals)
{
    cnode_text::run(locals, [](int entry) { __qex_stoppoint(&__qex_stoppoint_table[entry]); });
}
