/* Whether the debugger library (qexdebug.dll) is loaded, known at every entry
 * call without asking the loader each time.
 *
 * Asking the loader for a library that is not loaded makes it search the
 * library path on the file system, far more than an entry call may cost. So
 * from start-up on, the helper follows the loader's own notifications of
 * libraries loaded and unloaded and keeps the library's handle, or null. Where
 * the system offers no such notifications, each question goes to the loader
 * as before. The module never loads the library itself. */
#include <windows.h>
#include <atomic>
#include "helper_internal.h"

namespace {

const char kLibraryName[] = "qexdebug.dll";
const wchar_t kLibraryNameWide[] = L"qexdebug.dll";

/* The loader's notification record and callback (ntdll). */
struct UnicodeName {
    USHORT length; /* bytes */
    USHORT maximum_length;
    const wchar_t *buffer;
};
struct DllNotification {
    ULONG flags;
    const UnicodeName *full_name;
    const UnicodeName *base_name;
    void *base;
    ULONG image_size;
};
enum { kDllLoaded = 1, kDllUnloaded = 2 };
typedef void(CALLBACK *DllNotificationCallback)(ULONG reason, const DllNotification *data, void *context);
typedef LONG(NTAPI *RegisterDllNotification)(ULONG flags, DllNotificationCallback callback, void *context,
                                             void **cookie);
typedef LONG(NTAPI *UnregisterDllNotification)(void *cookie);

std::atomic<HMODULE> g_library{nullptr};
/* Set while the notifications keep g_library current. */
std::atomic<bool> g_watching{false};
void *g_cookie = nullptr;

wchar_t ascii_lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool is_debugger_library(const UnicodeName *name)
{
    size_t length = sizeof kLibraryNameWide / sizeof(wchar_t) - 1;
    if (!name || !name->buffer || name->length != length * sizeof(wchar_t)) return false;
    for (size_t i = 0; i < length; ++i)
        if (ascii_lower(name->buffer[i]) != kLibraryNameWide[i]) return false;
    return true;
}

/* Runs under the loader lock, on whichever thread loads or unloads. */
void CALLBACK on_dll_event(ULONG reason, const DllNotification *data, void *)
{
    if (!data || !is_debugger_library(data->base_name)) return;
    HMODULE library = static_cast<HMODULE>(data->base);
    if (reason == kDllLoaded) {
        g_library.store(library, std::memory_order_release);
    } else if (reason == kDllUnloaded) {
        HMODULE expected = library;
        g_library.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }
}

template <typename Function>
Function ntdll_export(const char *name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(ntdll, name))) : nullptr;
}

} // namespace

namespace cnode_helper {

void watch_debugger_library()
{
    auto subscribe = ntdll_export<RegisterDllNotification>("LdrRegisterDllNotification");
    /* Subscribed first, so that no load between the two steps goes unseen. */
    bool watching = subscribe && subscribe(0, on_dll_event, nullptr, &g_cookie) == 0;
    g_library.store(GetModuleHandleA(kLibraryName), std::memory_order_release);
    g_watching.store(watching, std::memory_order_release);
}

void stop_watching_debugger_library()
{
    if (!g_watching.exchange(false, std::memory_order_acq_rel)) return;
    if (auto unsubscribe = ntdll_export<UnregisterDllNotification>("LdrUnregisterDllNotification"))
        unsubscribe(g_cookie);
    g_cookie = nullptr;
    g_library.store(nullptr, std::memory_order_release);
}

HMODULE debugger_library()
{
    return g_watching.load(std::memory_order_acquire) ? g_library.load(std::memory_order_acquire)
                                                       : GetModuleHandleA(kLibraryName);
}

} // namespace cnode_helper

extern "C" HMODULE __cnode_debugger_library(void) { return cnode_helper::debugger_library(); }

namespace cnode_helper {

void *debugger_library_export(const char *name)
{
    HMODULE library = debugger_library();
    return library ? reinterpret_cast<void *>(GetProcAddress(library, name)) : nullptr;
}

} // namespace cnode_helper
