/* The node's text: the field positions of an instrument's reply line, with a
 * stoppoint before every statement and every part of a condition.
 *
 * Compiled for debugging: it names the module's exception handler in its
 * unwind information, so that a hardware exception here resumes at the
 * continuation the entry frame armed, and keeps a debug frame while it runs
 * (a resumption abandons it; the entry frame's leave restores the chain). */
#include "cnode_debug.h"
#include "node_text.h"

volatile unsigned char __qex_stoppoint_table[42] = {}; /* declared extern "C" in node_text.h */

extern "C" void __cnode_node_text(__cnode_node_locals *locals)
{
    asm(".seh_handler __qex_exception_handler, @except");
    void *env = __DBG_InitializeThreadEnv();
    __qex_debug_frame_t debug_frame;
    __DBG_EnterFunction(env, &debug_frame, __FILE_NAME__);
    cnode_text::run(locals, [](int entry) { __qex_stoppoint(&__qex_stoppoint_table[entry]); });
    __DBG_LeaveFunction(env, &debug_frame);
}
