/* The layout of host array blocks as the helper's array and string units read
 * them: a signed 32-bit count, then the elements at offset 4 (1-, 2- and
 * 4-byte elements) or 8 (8-byte elements and handles). */
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace cnode_helper {

/* The largest element count a host array can hold (its count is signed 32-bit). */
constexpr size_t kMaxElementCount = 2147483647;

/* One element type: its size, the host's numeric type code for resizing,
 * and the code the engine's pointer checking knows it by. */
struct ArrayType {
    size_t element_size;
    int32_t host_code;
    int32_t protection_code;
};

inline unsigned char *block_of(void *handle) { return *static_cast<unsigned char **>(handle); }

inline size_t element_offset(size_t element_size) { return element_size == 8 ? 8 : 4; }

inline void *first_element(void *handle, const ArrayType &type)
{
    return block_of(handle) + element_offset(type.element_size);
}

/* A negative count in a block is read as 0. */
inline size_t element_count(void *handle)
{
    int32_t count = *reinterpret_cast<int32_t *>(block_of(handle));
    return count < 0 ? 0 : static_cast<size_t>(count);
}

/* count is at most kMaxElementCount. */
inline void set_element_count(void *handle, size_t count)
{
    *reinterpret_cast<int32_t *>(block_of(handle)) = static_cast<int32_t>(count);
}

/* The generic get and resize behind the ten named pairs. function is the
 * named function's own address; after_resize, when given, runs once the new
 * count is stored and before the element pointer is handed out. */
int32_t get_array(const ArrayType &type, void *handle, size_t count, void **elements, void *function);
int32_t resize_array(const ArrayType &type, void *handle, size_t count, void *previous, void **elements,
                     void *function, void (*after_resize)(void *handle, size_t count));

} // namespace cnode_helper
