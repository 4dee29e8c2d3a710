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

/* ---- entry and exit steps of every export ---- */
void __qex_pharlap_enter(void *function, void *seh_info);
void __qex_pharlap_leave(void *function, void *seh_info);

/* ---- the exception continuation ---- */
/* Records the point just after the call in *info and returns 0; when a
 * hardware exception later resumes there, it returns again with 1. */
__attribute__((returns_twice)) int __DBG_GetExceptionInfo(__cnode_exception_info_t *info);
/* Installs info as this thread's continuation and returns the one it replaces. */
__cnode_exception_info_t *__DBG_SetExceptionInfo(__cnode_exception_info_t *info);

#ifdef __cplusplus
}
#endif
