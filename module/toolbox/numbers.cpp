/* The toolbox's numeric functions: block swapping, the two in-place sorts and
 * the binary search over arrays of fixed-size elements.
 *
 * Rules kept:
 *   - Elements are compared by the caller's function with the addresses of
 *     two elements (BinSearch: the sought item first); without one, by memcmp
 *     over the element size.
 *   - The sorts perform exactly the comparisons and exchanges of their
 *     algorithms, so that the order of equal elements after HeapSort is the
 *     one the algorithm gives, and InsertionSort keeps equal elements in
 *     their order.
 *   - SwapBlock exchanges in units of 8, 4 or 1 bytes by the alignment of
 *     both addresses and the count; the sorts exchange elements the same way. */
#include <climits>
#include <cstring>
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

/* Exchanges n bytes in units of T, first unit first. */
template <typename T>
inline void swap_units(unsigned char *a, unsigned char *b, size_t n)
{
    for (size_t i = 0; i < n; i += sizeof(T)) {
        T x, y;
        __builtin_memcpy(&x, a + i, sizeof(T));
        __builtin_memcpy(&y, b + i, sizeof(T));
        __builtin_memcpy(a + i, &y, sizeof(T));
        __builtin_memcpy(b + i, &x, sizeof(T));
    }
}

inline void swap_block(void *block1, void *block2, size_t n)
{
    auto *a = static_cast<unsigned char *>(block1);
    auto *b = static_cast<unsigned char *>(block2);
    uintptr_t alignment = reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b) | n;
    if ((alignment & 7) == 0)
        swap_units<uint64_t>(a, b, n);
    else if ((alignment & 3) == 0)
        swap_units<uint32_t>(a, b, n);
    else
        swap_units<unsigned char>(a, b, n);
}

/* Element exchange of the sorts: a fixed-size exchange when the element size
 * is known at compile time and the array is aligned for it (what SwapBlock
 * would do), else SwapBlock's own dispatch. */
template <size_t Size>
struct FixedSwap {
    static void swap(unsigned char *a, unsigned char *b, size_t)
    {
        if constexpr (Size == 8)
            swap_units<uint64_t>(a, b, 8);
        else
            swap_units<uint32_t>(a, b, 4);
    }
};

struct AnySwap {
    static void swap(unsigned char *a, unsigned char *b, size_t size) { swap_block(a, b, size); }
};

/* The comparison of two elements: the caller's function or memcmp. */
struct CallerCompare {
    CompareFunction fn;
    int operator()(const void *a, const void *b, size_t) const { return fn(a, b); }
};

struct BytesCompare {
    int operator()(const void *a, const void *b, size_t size) const { return std::memcmp(a, b, size); }
};

/* Heap sort over positions 1..n: the heap is built by sifting each element up
 * behind its parents, then the largest element is moved behind the heap and
 * the new first element sifted down, until one element remains. */
template <typename Swap, typename Compare>
void heap_sort(unsigned char *base, size_t n, size_t size, Compare compare)
{
    unsigned char *const one = base - size; /* position p lies at one + p * size */
    auto at = [one, size](size_t p) { return one + p * size; };
    for (size_t i = 2; i <= n; ++i) {
        for (size_t c = i; c > 1;) {
            size_t p = c / 2;
            if (compare(at(c), at(p), size) <= 0) break;
            Swap::swap(at(c), at(p), size);
            c = p;
        }
    }
    for (size_t last = n; last > 1;) {
        Swap::swap(at(1), at(last), size);
        --last;
        for (size_t p = 1;;) {
            size_t c = 2 * p;
            if (c > last) break;
            if (c < last && compare(at(c), at(c + 1), size) < 0) ++c;
            if (compare(at(p), at(c), size) >= 0) break;
            Swap::swap(at(p), at(c), size);
            p = c;
        }
    }
}

template <typename Swap, typename Compare>
void insertion_sort(unsigned char *base, size_t n, size_t size, Compare compare)
{
    for (size_t i = 1; i < n; ++i) {
        for (unsigned char *e = base + i * size; e > base; e -= size) {
            if (compare(e - size, e, size) <= 0) break;
            Swap::swap(e - size, e, size);
        }
    }
}

/* Runs sorter<Swap, Compare> with the exchange that fits the element size and
 * the array's alignment and the comparison that fits compareFunction. */
template <template <typename, typename> class Sorter>
void sort_with(void *array, size_t n, size_t size, CompareFunction compareFunction)
{
    if (n < 2 || size == 0) return;
    auto *base = static_cast<unsigned char *>(array);
    uintptr_t address = reinterpret_cast<uintptr_t>(base);
    if (compareFunction) {
        CallerCompare compare{compareFunction};
        if (size == 4 && (address & 3) == 0)
            Sorter<FixedSwap<4>, CallerCompare>::run(base, n, size, compare);
        else if (size == 8 && (address & 7) == 0)
            Sorter<FixedSwap<8>, CallerCompare>::run(base, n, size, compare);
        else
            Sorter<AnySwap, CallerCompare>::run(base, n, size, compare);
    } else {
        Sorter<AnySwap, BytesCompare>::run(base, n, size, BytesCompare{});
    }
}

template <typename Swap, typename Compare>
struct HeapSorter {
    static void run(unsigned char *base, size_t n, size_t size, Compare compare)
    {
        heap_sort<Swap>(base, n, size, compare);
    }
};

template <typename Swap, typename Compare>
struct InsertionSorter {
    static void run(unsigned char *base, size_t n, size_t size, Compare compare)
    {
        insertion_sort<Swap>(base, n, size, compare);
    }
};

} // namespace

extern "C" {

void SwapBlock(void *block1, void *block2, size_t numBytes) { swap_block(block1, block2, numBytes); }

void HeapSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction)
{
    sort_with<HeapSorter>(array, numElements, elementSize, compareFunction);
}

void InsertionSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction)
{
    sort_with<InsertionSorter>(array, numElements, elementSize, compareFunction);
}

int BinSearch(const void *array, size_t numElements, size_t elementSize, const void *itemPtr,
              CompareFunction compareFunction)
{
    if (numElements > INT_MAX || numElements == 0) return -1;
    const auto *base = static_cast<const unsigned char *>(array);
    int64_t lo = 0;
    int64_t hi = static_cast<int64_t>(numElements) - 1;
    for (;;) {
        int64_t mid = (lo + hi) / 2;
        const unsigned char *element = base + static_cast<size_t>(mid) * elementSize;
        int c = compareFunction ? compareFunction(itemPtr, element) : std::memcmp(itemPtr, element, elementSize);
        if (c == 0) return static_cast<int>(mid);
        if (c < 0) {
            hi = mid - 1;
            if (lo > hi) return static_cast<int>(-(mid + 1));
        } else {
            if (mid >= hi) return static_cast<int>(-(mid + 2));
            lo = mid + 1;
        }
    }
}

} // extern "C"
