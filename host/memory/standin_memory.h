/* The host memory manager stand-in (gwrt.dll): its three host operations and
 * its test controls.
 *
 * A handle points to a master pointer, which points to the block. Numeric
 * arrays and counted strings start with a signed 32-bit count; the elements
 * follow at offset 4, or at offset 8 for 8-byte element types and handles. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef STANDIN_MEM_API
#define STANDIN_MEM_API __declspec(dllimport)
#endif

typedef void **UHandle;

/* Host numeric type codes: 1 int8, 2 int16, 3 int32, 4 int64, 5 uint8,
 * 6 uint16, 7 uint32, 8 uint64, 9 float32, 10 float64. Returns 0 on success,
 * 2 when memory runs out, 1 for bad arguments. A null *handle gets a new one.
 * The count field is left to the caller; bytes past the old block are zero. */
STANDIN_MEM_API int32_t NumericArrayResize(int32_t type_code, int32_t dims, UHandle *handle, size_t count);
STANDIN_MEM_API UHandle DSNewHClr(size_t bytes);
STANDIN_MEM_API int32_t DSDisposeHandle(UHandle handle);

/* The Nth allocation or resize from now (1 = the next) fails; 0 disarms. */
STANDIN_MEM_API void standin_mem_fail_nth(long n);
/* When on, every successful resize moves the block and poisons the old one. */
STANDIN_MEM_API void standin_mem_set_always_move(int on);
STANDIN_MEM_API long standin_mem_live_handles(void);
/* How often this copy's NumericArrayResize was called, successful or not: a
 * process may hold several copies of the memory manager, and this tells which
 * one a module bound. */
STANDIN_MEM_API long standin_mem_resize_calls(void);
/* The arguments of the latest NumericArrayResize call this copy took on the
 * calling thread (zeros before the first). */
STANDIN_MEM_API void standin_mem_last_resize(int32_t *type_code, int32_t *dims, size_t *count);
/* Conveniences for tests and tools: a 1-D array of count elements at the
 * element offset for elem_size, the count set; a counted string. */
STANDIN_MEM_API UHandle standin_mem_new_array(size_t elem_size, int32_t count);
STANDIN_MEM_API UHandle standin_mem_new_string(const char *text, int32_t length);
STANDIN_MEM_API void standin_mem_reset(void);

#ifdef __cplusplus
}
#endif
