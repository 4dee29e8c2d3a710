/* What the toolbox's container units share: the engine allocator with
 * resource tracking suspended, and the registration of toolbox objects with
 * the engine's resource tracking.
 *
 * Toolbox objects are not tracked implicitly as engine allocations: every
 * allocation runs with tracking switched off, and the object is registered
 * explicitly under the category "Toolbox" with a readable description. The
 * previous tracking setting is restored on every path by a scope guard. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <cstring>
#include "qex_rte.h"
#include "toolbox.h"
#include "hash_table_layout.h"

namespace toolbox {

inline constexpr const char *kResourceCategory = "Toolbox";
/* Pointer width passed to the "%0*p" descriptions. */
inline constexpr int kPointerDigits = 16;

/* Switches the engine's resource tracking off for the lifetime of the guard
 * and restores whatever setting it found. Guards nest. */
class ResourceTrackingSuspended {
public:
    ResourceTrackingSuspended() : previous_(SetEnableResourceTracking(0)) {}
    ~ResourceTrackingSuspended() { SetEnableResourceTracking(previous_); }
    ResourceTrackingSuspended(const ResourceTrackingSuspended &) = delete;
    ResourceTrackingSuspended &operator=(const ResourceTrackingSuspended &) = delete;

private:
    int previous_;
};

/* The engine's allocator, each call with tracking suspended. */
inline void *engine_malloc(size_t bytes)
{
    ResourceTrackingSuspended untracked;
    return qex_rte_malloc(bytes);
}

inline void *engine_calloc(size_t count, size_t bytes)
{
    ResourceTrackingSuspended untracked;
    return qex_rte_calloc(count, bytes);
}

inline void *engine_realloc(void *block, size_t bytes)
{
    ResourceTrackingSuspended untracked;
    return qex_rte_realloc(block, bytes);
}

inline void engine_free(void *block) { qex_rte_free(block); }

/* Copies n bytes, 0 to 32, between blocks that do not overlap, by two
 * possibly overlapping fixed-size moves: no call into the C runtime. */
inline void copy_upto32(void *to, const void *from, size_t n)
{
    auto *d = static_cast<unsigned char *>(to);
    const auto *s = static_cast<const unsigned char *>(from);
    if (n >= 16) {
        unsigned char head[16], tail[16];
        __builtin_memcpy(head, s, 16);
        __builtin_memcpy(tail, s + n - 16, 16);
        __builtin_memcpy(d, head, 16);
        __builtin_memcpy(d + n - 16, tail, 16);
    } else if (n >= 8) {
        uint64_t head, tail;
        __builtin_memcpy(&head, s, 8);
        __builtin_memcpy(&tail, s + n - 8, 8);
        __builtin_memcpy(d, &head, 8);
        __builtin_memcpy(d + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        __builtin_memcpy(&head, s, 4);
        __builtin_memcpy(&tail, s + n - 4, 4);
        __builtin_memcpy(d, &head, 4);
        __builtin_memcpy(d + n - 4, &tail, 4);
    } else if (n > 0) {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    }
}

/* Copies n bytes between blocks that do not overlap. Sizes up to 32 bytes (an
 * instance record, a pointer, a handle) are copied inline instead of by a
 * call into the C runtime. */
inline void copy_small(void *to, const void *from, size_t n)
{
    if (n <= 32)
        copy_upto32(to, from, n);
    else
        std::memcpy(to, from, n);
}

/* a * b into *product; false when the product does not fit in size_t. */
inline bool multiply_fits(size_t a, size_t b, size_t *product)
{
    return !__builtin_mul_overflow(a, b, product);
}

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
 * constant again, upper half. A dozen instructions where lookup3 takes some
 * thirty, and sequential, aligned and high-bit keys spread about as well as
 * random ones (a single multiplication keeps sequential keys in a tenth of
 * the chains). HashTableGetItem's assembly computes the same, with the
 * constants of hash_table_layout.h. */
inline uint32_t spread8(const void *key)
{
    uint64_t k;
    __builtin_memcpy(&k, key, sizeof k);
    uint64_t h = k * uint64_t{HASH_SPREAD_MULTIPLIER};
    h ^= h >> HASH_SPREAD_SHIFT;
    return static_cast<uint32_t>((h * uint64_t{HASH_SPREAD_MULTIPLIER}) >> 32);
}

/* The lookup3 little-endian hash with an arbitrary initial value; the
 * toolbox's Lookup3_hashlittle is this with 0xDEADF00D. */
uint32_t lookup3_hashlittle_seeded(const void *key, size_t length, uint32_t initval);

/* The value copy of a present key inside a hash table, for in-place reads
 * and writes by the module's own callers; null when the key is absent or the
 * table invalid. Good until the pair is removed or the table disposed. */
void *hash_table_value_in_place(HashTableType table, const void *key);

} // namespace toolbox
