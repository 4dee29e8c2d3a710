/* Shared internals of the run-time engine stand-in: the engine's own heap,
 * failure injection and the lock that guards the stand-in's tables. */
#pragma once
#define STANDIN_RTE_BUILDING
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "standin_rte.h"

namespace rte {

/* A one-shot countdown: arm(n) makes the nth call of take() return true. */
struct FailCountdown {
    volatile long remaining = 0; /* 0 = disarmed */
    volatile long sticky = 0;    /* 1 = keep failing once triggered */
    void arm(long n, bool keep) { sticky = keep; remaining = n; }
    bool take() {
        for (;;) {
            long r = remaining;
            if (r <= 0) return false;
            if (r == 1 && sticky) return true;
            if (InterlockedCompareExchange(&remaining, r - 1, r) == r) return r == 1;
        }
    }
};

/* Guards the stand-in's tables (resources, log, lock and TLV tables). */
class TableLock {
public:
    TableLock();
    ~TableLock();
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;
};

bool resource_tracking_on();
void track_implicit(void *block, size_t size);
void untrack_block(void *block);

void reset_allocator();
void reset_switches();
void reset_locks();
void reset_protection_log();
void tlv_thread_detach();
void debugger_process_detach();

/* The engine's own bookkeeping allocations (deferred-call queue entries) obey
 * the allocator's failure countdown: true when this one is to fail. */
bool engine_allocation_fails();
/* Deferred-call queues follow their threads' lives. */
void deferred_thread_attach();
void deferred_thread_detach();

} // namespace rte
