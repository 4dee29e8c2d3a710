/* Loading libraries under the module's own activation context, so that a
 * side-by-side manifest of the module decides which library versions it gets.
 *
 * The activation-context API is bound from kernel32 on first use (and again
 * on later calls while any of its three functions is missing); the module's
 * context is queried once and kept (0 when there is none or the API is
 * unavailable). Loader notifications are serialised by Windows; later callers
 * at worst repeat the same query. */
#include <windows.h>
#include "cnode_startup.h"

namespace {

typedef BOOL(WINAPI *QueryActCtxWFunction)(DWORD, HANDLE, PVOID, ULONG, PVOID, SIZE_T, SIZE_T *);
typedef BOOL(WINAPI *ActivateActCtxFunction)(HANDLE, ULONG_PTR *);
typedef BOOL(WINAPI *DeactivateActCtxFunction)(DWORD, ULONG_PTR);

QueryActCtxWFunction g_query = nullptr;
ActivateActCtxFunction g_activate = nullptr;
DeactivateActCtxFunction g_deactivate = nullptr;

/* All ones: not queried yet; 0: no context. */
HANDLE g_module_context = INVALID_HANDLE_VALUE;

/* An address inside this module, by which its activation context is found. */
const int kAddressInModule = 0;

constexpr DWORD kQueryByAddressNoAddRef = 0x80000010; /* QUERY_ACTCTX_FLAG_ACTCTX_IS_ADDRESS | NO_ADDREF */
constexpr ULONG kBasicInformation = 1;

template <typename Function> Function kernel32_entry(HMODULE kernel32, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(kernel32, name)));
}

bool bind_activation_api()
{
    if (g_query && g_activate && g_deactivate) return true;
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32) {
        g_query = kernel32_entry<QueryActCtxWFunction>(kernel32, "QueryActCtxW");
        g_activate = kernel32_entry<ActivateActCtxFunction>(kernel32, "ActivateActCtx");
        g_deactivate = kernel32_entry<DeactivateActCtxFunction>(kernel32, "DeactivateActCtx");
    }
    if (kernel32 && g_query && g_activate && g_deactivate) return true;
    g_query = nullptr;
    g_activate = nullptr;
    g_deactivate = nullptr;
    return false;
}

HANDLE module_context()
{
    bool api = bind_activation_api();
    if (g_module_context == INVALID_HANDLE_VALUE) {
        HANDLE context = nullptr;
        if (api) {
            struct {
                HANDLE handle;
                DWORD flags;
            } basic = {};
            static_assert(sizeof basic == 16, "the basic information of an activation context");
            if (!g_query(kQueryByAddressNoAddRef, const_cast<int *>(&kAddressInModule), nullptr, kBasicInformation,
                         &basic, sizeof basic, nullptr))
                basic.handle = nullptr;
            context = basic.handle;
        }
        g_module_context = context;
    }
    return api ? g_module_context : nullptr;
}

/* Runs the call with the module's activation context active when it has one;
 * without one, or when activation fails, the call is made all the same. */
template <typename Call> HMODULE with_module_context(Call call)
{
    HANDLE context = module_context();
    ULONG_PTR cookie = 0;
    bool active = context && g_activate(context, &cookie);
    HMODULE result = call();
    if (active) g_deactivate(0, cookie);
    return result;
}

} // namespace

extern "C" HMODULE __QEX__LoadLibrarySxS(const char *file_name)
{
    return with_module_context([file_name] { return LoadLibraryA(file_name); });
}

extern "C" HMODULE __QEX__GetModuleHandleSxS(const char *file_name)
{
    return with_module_context([file_name] { return GetModuleHandleA(file_name); });
}
