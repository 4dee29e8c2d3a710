/* Binding of the host memory manager: once per process, at the first entry
 * call that finds it, the helper resolves NumericArrayResize, DSDisposeHandle
 * and DSNewHClr in the host's gwrt.dll (or gwffrt.dll). A copy loaded from
 * the "Win64" folder beside the environment's own libraries or beside the
 * executable is preferred to whichever copy a plain name finds, because a
 * process may hold more than one.
 *
 * The binding runs under a Windows one-time block: a run that finds nothing
 * leaves the block open, so a later call tries again once the host has loaded
 * its memory manager; a successful run closes it for good, and the three
 * pointers are read only after a successful run. The binding never loads a
 * library itself. */
#include <string.h>
#include <atomic>
#include "helper_internal.h"
#include "qex_rte.h"

extern "C" {
__cnode_NumericArrayResize_t __cnode_NumericArrayResize = nullptr;
__cnode_DSDisposeHandle_t __cnode_DSDisposeHandle = nullptr;
__cnode_DSNewHClr_t __cnode_DSNewHClr = nullptr;
}

namespace {

INIT_ONCE g_binding = INIT_ONCE_STATIC_INIT;
/* Set once the one-time block has closed after a successful binding. */
std::atomic<bool> g_bound{false};

constexpr size_t kPathBufferSize = 2048;
const char kEngineFolder[] = "Win64\\";

/* The modules beside which a host memory manager copy is looked for, in
 * order; null stands for the executable. After them comes the plain name. */
const char *const kNeighbours[] = {"Tamberlane.Common.dll", "Tamberlane.CCode.dll", nullptr};
const char *const kLibraries[] = {"gwrt.dll", "gwffrt.dll"};

HMODULE find_memory_manager()
{
    for (const char *library : kLibraries) {
        for (const char *neighbour : kNeighbours)
            if (HMODULE found = __cnode_find_engine_module(neighbour, library)) return found;
        if (HMODULE found = GetModuleHandleA(library)) return found;
    }
    return nullptr;
}

template <typename Function>
Function export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

void report_missing_memory_manager(__cnode_gwerror *error)
{
    if (!error) return;
    error->status = 1;
    error->code = CNODE_ERR_NO_MEMORY_MANAGER;
}

} // namespace

extern "C" HMODULE __cnode_find_engine_module(const char *module_name, const char *library_file_name)
{
    HMODULE neighbour = GetModuleHandleA(module_name);
    if (!neighbour) return nullptr;
    char path[kPathBufferSize];
    DWORD length = GetModuleFileNameA(neighbour, path, sizeof path);
    if (length == 0 || length > kPathBufferSize - 1) return nullptr;
    auto *buffer = reinterpret_cast<unsigned char *>(path);
    auto *library = reinterpret_cast<const unsigned char *>(library_file_name);
    unsigned char *slash = QEX__mbsrchr(buffer, '\\');
    /* The folder part stays; the rest must fit behind it with its terminator,
     * else there is no such copy to find. */
    size_t kept = slash ? static_cast<size_t>(slash + 1 - buffer) : 0;
    size_t added = (slash ? sizeof kEngineFolder - 1 : 0) + strlen(library_file_name);
    if (added >= kPathBufferSize - kept) return nullptr;
    if (slash) {
        QEX__mbscpy(slash + 1, reinterpret_cast<const unsigned char *>(kEngineFolder));
        QEX__mbscat(buffer, library);
    } else {
        QEX__mbscpy(buffer, library);
    }
    return GetModuleHandleA(path);
}

extern "C" BOOL CALLBACK __cnode_bind_memory_manager(PINIT_ONCE, PVOID parameter, PVOID *)
{
    auto *error = static_cast<__cnode_gwerror *>(parameter);
    HMODULE memory_manager = find_memory_manager();
    if (!memory_manager) {
        report_missing_memory_manager(error);
        return FALSE;
    }
    __cnode_NumericArrayResize = export_of<__cnode_NumericArrayResize_t>(memory_manager, "NumericArrayResize");
    __cnode_DSDisposeHandle = export_of<__cnode_DSDisposeHandle_t>(memory_manager, "DSDisposeHandle");
    __cnode_DSNewHClr = export_of<__cnode_DSNewHClr_t>(memory_manager, "DSNewHClr");
    if (!__cnode_NumericArrayResize || !__cnode_DSDisposeHandle || !__cnode_DSNewHClr) {
        report_missing_memory_manager(error);
        return FALSE;
    }
    return TRUE;
}

/* Once the block has closed, InitOnceExecuteOnce would only answer TRUE
 * again; the flag gives that answer without the call at every entry. */
int32_t cnode_helper::bind_memory_manager_once(__cnode_gwerror *error)
{
    if (g_bound.load(std::memory_order_acquire)) return 1;
    if (!InitOnceExecuteOnce(&g_binding, __cnode_bind_memory_manager, error, nullptr)) return 0;
    g_bound.store(true, std::memory_order_release);
    return 1;
}
