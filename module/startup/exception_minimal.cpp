/* The thread's installed exception continuation.
 *
 * Least layer: the continuation lives in a thread-local variable of the module;
 * the debug thread environment of the run-time engine takes its place, and the
 * module's exception handler resumes a faulting call there. */
#include "cnode_debug.h"

namespace {
thread_local __cnode_exception_info_t *t_installed = nullptr;
}

extern "C" __cnode_exception_info_t *__DBG_SetExceptionInfo(__cnode_exception_info_t *info)
{
    __cnode_exception_info_t *previous = t_installed;
    t_installed = info;
    return previous;
}
