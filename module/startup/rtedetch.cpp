/* Whether the run-time engine may still be called.
 *
 * The engine publishes a 32-bit detached flag in named shared memory, one per
 * process, named after the support library that serves the process. A module
 * opens it by creating it: only when the mapping already existed (the engine
 * made it) is the flag read; a mapping the module had to make itself means
 * the engine is absent. Nothing is held between calls. */
#include <windows.h>
#include "cnode_startup.h"
#include "qex_rte.h"

namespace {

const char *detached_flag_base_name(int32_t support_library)
{
    switch (support_library) {
    case 2: return "Tamberlane QEX Shmen for QEXRTEHasBeenDetached for QexGwRt";
    case 1: return "Tamberlane QEX Shmen for QEXRTEHasBeenDetached for Pelmora";
    default: return "Tamberlane QEX Shmem for QEXRTEHasBeenDetached";
    }
}

} // namespace

extern "C" int32_t QEXRTEHasBeenDetached(void)
{
    char name[128];
    wsprintfA(name, "%s, %d", detached_flag_base_name(WhichRuntimeSupportDll()),
              static_cast<int>(GetCurrentProcessId()));
    HANDLE mapping = __QEX_SDK_CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name);
    if (!mapping) return 1;
    int32_t detached = 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        void *view = __QEX_SDK_MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        if (view) {
            detached = *static_cast<volatile int32_t *>(view);
            __QEX_SDK_UnmapViewOfFile(view);
        }
    }
    CloseHandle(mapping);
    return detached;
}

/* The host run-time engine is never treated as gone. */
extern "C" int32_t __IsRuntimeDllStillLoaded(void)
{
    return QEXRTEHasBeenDetached() == 0 || WhichRuntimeSupportDll() == 2 ? 1 : 0;
}

extern "C" HMODULE __QEX_Internal_Linkage_HModule(void)
{
    switch (ImageRuntimeTarget) {
    case 1: return __QEX__GetModuleHandleSxS("qexrte.dll");
    case 2: return __QEX__GetModuleHandleSxS("pelmora.dll");
    case 3: return __QEX__GetModuleHandleSxS("qex_gwrt.dll");
    default: return nullptr;
    }
}
