/* PostDeferredCallToThreadAndWait: runs a function on another thread through
 * the engine's deferred calls and waits, with an optional time-out, until it
 * has run.
 *
 * Each call has a record from the engine's allocator (function, data, state,
 * abandoned flag, lock). The state moves 0 new -> 1 posted -> 2 running ->
 * 3 finished; the target thread writes it and the waiter polls it without the
 * lock. The hand-over is decided under the record's lock, so that exactly one
 * side frees the record:
 *   - the trampoline on the target thread reads the abandoned flag and sets
 *     state 3 under the lock; it frees the record (and discards the lock)
 *     only when the waiter had abandoned it;
 *   - a waiter whose time-out passes takes the lock: if the call has not
 *     finished it marks the record abandoned and leaves it to the trampoline,
 *     never touching it again; otherwise it keeps it;
 *   - a waiter that keeps the record (it saw state 3) first takes and releases
 *     the lock once, so that the trampoline, which set state 3 while holding
 *     the lock, has let go of it before the lock is discarded and the record
 *     freed.
 * A failed post gives the record back to the caller, who frees it; nothing is
 * left behind on any failure. */
#include <windows.h>
#include "qex_rte.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr int kNullCallback = -65;
constexpr int kOutOfMemory = -12;
constexpr int kNoTimeout = -1;

enum State : int { kNew = 0, kPosted = 1, kRunning = 2, kFinished = 3 };

struct DeferredCall {
    DeferredCallbackPtr callback;
    void *callback_data;
    int state;     /* written by the running side, polled unlocked: atomic accesses */
    int abandoned; /* under the lock */
    CmtThreadLockHandle lock;
};

int state_of(const DeferredCall *call) { return __atomic_load_n(&call->state, __ATOMIC_ACQUIRE); }
void set_state(DeferredCall *call, int state) { __atomic_store_n(&call->state, state, __ATOMIC_RELEASE); }

void discard(DeferredCall *call)
{
    CmtDiscardLock(call->lock);
    toolbox::engine_free(call);
}

/* Runs on the target thread. */
void trampoline(void *data)
{
    auto *call = static_cast<DeferredCall *>(data);
    set_state(call, kRunning);
    call->callback(call->callback_data);
    CmtThreadLockHandle lock = call->lock;
    CmtGetLock(lock);
    int abandoned = call->abandoned;
    set_state(call, kFinished);
    CmtReleaseLock(lock);
    /* Without the abandoned flag the waiter owns the record from here on. */
    if (abandoned) discard(call);
}

} // namespace

extern "C" int PostDeferredCallToThreadAndWait(DeferredCallbackPtr callback, void *callbackData,
                                               int targetThreadId, int timeoutMs)
{
    if (!callback) return kNullCallback;
    auto *call = static_cast<DeferredCall *>(toolbox::engine_malloc(sizeof(DeferredCall)));
    if (!call) return kOutOfMemory;
    *call = {callback, callbackData, kNew, 0, 0};
    int lock_status = CmtNewLock(nullptr, 0, &call->lock);
    if (lock_status < 0) {
        toolbox::engine_free(call);
        return lock_status;
    }

    if (CmtGetCurrentThreadID() == static_cast<unsigned int>(targetThreadId)) {
        set_state(call, kRunning);
        callback(callbackData);
        CmtGetLock(call->lock);
        set_state(call, kFinished);
        CmtReleaseLock(call->lock);
        discard(call);
        return lock_status;
    }

    bool timed = timeoutMs != kNoTimeout;
    double timeout_s = timeoutMs / 1000.0;
    double start = timed ? Timer() : 0.0;
    set_state(call, kPosted);
    int post_status = PostDeferredCallToThread(trampoline, call, static_cast<unsigned int>(targetThreadId));
    if (post_status < 0) {
        set_state(call, kNew);
        discard(call);
        return post_status;
    }

    while (state_of(call) != kFinished) {
        Sleep(0);
        if (timed && Timer() - start > timeout_s) {
            CmtGetLock(call->lock);
            bool finished = state_of(call) == kFinished;
            if (!finished) call->abandoned = 1;
            CmtReleaseLock(call->lock);
            if (!finished) return post_status; /* the trampoline frees the record */
            break;
        }
    }
    /* State 3 seen: the trampoline set it holding the lock; once we have held
     * the lock after it, it has let go. */
    CmtGetLock(call->lock);
    CmtReleaseLock(call->lock);
    discard(call);
    return post_status;
}
