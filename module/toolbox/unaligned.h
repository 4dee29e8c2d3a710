/* Loads and stores of little words at any byte address, for the families that
 * read keys and texts a word at a time (hashing, key comparison, data-text
 * conversion). They go through memcpy, so any alignment is allowed and the
 * compiler makes each a single move. */
#pragma once
#include <stdint.h>
#include <string.h>

namespace toolbox {

/* The 16-bit word at p, widened to 32 bits so that it can be shifted into
 * the high half. */
inline uint32_t load16(const unsigned char *p)
{
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t load32(const unsigned char *p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load64(const unsigned char *p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void store32(unsigned char *p, uint32_t v) { memcpy(p, &v, sizeof v); }

} // namespace toolbox
