/* Late-bound wrappers around a few kernel32 functions (file mappings, code
 * pages, process exit), so that start-up code finds them at run time.
 *
 * kernel32 is bound once per module under a per-process named mutex, so that
 * threads making their first calls at the same time bind it once; each
 * stub's function pointer is then cached without a lock, since every writer
 * stores the same value. A stub whose function cannot be found returns 0. */
#include <windows.h>
#include "cnode_startup.h"

extern "C" {
HMODULE SdkKernel32 = nullptr;
}

namespace {

typedef LPVOID(WINAPI *MapViewOfFileFunction)(HANDLE, DWORD, DWORD, DWORD, SIZE_T);
typedef BOOL(WINAPI *UnmapViewOfFileFunction)(LPCVOID);
typedef HANDLE(WINAPI *CreateFileMappingFunction)(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR);
typedef BOOL(WINAPI *GetCPInfoFunction)(UINT, LPCPINFO);
typedef UINT(WINAPI *GetACPFunction)(void);
typedef void(WINAPI *CorExitProcessFunction)(int);

MapViewOfFileFunction g_map_view = nullptr;
UnmapViewOfFileFunction g_unmap_view = nullptr;
CreateFileMappingFunction g_create_file_mapping = nullptr;
GetCPInfoFunction g_get_cp_info = nullptr;
GetACPFunction g_get_acp = nullptr;
CorExitProcessFunction g_cor_exit_process = nullptr;

bool bind_kernel32()
{
    if (SdkKernel32) return true;
    char name[64];
    wsprintfA(name, "Tamberlane Corvane Startup SDK stubs %d", static_cast<int>(GetCurrentProcessId()));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex) return false;
    WaitForSingleObject(mutex, INFINITE);
    if (!SdkKernel32) {
        HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
        if (!kernel32) kernel32 = LoadLibraryA("kernel32.dll");
        SdkKernel32 = kernel32;
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return SdkKernel32 != nullptr;
}

/* The stub's cached function, looked up on first use. */
template <typename Function> Function bound(Function &cached, const char *name)
{
    if (!cached && bind_kernel32())
        cached = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(SdkKernel32, name)));
    return cached;
}

} // namespace

extern "C" LPVOID __QEX_SDK_MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                                          SIZE_T bytes)
{
    auto f = bound(g_map_view, "MapViewOfFile");
    return f ? f(mapping, access, offset_high, offset_low, bytes) : nullptr;
}

extern "C" BOOL __QEX_SDK_UnmapViewOfFile(LPCVOID view)
{
    auto f = bound(g_unmap_view, "UnmapViewOfFile");
    return f ? f(view) : FALSE;
}

extern "C" HANDLE __QEX_SDK_CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protection,
                                              DWORD size_high, DWORD size_low, LPCSTR name)
{
    auto f = bound(g_create_file_mapping, "CreateFileMappingA");
    return f ? f(file, security, protection, size_high, size_low, name) : nullptr;
}

extern "C" BOOL __QEX_SDK_GetCPInfo(UINT code_page, LPCPINFO info)
{
    auto f = bound(g_get_cp_info, "GetCPInfo");
    return f ? f(code_page, info) : FALSE;
}

extern "C" UINT __QEX_SDK_GetACP(void)
{
    auto f = bound(g_get_acp, "GetACP");
    return f ? f() : 0;
}

/* A managed runtime in the process is given the chance to shut down first. */
extern "C" void __QEX_SDK_ExitProcess(UINT code)
{
    if (!g_cor_exit_process) {
        if (HMODULE mscoree = GetModuleHandleA("mscoree.dll"))
            g_cor_exit_process =
                reinterpret_cast<CorExitProcessFunction>(reinterpret_cast<void *>(GetProcAddress(mscoree, "CorExitProcess")));
    }
    if (g_cor_exit_process) g_cor_exit_process(static_cast<int>(code));
    ExitProcess(code);
}
