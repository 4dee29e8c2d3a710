/* The module's own exit-function registry: the C library's atexit and exit
 * for code inside the module. Functions registered here run in reverse order
 * of registration when the module is unloaded (the loader entry runs them
 * after the helper runtime's DllMain), or earlier through exit or
 * _PopUserExitFuns.
 *
 * The table has 32 slots and never grows. ExitLibLock guards the table and
 * its count; exit functions run while it is held, so a registration from
 * another thread waits for the run to finish, while one from an exit function
 * itself (the lock is recursive) runs next, because the count is lowered
 * before each call. Every registration also hands the engine the clearing
 * callback through which it may discard the table.
 *
 * The module's atexit and exit are listed in the linkage table under those
 * names but carry other C symbols: the C runtime registers static destructors
 * through its own atexit, which must stay the runtime's. */
#include <windows.h>
#include "cnode_startup.h"
#include "qex_rte.h"

namespace {

constexpr int32_t kSlots = 32;

__QEX_ExitFunction UserExitFuns[kSlots];
volatile int32_t UserExitFunsCount = 0;
CRITICAL_SECTION ExitLibLock;

class ExitLibGuard {
public:
    ExitLibGuard() { EnterCriticalSection(&ExitLibLock); }
    ~ExitLibGuard() { LeaveCriticalSection(&ExitLibLock); }
    ExitLibGuard(const ExitLibGuard &) = delete;
    ExitLibGuard &operator=(const ExitLibGuard &) = delete;
};

typedef void (*CleanupRegistration)(void (*clear)(void));

/* Discards every registered function without running it; the engine calls it. */
void ClearUserExitFuns(void)
{
    ExitLibGuard guard;
    UserExitFunsCount = 0;
}

/* Calls the engine's registration entry of that name with the clearing
 * callback; skipped when the engine library or the entry is missing. */
void hand_clearing_callback(const char *entry_name)
{
    HMODULE engine = __QEX_Internal_Linkage_HModule();
    if (!engine) return;
    auto entry = reinterpret_cast<CleanupRegistration>(reinterpret_cast<void *>(GetProcAddress(engine, entry_name)));
    if (entry) entry(ClearUserExitFuns);
}

/* Runs and removes registered functions, last first, while the count is
 * above the level. */
void run_down_to(int32_t level)
{
    ExitLibGuard guard;
    while (UserExitFunsCount > level) {
        int32_t top = UserExitFunsCount - 1;
        UserExitFunsCount = top;
        UserExitFuns[top]();
    }
}

int protected_registration(__QEX_ExitFunction function, void *variant)
{
    _UPLibChkSize(reinterpret_cast<const void *>(function), 0, 1, 0, 1, variant);
    _UPLibClearArgs();
    int result = LW_atexit(function);
    if (result != 0) _UPLibBreakpoint(0, result, reinterpret_cast<void *>(&LW_atexit));
    return result;
}

} // namespace

extern "C" int __QEX_LinkName_atexit(__QEX_ExitFunction function)
{
    ExitLibGuard guard;
    int result = -1;
    if (UserExitFunsCount < kSlots) {
        UserExitFuns[UserExitFunsCount] = function;
        UserExitFunsCount = UserExitFunsCount + 1;
        result = 0;
    }
    hand_clearing_callback("__RegisterAtExitCleanup");
    return result;
}

extern "C" int LW_atexit(__QEX_ExitFunction function) { return __QEX_LinkName_atexit(function); }

extern "C" int _UP_atexit(__QEX_ExitFunction function)
{
    return protected_registration(function, reinterpret_cast<void *>(&_UP_atexit));
}

extern "C" int _UP_LW_atexit(__QEX_ExitFunction function)
{
    return protected_registration(function, reinterpret_cast<void *>(&_UP_LW_atexit));
}

extern "C" void _ExecUserExitFuns(void) { run_down_to(0); }

/* A negative level runs everything, like 0. */
extern "C" void _PopUserExitFuns(int32_t level) { run_down_to(level < 0 ? 0 : level); }

extern "C" void __QEX_LinkName_exit(int32_t code)
{
    _ExecUserExitFuns();
    if (__IsRuntimeDllStillLoaded() == 1) QEXRTDllAbnormalExit(code);
}

extern "C" int32_t _UserExitFunsTop(void) { return UserExitFunsCount; }

extern "C" void _InitExitLib(void) { InitializeCriticalSection(&ExitLibLock); }

extern "C" void _CloseExitLib(void)
{
    {
        ExitLibGuard guard;
        hand_clearing_callback("__UnregisterAtExitCleanup");
    }
    DeleteCriticalSection(&ExitLibLock);
}
