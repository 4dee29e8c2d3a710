/* Numeric array handles: node code gets a plain pointer to the elements of a
 * one-dimensional host array and may change its element count in place.
 *
 * A host array handle points to a pointer to a block that starts with a signed
 * 32-bit element count; the elements follow at offset 4, or at offset 8 for
 * 8-byte elements (the host aligns them). The host memory manager may move the
 * block on a resize, so an element pointer is valid until the next resize.
 *
 * One generic implementation serves the ten element types; each named pair of
 * functions passes its own address, which the engine's pointer checking
 * records as the function that handed the memory out. */
#include "array_access.h"
#include "helper_internal.h"
#include "qex_rte.h"

namespace cnode_helper {

int32_t get_array(const ArrayType &type, void *handle, size_t count, void **elements, void *function)
{
    *elements = first_element(handle, type);
    /* The count is taken as given: dimSize is not read. */
    _UPSetOutputPointerSizeInfo(3, elements, count * type.element_size, function, type.protection_code);
    return 1;
}

int32_t resize_array(const ArrayType &type, void *handle, size_t count, void *previous, void **elements,
                     void *function, void (*after_resize)(void *handle, size_t count))
{
    if (count > kMaxElementCount) return 0;
    size_t old_count = element_count(handle);
    void *local = handle;
    if (__cnode_NumericArrayResize(type.host_code, 1, &local, count) != 0) return 0;
    set_element_count(handle, count);
    if (after_resize) after_resize(handle, count);
    *elements = first_element(handle, type);
    size_t old_bytes = old_count * type.element_size;
    size_t new_bytes = count * type.element_size;
    if (previous)
        _UPResizePointerSizeInfo(3, previous, elements, old_bytes, new_bytes, function, type.protection_code);
    else
        _UPSetOutputPointerSizeInfo(3, elements, new_bytes, function, type.protection_code);
    return 1;
}

} // namespace cnode_helper

using namespace cnode_helper;

#define CNODE_ARRAY_FUNCTIONS(name, ctype, host_code, protection_code)                                        \
    static const ArrayType kArray_##name = {sizeof(ctype), host_code, protection_code};                     \
    extern "C" int32_t __cnode_get_##name##_array_handle(void *handle, size_t count, void *, ctype **elements) \
    {                                                                                                        \
        return get_array(kArray_##name, handle, count, reinterpret_cast<void **>(elements),                  \
                         reinterpret_cast<void *>(&__cnode_get_##name##_array_handle));                      \
    }                                                                                                        \
    extern "C" int32_t __cnode_resize_##name##_array_handle(void *handle, size_t count, void *previous,      \
                                                           ctype **elements)                                 \
    {                                                                                                        \
        return resize_array(kArray_##name, handle, count, previous, reinterpret_cast<void **>(elements),     \
                            reinterpret_cast<void *>(&__cnode_resize_##name##_array_handle), nullptr);       \
    }

CNODE_ARRAY_FUNCTIONS(char, signed char, 1, 10)
CNODE_ARRAY_FUNCTIONS(short, int16_t, 2, 12)
CNODE_ARRAY_FUNCTIONS(int, int32_t, 3, 14)
CNODE_ARRAY_FUNCTIONS(int64, int64_t, 4, 38)
CNODE_ARRAY_FUNCTIONS(unsigned_char, uint8_t, 5, 11)
CNODE_ARRAY_FUNCTIONS(unsigned_short, uint16_t, 6, 13)
CNODE_ARRAY_FUNCTIONS(unsigned_int, uint32_t, 7, 15)
CNODE_ARRAY_FUNCTIONS(unsigned_int64, uint64_t, 8, 39)
CNODE_ARRAY_FUNCTIONS(float, float, 9, 16)
CNODE_ARRAY_FUNCTIONS(double, double, 10, 17)
