/* Locks: CmtNewLock creates a lock that is recursive on its owning thread (a
 * Windows critical section). Handles are small positive integers; every
 * operation returns a negative status on failure. */
#include "rte_internal.h"
#include "displays_internal.h"
#include <atomic>
#include <cstring>

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kOutOfMemory = -12;
constexpr int kLockFailed = -50;
constexpr int kInvalidAttribute = -2;

struct Lock {
    CRITICAL_SECTION section;
};

/* Slot index + 1 is the handle. Slots are filled once, in order, under the
 * table lock, and read without it: taking and releasing a lock must cost no
 * more than the lock itself. A discarded lock's slot stays empty. */
constexpr size_t kMaxLocks = 16384;
std::atomic<Lock *> g_slots[kMaxLocks];
size_t g_slots_used = 0; /* guarded by the table lock */

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
    if (handle <= 0 || static_cast<size_t>(handle) > kMaxLocks) return nullptr;
    return g_slots[static_cast<size_t>(handle) - 1].load(std::memory_order_acquire);
}

} // namespace

extern "C" int standin_CmtNewLock(const char *, int, int *handle)
{
    if (!handle) return kInvalidHandle;
    *handle = 0;
    if (g_fail_new.take()) return kOutOfMemory;
    rte::TableLock guard;
    if (g_slots_used == kMaxLocks) return kOutOfMemory;
    auto *l = new Lock;
    InitializeCriticalSection(&l->section);
    g_slots[g_slots_used].store(l, std::memory_order_release);
    *handle = static_cast<int>(++g_slots_used);
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
    if (!find(handle)) return kInvalidHandle;
    /* Whoever empties the slot owns the lock's end; a second discard finds it empty. */
    Lock *l = g_slots[static_cast<size_t>(handle) - 1].exchange(nullptr, std::memory_order_acq_rel);
    if (!l) return kInvalidHandle;
    DeleteCriticalSection(&l->section);
    delete l;
    InterlockedDecrement(&g_live_locks);
    return 0;
}

/* Attribute 1: the id of the thread holding the lock, 0 when it is free; the
 * system keeps it in the critical section while a thread is inside. */
extern "C" int standin_CmtGetLockAttribute(int handle, int attribute, void *value)
{
    rte::note_display_switches();
    Lock *l = find(handle);
    if (!l) return kInvalidHandle;
    if (attribute != 1 || !value) return kInvalidAttribute;
    auto holder = static_cast<unsigned int>(reinterpret_cast<uintptr_t>(l->section.OwningThread));
    std::memcpy(value, &holder, sizeof holder);
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
