/* The run-time engine (qex_gwrt.dll) as the module sees it: every operation
 * the module imports from the engine, declared once.
 *
 * The engine is also a C runtime: it exports malloc, calloc, realloc, free,
 * setjmp and longjmp under those names. The module imports them under the
 * aliases qex_rte_* (the families in engine/), so that they stand beside the module's
 * own statically linked C runtime instead of replacing it. */
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QEX_RTE_IMPORT __declspec(dllimport)

typedef int CmtThreadLockHandle;
typedef int CmtTLVHandle;
/* Called for a thread's record when its thread ends (reason CMT_TLV_THREAD_ENDING,
 * on that thread) or the variable is discarded (CMT_TLV_DISCARDED, on the
 * discarding thread); thread_id names the record's thread. */
typedef void (*CmtTLVCallbackPtr)(void *record, int reason, void *callback_data, unsigned int thread_id);
#define CMT_TLV_THREAD_ENDING 1
#define CMT_TLV_DISCARDED 2

/* ---- the engine's C allocator ---- */
QEX_RTE_IMPORT void *qex_rte_malloc(size_t size);
QEX_RTE_IMPORT void *qex_rte_calloc(size_t count, size_t size);
QEX_RTE_IMPORT void *qex_rte_realloc(void *block, size_t size);
QEX_RTE_IMPORT void qex_rte_free(void *block);

/* ---- non-local jump on a 452-byte buffer ---- */
QEX_RTE_IMPORT __attribute__((returns_twice)) int qex_rte_setjmp(void *env);
QEX_RTE_IMPORT __attribute__((noreturn)) void qex_rte_longjmp(void *env, int value);

/* ---- debug switches: each Set returns the previous setting ---- */
QEX_RTE_IMPORT int GetBreakOnLibraryErrors(void);
QEX_RTE_IMPORT int SetBreakOnLibraryErrors(int on);
QEX_RTE_IMPORT void EnableBreakOnLibraryErrors(void);
QEX_RTE_IMPORT void DisableBreakOnLibraryErrors(void);
QEX_RTE_IMPORT int GetBreakOnProtectionErrors(void);
QEX_RTE_IMPORT int SetBreakOnProtectionErrors(int on);
QEX_RTE_IMPORT int GetBreakOnFirstChanceExceptions(void);
QEX_RTE_IMPORT int SetBreakOnFirstChanceExceptions(int on);
QEX_RTE_IMPORT int SetEnableResourceTracking(int on);

/* ---- resource tracking ---- */
QEX_RTE_IMPORT int __QEX_Resource_Acquire(void *resource, const char *category, const char *format, ...);
QEX_RTE_IMPORT int __QEX_Resource_Release(void *resource);

/* ---- locks and thread-local variables: negative status on failure ---- */
QEX_RTE_IMPORT int CmtNewLock(const char *name, int options, CmtThreadLockHandle *lock);
QEX_RTE_IMPORT int CmtGetLock(CmtThreadLockHandle lock);
QEX_RTE_IMPORT int CmtReleaseLock(CmtThreadLockHandle lock);
QEX_RTE_IMPORT int CmtDiscardLock(CmtThreadLockHandle lock);
QEX_RTE_IMPORT int CmtNewThreadLocalVar(unsigned int size, const void *initial, CmtTLVCallbackPtr discard,
                                        void *callback_data, CmtTLVHandle *handle);
/* record_out is the address of a pointer that receives this thread's record. */
QEX_RTE_IMPORT int CmtGetThreadLocalVar(CmtTLVHandle handle, void *record_out);
QEX_RTE_IMPORT int CmtDiscardThreadLocalVar(CmtTLVHandle handle);

/* ---- protection bookkeeping of memory handed to node code ---- */
QEX_RTE_IMPORT void _UPSetOutputPointerSizeInfo(int kind, void *pointer_address, size_t bytes, void *function,
                                                int type_code);
QEX_RTE_IMPORT void _UPResizePointerSizeInfo(int kind, void *previous, void *pointer_address, size_t old_bytes,
                                             size_t new_bytes, void *function, int type_code);
QEX_RTE_IMPORT void *_UPReturnPointerSizeInfo(void *pointer, size_t bytes);
QEX_RTE_IMPORT void _UPLibFreeDynPtrInfo(void *pointer, int kind, void *function);
QEX_RTE_IMPORT void _UPSetOutputStringArrayInfo(int kind, void *array_address, void *bookkeeping_2_address,
                                                void *bookkeeping_1_address, size_t count, void *function);
QEX_RTE_IMPORT void _UPResizeStringArrayInfo(int kind, void *current, void *array_address,
                                             void *bookkeeping_2_address, void *bookkeeping_1_address,
                                             size_t old_count, size_t new_count, void *function);
QEX_RTE_IMPORT void _UPLibFreeStringArrayInfo(void *array, int kind, void *bookkeeping_2, void *bookkeeping_1,
                                              size_t count, void *function);
