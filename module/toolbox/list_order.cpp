/* Ordering, searching and printing the items of a ListType in place.
 *
 * Every function takes the caller's compare function; a null one compares
 * the items' bytes with memcmp over the item size. Invalid lists (null or
 * wrongly tagged) are left alone and answered with the function's "nothing"
 * result (no effect, 0).
 *
 * Rules kept:
 *   - ListQuickSort compares (lo, mid), (lo, hi), (mid, hi) for the median of
 *     three, so 2 items take exactly 1 comparison and 3 items exactly 3. It
 *     keeps its pending ranges on an explicit stack of 50 (lo, hi) pairs,
 *     always pushes the larger side and goes on with the smaller one (so the
 *     stack never holds more than log2(count) pairs), and has no cut-over to
 *     another sort. The swap routine is chosen once from the item size: bytes
 *     for odd sizes, 16-bit units for even sizes that are not multiples of 4,
 *     32-bit units for multiples of 4.
 *   - ListInsertionSort moves an item forward only past predecessors that
 *     compare greater, so equal items keep their order.
 *   - ListBinSearch and ListInsertInOrder bisect the same way; among equal
 *     items the first one the bisection reaches is the answer, and an item is
 *     inserted right before an equal one.
 *   - OutputList stops at the first negative output result and returns it;
 *     an item prefix, separator or list suffix that contains "%d" (found with
 *     the engine's multibyte search) is used as a format of the position. */
#include <cstdint>
#include <cstring>
#include "toolbox.h"
#include "toolbox_internal.h"
#include "swap_units.h"

namespace {

/* What the ordering functions read of a valid list. */
struct ListFields {
    unsigned char *data;
    size_t itemSize;
    size_t numItems;
};

bool valid(ListType list) { return __QEXToolboxValidateList(list) != 0; }

ListFields fields(ListType list)
{
    return {static_cast<unsigned char *>(ListGetDataPtr(list)), static_cast<size_t>(ListGetItemSize(list)),
            ListNumItems(list)};
}

/* A compare function, or memcmp over the item size when there is none. */
struct Comparer {
    CompareFunction fn;
    size_t size;
    int operator()(const void *a, const void *b) const { return fn ? fn(a, b) : std::memcmp(a, b, size); }
};

using toolbox::swap_units;

struct Range {
    unsigned char *lo;
    unsigned char *hi;
};

constexpr int kStackPairs = 50;

/* The quick sort over items lo..hi (pointers to the first and the last item),
 * with the swap unit fixed at compile time. */
template <typename Unit>
void quick_sort(unsigned char *first, unsigned char *last, size_t s, Comparer compare)
{
    auto swap = [s](unsigned char *a, unsigned char *b) { swap_units<Unit>(a, b, s); };
    auto order = [&](unsigned char *a, unsigned char *b) {
        if (compare(a, b) > 0) swap(a, b);
    };

    Range stack[kStackPairs] = {};
    int stored = 0;
    auto push = [&](unsigned char *lo, unsigned char *hi) {
        /* Pushing the larger side bounds the depth by log2 of the item count,
         * so this room runs out only beyond 2^49 items. */
        if (stored < kStackPairs - 1) stack[stored++] = {lo, hi};
    };

    unsigned char *lo = first;
    unsigned char *hi = last;
    for (;;) {
        size_t count = static_cast<size_t>(hi - lo) / s + 1;
        bool done = true;
        if (count == 2) {
            order(lo, hi);
        } else if (count >= 3) {
            unsigned char *mid = lo + s * ((count - 1) / 2);
            order(lo, mid);
            order(lo, hi);
            order(mid, hi);
            if (count > 3) {
                unsigned char *pivot = hi - s;
                if (mid != pivot) swap(mid, pivot);
                unsigned char *i = lo;
                unsigned char *j = pivot;
                for (;;) {
                    i += s;
                    while (i < pivot && compare(i, pivot) < 0) i += s;
                    j -= s;
                    while (j > lo && compare(j, pivot) > 0) j -= s;
                    if (i >= j) break;
                    swap(i, j);
                }
                if (i != pivot) swap(pivot, i);
                unsigned char *p = i;
                /* Lengths of lo..p and p..hi, both counting the pivot. */
                size_t left = static_cast<size_t>(p - lo) / s + 1;
                size_t right = static_cast<size_t>(hi - p) / s + 1;
                if (right < left) {
                    if (p - s > lo) push(lo, p - s);
                    lo = p;
                } else {
                    if (p + s < hi) push(p + s, hi);
                    hi = p;
                }
                done = false;
            }
        }
        if (done) {
            if (stored == 0) return;
            --stored;
            lo = stack[stored].lo;
            hi = stack[stored].hi;
        }
    }
}

/* The bisection shared by ListBinSearch and ListInsertInOrder over count
 * items: the 0-based index of an equal item in *found, or the 1-based sorted
 * insertion place in *place. */
bool bisect(ListType list, const void *item, Comparer compare, size_t count, size_t *found, size_t *place)
{
    const ListFields f = fields(list);
    int64_t lo = 0;
    int64_t hi = static_cast<int64_t>(count) - 1;
    for (;;) {
        int64_t mid = (lo + hi) / 2;
        int c = compare(item, f.data + static_cast<size_t>(mid) * f.itemSize);
        if (c == 0) {
            *found = static_cast<size_t>(mid);
            return true;
        }
        if (c < 0) {
            hi = mid - 1;
            if (hi < lo) {
                *place = static_cast<size_t>(mid) + 1;
                return false;
            }
        } else {
            if (mid >= hi) {
                *place = static_cast<size_t>(mid) + 2;
                return false;
            }
            lo = mid + 1;
        }
    }
}

/* The engine's standard output: the second entry of its stream table. */
FILE *engine_stdout() { return _GetFilesArray() + 1; }

/* Writes an item prefix, separator or list suffix: as a format of `number`
 * when it contains "%d", else as plain text. */
int write_part(FILE *stream, const char *text, long long number)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    if (QEX__mbsstr(bytes, reinterpret_cast<const unsigned char *>("%d")))
        return qex_rte_fprintf(stream, text, static_cast<int>(number));
    return qex_rte_fprintf(stream, "%s", text);
}

} // namespace

