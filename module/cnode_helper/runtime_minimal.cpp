/* The least helper runtime that lets the entry frame run: start-up looks up
 * the engine's abort entry, the instance callbacks fetch the abort handle, the
 * memory manager is bound from an already loaded gwrt.dll, and the source
 * string is grown by its terminator.
 *
 * The full runtime (instance registry, the one-time binding with its search
 * order, the user-code window and abort requests, array and string-array
 * marshalling) takes this file's place. */
#include <string.h>
#include "cnode_helper.h"
#include "qex_rte.h"

extern "C" {
volatile int32_t __qex_cnode_abort_flag = 0;
volatile int32_t __qex_cnode_abort_tlv_handle = 0;
__cnode_NumericArrayResize_t __cnode_NumericArrayResize = nullptr;
__cnode_DSDisposeHandle_t __cnode_DSDisposeHandle = nullptr;
__cnode_DSNewHClr_t __cnode_DSNewHClr = nullptr;
}

namespace {
typedef int32_t (*AbortEntry)(void);
AbortEntry g_abort_entry = nullptr;

bool bind_memory_manager()
{
    if (__cnode_NumericArrayResize && __cnode_DSDisposeHandle && __cnode_DSNewHClr) return true;
    HMODULE m = GetModuleHandleA("gwrt.dll");
    if (!m) return false;
    __cnode_NumericArrayResize =
        reinterpret_cast<__cnode_NumericArrayResize_t>(reinterpret_cast<void *>(GetProcAddress(m, "NumericArrayResize")));
    __cnode_DSDisposeHandle =
        reinterpret_cast<__cnode_DSDisposeHandle_t>(reinterpret_cast<void *>(GetProcAddress(m, "DSDisposeHandle")));
    __cnode_DSNewHClr = reinterpret_cast<__cnode_DSNewHClr_t>(reinterpret_cast<void *>(GetProcAddress(m, "DSNewHClr")));
    return __cnode_NumericArrayResize && __cnode_DSDisposeHandle && __cnode_DSNewHClr;
}
} // namespace

extern "C" BOOL WINAPI __cnode_helper_DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    if (HMODULE rte = GetModuleHandleA("qex_gwrt.dll"))
        g_abort_entry = reinterpret_cast<AbortEntry>(reinterpret_cast<void *>(GetProcAddress(rte, "cnode_rte_get_abort_tlv")));
    if (!g_abort_entry) {
        OutputDebugStringA("ERROR: C Node RTE is not present or is missing cnode_rte_get_abort_tlv export! "
                           "C Node DLLs will not load.\n");
        return FALSE;
    }
    return TRUE;
}

extern "C" int32_t __cnode_helper_initialize(void *, __cnode_gwerror *error)
{
    if (bind_memory_manager()) return 1;
    if (error) {
        error->status = 1;
        error->code = CNODE_ERR_NO_MEMORY_MANAGER;
    }
    return 0;
}

extern "C" void __cnode_on_begin_user_code(void *) {}
extern "C" void __cnode_on_end_user_code(void *) {}

extern "C" void __cnode_on_reserve(void *)
{
    if (__qex_cnode_abort_tlv_handle == 0 && g_abort_entry) __qex_cnode_abort_tlv_handle = g_abort_entry();
}
extern "C" void __cnode_on_unreserve(void *) {}
extern "C" void __cnode_on_abort(void *) {}

extern "C" char *__cnode_GetCStr(void *handle)
{
    LStrHandle h = static_cast<LStrHandle>(handle);
    int32_t n = (*h)->cnt;
    int32_t m = n;
    if (__cnode_NumericArrayResize(1, 1, &h, static_cast<size_t>(n) + 1) == 0) {
        (*h)->cnt = n + 1;
        m = n + 1;
    }
    if (m == 0) return nullptr;
    char *text = reinterpret_cast<char *>((*h)->str);
    text[m - 1] = 0;
    _UPReturnPointerSizeInfo(text, static_cast<size_t>(m));
    return text;
}
