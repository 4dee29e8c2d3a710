/* Test controls of the run-time engine stand-in for module start-up: what
 * the engine keeps of each attached module (its linkage table, searchable by
 * name as the environment and the debugger search it), the order of the
 * life-cycle calls it received, the support-library answer and the detached
 * flag it publishes, and the per-thread debug environments it hands out.
 *
 * The module never calls these; tests link them through their own import
 * library of exports/91_startup_controls.def. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STANDIN_RTE_STARTUP_API __declspec(dllimport)
#ifdef STANDIN_RTE_BUILDING
#undef STANDIN_RTE_STARTUP_API
#define STANDIN_RTE_STARTUP_API
#endif

/* ---- attached modules ---- */

/* Everything InitQEXRTDll received for one module. */
typedef struct {
    void *module;
    const void *linkage_table; /* 20-byte records: name, address, kind */
    int32_t linkage_count;
    const void *tables[3];
    int32_t counts[3];
    void *block;
    const char *const *components;
} standin_rte_attachment_t;

STANDIN_RTE_STARTUP_API int standin_rte_attached_count(void);
/* Fills *out for the module (null: the latest attached); 0, or -1 when the
 * module is not attached. */
STANDIN_RTE_STARTUP_API int standin_rte_attachment(void *module, standin_rte_attachment_t *out);
/* Finds a function by name in the module's linkage table with a binary search
 * under strcmp, as the engine does; null when absent or not attached. */
STANDIN_RTE_STARTUP_API void *standin_rte_lookup_function(void *module, const char *name);
/* The Nth InitQEXRTDll from now (1 = the next) fails; 0 disarms. */
STANDIN_RTE_STARTUP_API void standin_rte_fail_attach_nth(long n);

/* ---- the life-cycle log ----
 * One line per call received: "InitQEXRTDll", "CloseQEXRTDll",
 * "__RegisterAtExitCleanup", "__UnregisterAtExitCleanup",
 * "__DBG_RegisterRTEWithDebugger", "__DBG_UnregisterRTEWithDebugger",
 * "_UPLibChkSize(<pointer>, size, kind, count, check, <function>)",
 * "_UPLibClearArgs", "_UPLibBreakpoint(kind, value, <function>)" (pointers as
 * 0x%016llx), and each note a test adds. */
STANDIN_RTE_STARTUP_API size_t standin_rte_lifecycle_log_count(void);
/* Copies line i into buf (terminated, cut to size); returns its length or -1. */
STANDIN_RTE_STARTUP_API int standin_rte_lifecycle_log_line(size_t i, char *buf, size_t size);
STANDIN_RTE_STARTUP_API void standin_rte_lifecycle_log_clear(void);
STANDIN_RTE_STARTUP_API void standin_rte_lifecycle_note(const char *text);

/* ---- exit-function clearing callbacks ---- */
STANDIN_RTE_STARTUP_API int standin_rte_atexit_cleanups_registered(void);
/* Calls every registered clearing callback, as the engine does when it
 * discards modules' exit functions; returns how many were called. */
STANDIN_RTE_STARTUP_API int standin_rte_run_atexit_cleanups(void);

/* ---- which support library serves the process, and whether it is detached ---- */
/* Sets the answer of WhichRuntimeSupportDll (2 at load) and publishes the
 * detached flag under the shared-memory name that goes with the answer. */
STANDIN_RTE_STARTUP_API void standin_rte_set_support_dll_answer(int32_t answer);
/* Writes the published detached flag (0 at load). */
STANDIN_RTE_STARTUP_API void standin_rte_set_detached(int32_t detached);
/* Closes the published shared memory, as an engine that is gone. */
STANDIN_RTE_STARTUP_API void standin_rte_withdraw_detached_flag(void);

/* ---- debugger services ---- */
/* The debugger control block every thread's environment points to. */
STANDIN_RTE_STARTUP_API void *standin_rte_debugger_control_block(void);
/* The last level given to __SetCurrentDebuggingLevel (0 at load). */
STANDIN_RTE_STARTUP_API int32_t standin_rte_debugging_level(void);
/* The thread-local-storage index that holds each thread's environment. */
STANDIN_RTE_STARTUP_API uint32_t standin_rte_thread_env_slot(void);
/* Environments made and not yet discarded (threads that ended discard theirs). */
STANDIN_RTE_STARTUP_API long standin_rte_live_thread_envs(void);

#ifdef __cplusplus
}
#endif
