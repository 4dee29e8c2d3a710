/* Debugger hooks and debug registration that the node's frame and text call. */
#pragma once
#include <stdint.h>
#include "cnode.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- stoppoints ---- */
extern volatile uint8_t __qex_global_flag;
extern volatile uint8_t __qex_debugger_present;
extern volatile int32_t __qex_gw_c_abort_flag;
extern volatile int32_t __qex_gw_c_abort_tlv_handle;

void __qex_stoppoint(volatile unsigned char *entry);
void __qex_stoppoint_implementation(volatile unsigned char *entry, void **return_address_slot);

/* The abort checks of a stoppoint: when an abort of the code running on this
 * thread is pending (the node's own, or the host's), they jump back to the
 * frame that armed the thread's abort record and do not return. */
void __qex_node_abort_check(void);
void __qex_host_abort_check(void);

/* ---- entry and exit steps of every export ---- */
void __qex_pharlap_enter(void *function, void *seh_info);
void __qex_pharlap_leave(void *function, void *seh_info);

/* ---- the exception continuation ---- */
/* Records the point just after the call in *info and returns 0; when a
 * hardware exception later resumes there, it returns again with 1. */
__attribute__((returns_twice)) int __DBG_GetExceptionInfo(__cnode_exception_info_t *info);
/* Installs info as this thread's continuation and returns the one it replaces. */
__cnode_exception_info_t *__DBG_SetExceptionInfo(__cnode_exception_info_t *info);

/* ---- the thread's debug environment and debug frames ----
 * The run-time engine keeps one debug environment per thread; code compiled
 * for debugging reads and chains these fields at fixed byte offsets. */
enum {
    QEX_DBG_ENV_RANGE_START = 6352,     /* uint32_t: start word of the current statement */
    QEX_DBG_ENV_RANGE_END = 6356,       /* uint32_t: its end word */
    QEX_DBG_ENV_SOURCE_FILE = 6360,     /* const char *: the current source file */
    QEX_DBG_ENV_CURRENT_FRAME = 6408,   /* __qex_debug_frame_t *: innermost active frame */
    QEX_DBG_ENV_CURRENT_IMAGE = 6432,   /* module handle of the innermost frame's image */
    QEX_DBG_ENV_CONTROL_BLOCK = 7792,   /* the debugger control block */
    QEX_DBG_ENV_EXCEPTION_INFO = 7800,  /* __cnode_exception_info_t *: installed continuation */
    QEX_DBG_ENV_MIN_SIZE = 7808
};

/* The 64-byte record an instrumented function keeps in its own stack frame
 * while it runs; frames chain through the environment, innermost first. */
typedef struct __qex_debug_frame {
    const char *saved_source_file;        /* 0: the caller's source file */
    uint32_t saved_range_start;           /* 8 */
    uint32_t saved_range_end;             /* 12 */
    uint32_t range_start;                 /* 16: this function's current statement */
    uint32_t range_end;                   /* 20 */
    struct __qex_debug_frame *previous;   /* 24 */
    uint64_t debugger_32;                 /* 32: the engine's and the debugger's */
    void *saved_image;                    /* 40 */
    uint64_t debugger_48;                 /* 48 */
    uint64_t debugger_56;                 /* 56 */
} __qex_debug_frame_t;
#ifdef __cplusplus
static_assert(sizeof(__qex_debug_frame_t) == 64, "debug frames are 64 bytes");
#else
_Static_assert(sizeof(__qex_debug_frame_t) == 64, "debug frames are 64 bytes");
#endif

/* Position words: line in bits 10 and up, column in bits 0 to 9; bit 30 of
 * the start word marks a statement start. */
void __DBG_InitDebugImage(void *module, int32_t warn);
void __DBG_InitDebugInfo(void *word_1, void *word_2);
void __DBG_CleanUpDebugImage(void *module);
void __DBG_CleanUpDebugInfo(void *word);
/* The calling thread's environment; the thread's last-error value is kept. */
void *__DBG_InitializeThreadEnv(void);
void __DBG_EnterFunction(void *env, __qex_debug_frame_t *frame, const char *source_file);
void __DBG_LeaveFunction(void *env, __qex_debug_frame_t *frame);
void __DBG_SetSourceLocation(void *env, __qex_debug_frame_t *frame, const char *source_file, uint32_t start,
                             uint32_t end);
void __DBG_SetSourceCallRange(void *env, __qex_debug_frame_t *frame, uint32_t start, uint32_t end);
void __DBG_SetSourceFileName(void *env, const char *source_file);
/* The debugger control block of the calling thread's environment. */
void *__DBG_GetDebuggerControlVars(void);

/* ---- exception handlers named in the unwind information ---- */
struct _EXCEPTION_RECORD;
struct _CONTEXT;
struct _DISPATCHER_CONTEXT;
/* Resumes a faulting call at the thread's installed continuation (0), or
 * passes the exception on (1). */
int __qex_exception_handler(struct _EXCEPTION_RECORD *record, void *establisher_frame, struct _CONTEXT *context,
                            struct _DISPATCHER_CONTEXT *dispatcher_context);
int __REL_CleanupExceptHandler(struct _EXCEPTION_RECORD *record, void *establisher_frame,
                               struct _CONTEXT *context, struct _DISPATCHER_CONTEXT *dispatcher_context);
int __DBG_CleanupExceptHandler(struct _EXCEPTION_RECORD *record, void *establisher_frame,
                               struct _CONTEXT *context, struct _DISPATCHER_CONTEXT *dispatcher_context);

/* ---- the debugger library ----
 * Each entry forwards its arguments to the export of the same name in an
 * already loaded qexdebug.dll (never loaded by the module); without the
 * library, a native debugger attached to the process gets the fallback:
 * a break, the message as a debug string, the module's attach and detach
 * messages, the standard-output echo. Every entry keeps the thread's
 * last-error value. */
void __qex_debug_initialize(void);
void __qex_debug_barrier(void);
void __qex_debug_break(void);
void __qex_debug_message(const char *message);
void __qex_debug_attach(void *function, void *seh_info, void *owner, const void *sections,
                        void **return_address_slot);
void __qex_debug_detach(void *function, void *seh_info, void *owner);
void __qex_debug_restricted(int32_t restricted);
void __qex_debug_stdio(const char *text, uint32_t count);
/* The library's answer, or 1 (continue search) without the library. */
int __qex_debug_exception(struct _EXCEPTION_RECORD *record, void *establisher_frame, struct _CONTEXT *context,
                          struct _DISPATCHER_CONTEXT *dispatcher_context);

#ifdef __cplusplus
}
#endif
