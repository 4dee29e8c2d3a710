/* Exchange of two non-overlapping byte ranges in units of a fixed size, for
 * the families that move fixed-size elements in place (the array sorts and the
 * list sorts). A unit is read and written through memcpy, so any alignment is
 * allowed; the caller picks the widest unit that divides the size. */
#pragma once
#include <stddef.h>

namespace toolbox {

/* Exchanges n bytes (a multiple of sizeof(T)) in units of T, first unit first. */
template <typename T>
inline void swap_units(unsigned char *a, unsigned char *b, size_t n)
{
    for (size_t i = 0; i < n; i += sizeof(T)) {
        T x, y;
        __builtin_memcpy(&x, a + i, sizeof(T));
        __builtin_memcpy(&y, b + i, sizeof(T));
        __builtin_memcpy(a + i, &y, sizeof(T));
        __builtin_memcpy(b + i, &x, sizeof(T));
    }
}

} // namespace toolbox
