/* String and string-array marshalling: node code works with terminated C
 * strings, the host with counted strings (LStrHandle) and arrays of them.
 *
 * A host string is converted in place: it grows by one byte that holds the
 * terminator, and its count includes that byte from then on. A host string
 * array (count, then string handles at offset 8; a null handle is an empty
 * string) is handed to node code as a C array of pointers into the strings'
 * texts. The C arrays come from the engine's allocator with resource tracking
 * suspended (the engine does not count them as the node's) and are remembered
 * in the instance's list of string-array records until node code gives them
 * back (FreeCStrArray), the instance starts its next call, is unreserved, or
 * the module unloads. The list is read and changed only under the registry
 * lock. */
#include <string.h>
#include "array_access.h"
#include "helper_internal.h"
#include "qex_rte.h"
#include "toolbox_internal.h"

using namespace cnode_helper;

namespace {

constexpr ArrayType kCharArray = {1, 1, 10};
constexpr int32_t kByteElements = 1;   /* host type code of a string's bytes */
constexpr int32_t kHandleElements = 8; /* host type code of a string array's slots */
constexpr size_t kEmptyStringBytes = 4; /* a zero count and no text */

/* The string handles of a host string array. */
LStrHandle *string_slots(void *handle) { return reinterpret_cast<LStrHandle *>(block_of(handle) + 8); }

char *text_of(LStrHandle string) { return reinterpret_cast<char *>((*string)->str); }

/* Grows the string in *slot by one byte and puts the terminator there. False
 * when the host refuses (or the count cannot grow); the string is unchanged. */
bool append_terminator(LStrHandle *slot)
{
    int32_t count = (**slot)->cnt;
    if (count < 0 || count == INT32_MAX) return false;
    if (__cnode_NumericArrayResize(kByteElements, 1, slot, static_cast<size_t>(count) + 1) != 0) return false;
    (**slot)->cnt = count + 1;
    (**slot)->str[count] = 0;
    return true;
}

/* Keeps a resized C string terminated within its new count. */
void terminate_resized_string(void *handle, size_t count)
{
    if (count != 0) reinterpret_cast<char *>(block_of(handle) + 4)[count - 1] = 0;
}

/* Undoes the elements a failed grow of a string array created (from
 * created_end - 1 down to first) and gives the block its old size back. */
void undo_grown_elements(void *handle, size_t first, size_t created_end)
{
    LStrHandle *slots = string_slots(handle);
    for (size_t i = created_end; i-- > first;)
        if (__cnode_DSDisposeHandle(slots[i]) == 0) slots[i] = nullptr;
    void *local = handle;
    __cnode_NumericArrayResize(kHandleElements, 1, &local, first);
    set_element_count(handle, first);
}

/* The function addresses the engine's pointer checking records. */
template <typename Function>
void *address_of(Function *function)
{
    return reinterpret_cast<void *>(function);
}

} // namespace

extern "C" char *__cnode_GetCStr(void *handle)
{
    if (!handle) return nullptr;
    LStrHandle string = static_cast<LStrHandle>(handle);
    int32_t count = (*string)->cnt;
    if (count < 0) return nullptr;
    /* When the host cannot grow the string, the terminator goes over its last byte. */
    LStrHandle local = string;
    size_t terminated = append_terminator(&local) ? static_cast<size_t>(count) + 1 : static_cast<size_t>(count);
    if (terminated == 0) return nullptr;
    char *text = text_of(string);
    text[terminated - 1] = 0;
    _UPReturnPointerSizeInfo(text, terminated);
    return text;
}

extern "C" int32_t __cnode_ResizeCStr(void *handle, size_t count, void *previous, char **text)
{
    return resize_array(kCharArray, handle, count, previous, reinterpret_cast<void **>(text),
                        address_of(&__cnode_ResizeCStr), terminate_resized_string);
}

extern "C" int32_t __cnode_GetCStrArray(void *handle, char ***array, void *instance)
{
    _UPSaveCurrentEnv();
    size_t count = element_count(handle);
    *array = nullptr;
    if (count == 0) return 1;
    auto **entries = static_cast<char **>(toolbox::engine_calloc(count, sizeof(char *)));
    *array = entries;
    if (!entries) return 0;

    LStrHandle *slots = string_slots(handle);
    for (size_t i = 0; i < count; ++i) {
        if (!slots[i]) {
            slots[i] = static_cast<LStrHandle>(__cnode_DSNewHClr(kEmptyStringBytes));
            if (!slots[i]) goto fail;
        }
        if (!append_terminator(&slots[i])) goto fail;
        entries[i] = text_of(slots[i]);
    }

    {
        _UPRestoreCurrentEnv();
        __cnode_string_array_record record = {entries, nullptr, nullptr, count};
        _UPSetOutputStringArrayInfo(1, array, &record.bookkeeping_2, &record.bookkeeping_1, count,
                                    address_of(&__cnode_GetCStrArray));
        __cnode_track_string_array(instance, &record);
        return 1;
    }

fail:
    /* Elements converted so far keep their terminator. */
    qex_rte_free(entries);
    *array = nullptr;
    _UPRestoreCurrentEnv();
    return 0;
}

