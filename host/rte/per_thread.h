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
#include <atomic>
#include <vector>

namespace standin {

template <typename T>
class PerThread {
public:
    /* This thread's copy, made on first use; null only when the process has
     * no thread-local slot left. Leaves the thread's last-error value alone. */
    T *mine()
    {
        InitOnceExecuteOnce(&once_, &PerThread::create_slot, this, nullptr);
        if (slot_ == TLS_OUT_OF_INDEXES) return nullptr;
        DWORD last_error = GetLastError();
        auto *cell = static_cast<Cell *>(TlsGetValue(slot_));
        if (!cell) {
            cell = new Cell;
            TlsSetValue(slot_, cell);
            AcquireSRWLockExclusive(&list_lock_);
            cells_.push_back(cell);
            ReleaseSRWLockExclusive(&list_lock_);
        }
        SetLastError(last_error);
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
    static BOOL CALLBACK create_slot(PINIT_ONCE, PVOID self, PVOID *)
    {
        static_cast<PerThread *>(self)->slot_ = TlsAlloc();
        return TRUE;
    }

    INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
    DWORD slot_ = TLS_OUT_OF_INDEXES;
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
