/* Values that many threads update at once, kept per thread: each thread's
 * copy on a cache line of its own, found through a Windows thread-local slot,
 * and listed so that a reader can visit every thread's copy. Updating one's
 * own copy writes nothing that another thread writes, so threads calling a
 * stand-in side by side do not drag a shared line back and forth; a test
 * control that needs the process-wide value sums or visits the copies.
 * A thread's copy outlives the thread (it stays in the list). Header-only,
 * so that each stand-in DLL has its own. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include <vector>
#include <atomic>

namespace standin {

/* A thread-local slot taken when the stand-in loads (its objects are built
 * then) and given back when it unloads. Node calls reach these slots several
 * times each, so a slot among the 64 that the thread's own record holds is
 * read and written there directly (what TlsGetValue and TlsSetValue do for
 * it, without two library calls and without resetting the thread's
 * last-error value); a later slot goes through the system calls with the
 * last error kept. A slot never written reads null. Before its object is
 * built (static storage reads all zeros) a slot does not exist. */
class ThreadSlot {
public:
    ThreadSlot() : slot_(TlsAlloc()), built_(true) {}
    ~ThreadSlot()
    {
        if (exists()) TlsFree(slot_);
        built_ = false;
    }
    ThreadSlot(const ThreadSlot &) = delete;
    ThreadSlot &operator=(const ThreadSlot &) = delete;

    bool exists() const { return built_ && slot_ != TLS_OUT_OF_INDEXES; }

    void *get() const
    {
        if (built_ && slot_ < kRecordSlots) {
            uintptr_t value;
            asm volatile("movq %%gs:(%1), %0" : "=r"(value) : "r"(offset()) : "memory");
            return reinterpret_cast<void *>(value);
        }
        if (!exists()) return nullptr;
        DWORD last_error = GetLastError();
        void *value = TlsGetValue(slot_);
        SetLastError(last_error);
        return value;
    }

    void set(void *value)
    {
        if (built_ && slot_ < kRecordSlots) {
            asm volatile("movq %0, %%gs:(%1)" : : "r"(reinterpret_cast<uintptr_t>(value)), "r"(offset()) : "memory");
            return;
        }
        if (!exists()) return;
        DWORD last_error = GetLastError();
        TlsSetValue(slot_, value);
        SetLastError(last_error);
    }

private:
    /* The 64-bit thread record keeps slots 0 to 63 at this offset (fixed by
     * the system's binary interface). */
    static constexpr DWORD kRecordSlots = 64;
    static constexpr uintptr_t kRecordSlotsOffset = 0x1480;
    uintptr_t offset() const { return kRecordSlotsOffset + uintptr_t{slot_} * sizeof(void *); }

    DWORD slot_;
    bool built_;
};

template <typename T>
class PerThread {
public:
    /* This thread's copy, made on first use; null only when the process has
     * no thread-local slot left. Leaves the thread's last-error value alone. */
    T *mine()
    {
        if (!slot_.exists()) return nullptr;
        auto *cell = static_cast<Cell *>(slot_.get());
        if (!cell) {
            cell = new Cell;
            slot_.set(cell);
            AcquireSRWLockExclusive(&list_lock_);
            cells_.push_back(cell);
            ReleaseSRWLockExclusive(&list_lock_);
        }
        return &cell->value;
    }

    /* Calls visit(value) for every thread's copy, under the list's lock. */
    template <typename Visit>
    void each(Visit &&visit)
    {
        AcquireSRWLockShared(&list_lock_);
        for (Cell *cell : cells_) visit(cell->value);
        ReleaseSRWLockShared(&list_lock_);
    }

private:
    struct alignas(64) Cell {
        T value{};
    };
    ThreadSlot slot_;
    SRWLOCK list_lock_ = SRWLOCK_INIT;
    std::vector<Cell *> cells_;
};

/* A count many threads add to: each adds to its own copy; the total is the sum. */
class SpreadCount {
public:
    void add(long n)
    {
        if (std::atomic<long> *own = copies_.mine())
            own->store(own->load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
    long total()
    {
        long sum = 0;
        copies_.each([&](std::atomic<long> &c) { sum += c.load(std::memory_order_relaxed); });
        return sum;
    }

private:
    PerThread<std::atomic<long>> copies_;
};

} // namespace standin