extern "C" int32_t __cnode_resize_string_array(void *handle, size_t count, char **current, char ***array,
                                               void *element_pointer_address, void *instance)
{
    if (count > kMaxElementCount) return 0;
    _UPSaveCurrentEnv();
    auto **element_pointer = static_cast<LStrHandle **>(element_pointer_address);
    size_t old_count = element_count(handle);
    if (!current && old_count != 0) {
        if (!__cnode_GetCStrArray(handle, array, instance)) return 0;
        *element_pointer = string_slots(handle);
        current = *array;
    }
    if (old_count == count) return 1;

    /* Removed elements are gone from here on, whatever fails later. */
    for (size_t i = count; i < old_count; ++i)
        if (__cnode_DSDisposeHandle(string_slots(handle)[i]) == 0) string_slots(handle)[i] = nullptr;
    void *local = handle;
    if (__cnode_NumericArrayResize(kHandleElements, 1, &local, count) != 0) return 0;
    set_element_count(handle, count);

    LStrHandle *slots = string_slots(handle);
    if (old_count < count) {
        /* The grown part of the block holds whatever the host left there;
         * null slots make the host create a new string for each. */
        for (size_t i = old_count; i < count; ++i) slots[i] = nullptr;
        for (size_t i = old_count; i < count; ++i) {
            if (__cnode_NumericArrayResize(kByteElements, 1, &slots[i], 1) != 0) {
                undo_grown_elements(handle, old_count, i);
                return 0;
            }
            (*slots[i])->cnt = 1;
            (*slots[i])->str[0] = 0;
        }
    }
    *element_pointer = slots;

    auto **entries = static_cast<char **>(toolbox::engine_realloc(current, count * sizeof(char *)));
    if (count != 0 && !entries) return 0;
    *array = entries;
    for (size_t i = old_count; i < count; ++i) entries[i] = text_of(slots[i]);

    __cnode_string_array_record record = {};
    if (current) {
        record.array = current;
        __cnode_untrack_string_array(instance, &record);
    }
    _UPRestoreCurrentEnv();
    _UPResizeStringArrayInfo(3, current, array, &record.bookkeeping_2, &record.bookkeeping_1, old_count, count,
                             address_of(&__cnode_resize_string_array));
    if (*array) {
        record.array = *array;
        record.count = count;
        __cnode_track_string_array(instance, &record);
    }
    return 1;
}

extern "C" void __cnode_FreeCStrArray(void *instance, char **array)
{
    if (!array) return;
    __cnode_string_array_record record = {};
    record.array = array;
    __cnode_untrack_string_array(instance, &record);
    _UPLibFreeStringArrayInfo(array, 2, record.bookkeeping_2, record.bookkeeping_1, record.count,
                              address_of(&__cnode_FreeCStrArray));
    qex_rte_free(array);
}

extern "C" void __cnode_track_string_array(void *instance, __cnode_string_array_record *record)
{
    if (!record->array) return;
    RegistryLock lock;
    InstanceRecord owner;
    if (!lock.held() || !read_record(instance, owner) || !owner.list) return;
    ListInsertItem(owner.list, record, LIST_POS_END);
}

extern "C" void __cnode_untrack_string_array(void *instance, __cnode_string_array_record *record)
{
    record->bookkeeping_1 = nullptr;
    record->bookkeeping_2 = nullptr;
    record->count = 0;
    if (!record->array) return;
    RegistryLock lock;
    InstanceRecord owner;
    if (!lock.held() || !read_record(instance, owner) || !owner.list) return;
    if (size_t position = ListFindItem(owner.list, record, LIST_POS_FRONT, __cnode_compare_array_records))
        ListRemoveItem(owner.list, record, static_cast<ptrdiff_t>(position));
}

extern "C" int32_t __cnode_compare_array_records(const void *a, const void *b)
{
    auto left = reinterpret_cast<uintptr_t>(static_cast<const __cnode_string_array_record *>(a)->array);
    auto right = reinterpret_cast<uintptr_t>(static_cast<const __cnode_string_array_record *>(b)->array);
    return left < right ? -1 : left > right ? 1 : 0;
}

extern "C" void __cnode_free_string_arrays(void *list_handle, int32_t dispose)
{
    auto list = static_cast<ListType>(list_handle);
    if (!list) return;
    size_t count = ListNumItems(list);
    for (size_t i = 1; i <= count; ++i) {
        auto *item = static_cast<__cnode_string_array_record *>(ListGetPtrToItem(list, static_cast<ptrdiff_t>(i)));
        _UPLibFreeStringArrayInfo(item->array, 1, item->bookkeeping_2, item->bookkeeping_1, item->count,
                                  address_of(&__cnode_free_string_arrays));
        qex_rte_free(item->array);
    }
    if (dispose)
        ListDispose(list);
    else
        ListClear(list);
}
