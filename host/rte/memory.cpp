/* The engine's C allocator: malloc, calloc, realloc and free as the module
 * imports them from the engine. Each block carries a small header so that the
 * stand-in can count live blocks, refuse frees of foreign pointers, and register
 * the block as a resource while resource tracking is on. */
#include "rte_internal.h"
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t kLiveMagic = 0x5254454D454D4F4Bull; /* "RTEMEMOK" */
constexpr uint64_t kDeadMagic = 0x444541444D454D21ull;

struct alignas(16) Header {
    uint64_t magic;
    uint64_t size;
};

volatile long g_live = 0;
volatile long g_total = 0;
rte::FailCountdown g_fail;

Header *header_of(void *p) { return static_cast<Header *>(p) - 1; }

void *fresh_block(size_t size, bool zero)
{
    if (g_fail.take()) return nullptr;
    if (size > SIZE_MAX - sizeof(Header)) return nullptr;
    auto *h = static_cast<Header *>(std::malloc(sizeof(Header) + size));
    if (!h) return nullptr;
    h->magic = kLiveMagic;
    h->size = size;
    if (zero) std::memset(h + 1, 0, size);
    InterlockedIncrement(&g_live);
    InterlockedIncrement(&g_total);
    if (rte::resource_tracking_on()) rte::track_implicit(h + 1, size);
    return h + 1;
}

} // namespace

extern "C" void *standin_malloc(size_t size) { return fresh_block(size, false); }

extern "C" void *standin_calloc(size_t count, size_t size)
{
    if (size && count > SIZE_MAX / size) return nullptr;
    return fresh_block(count * size, true);
}

extern "C" void standin_free(void *p)
{
    if (!p) return;
    Header *h = header_of(p);
    if (h->magic != kLiveMagic) {
        /* A foreign or doubly freed pointer: the real engine would report a
         * protection error; the stand-in stops the process loudly. */
        OutputDebugStringA("qex_gwrt stand-in: free of a block it did not allocate\n");
        std::abort();
    }
    /* A freed block takes every resource registration under its address with
     * it, explicit (__QEX_Resource_Acquire) or implicit. */
    rte::untrack_block(p);
    h->magic = kDeadMagic;
    InterlockedDecrement(&g_live);
    std::free(h);
}

extern "C" void *standin_realloc(void *p, size_t size)
{
    if (!p) return fresh_block(size, false);
    if (size == 0) { /* as the Windows C runtime: frees and returns null */
        standin_free(p);
        return nullptr;
    }
    Header *old = header_of(p);
    if (old->magic != kLiveMagic) {
        OutputDebugStringA("qex_gwrt stand-in: realloc of a block it did not allocate\n");
        std::abort();
    }
    /* Always move, so that callers that keep a stale pointer fail in tests. */
    void *q = fresh_block(size, false);
    if (!q) return nullptr;
    std::memcpy(q, p, old->size < size ? old->size : size);
    standin_free(p);
    return q;
}

extern "C" void standin_rte_fail_alloc_nth(long n) { g_fail.arm(n, false); }
extern "C" void standin_rte_fail_alloc_from(long n) { g_fail.arm(n, true); }
extern "C" long standin_rte_live_blocks(void) { return g_live; }
extern "C" long standin_rte_total_allocations(void) { return g_total; }

void rte::reset_allocator() { g_fail.arm(0, false); }

bool rte::engine_allocation_fails() { return g_fail.take(); }
