/* What every toolbox family shares: the engine allocator with resource
 * tracking suspended, the registration of toolbox objects with the engine's
 * resource tracking, and small copy and size helpers. Nothing specific to
 * one family belongs here.
 *
 * Toolbox objects are not tracked implicitly as engine allocations: every
 * allocation runs with tracking switched off, and the object is registered
 * explicitly under the category "Toolbox" with a readable description. The
 * previous tracking setting is restored on every path by a scope guard. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <cstring>
#include <emmintrin.h>
#include "qex_rte.h"
#include "toolbox.h"

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
        __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + n - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), head);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + n - 16), tail);
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

} // namespace toolbox
