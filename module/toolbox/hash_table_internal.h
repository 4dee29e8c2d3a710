/* What the hash table shares with the units that reach into it (the helper
 * runtime's instance registry) and with the lookup3 hash: the table's lookup
 * spread, the lookup3 helpers, the in-place value access and the checked get.
 * Of the module, only the hash table, lookup3 and the registry include this. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "toolbox.h"

namespace toolbox {

/* The hash table's fixed initial value of the lookup3 hash. */
inline constexpr uint32_t kLookup3TableInitval = 0xDEADF00D;

inline uint32_t lookup3_rot(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

/* lookup3's final mixing of the three state words; the hash is c. */
inline void lookup3_final(uint32_t &a, uint32_t &b, uint32_t &c)
{
    c ^= b; c -= lookup3_rot(b, 14);
    a ^= c; a -= lookup3_rot(c, 11);
    b ^= a; b -= lookup3_rot(a, 25);
    c ^= b; c -= lookup3_rot(b, 16);
    a ^= c; a -= lookup3_rot(c, 4);
    b ^= a; b -= lookup3_rot(a, 14);
    c ^= b; c -= lookup3_rot(b, 24);
}

/* Lookup3_hashlittle of exactly 8 bytes, for the hash table's 8-byte keys:
 * the same value at any alignment, without the call and the length dispatch. */
inline uint32_t lookup3_hash8(const void *key)
{
    uint32_t words[2];
    __builtin_memcpy(words, key, sizeof words);
    uint32_t a = 0xDEADBEEFu + 8u + kLookup3TableInitval;
    uint32_t b = a;
    uint32_t c = a;
    a += words[0];
    b += words[1];
    lookup3_final(a, b, c);
    return c;
}

/* Where the hash table chains an 8-byte key for lookups when the table
 * hashes with its own Lookup3_hashlittle: the key times the golden-ratio
 * constant, an xor of the product's bits 27 and up onto it, times the
 * constant again, upper half. The xor lets the high bits of the first
 * product reach the upper half of the second, so that sequential keys do not
 * crowd into a few chains. */
inline uint32_t spread8(const void *key)
{
    uint64_t k;
    __builtin_memcpy(&k, key, sizeof k);
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15;
    uint64_t h = k * kMultiplier;
    h ^= h >> 27;
    return static_cast<uint32_t>((h * kMultiplier) >> 32);
}

/* The lookup3 little-endian hash with an arbitrary initial value; the
 * toolbox's Lookup3_hashlittle is this with 0xDEADF00D. */
uint32_t lookup3_hashlittle_seeded(const void *key, size_t length, uint32_t initval);

/* The value copy of a present key inside a hash table, for in-place reads
 * and writes by the module's own callers; null when the key is absent or the
 * table invalid. Good until the pair is removed or the table disposed. */
void *hash_table_value_in_place(HashTableType table, const void *key);

/* HashTableGetItem without its fast path: every check in its order. The
 * benchmark compares the two. */
int hash_table_get_checked(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize);
int hash_table_get_compiled(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize);

} // namespace toolbox