extern "C" {

void ListQuickSort(ListType list, CompareFunction compareFn)
{
    if (!valid(list)) return;
    const ListFields f = fields(list);
    size_t count = f.numItems;
    size_t s = f.itemSize;
    if (count < 2 || s == 0) return;
    unsigned char *first = f.data;
    unsigned char *last = f.data + (count - 1) * s;
    Comparer compare{compareFn, s};
    if (s % 2)
        quick_sort<uint8_t>(first, last, s, compare);
    else if (s % 4)
        quick_sort<uint16_t>(first, last, s, compare);
    else
        quick_sort<uint32_t>(first, last, s, compare);
}

void ListHeapSort(ListType list, CompareFunction compareFn)
{
    if (!valid(list) || ListNumItems(list) == 0) return;
    const ListFields f = fields(list);
    HeapSort(f.data, f.numItems, f.itemSize, compareFn);
}

void ListInsertionSort(ListType list, CompareFunction compareFn)
{
    if (!valid(list)) return;
    const ListFields f = fields(list);
    size_t count = f.numItems;
    size_t s = f.itemSize;
    if (count < 2) return;
    Comparer compare{compareFn, s};
    for (size_t i = 1; i < count; ++i) {
        unsigned char *item = f.data + i * s;
        while (item > f.data && compare(item - s, item) > 0) {
            SwapBlock(item - s, item, s);
            item -= s;
        }
    }
}

int ListIsSorted(ListType list, CompareFunction compareFn)
{
    if (!valid(list)) return 0;
    const ListFields f = fields(list);
    size_t count = f.numItems;
    Comparer compare{compareFn, f.itemSize};
    for (size_t i = 1; i < count; ++i)
        if (compare(f.data + (i - 1) * f.itemSize, f.data + i * f.itemSize) > 0) return 0;
    return 1;
}

size_t ListBinSearch(ListType list, const void *ptrToItem, CompareFunction compareFn)
{
    if (!valid(list) || !ptrToItem) return 0;
    size_t count = ListNumItems(list);
    if (count == 0 || count > 2147483647u) return 0;
    size_t found = 0, place = 0;
    if (!bisect(list, ptrToItem, Comparer{compareFn, fields(list).itemSize}, count, &found, &place)) return 0;
    return found + 1;
}

int ListInsertInOrder(ListType list, const void *ptrToItem, CompareFunction compareFn)
{
    if (!valid(list) || !ptrToItem) return 0;
    size_t count = ListNumItems(list);
    size_t place = count + 1;
    if (count > 0) {
        size_t found = 0;
        if (bisect(list, ptrToItem, Comparer{compareFn, fields(list).itemSize}, count, &found, &place))
            place = found + 1;
    }
    if (place > count) return ListInsertItem(list, ptrToItem, LIST_POS_END);
    return ListInsertItem(list, ptrToItem, static_cast<ptrdiff_t>(place));
}

int ShortCompare(const void *item1, const void *item2)
{
    short a = *static_cast<const short *>(item1), b = *static_cast<const short *>(item2);
    return a < b ? -1 : a > b ? 1 : 0;
}

int IntCompare(const void *item1, const void *item2)
{
    int a = *static_cast<const int *>(item1), b = *static_cast<const int *>(item2);
    return a < b ? -1 : a > b ? 1 : 0;
}

int FloatCompare(const void *item1, const void *item2)
{
    float a = *static_cast<const float *>(item1), b = *static_cast<const float *>(item2);
    return a < b ? -1 : a > b ? 1 : 0;
}

int DoubleCompare(const void *item1, const void *item2)
{
    double a = *static_cast<const double *>(item1), b = *static_cast<const double *>(item2);
    return a < b ? -1 : a > b ? 1 : 0;
}

int CStringCompare(const void *item1, const void *item2)
{
    return std::strcmp(*static_cast<const char *const *>(item1), *static_cast<const char *const *>(item2));
}

int CStringNoCaseCompare(const void *item1, const void *item2)
{
    return _stricmp(*static_cast<const char *const *>(item1), *static_cast<const char *const *>(item2));
}

int OutputIntegerItem(FILE *stream, const void *ptrToItem)
{
    return qex_rte_fprintf(stream, "%d", *static_cast<const int *>(ptrToItem));
}

int OutputShortItem(FILE *stream, const void *ptrToItem)
{
    return qex_rte_fprintf(stream, "%d", static_cast<int>(*static_cast<const short *>(ptrToItem)));
}

int OutputDoubleItem(FILE *stream, const void *ptrToItem)
{
    return qex_rte_fprintf(stream, "%f", *static_cast<const double *>(ptrToItem));
}

int OutputStringItem(FILE *stream, const void *ptrToItem)
{
    return qex_rte_fprintf(stream, "%s", *static_cast<const char *const *>(ptrToItem));
}

int OutputList(ListType list, FILE *stream, const char *listPrefix, const char *listSuffix, const char *itemPrefix,
               const char *itemSeparator, ListOutputFunction outputFn)
{
    if (!stream) stream = engine_stdout();
    if (!outputFn) return qex_rte_fprintf(stream, "Error, no output function specified\n");
    int total = 0;
    int failure = 0;
    auto emit = [&](int written) {
        if (written < 0) {
            failure = written;
            return false;
        }
        total += written;
        return true;
    };
    if (listPrefix && !emit(qex_rte_fprintf(stream, "%s", listPrefix))) return failure;
    size_t count = valid(list) ? ListNumItems(list) : 0;
    if (count) {
        const ListFields f = fields(list);
        for (size_t i = 1; i <= count; ++i) {
            long long position = static_cast<long long>(i);
            if (itemPrefix && !emit(write_part(stream, itemPrefix, position))) return failure;
            if (!emit(outputFn(stream, f.data + (i - 1) * f.itemSize))) return failure;
            if (itemSeparator && i != count && !emit(write_part(stream, itemSeparator, position))) return failure;
        }
    }
    if (listSuffix && !emit(write_part(stream, listSuffix, static_cast<long long>(count)))) return failure;
    return total;
}

} // extern "C"
