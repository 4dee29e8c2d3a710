/* Debug switches and protection pass-throughs: the generated frame reaches the
 * engine's break settings, its thread-local variables and its pointer checking
 * through these functions. Each passes its arguments on unchanged and keeps no
 * state. */
#include "cnode_helper.h"
#include "qex_rte.h"

extern "C" int32_t __cnode_SetBreakOnLibraryErrors(int32_t on) { return SetBreakOnLibraryErrors(on); }
extern "C" int32_t __cnode_SetBreakOnProtectionErrors(int32_t on) { return SetBreakOnProtectionErrors(on); }
extern "C" int32_t __cnode_SetBreakOnFirstChanceExceptions(int32_t on) { return SetBreakOnFirstChanceExceptions(on); }
extern "C" int32_t __cnode_SetEnableResourceTracking(int32_t on) { return SetEnableResourceTracking(on); }

extern "C" int32_t __cnode_CmtGetThreadLocalVar(int32_t handle, void *record_out)
{
    return CmtGetThreadLocalVar(handle, record_out);
}

extern "C" void *__cnode_ProtectMemory(void *pointer, size_t bytes) { return _UPReturnPointerSizeInfo(pointer, bytes); }

extern "C" void __cnode_FreeUserProtection(void *pointer)
{
    _UPLibFreeDynPtrInfo(pointer, 1, reinterpret_cast<void *>(&__cnode_FreeUserProtection));
}
