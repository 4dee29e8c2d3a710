/* Debug registration of the image and the thread's debug environment.
 *
 * Code compiled for debugging keeps the environment's debugger informed of
 * where each thread is: which image, which source file and statement, which
 * chain of calls. The run-time engine owns one debug environment per thread;
 * this unit reads and chains its fields at fixed offsets. Each instrumented
 * function keeps a 64-byte debug frame in its own stack frame: entering saves
 * the caller's position into it and makes it the innermost frame; leaving
 * restores the environment from it. Since leaving restores from the frame and
 * not from the chain, a frame that was abandoned by a jump or a resumption
 * further in is simply forgotten when an enclosing frame leaves. */
#include <string.h>
#include <windows.h>
#include "cnode_debug.h"
#include "cnode_startup.h"
#include "last_error_keeper.h"
#include "qex_rte.h"

extern "C" {
HMODULE DebugImageModule = nullptr;
/* Filled in by the engine at debug registration; until then every thread's
 * environment comes from the engine by call. */
DWORD ThreadEnvSlot = 0xFFFFFFFF;
}

namespace {

template <typename T> T &field(void *env, size_t offset)
{
    return *reinterpret_cast<T *>(static_cast<unsigned char *>(env) + offset);
}

uint32_t &range_start(void *env) { return field<uint32_t>(env, QEX_DBG_ENV_RANGE_START); }
uint32_t &range_end(void *env) { return field<uint32_t>(env, QEX_DBG_ENV_RANGE_END); }
const char *&source_file(void *env) { return field<const char *>(env, QEX_DBG_ENV_SOURCE_FILE); }
__qex_debug_frame_t *&current_frame(void *env) { return field<__qex_debug_frame_t *>(env, QEX_DBG_ENV_CURRENT_FRAME); }
void *&current_image(void *env) { return field<void *>(env, QEX_DBG_ENV_CURRENT_IMAGE); }
void *&control_block(void *env) { return field<void *>(env, QEX_DBG_ENV_CONTROL_BLOCK); }
__cnode_exception_info_t *&installed_continuation(void *env)
{
    return field<__cnode_exception_info_t *>(env, QEX_DBG_ENV_EXCEPTION_INFO);
}

const char kWarningCaption[] = "QEX Debuggable DLL Run-Time Warning";
const char kWarningFormat[] =
    "The following debuggable DLL was created with QEX 5.5 or greater.  Running\n"
    "this DLL in older versions of QEX may result in non-deterministic behavior and\n"
    "can crash the QEX environment.\n\nDebuggable DLL: %s";

/* The informational warning given when an outdated environment has loaded
 * the module; the user's answer does not matter. */
void warn_outdated_environment(HMODULE module)
{
    char name[259];
    if (GetModuleFileNameA(module, name, sizeof name) == 0) strcpy(name, "unknown DLL");
    name[258] = 0;
    char text[1024]; /* wsprintfA writes at most 1024 characters */
    wsprintfA(text, kWarningFormat, name);
    __QEX_Startup_MessagePopup(kWarningCaption, text, MB_OK);
}

} // namespace

extern "C" void __DBG_InitDebugImage(void *module, int32_t warn)
{
    if (warn && GetModuleHandleA("qex.dll")) warn_outdated_environment(static_cast<HMODULE>(module));
    DebugImageModule = static_cast<HMODULE>(module);
    __GetLocalThreadEnvSlot(reinterpret_cast<uint32_t *>(&ThreadEnvSlot));
    __SetCurrentDebuggingLevel(ImageDebuggingLevel);
}

extern "C" void __DBG_InitDebugInfo(void *, void *) {}
extern "C" void __DBG_CleanUpDebugImage(void *) {}
extern "C" void __DBG_CleanUpDebugInfo(void *) {}

/* The slot is read in the thread's own record, which leaves the last-error
 * value alone. Only when that finds nothing (a thread without an environment
 * yet, or the slot not yet known) do the system and then the engine answer,
 * with the last-error value kept around their calls. */
extern "C" void *__DBG_InitializeThreadEnv(void)
{
    if (void *env = thread_block::tls_value(ThreadEnvSlot)) return env;
    LastErrorKeeper keep;
    void *env = TlsGetValue(ThreadEnvSlot);
    return env ? env : __DBG_GetCurrentThreadEnv();
}

/* Without an environment (the engine could not make one) the position
 * operations do nothing rather than fault in the instrumented function. */
extern "C" void __DBG_EnterFunction(void *env, __qex_debug_frame_t *frame, const char *file)
{
    if (!env) return;
    frame->saved_range_start = range_start(env);
    frame->saved_range_end = range_end(env);
    frame->saved_source_file = source_file(env);
    frame->saved_image = current_image(env);
    frame->previous = current_frame(env);
    current_frame(env) = frame;
    current_image(env) = DebugImageModule;
    source_file(env) = file;
    range_start(env) = 0;
    range_end(env) = 0;
}

extern "C" void __DBG_LeaveFunction(void *env, __qex_debug_frame_t *frame)
{
    if (!env) return;
    current_frame(env) = frame->previous;
    current_image(env) = frame->saved_image;
    source_file(env) = frame->saved_source_file;
    range_start(env) = frame->saved_range_start;
    range_end(env) = frame->saved_range_end;
}

extern "C" void __DBG_SetSourceCallRange(void *env, __qex_debug_frame_t *frame, uint32_t start, uint32_t end)
{
    if (!env) return;
    range_start(env) = start;
    range_end(env) = end;
    frame->range_start = start;
    frame->range_end = end;
}

extern "C" void __DBG_SetSourceLocation(void *env, __qex_debug_frame_t *frame, const char *file, uint32_t start,
                                        uint32_t end)
{
    if (!env) return;
    source_file(env) = file;
    __DBG_SetSourceCallRange(env, frame, start, end);
}

extern "C" void __DBG_SetSourceFileName(void *env, const char *file)
{
    if (env) source_file(env) = file;
}

/* Installed continuations form a stack per thread: callers install theirs on
 * entry and put the returned one back on exit. Without an environment (the
 * engine could not make one) nothing is installed. */
extern "C" __cnode_exception_info_t *__DBG_SetExceptionInfo(__cnode_exception_info_t *info)
{
    void *env = __DBG_InitializeThreadEnv();
    if (!env) return nullptr;
    __cnode_exception_info_t *previous = installed_continuation(env);
    installed_continuation(env) = info;
    return previous;
}

extern "C" void *__DBG_GetDebuggerControlVars(void)
{
    void *env = __DBG_InitializeThreadEnv();
    return env ? control_block(env) : nullptr;
}

extern "C" int __DBG_CleanupExceptHandler(struct _EXCEPTION_RECORD *, void *, struct _CONTEXT *,
                                          struct _DISPATCHER_CONTEXT *)
{
    return ExceptionContinueSearch;
}