QEX_RTE_IMPORT void _UPSaveCurrentEnv(void);
QEX_RTE_IMPORT void _UPRestoreCurrentEnv(void);

/* ---- multibyte strings under the process code page (the C runtime's _mbs* contracts) ---- */
QEX_RTE_IMPORT int QEX__ismbblead(unsigned int c);
QEX_RTE_IMPORT int QEX__mbsbtype(const unsigned char *str, size_t count);
QEX_RTE_IMPORT unsigned char *QEX__mbscat(unsigned char *destination, const unsigned char *source);
QEX_RTE_IMPORT unsigned char *QEX__mbschr(const unsigned char *str, unsigned int c);
QEX_RTE_IMPORT unsigned char *QEX__mbscpy(unsigned char *destination, const unsigned char *source);
QEX_RTE_IMPORT unsigned char *QEX__mbsdec(const unsigned char *start, const unsigned char *current);
QEX_RTE_IMPORT int QEX__mbsicmp(const unsigned char *a, const unsigned char *b);
QEX_RTE_IMPORT unsigned char *QEX__mbsinc(const unsigned char *current);
QEX_RTE_IMPORT size_t QEX__mbslen(const unsigned char *str);
QEX_RTE_IMPORT int QEX__mbsnbicmp(const unsigned char *a, const unsigned char *b, size_t count);
QEX_RTE_IMPORT unsigned char *QEX__mbsrchr(const unsigned char *str, unsigned int c);
QEX_RTE_IMPORT unsigned char *QEX__mbsstr(const unsigned char *str, const unsigned char *search);

/* ---- module life cycle ---- */
/* 1 pelmora.dll, 2 qex_gwrt.dll, any other value qexrte.dll serves the process. */
QEX_RTE_IMPORT int32_t WhichRuntimeSupportDll(void);
/* Registers a module with its linkage table (20-byte records), three further
 * (table, count) pairs, an 8-byte block and its component list; non-zero
 * when the module is attached. */
QEX_RTE_IMPORT int32_t InitQEXRTDll(void *module, const void *linkage_table, int32_t linkage_count,
                                    const void *table_1, int32_t count_1, const void *table_2, int32_t count_2,
                                    const void *table_3, int32_t count_3, void *block,
                                    const char *const *components);
QEX_RTE_IMPORT void CloseQEXRTDll(void *module);
QEX_RTE_IMPORT void QEXRTDllAbnormalExit(int32_t code);
/* Protection checks of the protected exit-function registrations. */
QEX_RTE_IMPORT void _UPLibChkSize(const void *pointer, size_t size, int32_t kind, int32_t count, int32_t check,
                                  void *function);
QEX_RTE_IMPORT void _UPLibClearArgs(void);
QEX_RTE_IMPORT void _UPLibBreakpoint(int32_t kind, int64_t value, void *function);

/* ---- debugger services: the per-thread debug environment ---- */
/* The calling thread's debug environment, made if need be. */
QEX_RTE_IMPORT void *__DBG_GetCurrentThreadEnv(void);
/* Calls function(value, operand) on this thread, shielded against faults;
 * 0 when it returned, else the code of the exception that ended it. */
QEX_RTE_IMPORT int32_t __DBG_SafeCall(void (*function)(intptr_t, intptr_t), intptr_t value, intptr_t operand);
/* Stores the thread-local-storage index that holds each thread's environment. */
QEX_RTE_IMPORT void __GetLocalThreadEnvSlot(uint32_t *slot);
QEX_RTE_IMPORT int32_t __SetCurrentDebuggingLevel(int32_t level);

/* ---- C library: formatted output, character classes, locale (strings) ---- */

/* The C standard's contracts; formats are the Windows C runtime's. */
QEX_RTE_IMPORT int qex_rte_printf(const char *format, ...);
QEX_RTE_IMPORT int qex_rte_vprintf(const char *format, va_list args);
QEX_RTE_IMPORT int qex_rte_sprintf(char *buffer, const char *format, ...);
QEX_RTE_IMPORT int qex_rte_vsprintf(char *buffer, const char *format, va_list args);
QEX_RTE_IMPORT int qex_rte_snprintf(char *buffer, size_t size, const char *format, ...);
QEX_RTE_IMPORT int qex_rte_vsnprintf(char *buffer, size_t size, const char *format, va_list args);
QEX_RTE_IMPORT int qex_rte_isspace(int c);
QEX_RTE_IMPORT int qex_rte_toupper(int c);
QEX_RTE_IMPORT int qex_rte_tolower(int c);
QEX_RTE_IMPORT char *qex_rte_setlocale(int category, const char *locale);

/* ---- C library: time and clock (numbers) ---- */
#include <time.h>
QEX_RTE_IMPORT clock_t qex_rte_clock(void);
QEX_RTE_IMPORT time_t qex_rte_time(time_t *result);
/* The engine's per-thread buffer, overwritten by the thread's next call. */
QEX_RTE_IMPORT struct tm *qex_rte_localtime(const time_t *timer);
QEX_RTE_IMPORT size_t qex_rte_strftime(char *buffer, size_t size, const char *format, const struct tm *time);

