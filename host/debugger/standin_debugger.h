/* Test controls of the debugger-library stand-in (qexdebug.dll).
 *
 * The module never calls these. They let a controlling thread play the
 * environment's debugger: read the log of every call the library received,
 * see a node thread arrive at the barrier or the break and hold it there,
 * learn where it stands (source range, frame address of the function that
 * holds the stoppoint), change the engine's debugger control block, write the
 * module's breakpoint bytes, release the thread, and make the barrier fault. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STANDIN_DBG_API __declspec(dllimport)
#ifdef STANDIN_DBG_BUILDING
#undef STANDIN_DBG_API
#define STANDIN_DBG_API
#endif

/* The engine's debugger control block as the debugger writes it; one record
 * shared by every thread of the process. Bytes not named are the engine's. */
typedef struct {
    volatile uint8_t global_flag;        /* 0: stop checks active at every stoppoint */
    volatile uint8_t suspend_flag;       /* 1: the next thread to pass a stoppoint stops */
    volatile uint8_t watchpoint_flag;    /* 2: watchpoints must be re-evaluated */
    uint8_t engine_3[2];
    volatile uint8_t single_step_flag;   /* 5: 0 none, 1 into, 2 next, 3 out, 4 over */
    uint8_t engine_6[2];
    volatile uint64_t single_step_frame; /* 8: frame address bounding next, out and over */
    volatile uint32_t single_step_thread;/* 16: the stepping thread, 0 = any */
    uint8_t engine_20[4];
    volatile uint64_t call_evaluation;   /* 24: non-zero while a call is evaluated */
    volatile uint64_t call_function;     /* 32: void (*)(intptr_t value, intptr_t operand) */
    volatile uint64_t call_value;        /* 40 */
    volatile uint64_t call_operand;      /* 48 */
    volatile uint64_t call_thread;       /* 56: the thread that runs the call */
    volatile uint64_t call_barrier;      /* 64: other threads wait while the call runs */
} standin_dbg_control_block_t;

/* The engine's control block (found through the engine's thread environment),
 * or null when the engine is not loaded or offers none. */
STANDIN_DBG_API standin_dbg_control_block_t *standin_dbg_control_block(void);
/* Clears every field of the control block that the debugger owns. */
STANDIN_DBG_API void standin_dbg_clear_control_block(void);

/* Address of a symbol of a loaded module, read from the symbol table of the
 * module's file the way a debugger reads debug information; null when the
 * file has no such symbol. */
STANDIN_DBG_API void *standin_dbg_module_symbol(HMODULE module, const char *name);

/* ---- the log: one line per call the library received, in order ----
 * Messages appear verbatim ("@{...}@"); other calls as
 *   "initialize"
 *   "attach function=0x... seh_info=0x... owner=0x... sections=0x... slot=0x..."
 *   "detach function=0x... seh_info=0x... owner=0x..."
 *   "restricted N"
 *   "stdio text=0x... count=N"
 *   "exception code=0x........"
 *   "thread_aborted process=N thread=N"
 * Arrivals at the barrier and the break are counted, not logged. */
STANDIN_DBG_API size_t standin_dbg_log_count(void);
/* Copies line i into buf (terminated, cut to size); returns its full length or -1. */
STANDIN_DBG_API int standin_dbg_log_line(size_t i, char *buf, size_t size);
STANDIN_DBG_API void standin_dbg_log_clear(void);

/* ---- arrivals and holding ---- */
enum { STANDIN_DBG_BARRIER = 1, STANDIN_DBG_BREAK = 2 };

/* Where a thread stood when it arrived. */
typedef struct {
    uint64_t id;              /* arrival number, from 1 */
    uint32_t thread_id;
    int32_t kind;             /* STANDIN_DBG_BARRIER or STANDIN_DBG_BREAK */
    uint32_t range_start;     /* the thread's source range (debug thread environment) */
    uint32_t range_end;
    void *debug_frame;        /* the thread's innermost debug frame */
    /* Found by walking the thread's stack to the stoppoint's caller; 0 when the
     * arrival did not come from a stoppoint: */
    uint64_t frame_address;   /* frame address of the function that called the stoppoint */
    void *return_address;     /* where that function resumes after its stoppoint */
    volatile unsigned char *entry; /* the statement's breakpoint byte (the stoppoint's home slot) */
} standin_dbg_stop_t;

/* Which arrivals hold their thread until released (default: breaks only). */
STANDIN_DBG_API void standin_dbg_hold(int at_barrier, int at_break);
/* Waits up to timeout_ms for a held thread not reported before; fills *stop and
 * returns 1, or returns 0 on timeout. */
STANDIN_DBG_API int standin_dbg_wait_stop(uint32_t timeout_ms, standin_dbg_stop_t *stop);
/* Lets the held arrival go; returns 1, or 0 when it is not held. */
STANDIN_DBG_API int standin_dbg_release(uint64_t id);
STANDIN_DBG_API void standin_dbg_release_all(void);
STANDIN_DBG_API size_t standin_dbg_held_count(void);
/* Arrivals of one kind since the last reset, held or not. */
STANDIN_DBG_API long standin_dbg_arrivals(int kind);

/* Makes the next arrival at the barrier of the given thread (0 = any thread)
 * from the stoppoint of the given breakpoint byte (null = any statement) raise
 * an access violation by writing to an unmapped address; one shot. */
STANDIN_DBG_API void standin_dbg_fault_next_barrier(uint32_t thread_id, volatile unsigned char *entry);

/* ---- value displays ---- */

/* The value-display table (rows of __qex_smart_type_t: int32 property,
 * pointer value, size_t size) that one unit of a loaded module defines,
 * found as a debugger finds it: the private symbol "__qex_smart_types" that
 * follows the unit's file record in the symbol table of the module's file.
 * `unit` is the unit's source file name without its extension. Stores the
 * number of rows (every row from the first up to the first that is not a
 * well-formed row: a known property code, a text whose size is its length
 * plus one, a function in the image, a member start without value) and
 * returns the table's address, or null when the unit has no table. */
STANDIN_DBG_API const void *standin_dbg_smart_type_table(HMODULE module, const char *unit, size_t *rows);

/* Runs a value display the way the debugger does: the thread held at the
 * arrival *stop runs display(variable, index) as the call evaluation of its
 * stoppoint and stops again; the answers are the "@{smart_type|%p:12}@"
 * messages it sent meanwhile. Returns how many it sent (the last one's
 * pointer in *answer), or -1 when the thread did not stop again within
 * timeout_ms. *stop becomes the new arrival that holds the thread. */
STANDIN_DBG_API int standin_dbg_run_display(standin_dbg_stop_t *stop, const void *display, const void *variable,
                                            intptr_t index, uint32_t timeout_ms, void **answer);

/* Releases every held thread, clears the log, the counts, a pending fault and
 * the control block, and restores the default holding. */
STANDIN_DBG_API void standin_dbg_reset(void);

#ifdef __cplusplus
}
#endif
