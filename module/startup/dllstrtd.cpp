/* The loader entry: the image's entry point (linked with -e), which Windows
 * calls at load, unload and thread start and end.
 *
 * It brackets the module's work with the C and C++ runtimes: on process and
 * thread attach the runtime is initialised first (_CRT_INIT, and on process
 * attach the static constructors through __main); on detach it is shut down
 * last, after every module function has run. In between runs the start-up
 * sequence: the outdated-environment check, attachment to the run-time engine,
 * debug registration and the engine's registration with the debugger, then
 * the helper runtime's DllMain; at unload the exit functions after that
 * DllMain, then the exit library, the debugger unregistration, the debug image
 * clean-up and the detachment. Debugging is restricted while it all runs.
 *
 * Windows serialises loader notifications (the loader lock), so the state
 * here takes no lock of its own. */
#include <windows.h>
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "cnode_startup.h"
#include "debug_support.h"
#include "qex_rte.h"

/* The C runtime's own pieces that a DLL's standard entry would call. */
extern "C" BOOL WINAPI _CRT_INIT(HANDLE module, DWORD reason, LPVOID reserved);
extern "C" void __main(void);
extern "C" void _pei386_runtime_relocator(void);
extern "C" int __mingw_app_type;
extern "C" int __native_dllmain_reason;

extern "C" {
int32_t StartupAttached = 0;
}

namespace {

constexpr int32_t kHostRuntimeEngine = 2; /* WhichRuntimeSupportDll: qex_gwrt.dll */

/* Whether the C runtime saw this process attach; a detach without it (the
 * attach failed) must not shut the runtime down. */
bool g_runtime_attached = false;

typedef int32_t (*DebuggerRegistration)(void);

/* Calls the support library's debugger (un)registration entry when the
 * support library is the host engine and exports it. */
void call_debugger_registration(const char *entry_name)
{
    if (WhichRuntimeSupportDll() != kHostRuntimeEngine || !RuntimeSupportLibrary) return;
    auto entry = reinterpret_cast<DebuggerRegistration>(
        reinterpret_cast<void *>(GetProcAddress(RuntimeSupportLibrary, entry_name)));
    if (entry) entry();
}

/* Undoes what process attach did, in reverse, once. */
void undo_attachment(HINSTANCE module)
{
    if (!StartupAttached) return;
    _CloseExitLib();
    call_debugger_registration("__DBG_UnregisterRTEWithDebugger");
    __DBG_CleanUpDebugImage(module);
    CloseQEXRTE();
    StartupAttached = 0;
}

/* The start-up sequence proper; module code only, the C runtime is up. */
BOOL startup_sequence(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    BOOL result = FALSE;
    __qex_restrict_debugging(module, 1);
    if (reason == DLL_PROCESS_ATTACH) {
        int32_t no_further_warning = 0;
        if (__ImageUsedInOldQEX(module, &no_further_warning)) goto done;
        StartupAttached = 1;
        if (!InitQEXRTEEx(module, nullptr, nullptr)) goto done;
        __DBG_InitDebugImage(module, no_further_warning == 0 ? 1 : 0);
        if (WhichRuntimeSupportDll() == kHostRuntimeEngine)
            call_debugger_registration("__DBG_RegisterRTEWithDebugger");
    }
    result = __cnode_helper_DllMain(module, reason, reserved);
    if (reason == DLL_PROCESS_DETACH) _ExecUserExitFuns();
    if (reason == DLL_PROCESS_DETACH || (reason == DLL_PROCESS_ATTACH && !result)) undo_attachment(module);
done:
    __qex_restrict_debugging(module, 0);
    return result;
}

} // namespace

extern "C" BOOL WINAPI QEXDllMainStartupCodeForDebugging(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    __mingw_app_type = 0; /* a DLL, not a console or GUI program */
    if (reason == DLL_PROCESS_DETACH && !g_runtime_attached) return FALSE;
    __native_dllmain_reason = static_cast<int>(reason);
    _pei386_runtime_relocator();

    BOOL result = FALSE;
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH) {
        if (!_CRT_INIT(module, reason, reserved)) goto done;
        if (reason == DLL_PROCESS_ATTACH) {
            __main(); /* the static constructors */
            g_runtime_attached = true;
        }
    }

    result = startup_sequence(module, reason, reserved);

    if (reason == DLL_PROCESS_ATTACH && !result) {
        _CRT_INIT(module, DLL_PROCESS_DETACH, reserved);
        g_runtime_attached = false;
    } else if (reason == DLL_PROCESS_DETACH || reason == DLL_THREAD_DETACH) {
        _CRT_INIT(module, reason, reserved);
        if (reason == DLL_PROCESS_DETACH) g_runtime_attached = false;
    }
done:
    __native_dllmain_reason = -1;
    return result;
}
