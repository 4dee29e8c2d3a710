/* The host memory manager stand-in. Blocks live on the process heap; a handle
 * is a separately allocated master pointer, so a resize can move the block
 * while the handle stays put, exactly the property node code must respect.
 * Every block remembers its size and capacity in a hidden header, so a resize
 * knows how much to copy, which new bytes to clear, and whether it fits in
 * place. */
#define STANDIN_MEM_API
#include "standin_memory.h"
#include "../rte/per_thread.h"
#include <windows.h>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kNoErr = 0;
constexpr int32_t kArgErr = 1;
constexpr int32_t kFullErr = 2;
constexpr uint64_t kLive = 0x4857524D4C495645ull;
constexpr unsigned char kPoison = 0xDD;

struct alignas(16) Block {
    uint64_t magic;
    uint64_t size;     /* what the owner asked for */
    uint64_t capacity; /* what is allocated behind the header */
};

/* Blocks are allocated in steps of this many bytes, so that the usual small
 * growth (a string's terminator) stays in place, as a host heap would. */
constexpr size_t kGranule = 32;

size_t capacity_for(size_t size) { return size > SIZE_MAX - kGranule ? size : (size + kGranule - 1) & ~(kGranule - 1); }

/* No lock: handles are independent, so the manager itself needs none. What
 * it counts for tests, it counts per thread (per_thread.h), so that node
 * calls on several threads at once write nothing in common. */
standin::SpreadCount g_live;
standin::SpreadCount g_resize_calls;
volatile long g_fail_remaining = 0;
volatile long g_always_move = 0;
/* The calling thread's latest resize, for tests. */
struct LastResize {
    int32_t type_code, dims;
    size_t count;
};
standin::PerThread<LastResize> g_last_resize;

bool fail_now()
{
    for (;;) {
        long r = g_fail_remaining;
        if (r <= 0) return false;
        if (InterlockedCompareExchange(&g_fail_remaining, r - 1, r) == r) return r == 1;
    }
}

void *block_data(Block *b) { return b + 1; }
Block *block_of(void *data) { return static_cast<Block *>(data) - 1; }

void *new_block(size_t size)
{
    size_t capacity = capacity_for(size);
    if (capacity > SIZE_MAX - sizeof(Block)) return nullptr;
    auto *b = static_cast<Block *>(std::calloc(1, sizeof(Block) + capacity));
    if (!b) return nullptr;
    b->magic = kLive;
    b->size = size;
    b->capacity = capacity;
    return block_data(b);
}

void free_block(void *data)
{
    if (!data) return;
    Block *b = block_of(data);
    std::memset(b + 1, kPoison, b->capacity);
    b->magic = 0;
    std::free(b);
}

/* Element size for a host numeric type code, 0 for an unknown code. */
size_t element_size(int32_t type_code)
{
    switch (type_code) {
    case 1: case 5: return 1;
    case 2: case 6: return 2;
    case 3: case 7: case 9: return 4;
    case 4: case 8: case 10: return 8;
    default: return 0;
    }
}

/* Grows or shrinks the block behind a master pointer to size bytes, moving it
 * when told to; new bytes are zero, bytes given up are poisoned. Returns false
 * when memory runs out. */
bool resize_block(void **master, size_t size)
{
    void *old = *master;
    size_t old_size = old ? block_of(old)->size : 0;
    if (old && !g_always_move && size <= block_of(old)->capacity) {
        auto *bytes = static_cast<unsigned char *>(old);
        if (size > old_size) std::memset(bytes + old_size, 0, size - old_size);
        else std::memset(bytes + size, kPoison, old_size - size);
        block_of(old)->size = size;
        return true;
    }
    if (old && !g_always_move) {
        size_t capacity = capacity_for(size);
        if (capacity > SIZE_MAX - sizeof(Block)) return false;
        auto *nb = static_cast<Block *>(std::realloc(block_of(old), sizeof(Block) + capacity));
        if (!nb) return false;
        std::memset(reinterpret_cast<unsigned char *>(nb + 1) + old_size, 0, capacity - old_size);
        nb->size = size;
        nb->capacity = capacity;
        *master = block_data(nb);
        return true;
    }
    void *fresh = new_block(size);
    if (!fresh) return false;
    if (old) std::memcpy(fresh, old, old_size < size ? old_size : size);
    free_block(old);
    *master = fresh;
    return true;
}

UHandle new_handle(size_t bytes)
{
    auto **master = static_cast<void **>(std::malloc(sizeof(void *)));
    if (!master) return nullptr;
    *master = new_block(bytes);
    if (!*master) { std::free(master); return nullptr; }
    g_live.add(1);
    return master;
}

} // namespace

extern "C" int32_t NumericArrayResize(int32_t type_code, int32_t dims, UHandle *handle, size_t count)
{
    g_resize_calls.add(1);
    if (LastResize *last = g_last_resize.mine()) *last = {type_code, dims, count};
    size_t elem = element_size(type_code);
    if (!handle || dims < 1 || elem == 0) return kArgErr;
    size_t header = static_cast<size_t>(dims) * 4;
    if (elem == 8) header = (header + 7) & ~size_t{7};
    if (count > (SIZE_MAX - header) / elem) return kFullErr;
    size_t bytes = header + count * elem;
    int32_t status = kNoErr;
    if (fail_now()) {
        status = kFullErr;
    } else if (!*handle) {
        *handle = new_handle(bytes);
        if (!*handle) status = kFullErr;
    } else if (!resize_block(*handle, bytes)) {
        status = kFullErr;
    }
    return status;
}

extern "C" UHandle DSNewHClr(size_t bytes)
{
    return fail_now() ? nullptr : new_handle(bytes);
}

extern "C" int32_t DSDisposeHandle(UHandle handle)
{
    if (!handle) return kArgErr;
    if (*handle && block_of(*handle)->magic != kLive) return kArgErr;
    free_block(*handle);
    *handle = nullptr;
    std::free(handle);
    g_live.add(-1);
    return kNoErr;
}

extern "C" void standin_mem_fail_nth(long n) { g_fail_remaining = n; }
extern "C" void standin_mem_set_always_move(int on) { g_always_move = on; }
extern "C" long standin_mem_live_handles(void) { return g_live.total(); }
extern "C" long standin_mem_resize_calls(void) { return g_resize_calls.total(); }

extern "C" void standin_mem_last_resize(int32_t *type_code, int32_t *dims, size_t *count)
{
    LastResize last = {};
    if (LastResize *mine = g_last_resize.mine()) last = *mine;
    if (type_code) *type_code = last.type_code;
    if (dims) *dims = last.dims;
    if (count) *count = last.count;
}

extern "C" UHandle standin_mem_new_array(size_t elem_size, int32_t count)
{
    size_t header = elem_size == 8 ? 8 : 4;
    UHandle h = DSNewHClr(header + static_cast<size_t>(count < 0 ? 0 : count) * elem_size);
    if (h) *static_cast<int32_t *>(*h) = count;
    return h;
}

extern "C" UHandle standin_mem_new_string(const char *text, int32_t length)
{
    UHandle h = DSNewHClr(4 + static_cast<size_t>(length < 0 ? 0 : length));
    if (!h) return nullptr;
    *static_cast<int32_t *>(*h) = length;
    if (length > 0) std::memcpy(static_cast<char *>(*h) + 4, text, static_cast<size_t>(length));
    return h;
}

extern "C" void standin_mem_reset(void)
{
    g_fail_remaining = 0;
    g_always_move = 0;
}
