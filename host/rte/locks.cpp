/* Locks: CmtNewLock creates a lock that is recursive on its owning thread (a
 * Windows critical section). Handles are small positive integers; every
 * operation returns a negative status on failure. */
#include "rte_internal.h"
#include <atomic>
#include <vector>

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kOutOfMemory = -12;
constexpr int kLockFailed = -50;

struct Lock {
    CRITICAL_SECTION section;
    bool in_use;
};

std::vector<Lock *> &table()
{
    static std::vector<Lock *> locks; /* index + 1 is the handle */
    return locks;
}

rte::FailCountdown g_fail_new;
rte::FailCountdown g_fail_get;
volatile long g_live_locks = 0;

/* Test hooks: called on the locking thread before CmtGetLock waits and after
 * CmtReleaseLock has released, so a test can act at exactly those moments.
 * Read without a lock on every lock operation: a setting is published as one
 * immutable record, and records are never freed (tests set hooks a few times). */
struct LockHooks {
    standin_rte_lock_hook_t before_get;
    standin_rte_lock_hook_t after_release;
    void *context;
};
const LockHooks kNoHooks = {};
std::atomic<const LockHooks *> g_hooks{&kNoHooks};

const LockHooks &current_hooks() { return *g_hooks.load(std::memory_order_acquire); }

Lock *find(int handle)
{
    rte::TableLock guard;
    if (handle <= 0 || static_cast<size_t>(handle) > table().size()) return nullptr;
    Lock *l = table()[static_cast<size_t>(handle) - 1];
    return l && l->in_use ? l : nullptr;
}

} // namespace

extern "C" int standin_CmtNewLock(const char *, int, int *handle)
{
    if (!handle) return kInvalidHandle;
    *handle = 0;
    if (g_fail_new.take()) return kOutOfMemory;
    auto *l = new Lock;
    InitializeCriticalSection(&l->section);
    l->in_use = true;
    rte::TableLock guard;
    table().push_back(l);
    *handle = static_cast<int>(table().size());
    InterlockedIncrement(&g_live_locks);
    return 0;
}

extern "C" int standin_CmtGetLock(int handle)
{
    Lock *l = find(handle);
    if (!l) return kInvalidHandle;
    const LockHooks &hooks = current_hooks();
    if (hooks.before_get) hooks.before_get(handle, hooks.context);
    if (g_fail_get.take()) return kLockFailed;
    EnterCriticalSection(&l->section);
    return 0;
}

extern "C" int standin_CmtTryToGetLock(int handle, int *obtained)
{
    Lock *l = find(handle);
    if (!l) return kInvalidHandle;
    int got = TryEnterCriticalSection(&l->section) ? 1 : 0;
    if (obtained) *obtained = got;
    return 0;
}

extern "C" int standin_CmtReleaseLock(int handle)
{
    Lock *l = find(handle);
    if (!l) return kInvalidHandle;
    LeaveCriticalSection(&l->section);
    const LockHooks &hooks = current_hooks();
    if (hooks.after_release) hooks.after_release(handle, hooks.context);
    return 0;
}

extern "C" int standin_CmtDiscardLock(int handle)
{
    Lock *l = find(handle);
    if (!l) return kInvalidHandle;
    {
        rte::TableLock guard;
        l->in_use = false;
        table()[static_cast<size_t>(handle) - 1] = nullptr;
    }
    DeleteCriticalSection(&l->section);
    delete l;
    InterlockedDecrement(&g_live_locks);
    return 0;
}

extern "C" void standin_rte_fail_lock_new_nth(long n) { g_fail_new.arm(n, false); }
extern "C" void standin_rte_fail_lock_get_nth(long n) { g_fail_get.arm(n, false); }
extern "C" long standin_rte_live_locks(void) { return g_live_locks; }

extern "C" void standin_rte_set_lock_hooks(standin_rte_lock_hook_t before_get, standin_rte_lock_hook_t after_release,
                                           void *context)
{
    const LockHooks *hooks = before_get || after_release ? new LockHooks{before_get, after_release, context} : &kNoHooks;
    g_hooks.store(hooks, std::memory_order_release);
}

void rte::reset_locks()
{
    g_fail_new.arm(0, false);
    g_fail_get.arm(0, false);
    standin_rte_set_lock_hooks(nullptr, nullptr, nullptr);
}
