/* The three instance callbacks the run-time engine calls by name: each is a
 * thin frame that hands the instance to the helper runtime and returns 0.
 *
 * Compiled for debugging like every export: each keeps a debug frame in the
 * thread's debug environment and announces its entry and exit to the
 * debugger, the debug frame serving as the call's record. */
#include "cnode.h"
#include "cnode_debug.h"
#include "cnode_helper.h"

namespace {

/* The entry and exit steps of an export, exit on every path. */
class ExportScope {
public:
    ExportScope(void *function, const char *source_file) : function_(function), env_(__DBG_InitializeThreadEnv())
    {
        __qex_pharlap_enter(function_, &frame_);
        __DBG_EnterFunction(env_, &frame_, source_file);
    }
    ~ExportScope()
    {
        __qex_pharlap_leave(function_, &frame_);
        __DBG_LeaveFunction(env_, &frame_);
    }
    ExportScope(const ExportScope &) = delete;
    ExportScope &operator=(const ExportScope &) = delete;

private:
    void *function_;
    void *env_;
    __qex_debug_frame_t frame_;
};

} // namespace

extern "C" int32_t __cnode_reserve_callback(void *instance)
{
    ExportScope scope(reinterpret_cast<void *>(&__cnode_reserve_callback), __FILE_NAME__);
    __cnode_on_reserve(instance);
    return 0;
}

extern "C" int32_t __cnode_unreserve_callback(void *instance)
{
    ExportScope scope(reinterpret_cast<void *>(&__cnode_unreserve_callback), __FILE_NAME__);
    __cnode_on_unreserve(instance);
    return 0;
}

extern "C" int32_t __cnode_abort_callback(void *instance)
{
    ExportScope scope(reinterpret_cast<void *>(&__cnode_abort_callback), __FILE_NAME__);
    __cnode_on_abort(instance);
    return 0;
}
