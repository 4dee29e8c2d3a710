/* The helper runtime every node module carries: instance registry, host memory
 * binding, the user-code window and abort state, array and string marshalling,
 * debug switches and protection pass-throughs. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>
#include "cnode.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- process-wide state ---- */
extern volatile int32_t __qex_cnode_abort_flag;       /* pending abort requests */
extern volatile int32_t __qex_cnode_abort_tlv_handle; /* 0 until the first reservation */

typedef int32_t (*__cnode_NumericArrayResize_t)(int32_t type_code, int32_t dims, void *handle_address,
                                                size_t count);
typedef int32_t (*__cnode_DSDisposeHandle_t)(void *handle);
typedef void *(*__cnode_DSNewHClr_t)(size_t bytes);
extern __cnode_NumericArrayResize_t __cnode_NumericArrayResize;
extern __cnode_DSDisposeHandle_t __cnode_DSDisposeHandle;
extern __cnode_DSNewHClr_t __cnode_DSNewHClr;

/* ---- start-up and the instance registry ---- */
BOOL WINAPI __cnode_helper_DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
int32_t __cnode_helper_initialize(void *instance, __cnode_gwerror *error);
void __cnode_on_begin_user_code(void *instance);
void __cnode_on_end_user_code(void *instance);
BOOL CALLBACK __cnode_bind_memory_manager(PINIT_ONCE once, PVOID error, PVOID *context);
HMODULE __cnode_find_engine_module(const char *module_name, const char *library_file_name);

/* The debugger library (qexdebug.dll) when it is loaded, else null. Cheap
 * enough for every entry call: once the helper has started, it follows the
 * loader's notifications instead of asking the loader each time. */
HMODULE __cnode_debugger_library(void);

/* ---- instance callbacks' helper steps ---- */
void __cnode_on_reserve(void *instance);
void __cnode_on_unreserve(void *instance);
void __cnode_on_abort(void *instance);

/* ---- numeric array handles ---- */
#define CNODE_ARRAY_FUNCTIONS(name, ctype)                                                               \
    int32_t __cnode_get_##name##_array_handle(void *handle, size_t count, void *unused, ctype **elements); \
    int32_t __cnode_resize_##name##_array_handle(void *handle, size_t count, void *previous, ctype **elements);
CNODE_ARRAY_FUNCTIONS(char, signed char)
CNODE_ARRAY_FUNCTIONS(short, int16_t)
CNODE_ARRAY_FUNCTIONS(int, int32_t)
CNODE_ARRAY_FUNCTIONS(int64, int64_t)
CNODE_ARRAY_FUNCTIONS(unsigned_char, uint8_t)
CNODE_ARRAY_FUNCTIONS(unsigned_short, uint16_t)
CNODE_ARRAY_FUNCTIONS(unsigned_int, uint32_t)
CNODE_ARRAY_FUNCTIONS(unsigned_int64, uint64_t)
CNODE_ARRAY_FUNCTIONS(float, float)
CNODE_ARRAY_FUNCTIONS(double, double)
#undef CNODE_ARRAY_FUNCTIONS

/* ---- strings and string arrays ---- */
typedef struct {
    char **array;
    void *bookkeeping_1;
    void *bookkeeping_2;
    size_t count;
} __cnode_string_array_record;

char *__cnode_GetCStr(void *handle);
int32_t __cnode_ResizeCStr(void *handle, size_t count, void *previous, char **text);
int32_t __cnode_GetCStrArray(void *handle, char ***array, void *instance);
int32_t __cnode_resize_string_array(void *handle, size_t count, char **current, char ***array,
                                    void *element_pointer_address, void *instance);
void __cnode_FreeCStrArray(void *instance, char **array);
void __cnode_track_string_array(void *instance, __cnode_string_array_record *record);
void __cnode_untrack_string_array(void *instance, __cnode_string_array_record *record);
int32_t __cnode_compare_array_records(const void *a, const void *b);
void __cnode_free_string_arrays(void *list, int32_t dispose);

/* ---- debug switches and protection pass-throughs ---- */
int32_t __cnode_SetBreakOnLibraryErrors(int32_t on);
int32_t __cnode_SetBreakOnProtectionErrors(int32_t on);
int32_t __cnode_SetBreakOnFirstChanceExceptions(int32_t on);
int32_t __cnode_SetEnableResourceTracking(int32_t on);
int32_t __cnode_CmtGetThreadLocalVar(int32_t handle, void *record_out);
void *__cnode_ProtectMemory(void *pointer, size_t bytes);
void __cnode_FreeUserProtection(void *pointer);

#ifdef __cplusplus
}
#endif
