/* The program's operator new and delete: small blocks are kept by each thread
 * for its next allocations instead of going back to the C runtime's heap.
 *
 * Every batch line makes a few short-lived objects (the JSON parser's buffers
 * and state stack), and the C runtime's heap serialises all threads on one
 * lock: with several workers, the heap's lock, not the work, set the pace.
 * Here a thread takes and gives back small blocks from its own lists without
 * any lock; only a list that is empty (or full) goes to the heap.
 *
 * Rules kept:
 * - Every block starts 16 bytes after a header that names its size class
 *   (0 for a block larger than the classes), so a block can be freed on any
 *   thread: it joins the freeing thread's list of its class, or the heap
 *   when that list is full.
 * - A thread keeps at most kMaxKept blocks per class; what it keeps goes back
 *   to the heap when the thread ends (a thread-local callback of the image).
 * - Failure is reported as the standard requires: bad_alloc from the throwing
 *   forms, null from the nothrow forms.
 * - The thread's lists are reached through a thread-local slot read in the
 *   thread's own record; while the slot does not exist (before the
 *   program's statics are built, after they are destroyed) every block goes
 *   to the heap. */
#include <windows.h>
#include <cstdint>
#include <cstdlib>
#include <atomic>
#include <new>
#include "per_thread.h"
#include "small_blocks.h"

namespace {

constexpr size_t kHeader = 16;
constexpr size_t kGranule = 16;
constexpr size_t kClasses = 16; /* blocks of up to 256 bytes */
constexpr unsigned kMaxKept = 128;

struct FreeBlock {
    FreeBlock *next;
};

struct Lists {
    FreeBlock *head[kClasses];
    unsigned kept[kClasses];
};

/* Each thread's lists (the thread-local slot kept as the stand-ins keep
 * theirs). */
standin::ThreadSlot g_lists;

Lists *own_lists()
{
    if (!g_lists.exists()) return nullptr;
    if (auto *lists = static_cast<Lists *>(g_lists.get())) return lists;
    auto *lists = static_cast<Lists *>(std::calloc(1, sizeof(Lists)));
    if (lists) g_lists.set(lists);
    return lists;
}

/* Whether threads keep small blocks at all (the batch benchmark compares both
 * ways in one run); blocks kept before a switch-off are still used. */
std::atomic<bool> g_keeping{true};

void *allocate(size_t size) noexcept
{
    if (size > SIZE_MAX - kHeader) return nullptr;
    size_t cls = size <= kClasses * kGranule ? (size + kGranule - 1) / kGranule : 0;
    if (cls == 0 && size == 0) cls = 1;
    if (cls != 0) {
        if (Lists *lists = own_lists()) {
            if (FreeBlock *block = lists->head[cls - 1]) {
                lists->head[cls - 1] = block->next;
                --lists->kept[cls - 1];
                return block;
            }
        }
        size = cls * kGranule;
    }
    auto *header = static_cast<unsigned char *>(std::malloc(size + kHeader));
    if (!header) return nullptr;
    *reinterpret_cast<size_t *>(header) = cls;
    return header + kHeader;
}

void release(void *pointer) noexcept
{
    if (!pointer) return;
    unsigned char *header = static_cast<unsigned char *>(pointer) - kHeader;
    size_t cls = *reinterpret_cast<size_t *>(header);
    if (cls != 0) {
        Lists *lists = own_lists();
        if (lists && lists->kept[cls - 1] < kMaxKept && g_keeping.load(std::memory_order_relaxed)) {
            auto *block = static_cast<FreeBlock *>(pointer);
            block->next = lists->head[cls - 1];
            lists->head[cls - 1] = block;
            ++lists->kept[cls - 1];
            return;
        }
    }
    std::free(header);
}

/* Gives a thread's kept blocks back to the heap as the thread ends. */
void NTAPI on_thread_event(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_THREAD_DETACH && reason != DLL_PROCESS_DETACH) return;
    if (!g_lists.exists()) return;
    auto *lists = static_cast<Lists *>(g_lists.get());
    if (!lists) return;
    g_lists.set(nullptr);
    for (FreeBlock *&head : lists->head)
        while (FreeBlock *block = head) {
            head = block->next;
            std::free(reinterpret_cast<unsigned char *>(block) - kHeader);
        }
    std::free(lists);
}

} // namespace

void cnode_run::keep_small_blocks(bool keep) { g_keeping.store(keep, std::memory_order_relaxed); }

/* The image's thread-local callbacks run between the C runtime's own. */
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK cnode_run_small_blocks_callback =
    on_thread_event;

void *operator new(size_t size)
{
    if (void *p = allocate(size)) return p;
    throw std::bad_alloc();
}
void *operator new[](size_t size)
{
    if (void *p = allocate(size)) return p;
    throw std::bad_alloc();
}
void *operator new(size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, size_t) noexcept { release(p); }
void operator delete[](void *p, size_t) noexcept { release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { release(p); }
