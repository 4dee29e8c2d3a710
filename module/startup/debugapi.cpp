/* The binding of the module to the environment's debugger library
 * (qexdebug.dll), with the native fallback.
 *
 * Each of the nine __qex_debug_ entries forwards its arguments to the library
 * export of the same name. The library is never loaded by the module, only
 * found when the environment has loaded it. Seven entries cache their export
 * in a binding slot: a slot starts at DebugNoOp, is resolved on each call
 * while it still holds DebugNoOp, and once bound is never looked up again (it
 * only ever changes from DebugNoOp to the export, so concurrent first calls
 * need no lock). The message and restricted entries resolve on every call.
 *
 * When no library is loaded but a native debugger is attached to the process,
 * the entries fall back to the Windows debugging facilities (a break, debug
 * strings). On the PHARLAP system, told by the environment variable "OS", the
 * library handle found by the first resolution is kept for good and the
 * native fallback never applies.
 *
 * Every entry leaves the thread's last-error value as it found it, since its
 * callers (stoppoints, hooks) run between a failing call and its caller's
 * GetLastError. */
#include <atomic>
#include <string>
#include <windows.h>
#include "last_error_keeper.h"
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "debug_support.h"

namespace {


/* Takes anything and does nothing: the state of an unbound slot. */
void DebugNoOp() {}
void *const kNoOp = reinterpret_cast<void *>(&DebugNoOp);

std::atomic<HMODULE> g_library{nullptr};
std::atomic<bool> g_looked_up{false};
std::atomic<bool> g_seen_loaded{false};
std::atomic<int> g_pharlap{-1}; /* -1: not computed yet */

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

/* Whether "OS" begins with PHARLAP in any mix of case. A value too long for
 * the first buffer is read again in full instead of testing stale bytes. */
bool compute_pharlap()
{
    std::string value(64, '\0');
    DWORD n = GetEnvironmentVariableA("OS", value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return false;
    if (n >= value.size()) {
        value.assign(n, '\0');
        n = GetEnvironmentVariableA("OS", value.data(), static_cast<DWORD>(value.size()));
        if (n == 0 || n >= value.size()) return false;
    }
    const char kPharlap[] = "PHARLAP";
    for (size_t i = 0; i < sizeof kPharlap - 1; ++i)
        if (i >= n || ascii_upper(value[i]) != kPharlap[i]) return false;
    return true;
}

bool is_pharlap()
{
    int known = g_pharlap.load(std::memory_order_acquire);
    if (known < 0) {
        known = compute_pharlap() ? 1 : 0;
        g_pharlap.store(known, std::memory_order_release);
    }
    return known != 0;
}

/* The library if it is loaded. Asking the loader about a library that is not
 * loaded searches the file system (hundreds of microseconds under some
 * loaders), far too slow for every export's entry and exit; the helper
 * runtime follows the loader's notifications instead, and asks the loader
 * itself only before it has started. */
HMODULE loaded_library() { return __cnode_debugger_library(); }

/* The shared flags are written only when they change: resolutions run at
 * every export's entry and exit while the library is absent, on every thread
 * at once. */
void *resolve(const char *name)
{
    if (!(g_looked_up.load(std::memory_order_acquire) && is_pharlap())) {
        HMODULE found = loaded_library();
        if (g_library.load(std::memory_order_relaxed) != found) g_library.store(found, std::memory_order_release);
        if (!g_looked_up.load(std::memory_order_relaxed)) g_looked_up.store(true, std::memory_order_release);
    }
    HMODULE library = g_library.load(std::memory_order_acquire);
    if (!library) return kNoOp;
    void *entry = reinterpret_cast<void *>(GetProcAddress(library, name));
    return entry ? entry : kNoOp;
}

/* A cached entry's slot and the export name it binds to. */
struct Binding {
    const char *name;
    std::atomic<void *> slot{kNoOp};

    void *bound()
    {
        void *entry = slot.load(std::memory_order_acquire);
        if (entry == kNoOp) {
            entry = resolve(name);
            if (entry != kNoOp) slot.store(entry, std::memory_order_release);
        }
        return entry;
    }
};

Binding g_initialize{"__qex_debug_initialize"};
Binding g_barrier{"__qex_debug_barrier"};
Binding g_break{"__qex_debug_break"};
Binding g_attach{"__qex_debug_attach"};
Binding g_detach{"__qex_debug_detach"};
Binding g_stdio{"__qex_debug_stdio"};
Binding g_exception{"__qex_debug_exception"};

/* Whether a native debugger should get the fallback: never on PHARLAP, never
 * once the library has been seen loaded, else when a debugger is attached. */
bool native_fallback()
{
    if (is_pharlap()) return false;
    if (g_seen_loaded.load(std::memory_order_acquire)) return false;
    if (loaded_library()) {
        g_seen_loaded.store(true, std::memory_order_release);
        return false;
    }
    return IsDebuggerPresent() != FALSE;
}

template <typename Function> Function as(void *entry) { return reinterpret_cast<Function>(entry); }

} // namespace

extern "C" void __qex_debug_initialize(void)
{
    LastErrorKeeper keep;
    if (void *entry = g_initialize.bound(); entry != kNoOp) as<void (*)()>(entry)();
}

extern "C" void __qex_debug_barrier(void)
{
    LastErrorKeeper keep;
    if (void *entry = g_barrier.bound(); entry != kNoOp) as<void (*)()>(entry)();
}

extern "C" void __qex_debug_break(void)
{
    LastErrorKeeper keep;
    if (void *entry = g_break.bound(); entry != kNoOp) as<void (*)()>(entry)();
    if (native_fallback()) DebugBreak();
}

extern "C" void __qex_debug_message(const char *message)
{
    LastErrorKeeper keep;
    if (void *entry = resolve("__qex_debug_message"); entry != kNoOp) as<void (*)(const char *)>(entry)(message);
    if (native_fallback()) OutputDebugStringA(message);
}

extern "C" void __qex_debug_attach(void *function, void *seh_info, void *owner, const void *sections,
                                   void **return_address_slot)
{
    LastErrorKeeper keep;
    if (void *entry = g_attach.bound(); entry != kNoOp)
        as<void (*)(void *, void *, void *, const void *, void **)>(entry)(function, seh_info, owner, sections,
                                                                          return_address_slot);
    if (native_fallback())
        __qex_attach_module(static_cast<HMODULE>(owner), static_cast<const entry_t *>(sections));
}

extern "C" void __qex_debug_detach(void *function, void *seh_info, void *owner)
{
    LastErrorKeeper keep;
    if (void *entry = g_detach.bound(); entry != kNoOp)
        as<void (*)(void *, void *, void *)>(entry)(function, seh_info, owner);
    if (native_fallback()) __qex_detach_module(static_cast<HMODULE>(owner));
}

extern "C" void __qex_debug_restricted(int32_t restricted)
{
    LastErrorKeeper keep;
    if (void *entry = resolve("__qex_debug_restricted"); entry != kNoOp) as<void (*)(int32_t)>(entry)(restricted);
}

extern "C" void __qex_debug_stdio(const char *text, uint32_t count)
{
    LastErrorKeeper keep;
    if (void *entry = g_stdio.bound(); entry != kNoOp) as<void (*)(const char *, uint32_t)>(entry)(text, count);
    if (native_fallback()) {
        char echo[72];
        wsprintfA(echo, "@{echo_stdio|%p|%u:12|%u}@", static_cast<const void *>(text), count, 29u);
        OutputDebugStringA(echo);
    }
}

extern "C" int __qex_debug_exception(struct _EXCEPTION_RECORD *record, void *establisher_frame,
                                     struct _CONTEXT *context, struct _DISPATCHER_CONTEXT *dispatcher_context)
{
    LastErrorKeeper keep;
    void *entry = g_exception.bound();
    if (entry == kNoOp) return ExceptionContinueSearch;
    return as<int (*)(struct _EXCEPTION_RECORD *, void *, struct _CONTEXT *, struct _DISPATCHER_CONTEXT *)>(entry)(
        record, establisher_frame, context, dispatcher_context);
}
