/* Debugger support: the execution-control entry points that the debugger and
 * the run-time engine call by name, the debugger control block as the
 * stoppoints read it, and the one-way message channel with the section table
 * that registers the module's image. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include "cnode_debug.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- the debugger control block ----
 * Owned by the run-time engine, written by the debugger while threads run or
 * wait; every field is read afresh at each test. The module writes only
 * suspend_flag (a stoppoint consumes a suspend request by clearing it). */
typedef struct {
    volatile uint8_t global_flag;         /* 0: stop checks active at every stoppoint */
    volatile uint8_t suspend_flag;        /* 1: the next thread to pass a stoppoint stops */
    volatile uint8_t watchpoint_flag;     /* 2: watchpoints must be re-evaluated */
    uint8_t engine_3[2];
    volatile uint8_t single_step_flag;    /* 5: one of the __qex_step_type values */
    uint8_t engine_6[2];
    volatile uint64_t single_step_frame;  /* 8: frame address bounding next, out and over */
    volatile uint32_t single_step_thread; /* 16: the stepping thread; 0 = any thread */
    uint8_t engine_20[4];
    volatile uint64_t call_evaluation;    /* 24: non-zero while the debugger evaluates a call */
    volatile uint64_t call_function;      /* 32: the __qex_call_function_t to call */
    volatile uint64_t call_value;         /* 40: its first argument */
    volatile uint64_t call_operand;       /* 48: its second argument */
    volatile uint64_t call_thread;        /* 56: the thread that must run the call */
    volatile uint64_t call_barrier;       /* 64: other threads wait at their stoppoints meanwhile */
} __qex_debugger_control_t;

enum __qex_step_type { QEX_STEP_NONE = 0, QEX_STEP_INTO = 1, QEX_STEP_NEXT = 2, QEX_STEP_OUT = 3, QEX_STEP_OVER = 4 };

/* A call the debugger asks a stopped thread to run (func_t). */
typedef void (*__qex_call_function_t)(intptr_t value, intptr_t operand);

/* ---- execution control ---- */
extern char __qex_call_message[4096]; /* library path from the debugger; __qex_iw_load's reply */
extern HMODULE __qex_module_owner;    /* owner reported in every registration */

uint8_t __qex_debugger_is_present(void);
/* Copies "continue", "into", "next", "out" or "over" (at most 9 bytes). */
void __qex_get_exe_state(char *label);
void __qex_suspend(void);
void __qex_debug_safe_call(void);
void __qex_omp_region(void);
void __qex_iw_load(void *unused_1, void *unused_2);
void __qex_restrict_debugging(HMODULE owner, int32_t restricted);
void __qex_pharlap_enter_rtmain(void *function, void *seh_info, uint32_t id, void *handle);
void __qex_pharlap_leave_rtmain(void *function, void *seh_info, uint32_t id, void *handle);
/* Link anchor: references the run-time unit's value displays. */
void __qex_smart_type_reference(void);

/* ---- the message channel and module registration ---- */

/* One section of the loaded image; a table of them ends with a null begin.
 * Packed: a table may start at any byte address. */
#pragma pack(push, 1)
typedef struct {
    void *begin;  /* first byte of the section as loaded */
    void *end;    /* first byte after its used part */
    char name[8]; /* NUL-padded; an 8-character name has no terminator */
} entry_t;
#pragma pack(pop)

/* Every section of this module's image in image order, relocations excepted,
 * then a record with a null begin; built into the image by the link. Room
 * for __QEX_PROJECT_SECTIONS_CAPACITY sections and the terminator. */
#define __QEX_PROJECT_SECTIONS_CAPACITY 64
extern entry_t __qex_project_sections[__QEX_PROJECT_SECTIONS_CAPACITY + 1];
/* __qex_project_sections, complete from the moment the image is mapped. */
entry_t *__qex_project_sections_filled(void);

/* Hands a "@{...}@" message to the debugger; the text is not kept. */
void __qex_send_message(const char *message);
void __qex_attach_module(HMODULE owner, const entry_t *sections);
void __qex_detach_module(HMODULE owner);

#ifdef __cplusplus
}
#endif
