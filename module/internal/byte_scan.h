/* find_byte: the first occurrence of a byte in a buffer, 16 bytes per step
 * with SSE2 (every x86-64 processor has it), or null. The C runtime's memchr
 * the module links steps one byte at a time; the toolbox's byte search over
 * files calls this on every chunk it reads. For the module's own C++ units. */
#pragma once
#include <emmintrin.h>
#include <stddef.h>

namespace byte_scan {

inline const unsigned char *find_byte(const unsigned char *data, size_t n, unsigned char byte)
{
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted));
        if (hits) return data + i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
    for (; i < n; ++i)
        if (data[i] == byte) return data + i;
    return nullptr;
}

} // namespace byte_scan
