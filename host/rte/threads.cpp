/* Threads and events: the calling thread's id, the engine's clock, deferred
 * calls posted to a thread and the event processing that runs them.
 *
 * - CmtGetCurrentThreadID is the Windows thread id.
 * - Timer is the seconds elapsed since the engine was loaded, read from the
 *   performance counter (monotonic, sub-microsecond resolution).
 * - PostDeferredCallToThread appends (function, data) to the target thread's
 *   queue and returns at once; the call runs on the target thread, in posting
 *   order, the next time that thread calls ProcessSystemEvents. Posting to a
 *   thread that is not a live thread of this process is refused (-45), a null
 *   function too (-65); a queue entry that cannot be allocated gives -12 (the
 *   entries obey the allocator's failure countdown like any engine allocation).
 * - ProcessSystemEvents runs the calls that were queued for the calling thread
 *   when it began; calls posted meanwhile (also by the calls it runs) wait for
 *   the next round, so a call that re-posts itself cannot hold the thread.
 * - A thread that ends drops the calls still queued for it; posting to it is
 *   refused from then on, until Windows hands its id to a new thread. */
#include "rte_internal.h"
#include <cstdlib>
#include <unordered_map>

typedef void (*DeferredCallbackPtr)(void *callback_data);

namespace {

constexpr int kInvalidThread = -45;
constexpr int kOutOfMemory = -12;
constexpr int kNullFunction = -65;

struct Entry {
    DeferredCallbackPtr function;
    void *data;
    Entry *next;
};

struct Queue {
    Entry *head = nullptr;
    Entry *tail = nullptr;
    bool closed = false; /* the thread has ended */
};

SRWLOCK g_queues_lock = SRWLOCK_INIT;
std::unordered_map<DWORD, Queue> *g_queues; /* made on first use; guarded by g_queues_lock */

std::unordered_map<DWORD, Queue> &queues()
{
    if (!g_queues) g_queues = new std::unordered_map<DWORD, Queue>;
    return *g_queues;
}

class QueuesGuard {
public:
    QueuesGuard() { AcquireSRWLockExclusive(&g_queues_lock); }
    ~QueuesGuard() { ReleaseSRWLockExclusive(&g_queues_lock); }
    QueuesGuard(const QueuesGuard &) = delete;
    QueuesGuard &operator=(const QueuesGuard &) = delete;
};

bool live_thread_of_this_process(DWORD id)
{
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!thread) return false;
    DWORD exit_code = 0;
    bool live = GetProcessIdOfThread(thread) == GetCurrentProcessId() && GetExitCodeThread(thread, &exit_code) &&
                exit_code == STILL_ACTIVE;
    CloseHandle(thread);
    return live;
}

void free_entries(Entry *e)
{
    while (e) {
        Entry *next = e->next;
        std::free(e);
        e = next;
    }
}

LARGE_INTEGER g_frequency;
LARGE_INTEGER g_start;
BOOL CALLBACK start_clock(PINIT_ONCE, PVOID, PVOID *)
{
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    return TRUE;
}
INIT_ONCE g_clock_once = INIT_ONCE_STATIC_INIT;
/* The clock starts when the engine is loaded. */
[[maybe_unused]] const bool g_clock_started = InitOnceExecuteOnce(&g_clock_once, start_clock, nullptr, nullptr);

} // namespace

extern "C" unsigned int standin_CmtGetCurrentThreadID(void) { return GetCurrentThreadId(); }

extern "C" double standin_Timer(void)
{
    InitOnceExecuteOnce(&g_clock_once, start_clock, nullptr, nullptr);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - g_start.QuadPart) / static_cast<double>(g_frequency.QuadPart);
}

extern "C" int standin_PostDeferredCallToThread(DeferredCallbackPtr function, void *data, unsigned int thread_id)
{
    if (!function) return kNullFunction;
    bool live = thread_id == GetCurrentThreadId() || live_thread_of_this_process(thread_id);
    if (!live) return kInvalidThread;
    if (rte::engine_allocation_fails()) return kOutOfMemory;
    auto *e = static_cast<Entry *>(std::malloc(sizeof(Entry)));
    if (!e) return kOutOfMemory;
    *e = {function, data, nullptr};
    QueuesGuard guard;
    Queue &q = queues()[thread_id];
    if (q.closed) {
        std::free(e);
        return kInvalidThread;
    }
    (q.tail ? q.tail->next : q.head) = e;
    q.tail = e;
    return 0;
}

extern "C" int standin_ProcessSystemEvents(void)
{
    Entry *batch = nullptr;
    {
        QueuesGuard guard;
        if (!g_queues) return 0;
        auto it = g_queues->find(GetCurrentThreadId());
        if (it == g_queues->end()) return 0;
        batch = it->second.head;
        it->second.head = it->second.tail = nullptr;
    }
    while (batch) {
        Entry *e = batch;
        batch = e->next;
        DeferredCallbackPtr function = e->function;
        void *data = e->data;
        std::free(e);
        function(data);
    }
    return 0;
}

void rte::deferred_thread_attach()
{
    /* A new thread may carry the id of one that ended: its queue starts open and empty. */
    QueuesGuard guard;
    if (g_queues) g_queues->erase(GetCurrentThreadId());
}

void rte::deferred_thread_detach()
{
    Entry *dropped = nullptr;
    {
        QueuesGuard guard;
        Queue &q = queues()[GetCurrentThreadId()];
        dropped = q.head;
        q.head = q.tail = nullptr;
        q.closed = true;
    }
    free_entries(dropped);
}
