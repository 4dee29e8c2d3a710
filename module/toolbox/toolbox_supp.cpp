/* The debugger's display of ListType: a list is shown as "[n elements]" and
 * opened element by element, the debugger counting from 0 where the list
 * counts from 1.
 *
 * Rules kept:
 *   - a null or unreadable address, or a value that is not a live list (its
 *     tag checked by __QEXToolboxValidateList, once it is readable), gets no
 *     answer at all: a fault would end the display with the switches off;
 *   - an index outside 0..count-1 gets no answer either: position i + 1 of a
 *     negative i would otherwise name the list's first or last item;
 *   - the engine's break-on switches are off while a list is inspected and
 *     restored afterwards, whichever way the display ends;
 *   - the printed text stays in this unit's buffer after the display returns.
 *
 * __qex_toolbox_smart_type_default_types is the empty anchor that the
 * toolbox's start-up unit references, so this unit and its table are part of
 * every module that uses the toolbox. */
#include <stdio.h>
#include "smart_type_display.h"
#include "smart_types.h"
#include "toolbox.h"

extern "C" {

void __qex_smart_type_ListType_print(const ListType *list);
void __qex_smart_type_ListType_count(const ListType *list);
void __qex_smart_type_ListType_index(const ListType *list, intptr_t index);

/* Marks this unit as hidden from the debugger's source view. */
[[maybe_unused]] __attribute__((used)) static void __qex_hide_this_file(void) {}

/* The rows the debugger reads for ListType. */
__attribute__((used)) static const __qex_smart_type_t __qex_smart_types[] __asm__("__qex_smart_types") = {
    {QEX_SMART_TYPE_NAME, "ListType", 9},
    {QEX_SMART_TYPE_DESCRIPTION, "List Type (Toolbox)", 20},
    {QEX_SMART_TYPE_PRINT, reinterpret_cast<const void *>(&__qex_smart_type_ListType_print), 0},
    {QEX_SMART_TYPE_COUNT, reinterpret_cast<const void *>(&__qex_smart_type_ListType_count), 0},
    {QEX_SMART_TYPE_INDEX, reinterpret_cast<const void *>(&__qex_smart_type_ListType_index), 0},
};

} // extern "C"

namespace {

constexpr size_t kListTextSize = 128;
char g_list_text[kListTextSize];

/* The list the debugger's variable holds, or null when it holds none. */
ListType shown_list(const ListType *variable)
{
    if (!smart_types::readable(variable)) return nullptr;
    ListType list = *variable;
    /* A live list's record is whole once its tag is there to read. */
    if (!smart_types::readable(list, sizeof(uint32_t))) return nullptr;
    return __QEXToolboxValidateList(list) ? list : nullptr;
}

} // namespace

extern "C" void __qex_toolbox_smart_type_default_types(void) {}

extern "C" void __qex_smart_type_ListType_print(const ListType *variable)
{
    smart_types::DebugSwitchesOff quiet;
    ListType list = shown_list(variable);
    if (!list) return;
    snprintf(g_list_text, sizeof g_list_text, "[%zu elements]", ListNumItems(list));
    smart_types::send_answer(g_list_text);
}

extern "C" void __qex_smart_type_ListType_count(const ListType *variable)
{
    smart_types::DebugSwitchesOff quiet;
    ListType list = shown_list(variable);
    if (!list) return;
    smart_types::send_answer(ListNumItems(list));
}

extern "C" void __qex_smart_type_ListType_index(const ListType *variable, intptr_t index)
{
    smart_types::DebugSwitchesOff quiet;
    ListType list = shown_list(variable);
    if (!list || index < 0 || static_cast<size_t>(index) >= ListNumItems(list)) return;
    if (void *item = ListGetPtrToItem(list, index + 1)) smart_types::send_answer(item);
}
