/* Thread-safe variables: a block of the size given at creation (zero-filled)
 * behind a lock of its own. CmtGetTSVPtr takes the lock and hands out the
 * block's address; CmtReleaseTSVPtr gives the lock back. The lock is recursive
 * on its holding thread, so a holder may get the pointer again (and must then
 * release it as often). CmtSetTSV and CmtGetTSV copy the whole block in or out
 * under the lock. Releasing a variable that the calling thread does not hold
 * is refused (-46) instead of corrupting the lock.
 *
 * Handles are small positive integers; a discarded variable's handle stays
 * invalid (-45). Discarding a variable that a thread holds is a caller's
 * error the engine does not guard against. */
#include "rte_internal.h"
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kNotHeld = -46;
constexpr int kOutOfMemory = -12;

struct Tsv {
    CRITICAL_SECTION section;
    size_t size;
    DWORD holder; /* thread holding the lock, 0 when free */
    int depth;    /* the holder's nesting */
    unsigned char *data;
};

/* Slot index + 1 is the handle; filled once, in order, under the table lock,
 * read without it (as the locks' table). */
constexpr size_t kMaxTsvs = 4096;
std::atomic<Tsv *> g_slots[kMaxTsvs];
size_t g_slots_used = 0; /* guarded by the table lock */
volatile long g_created = 0;
volatile long g_live = 0;

Tsv *find(int handle)
{
    if (handle <= 0 || static_cast<size_t>(handle) > kMaxTsvs) return nullptr;
    return g_slots[static_cast<size_t>(handle) - 1].load(std::memory_order_acquire);
}

void take(Tsv *t)
{
    EnterCriticalSection(&t->section);
    t->holder = GetCurrentThreadId();
    ++t->depth;
}

void give_back(Tsv *t)
{
    if (--t->depth == 0) t->holder = 0;
    LeaveCriticalSection(&t->section);
}

} // namespace

extern "C" int standin_CmtNewTSV(int size, int *handle)
{
    if (!handle) return kInvalidHandle;
    *handle = 0;
    if (size <= 0) return kInvalidHandle;
    auto *data = static_cast<unsigned char *>(std::calloc(1, static_cast<size_t>(size)));
    if (!data) return kOutOfMemory;
    auto *t = new Tsv{{}, static_cast<size_t>(size), 0, 0, data};
    InitializeCriticalSection(&t->section);
    rte::TableLock guard;
    if (g_slots_used == kMaxTsvs) {
        DeleteCriticalSection(&t->section);
        std::free(data);
        delete t;
        return kOutOfMemory;
    }
    g_slots[g_slots_used].store(t, std::memory_order_release);
    *handle = static_cast<int>(++g_slots_used);
    InterlockedIncrement(&g_created);
    InterlockedIncrement(&g_live);
    return 0;
}

extern "C" int standin_CmtDiscardTSV(int handle)
{
    if (!find(handle)) return kInvalidHandle;
    Tsv *t = g_slots[static_cast<size_t>(handle) - 1].exchange(nullptr, std::memory_order_acq_rel);
    if (!t) return kInvalidHandle;
    DeleteCriticalSection(&t->section);
    std::free(t->data);
    delete t;
    InterlockedDecrement(&g_live);
    return 0;
}

extern "C" int standin_CmtGetTSVPtr(int handle, void *pointer_out)
{
    if (!pointer_out) return kInvalidHandle;
    *static_cast<void **>(pointer_out) = nullptr;
    Tsv *t = find(handle);
    if (!t) return kInvalidHandle;
    take(t);
    *static_cast<void **>(pointer_out) = t->data;
    return 0;
}

extern "C" int standin_CmtReleaseTSVPtr(int handle)
{
    Tsv *t = find(handle);
    if (!t) return kInvalidHandle;
    if (t->holder != GetCurrentThreadId()) return kNotHeld;
    give_back(t);
    return 0;
}

extern "C" int standin_CmtSetTSV(int handle, const void *value)
{
    Tsv *t = find(handle);
    if (!t || !value) return kInvalidHandle;
    take(t);
    std::memcpy(t->data, value, t->size);
    give_back(t);
    return 0;
}

extern "C" int standin_CmtGetTSV(int handle, void *value)
{
    Tsv *t = find(handle);
    if (!t || !value) return kInvalidHandle;
    take(t);
    std::memcpy(value, t->data, t->size);
    give_back(t);
    return 0;
}

extern "C" long standin_rte_tsvs_created(void) { return g_created; }
extern "C" long standin_rte_live_tsvs(void) { return g_live; }
