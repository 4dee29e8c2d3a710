/* The length of a NUL-terminated text, 16 bytes per step: a block of 16
 * aligned bytes never crosses a page, so reading whole blocks from the one
 * that holds the text's first byte up to the one that holds its NUL touches
 * no page the text does not. Bytes before the text in its first block are
 * masked off. For the module's own C++ units that scan long texts, and for
 * the benchmark that weighs it against the C runtime's strlen. */
#pragma once
#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>

namespace text_length {

/* The same as strlen(text). */
inline size_t of(const char *text)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(text);
    const auto *block = reinterpret_cast<const __m128i *>(address & ~uintptr_t{15});
    const __m128i zero = _mm_setzero_si128();
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    mask &= ~0u << (address & 15); /* bytes before the text */
    while (mask == 0) {
        ++block;
        mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    }
    return reinterpret_cast<uintptr_t>(block) + static_cast<unsigned>(__builtin_ctz(mask)) - address;
}

} // namespace text_length