/* ---- C library: streams and the file system (files) ---- */

/* ---- threads, thread-safe variables, deferred calls, events and absolute time (deferred calls, globals) ---- */

typedef int CmtTSVHandle;
/* A function posted to run on another thread, with its data. */
typedef void (*DeferredCallbackPtr)(void *callback_data);
#ifndef QEX_ABSOLUTE_TIME_DEFINED
#define QEX_ABSOLUTE_TIME_DEFINED
/* The engine's absolute time, 16 bytes whose inside is the engine's. */
typedef struct {
    uint64_t opaque[2];
} QEXAbsoluteTime;
#endif

/* The calling thread's id (the Windows thread id). */
QEX_RTE_IMPORT unsigned int CmtGetCurrentThreadID(void);
/* Seconds elapsed on the engine's monotonic clock. */
QEX_RTE_IMPORT double Timer(void);
/* Runs the events pending for the calling thread, deferred calls among them. */
QEX_RTE_IMPORT int ProcessSystemEvents(void);
/* Queues function(data) to run on the given thread the next time it
 * processes events; returns at once, non-negative when queued. */
QEX_RTE_IMPORT int PostDeferredCallToThread(DeferredCallbackPtr function, void *callback_data,
                                            unsigned int thread_id);

/* Thread-safe variables: a zero-filled block of the given size behind a lock.
 * CmtGetTSVPtr locks the variable and stores the block's address through
 * pointer_out; CmtReleaseTSVPtr unlocks it (on the same thread). CmtSetTSV
 * and CmtGetTSV copy the whole block in or out under the lock. */
QEX_RTE_IMPORT int CmtNewTSV(int size, CmtTSVHandle *handle);
QEX_RTE_IMPORT int CmtDiscardTSV(CmtTSVHandle handle);
QEX_RTE_IMPORT int CmtGetTSVPtr(CmtTSVHandle handle, void *pointer_out);
QEX_RTE_IMPORT int CmtReleaseTSVPtr(CmtTSVHandle handle);
QEX_RTE_IMPORT int CmtSetTSV(CmtTSVHandle handle, const void *value);
QEX_RTE_IMPORT int CmtGetTSV(CmtTSVHandle handle, void *value);

/* Absolute time in counts of a time unit since the first instant of a year:
 * unit codes 0x36CAD7C0 + k stand for 10^(k-9) seconds (0x36CAD7C9 seconds,
 * 0x36CAD7C2 100-nanosecond ticks). whole_units 1 rounds toward the past.
 * 0 or a negative status: -1 not a time, -2 null pointer, -3 unknown unit,
 * -4 out of range, -5 bad year or rounding argument. */
QEX_RTE_IMPORT int QEXAbsoluteTimeToTimeUnit(QEXAbsoluteTime time, int epoch_year, unsigned int unit,
                                             int whole_units, int64_t *value);
QEX_RTE_IMPORT int QEXAbsoluteTimeFromTimeUnit(int64_t value, int epoch_year, unsigned int unit,
                                               QEXAbsoluteTime *time);

/* ---- thread-safe queues, lock attributes, TCP conversations (value displays) ---- */
/* Handles of thread-safe queues are pointer-sized. */
typedef intptr_t CmtTSQHandle;
/* Attribute 1: the identifier of the thread holding the lock (unsigned int), 0 when free. */
QEX_RTE_IMPORT int CmtGetLockAttribute(CmtThreadLockHandle lock, int attribute, void *value);
/* Attributes 3 (capacity in items), 4 (item size in bytes) and 5 (items in
 * the queue), each written as a size_t; the engine waits up to timeout_ms
 * for a queue that another thread is reading. */
QEX_RTE_IMPORT int CmtGetTSQAttributeEx(CmtTSQHandle queue, int attribute, void *value, int timeout_ms);
/* The oldest item's address and how many items follow it before the storage
 * wraps; the queue stays held by the caller until the release, which takes
 * items_read items out. */
QEX_RTE_IMPORT int CmtGetTSQReadPtr(CmtTSQHandle queue, void **read_pointer, int *readable);
QEX_RTE_IMPORT int CmtReleaseTSQReadPtr(CmtTSQHandle queue, int items_read);
/* The peer of a TCP conversation, copied (and cut) into size bytes; negative when unknown. */
QEX_RTE_IMPORT int GetTCPPeerName(unsigned int conversation, char *name, size_t size);
QEX_RTE_IMPORT int GetTCPPeerAddr(unsigned int conversation, char *address, size_t size);
/* The C library's ctime on a signed 64-bit time; null when it cannot convert. */
QEX_RTE_IMPORT char *qex_rte_ctime(const int64_t *time);

/* ---- object registry and conversions ---- */

#ifdef __cplusplus
}
#endif
