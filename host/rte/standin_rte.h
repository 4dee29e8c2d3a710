/* Test controls of the run-time engine stand-in (qex_gwrt.dll).
 *
 * The module never calls these: they let tests and tools make the engine's
 * allocator fail on demand, count its live blocks, read the protection
 * bookkeeping log and list live tracked resources. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STANDIN_RTE_API __declspec(dllimport)
#ifdef STANDIN_RTE_BUILDING
#undef STANDIN_RTE_API
#define STANDIN_RTE_API
#endif

/* Allocator: the Nth allocation from now (1 = the next) fails; 0 disarms.
 * malloc, calloc and a growing or fresh realloc each count as one. */
STANDIN_RTE_API void standin_rte_fail_alloc_nth(long n);
/* Every allocation from the Nth one on fails until disarmed with 0. */
STANDIN_RTE_API void standin_rte_fail_alloc_from(long n);
STANDIN_RTE_API long standin_rte_live_blocks(void);
STANDIN_RTE_API long standin_rte_total_allocations(void);

/* Locks: the Nth CmtNewLock / CmtGetLock from now fails; 0 disarms. */
STANDIN_RTE_API void standin_rte_fail_lock_new_nth(long n);
STANDIN_RTE_API void standin_rte_fail_lock_get_nth(long n);
STANDIN_RTE_API long standin_rte_live_locks(void);
/* Hooks called on the locking thread, with the lock's handle: before_get
 * before CmtGetLock waits for a lock, after_release once CmtReleaseLock has
 * released it. Null removes a hook; the reset removes both. */
typedef void (*standin_rte_lock_hook_t)(int lock, void *context);
STANDIN_RTE_API void standin_rte_set_lock_hooks(standin_rte_lock_hook_t before_get,
                                                standin_rte_lock_hook_t after_release, void *context);

/* How often the abort entry "cnode_rte_get_abort_tlv" was called. */
STANDIN_RTE_API long standin_rte_abort_entry_calls(void);
/* How often CmtGetThreadLocalVar was called, by any thread. */
STANDIN_RTE_API long standin_rte_tlv_get_calls(void);

/* Protection bookkeeping log: one line per _UP... call, "name(arg, arg, ...)",
 * pointers as 0x%016llx, integers in decimal. _UPSetOutputStringArrayInfo and
 * _UPResizeStringArrayInfo fill the two bookkeeping words they are given with
 * 0xB0000000 + n (the first) and 0xC0000000 + n (the second), n counting
 * filling calls from 1. */
STANDIN_RTE_API size_t standin_rte_protection_log_count(void);
/* Copies line i into buf (terminated, cut to size); returns its full length or -1. */
STANDIN_RTE_API int standin_rte_protection_log_line(size_t i, char *buf, size_t size);
STANDIN_RTE_API void standin_rte_protection_log_clear(void);
/* Logging is on at start; benchmarks turn it off so they measure the module. */
STANDIN_RTE_API void standin_rte_protection_log_enable(int on);

/* Live tracked resources, explicit (__QEX_Resource_Acquire) and implicit
 * (engine allocations made while resource tracking is on). */
STANDIN_RTE_API size_t standin_rte_resource_count(void);
/* Fills the record of resource i (in order of acquisition); returns 0 or -1. */
STANDIN_RTE_API int standin_rte_resource_at(size_t i, void **resource, char *category,
                                            size_t category_size, char *description,
                                            size_t description_size);
/* Finds the description of a live resource; returns 0 or -1 when not tracked. */
STANDIN_RTE_API int standin_rte_resource_find(const void *resource, char *description,
                                              size_t description_size);

/* Debug switches as they stand now (resource tracking has no Get export). */
STANDIN_RTE_API int standin_rte_resource_tracking(void);

/* Resets every switch to its start value and disarms every failure. */
STANDIN_RTE_API void standin_rte_reset(void);

/* ---- strings and the C library's text functions ---- */

/* ---- numbers and the C library's time functions ---- */

/* ---- streams and the file system ---- */

/* ---- threads, thread-safe variables, deferred calls and absolute time ---- */

/* Thread-safe variables created so far, and those not yet discarded. */
STANDIN_RTE_API long standin_rte_tsvs_created(void);
STANDIN_RTE_API long standin_rte_live_tsvs(void);
/* Thread-local variables created so far. */
STANDIN_RTE_API long standin_rte_tlvs_created(void);
/* The next absolute-time conversion returns this status (once); 0 disarms. */
STANDIN_RTE_API void standin_rte_force_time_status(int status);

/* ---- value displays: queues, lock attributes, TCP conversations ---- */
/* The first slot of a thread-safe queue's storage (the engine's CmtNewTSQ,
 * CmtWriteTSQData, CmtReadTSQData and CmtDiscardTSQ build and fill queues),
 * or null for an unknown handle. */
STANDIN_RTE_API void *standin_rte_tsq_storage(intptr_t queue);
/* Opens a TCP conversation whose peer the engine knows by this host name and
 * address (null = unknown); returns its handle, from 1. No socket is opened. */
STANDIN_RTE_API unsigned int standin_rte_tcp_open(const char *peer_name, const char *peer_address);
STANDIN_RTE_API int standin_rte_tcp_close(unsigned int conversation);
/* The break-on switches as the last engine call serving a value display found
 * them (1 library errors, 2 protection errors, 4 first-chance exceptions), or
 * -1 when no such call came since the last read; reading clears the record. */
STANDIN_RTE_API int standin_rte_display_switches_seen(void);

/* ---- object registry and conversions ---- */

/* ---- the host program (call log) ---- */

#ifdef __cplusplus
}
#endif
