/* Thread-safe queues: a ring of `capacity` items of `item_size` bytes each.
 * Items are written at the tail and read from the head; the head wraps to the
 * storage's first slot after the last one, so the items in the queue may lie
 * in two runs: from the head to the end of the storage, then from its start.
 *
 * A reader may take the read pointer (the head) and the number of items
 * readable from it without wrapping; the queue stays held by that thread
 * until it releases the pointer, saying how many items it consumed. Writers,
 * other readers and attribute queries from other threads wait meanwhile; an
 * attribute query waits at most the time-out it is given. Handles are small
 * positive integers in a pointer-sized handle; every operation returns a
 * negative status on failure. Writes and reads never wait for room or items:
 * they move what they can and return how many items they moved. */
#include "displays_internal.h"
#include <atomic>
#include <cstring>

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kOutOfMemory = -12;
constexpr int kInvalidArgument = -2;
constexpr int kTimedOut = -9;
constexpr int kNotReading = -14;

constexpr int kAttrCapacity = 3;
constexpr int kAttrItemSize = 4;
constexpr int kAttrItemCount = 5;

struct Queue {
    CRITICAL_SECTION hold; /* owned by a reader between read pointer and release */
    size_t capacity;
    size_t item_size;
    size_t head = 0;
    size_t count = 0;
    DWORD reader = 0; /* thread holding the read pointer, 0 = none */
    int readable = 0; /* what that reader was told it may consume */
    unsigned char *storage;
};

constexpr size_t kMaxQueues = 1024;
std::atomic<Queue *> g_queues[kMaxQueues];
size_t g_queues_used = 0; /* guarded by the table lock */

Queue *find(intptr_t handle)
{
    if (handle <= 0 || static_cast<size_t>(handle) > kMaxQueues) return nullptr;
    return g_queues[static_cast<size_t>(handle) - 1].load(std::memory_order_acquire);
}

/* Holds a queue for the lifetime of the guard. */
class Held {
public:
    explicit Held(Queue *q) : q_(q) { EnterCriticalSection(&q_->hold); }
    ~Held() { LeaveCriticalSection(&q_->hold); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

private:
    Queue *q_;
};

unsigned char *slot(Queue *q, size_t index) { return q->storage + ((q->head + index) % q->capacity) * q->item_size; }

/* Items readable from the head before the storage wraps. */
size_t run_from_head(const Queue *q) { return q->count < q->capacity - q->head ? q->count : q->capacity - q->head; }

} // namespace

extern "C" int standin_CmtNewTSQ(int capacity, int item_size, int, intptr_t *handle)
{
    if (!handle) return kInvalidArgument;
    *handle = 0;
    if (capacity <= 0 || item_size <= 0) return kInvalidArgument;
    auto *storage = static_cast<unsigned char *>(calloc(static_cast<size_t>(capacity), static_cast<size_t>(item_size)));
    if (!storage) return kOutOfMemory;
    rte::TableLock guard;
    if (g_queues_used == kMaxQueues) {
        free(storage);
        return kOutOfMemory;
    }
    auto *q = new Queue{{}, static_cast<size_t>(capacity), static_cast<size_t>(item_size), 0, 0, 0, 0, storage};
    InitializeCriticalSection(&q->hold);
    g_queues[g_queues_used].store(q, std::memory_order_release);
    *handle = static_cast<intptr_t>(++g_queues_used);
    return 0;
}

extern "C" int standin_CmtDiscardTSQ(intptr_t handle)
{
    if (!find(handle)) return kInvalidHandle;
    Queue *q = g_queues[static_cast<size_t>(handle) - 1].exchange(nullptr, std::memory_order_acq_rel);
    if (!q) return kInvalidHandle;
    DeleteCriticalSection(&q->hold);
    free(q->storage);
    delete q;
    return 0;
}

extern "C" int standin_CmtWriteTSQData(intptr_t handle, const void *items, int count, int, int *)
{
    Queue *q = find(handle);
    if (!q) return kInvalidHandle;
    if (count < 0 || (count > 0 && !items)) return kInvalidArgument;
    Held held(q);
    int written = 0;
    for (; written < count && q->count < q->capacity; ++written, ++q->count)
        std::memcpy(slot(q, q->count), static_cast<const unsigned char *>(items) + written * q->item_size,
                    q->item_size);
    return written;
}

extern "C" int standin_CmtReadTSQData(intptr_t handle, void *items, int count, int, int)
{
    Queue *q = find(handle);
    if (!q) return kInvalidHandle;
    if (count < 0 || (count > 0 && !items)) return kInvalidArgument;
    Held held(q);
    int read = 0;
    for (; read < count && q->count > 0; ++read, --q->count, q->head = (q->head + 1) % q->capacity)
        std::memcpy(static_cast<unsigned char *>(items) + read * q->item_size, slot(q, 0), q->item_size);
    return read;
}

extern "C" int standin_CmtGetTSQAttributeEx(intptr_t handle, int attribute, void *value, int timeout_ms)
{
    rte::note_display_switches();
    Queue *q = find(handle);
    if (!q) return kInvalidHandle;
    if (!value) return kInvalidArgument;
    DWORD start = GetTickCount();
    while (!TryEnterCriticalSection(&q->hold)) {
        if (GetTickCount() - start >= static_cast<DWORD>(timeout_ms < 0 ? 0 : timeout_ms)) return kTimedOut;
        Sleep(1);
    }
    int status = 0;
    size_t answer = 0;
    switch (attribute) {
    case kAttrCapacity: answer = q->capacity; break;
    case kAttrItemSize: answer = q->item_size; break;
    case kAttrItemCount: answer = q->count; break;
    default: status = kInvalidArgument;
    }
    LeaveCriticalSection(&q->hold);
    if (status == 0) std::memcpy(value, &answer, sizeof answer);
    return status;
}

extern "C" int standin_CmtGetTSQReadPtr(intptr_t handle, void **read_pointer, int *readable)
{
    rte::note_display_switches();
    Queue *q = find(handle);
    if (!q) return kInvalidHandle;
    if (!read_pointer || !readable) return kInvalidArgument;
    EnterCriticalSection(&q->hold);
    if (q->reader == GetCurrentThreadId()) { /* one read pointer at a time */
        LeaveCriticalSection(&q->hold);
        return kInvalidArgument;
    }
    q->reader = GetCurrentThreadId();
    q->readable = static_cast<int>(run_from_head(q));
    *read_pointer = slot(q, 0);
    *readable = q->readable;
    return 0;
}

extern "C" int standin_CmtReleaseTSQReadPtr(intptr_t handle, int items_read)
{
    rte::note_display_switches();
    Queue *q = find(handle);
    if (!q) return kInvalidHandle;
    if (!TryEnterCriticalSection(&q->hold)) return kNotReading;
    bool mine = q->reader == GetCurrentThreadId();
    if (!mine || items_read < 0 || items_read > q->readable) {
        LeaveCriticalSection(&q->hold);
        return mine ? kInvalidArgument : kNotReading;
    }
    q->head = (q->head + static_cast<size_t>(items_read)) % q->capacity;
    q->count -= static_cast<size_t>(items_read);
    q->reader = 0;
    q->readable = 0;
    LeaveCriticalSection(&q->hold);
    LeaveCriticalSection(&q->hold); /* the hold taken with the read pointer */
    return 0;
}

extern "C" void *standin_rte_tsq_storage(intptr_t handle)
{
    Queue *q = find(handle);
    return q ? q->storage : nullptr;
}
