/* The host memory manager stand-in. Blocks live on the process heap; a handle
 * is a separately allocated master pointer, so a resize can move the block
 * while the handle stays put, exactly the property node code must respect.
 * Every block remembers its size in a hidden header, so a resize knows how much
 * to copy and which new bytes to clear. */
#define STANDIN_MEM_API
#include "standin_memory.h"
#include <windows.h>
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
    uint64_t size;
};

volatile long g_live = 0;
volatile long g_fail_remaining = 0;
volatile long g_always_move = 0;
volatile long g_resize_calls = 0;
struct ResizeCall {
    int32_t type_code;
    int32_t dims;
    size_t count;
};
ResizeCall g_last_resize = {};
SRWLOCK g_lock = SRWLOCK_INIT;

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
    auto *b = static_cast<Block *>(std::calloc(1, sizeof(Block) + size));
    if (!b) return nullptr;
    b->magic = kLive;
    b->size = size;
    return block_data(b);
}

void free_block(void *data)
{
    if (!data) return;
    Block *b = block_of(data);
    std::memset(b + 1, kPoison, b->size);
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
 * when told to; new bytes are zero. Returns false when memory runs out. */
bool resize_block(void **master, size_t size)
{
    void *old = *master;
    size_t old_size = old ? block_of(old)->size : 0;
    if (old && !g_always_move) {
        Block *b = block_of(old);
        auto *nb = static_cast<Block *>(std::realloc(b, sizeof(Block) + size));
        if (!nb) return false;
        if (size > old_size) std::memset(reinterpret_cast<char *>(nb + 1) + old_size, 0, size - old_size);
        nb->size = size;
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
    InterlockedIncrement(&g_live);
    return master;
}

} // namespace

extern "C" int32_t NumericArrayResize(int32_t type_code, int32_t dims, UHandle *handle, size_t count)
{
    InterlockedIncrement(&g_resize_calls);
    AcquireSRWLockExclusive(&g_lock);
    g_last_resize = {type_code, dims, count};
    ReleaseSRWLockExclusive(&g_lock);
    size_t elem = element_size(type_code);
    if (!handle || dims < 1 || elem == 0) return kArgErr;
    size_t header = static_cast<size_t>(dims) * 4;
    if (elem == 8) header = (header + 7) & ~size_t{7};
    if (count > (SIZE_MAX - header) / elem) return kFullErr;
    size_t bytes = header + count * elem;
    AcquireSRWLockExclusive(&g_lock);
    int32_t status = kNoErr;
    if (fail_now()) {
        status = kFullErr;
    } else if (!*handle) {
        *handle = new_handle(bytes);
        if (!*handle) status = kFullErr;
    } else if (!resize_block(*handle, bytes)) {
        status = kFullErr;
    }
    ReleaseSRWLockExclusive(&g_lock);
    return status;
}

extern "C" UHandle DSNewHClr(size_t bytes)
{
    AcquireSRWLockExclusive(&g_lock);
    UHandle h = fail_now() ? nullptr : new_handle(bytes);
    ReleaseSRWLockExclusive(&g_lock);
    return h;
}

extern "C" int32_t DSDisposeHandle(UHandle handle)
{
    if (!handle) return kArgErr;
    AcquireSRWLockExclusive(&g_lock);
    if (*handle && block_of(*handle)->magic != kLive) {
        ReleaseSRWLockExclusive(&g_lock);
        return kArgErr;
    }
    free_block(*handle);
    *handle = nullptr;
    std::free(handle);
    InterlockedDecrement(&g_live);
    ReleaseSRWLockExclusive(&g_lock);
    return kNoErr;
}

extern "C" void standin_mem_fail_nth(long n) { g_fail_remaining = n; }
extern "C" void standin_mem_set_always_move(int on) { g_always_move = on; }
extern "C" long standin_mem_live_handles(void) { return g_live; }
extern "C" long standin_mem_resize_calls(void) { return g_resize_calls; }

extern "C" void standin_mem_last_resize(int32_t *type_code, int32_t *dims, size_t *count)
{
    AcquireSRWLockExclusive(&g_lock);
    if (type_code) *type_code = g_last_resize.type_code;
    if (dims) *dims = g_last_resize.dims;
    if (count) *count = g_last_resize.count;
    ReleaseSRWLockExclusive(&g_lock);
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
