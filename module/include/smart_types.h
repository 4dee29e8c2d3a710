/* Value displays for the debugger: the property tables that describe the
 * library types the debugger shows in a readable form, and the display
 * functions it runs on a thread held at a stoppoint.
 *
 * Each unit that provides displays keeps a private table named
 * __qex_smart_types of __qex_smart_type_t rows; the debugger finds it by name
 * in the module's symbols. A display function takes the address of the
 * variable shown (index functions also the element index) and answers with
 * one "@{smart_type|%p:12}@" message: the address of a NUL-terminated text
 * (print), the element count (count) or the element's address (index). A
 * display that cannot obtain its value sends no message. Texts live in static
 * buffers, one per display function: they stay readable after the function
 * returns, until the same display runs again. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "toolbox.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One property row. */
typedef struct {
    int32_t property;  /* one of the QEX_SMART_TYPE_* codes */
    const void *value; /* a text, a display function, or null (member start) */
    size_t size;       /* text length + 1; the member index; 0 for functions */
} __qex_smart_type_t;

enum {
    QEX_SMART_TYPE_NAME = 1,        /* starts the rows of one type: its name in code */
    QEX_SMART_TYPE_DESCRIPTION = 2, /* the type's description, shown to the user */
    QEX_SMART_TYPE_PRINT = 3,       /* print function */
    QEX_SMART_TYPE_COUNT = 4,       /* count function */
    QEX_SMART_TYPE_INDEX = 5,       /* index function */
    QEX_SMART_TYPE_MEMBER = 6,      /* starts one member; size is its index from 0 */
    QEX_SMART_TYPE_MEMBER_NAME = 7,
    QEX_SMART_TYPE_MEMBER_TYPE = 8
};

/* Types the tables introduce for code to declare variables with. */
typedef int32_t __qex_smart_type_RGBColor;   /* 0x00RRGGBB */
typedef uint32_t __qex_smart_type_TCPHandle; /* a TCP conversation */

/* The variables shown by the run-time unit's displays, as they lie in memory:
 * time_t is a signed 64-bit count of seconds, the lock and queue handles of
 * the run-time engine are pointer-sized, a VISA session is an unsigned 32-bit
 * number. */
void __qex_smart_type_RGBColor_print(const __qex_smart_type_RGBColor *color);
void __qex_smart_type_RGBColor_index(const __qex_smart_type_RGBColor *color, intptr_t index);
void __qex_smart_type_time_t_print(const int64_t *time);
void __qex_smart_type_CmtThreadLockHandle_print(const intptr_t *lock);
void __qex_smart_type_CmtTSQHandle_print(const intptr_t *queue);
void __qex_smart_type_CmtTSQHandle_count(const intptr_t *queue);
void __qex_smart_type_CmtTSQHandle_index(const intptr_t *queue, intptr_t index);
void __qex_smart_type_TCPHandle_print(const __qex_smart_type_TCPHandle *conversation);
void __qex_smart_type_ViSession_print(const uint32_t *session);

/* The toolbox unit's displays of ListType. */
void __qex_smart_type_ListType_print(const ListType *list);
void __qex_smart_type_ListType_count(const ListType *list);
void __qex_smart_type_ListType_index(const ListType *list, intptr_t index);

/* Empty link anchors: referencing one keeps its unit, and with it the unit's
 * table, in the module. */
void __qex_smart_type_default_types(void);
void __qex_toolbox_smart_type_default_types(void);

#ifdef __cplusplus
}
#endif
