/* ListType: the toolbox's growable array of fixed-size items.
 *
 * One contiguous data block holds the items back to back; items are copied in
 * and out by value and addressed by 1-based positions. The record and its block
 * come from the engine's allocator with resource tracking suspended; the list
 * itself is registered with the engine as a "Toolbox" resource, so a list that
 * is never disposed shows up as leaked.
 *
 * Invariants kept by every operation:
 *   - numItems <= capacity, data holds capacity * itemSize bytes (or is null
 *     while no byte has been allocated);
 *   - item p (1-based) lies at byte offset (p - 1) * itemSize;
 *   - slots beyond numItems are zero when first added;
 *   - a failed allocation leaves the list exactly as it was.
 *
 * Choices where the contract is open:
 *   - Positions below LIST_POS_FRONT are refused like any other position that
 *     does not resolve; a compare function that is not consistent only changes
 *     which item a search finds, never the memory that is touched.
 *   - ListEqual returns 0 for lists of different item sizes instead of reading
 *     past the end of the smaller list's data.
 *   - ListDisposePtrList frees the stored pointers only when an item can hold
 *     a pointer; a list of smaller items is disposed without reading past its
 *     data.
 *   - Items inserted from the list's own data block (a pointer obtained with
 *     ListGetPtrToItem, say) are read from where they are after the block
 *     grew and the tail moved, not from the freed block. */
#include <cstring>
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr uint32_t kListMagic = 0x4C495354; /* "LIST" */
constexpr size_t kMaxItemSize = 0x7FFFFFFF;
constexpr int32_t kInitialPercentIncrease = 10;
constexpr int64_t kInitialMinItemsPerAlloc = 4;

} // namespace

struct ListStructTag {
    uint32_t magic;
    int32_t percentIncrease;
    int64_t minItemsPerAlloc;
    uint64_t capacity;
    uint64_t itemSize;
    int64_t numItems;
    unsigned char *data;
};

namespace {

using toolbox::engine_calloc;
using toolbox::engine_free;
using toolbox::engine_malloc;
using toolbox::engine_realloc;
using toolbox::multiply_fits;

bool valid(ListType list) { return list && list->magic == kListMagic; }

size_t count_of(ListType list) { return static_cast<size_t>(list->numItems); }

unsigned char *item_at(ListType list, size_t position)
{
    return list->data + (position - 1) * list->itemSize;
}

/* Resolves a position for reading, replacing and removing into 1..numItems;
 * 0 when it does not resolve. */
size_t resolve_existing(ListType list, ptrdiff_t position)
{
    size_t count = count_of(list);
    size_t resolved;
    if (position == LIST_POS_FRONT)
        resolved = 1;
    else if (position == LIST_POS_END)
        resolved = count;
    else if (position < 0)
        return 0;
    else
        resolved = static_cast<size_t>(position);
    return resolved >= 1 && resolved <= count ? resolved : 0;
}

/* Resolves the first position of a range of count items that must lie in
 * 1..numItems; 0 when the range does not fit. */
size_t resolve_range(ListType list, ptrdiff_t firstPosition, ptrdiff_t count)
{
    if (count <= 0) return 0;
    size_t first = resolve_existing(list, firstPosition);
    if (!first) return 0;
    size_t available = count_of(list) - first + 1;
    return static_cast<size_t>(count) <= available ? first : 0;
}

/* Resolves an insertion position into 1..numItems + 1 (numItems + 1 is the
 * end); 0 when it does not resolve. */
size_t resolve_insertion(ListType list, ptrdiff_t position)
{
    size_t count = count_of(list);
    if (position == LIST_POS_END) return count + 1;
    if (position == LIST_POS_FRONT) return count ? 1 : count + 1;
    if (position < 0) return 0;
    size_t resolved = static_cast<size_t>(position);
    return resolved <= count + 1 ? resolved : 0;
}

/* Byte equality of two items; the common small sizes compare inline. */
bool bytes_equal(const void *a, const void *b, size_t size)
{
    switch (size) {
    case 0: return true;
    case 1: return __builtin_memcmp(a, b, 1) == 0;
    case 2: return __builtin_memcmp(a, b, 2) == 0;
    case 4: return __builtin_memcmp(a, b, 4) == 0;
    case 8: return __builtin_memcmp(a, b, 8) == 0;
    default: return std::memcmp(a, b, size) == 0;
    }
}

/* Adds `slots` zeroed slots to the data block. Fails without touching the list
 * when the size does not fit or the engine's realloc fails. */
bool add_slots(ListType list, size_t slots)
{
    size_t added_bytes;
    if (!multiply_fits(slots, list->itemSize, &added_bytes)) return false;
    if (added_bytes == 0) return true; /* zero-size items never need a block */
    size_t new_capacity;
    size_t new_bytes;
    if (__builtin_add_overflow(static_cast<size_t>(list->capacity), slots, &new_capacity)) return false;
    if (!multiply_fits(new_capacity, list->itemSize, &new_bytes)) return false;
    auto *block = static_cast<unsigned char *>(engine_realloc(list->data, new_bytes));
    if (!block) return false;
    std::memset(block + list->capacity * list->itemSize, 0, added_bytes);
    list->data = block;
    list->capacity = new_capacity;
    return true;
}

/* The growth step of an insertion of n items: n slots plus the larger of the
 * minimum step and the percentage of the current capacity. The policy values
 * are not validated; a policy that asks for an impossible size makes the
 * insertion fail. */
bool grow_for_insertion(ListType list, size_t n)
{
    uint64_t capacity = list->capacity;
    uint64_t factor = static_cast<uint64_t>(static_cast<int64_t>(list->percentIncrease) + 100);
    uint64_t by_percentage = capacity * factor / 100 - capacity;
    uint64_t minimum = static_cast<uint64_t>(list->minItemsPerAlloc);
    uint64_t extra = minimum > by_percentage ? minimum : by_percentage;
    size_t slots;
    if (__builtin_add_overflow(n, extra, &slots)) return false;
    return add_slots(list, slots);
}

/* Copies `bytes` bytes, tolerating empty copies from or to a null block. */
void copy_bytes(void *to, const void *from, size_t bytes)
{
    if (bytes) std::memcpy(to, from, bytes);
}

void move_bytes(void *to, const void *from, size_t bytes)
{
    if (bytes) std::memmove(to, from, bytes);
}

/* Fills the slot at insert_offset with the bytes that lay at source_offset of
 * the block before the items from insert_offset on moved back by `bytes`: the
 * part of the source below the insertion point stayed, the rest moved. */
void copy_from_own_block(unsigned char *block, unsigned char *slot, size_t source_offset, size_t insert_offset,
                         size_t bytes)
{
    size_t unmoved = 0;
    if (source_offset < insert_offset) {
        unmoved = insert_offset - source_offset;
        if (unmoved > bytes) unmoved = bytes;
        std::memcpy(slot, block + source_offset, unmoved);
    }
    size_t moved_from = (source_offset > insert_offset ? source_offset : insert_offset) + bytes;
    copy_bytes(slot + unmoved, block + moved_from, bytes - unmoved);
}

ListType new_registered_list(size_t itemSize)
{
    auto *list = static_cast<ListType>(engine_calloc(1, sizeof(ListStructTag)));
    if (!list) return nullptr;
    list->magic = kListMagic;
    list->percentIncrease = kInitialPercentIncrease;
    list->minItemsPerAlloc = kInitialMinItemsPerAlloc;
    list->itemSize = itemSize;
    __QEX_Resource_Acquire(list, toolbox::kResourceCategory, "ListType 0x%0*p", toolbox::kPointerDigits, list);
    return list;
}

/* Removes count items starting at the resolved position first, copying them
 * out first when destination is given. */
void remove_resolved(ListType list, void *destination, size_t first, size_t count)
{
    size_t item_size = list->itemSize;
    unsigned char *range = item_at(list, first);
    if (destination) copy_bytes(destination, range, count * item_size);
    size_t behind = count_of(list) - (first - 1) - count;
    move_bytes(range, range + count * item_size, behind * item_size);
    list->numItems -= static_cast<int64_t>(count);
}

/* Positions start..end in either direction; the first whose item matches. */
template <typename Match>
size_t scan(ListType list, size_t start, size_t end, Match match)
{
    if (start <= end) {
        for (size_t p = start; p <= end; ++p)
            if (match(item_at(list, p))) return p;
    } else {
        for (size_t p = start; p >= end; --p)
            if (match(item_at(list, p))) return p;
    }
    return 0;
}

template <typename Word>
size_t scan_words(ListType list, const void *item, size_t start, size_t end)
{
    Word wanted;
    std::memcpy(&wanted, item, sizeof wanted);
    return scan(list, start, end, [wanted](const unsigned char *candidate) {
        Word w;
        std::memcpy(&w, candidate, sizeof w);
        return w == wanted;
    });
}

size_t find_in_range(ListType list, const void *item, size_t start, size_t end, CompareFunction compareFn)
{
    if (compareFn)
        return scan(list, start, end, [&](const unsigned char *candidate) { return compareFn(item, candidate) == 0; });
    /* Without a compare function only byte equality counts: words compare inline. */
    switch (list->itemSize) {
    case 4: return scan_words<uint32_t>(list, item, start, end);
    case 8: return scan_words<uint64_t>(list, item, start, end);
    default:
        return scan(list, start, end,
                    [&](const unsigned char *candidate) { return bytes_equal(item, candidate, list->itemSize); });
    }
}

} // namespace

extern "C" {

ListType ListCreate(size_t itemSize)
{
    if (itemSize > kMaxItemSize) return nullptr;
    return new_registered_list(itemSize);
}

void ListDispose(ListType list)
{
    if (!valid(list)) return;
    engine_free(list->data);
    list->data = nullptr;
    list->magic = 0;
    /* No release of the registration: the engine drops it with the block. */
    engine_free(list);
}

void ListDisposePtrList(ListType list)
{
    if (!valid(list)) return;
    if (list->itemSize >= sizeof(void *)) {
        for (size_t p = 1; p <= count_of(list); ++p) {
            void *pointer;
            std::memcpy(&pointer, item_at(list, p), sizeof pointer);
            engine_free(pointer);
        }
    }
    ListDispose(list);
}

ListType ListCopy(ListType list)
{
    if (!valid(list)) return nullptr;
    ListType copy = new_registered_list(list->itemSize);
    if (!copy) return nullptr;
    copy->percentIncrease = list->percentIncrease;
    copy->minItemsPerAlloc = list->minItemsPerAlloc;
    size_t bytes = count_of(list) * list->itemSize; /* fits: the source holds them */
    if (bytes) {
        copy->data = static_cast<unsigned char *>(engine_malloc(bytes));
        if (!copy->data) {
            ListDispose(copy);
            return nullptr;
        }
        std::memcpy(copy->data, list->data, bytes);
    }
    copy->capacity = count_of(list);
    copy->numItems = list->numItems;
    return copy;
}

void ListSetAllocationPolicy(ListType list, int minItemsPerAlloc, int percentIncrease)
{
    if (!valid(list)) return;
    list->minItemsPerAlloc = minItemsPerAlloc;
    list->percentIncrease = percentIncrease;
}

int ListPreAllocate(ListType list, size_t count)
{
    if (!valid(list)) return 0;
    size_t free_slots = static_cast<size_t>(list->capacity) - count_of(list);
    if (free_slots >= count) return 1;
    return add_slots(list, count - free_slots) ? 1 : 0;
}

void ListCompact(ListType list)
{
    if (!valid(list) || list->capacity == static_cast<uint64_t>(list->numItems)) return;
    size_t bytes = count_of(list) * list->itemSize;
    if (bytes == 0) {
        engine_free(list->data);
        list->data = nullptr;
    } else {
        auto *block = static_cast<unsigned char *>(engine_realloc(list->data, bytes));
        if (!block) return;
        list->data = block;
    }
    list->capacity = static_cast<uint64_t>(list->numItems);
}

size_t ListNumItems(ListType list) { return valid(list) ? count_of(list) : 0; }

int ListGetItemSize(ListType list) { return valid(list) ? static_cast<int>(list->itemSize) : 0; }

void *ListGetDataPtr(ListType list) { return valid(list) ? list->data : nullptr; }

void *ListGetPtrToItem(ListType list, ptrdiff_t position)
{
    if (!valid(list)) return nullptr;
    size_t p = resolve_existing(list, position);
    return p ? item_at(list, p) : nullptr;
}

int __QEXToolboxValidateList(ListType list) { return valid(list) ? 1 : 0; }

int ListEqual(ListType list1, ListType list2)
{
    if (list1 == list2) return 1;
    if (!valid(list1) || !valid(list2)) return 0;
    if (list1->numItems != list2->numItems) return 0;
    /* Lists of different item sizes are never equal: comparing them byte-wise
     * would read past the end of the smaller list's data. */
    if (list1->itemSize != list2->itemSize) return 0;
    size_t bytes = count_of(list1) * list1->itemSize;
    return bytes == 0 || std::memcmp(list1->data, list2->data, bytes) == 0 ? 1 : 0;
}

void ListGetItem(ListType list, void *itemDestination, ptrdiff_t position)
{
    ListGetItems(list, itemDestination, position, 1);
}

void ListGetItems(ListType list, void *itemsDestination, ptrdiff_t firstPosition, ptrdiff_t count)
{
    if (!valid(list) || !itemsDestination) return;
    size_t first = resolve_range(list, firstPosition, count);
    if (!first) return;
    copy_bytes(itemsDestination, item_at(list, first), static_cast<size_t>(count) * list->itemSize);
}

void ListReplaceItem(ListType list, const void *ptrToItem, ptrdiff_t position)
{
    ListReplaceItems(list, ptrToItem, position, 1);
}

void ListReplaceItems(ListType list, const void *ptrToItems, ptrdiff_t firstPosition, ptrdiff_t count)
{
    if (!valid(list) || !ptrToItems) return;
    size_t first = resolve_range(list, firstPosition, count);
    if (!first) return;
    move_bytes(item_at(list, first), ptrToItems, static_cast<size_t>(count) * list->itemSize);
}

void ListRemoveItem(ListType list, void *itemDestination, ptrdiff_t position)
{
    ListRemoveItems(list, itemDestination, position, 1);
}

void ListRemoveItems(ListType list, void *itemsDestination, ptrdiff_t firstPosition, ptrdiff_t count)
{
    if (!valid(list)) return;
    size_t first = resolve_range(list, firstPosition, count);
    if (!first) return;
    remove_resolved(list, itemsDestination, first, static_cast<size_t>(count));
}

int ListInsertItem(ListType list, const void *ptrToItem, ptrdiff_t position)
{
    return ListInsertItems(list, ptrToItem, position, 1);
}

int ListInsertItems(ListType list, const void *ptrToItems, ptrdiff_t position, ptrdiff_t count)
{
    if (!valid(list) || count <= 0) return 0;
    size_t at = resolve_insertion(list, position);
    if (!at) return 0;
    size_t n = static_cast<size_t>(count);
    size_t old_count = count_of(list);
    size_t needed;
    if (__builtin_add_overflow(old_count, n, &needed)) return 0;
    size_t item_size = list->itemSize;
    size_t bytes;
    if (!multiply_fits(n, item_size, &bytes)) return 0;
    /* New items taken from the list's own block stay readable across the
     * growth: they are found again by their offset. */
    const auto *source = static_cast<const unsigned char *>(ptrToItems);
    size_t old_bytes = old_count * item_size;
    bool from_own_block = source && old_bytes && source >= list->data && source < list->data + old_bytes;
    size_t source_offset = from_own_block ? static_cast<size_t>(source - list->data) : 0;
    /* A list that would become exactly full grows as well. */
    if (needed >= list->capacity && !grow_for_insertion(list, n)) return 0;
    if (bytes) {
        size_t insert_offset = (at - 1) * item_size;
        unsigned char *slot = list->data + insert_offset;
        move_bytes(slot + bytes, slot, old_bytes - insert_offset);
        if (from_own_block)
            copy_from_own_block(list->data, slot, source_offset, insert_offset, bytes);
        else if (source)
            toolbox::copy_small(slot, source, bytes);
        else
            std::memset(slot, 0, bytes);
    }
    list->numItems += static_cast<int64_t>(n);
    return 1;
}

int ListInsertAfterItem(ListType list, const void *ptrToItem, const void *ptrToItemToFind, CompareFunction compareFn)
{
    if (!valid(list)) return 0;
    size_t found = ListFindItem(list, ptrToItemToFind, LIST_POS_FRONT, compareFn);
    ptrdiff_t at = found ? static_cast<ptrdiff_t>(found + 1) : LIST_POS_END;
    return ListInsertItem(list, ptrToItem, at);
}

int ListInsertBeforeItem(ListType list, const void *ptrToItem, const void *ptrToItemToFind, CompareFunction compareFn)
{
    if (!valid(list)) return 0;
    size_t found = ListFindItem(list, ptrToItemToFind, LIST_POS_FRONT, compareFn);
    ptrdiff_t at = found ? static_cast<ptrdiff_t>(found) : LIST_POS_FRONT;
    return ListInsertItem(list, ptrToItem, at);
}

int ListAppend(ListType destination, ListType source)
{
    if (!source) return 1;
    if (!valid(destination) || !valid(source) || destination->itemSize != source->itemSize) return 0;
    size_t added = count_of(source);
    if (added == 0) return 1;
    size_t old_count = count_of(destination);
    size_t item_size = destination->itemSize;
    size_t total;
    size_t total_bytes;
    if (__builtin_add_overflow(old_count, added, &total) || !multiply_fits(total, item_size, &total_bytes)) return 0;
    if (total_bytes) {
        auto *block = static_cast<unsigned char *>(engine_realloc(destination->data, total_bytes));
        if (!block) return 0;
        destination->data = block;
        /* Appending a list to itself reads from the block just moved. */
        const unsigned char *from = source == destination ? block : source->data;
        std::memcpy(block + old_count * item_size, from, added * item_size);
    }
    destination->capacity = total;
    destination->numItems = static_cast<int64_t>(total);
    return 1;
}

void ListClear(ListType list)
{
    if (valid(list)) list->numItems = 0;
}

size_t ListFindItemInRange(ListType list, const void *ptrToItem, ptrdiff_t startPosition, ptrdiff_t endPosition,
                           CompareFunction compareFn)
{
    if (!valid(list) || !ptrToItem || list->numItems == 0) return 0;
    size_t start = resolve_existing(list, startPosition);
    size_t end = resolve_existing(list, endPosition);
    if (!start || !end) return 0;
    return find_in_range(list, ptrToItem, start, end, compareFn);
}

size_t ListFindItem(ListType list, const void *ptrToItem, ptrdiff_t startPosition, CompareFunction compareFn)
{
    return ListFindItemInRange(list, ptrToItem, startPosition, LIST_POS_END, compareFn);
}

void ListRemoveDuplicates(ListType list, CompareFunction compareFn)
{
    if (!valid(list)) return;
    for (size_t j = 1; j < count_of(list); ++j) {
        size_t from = j + 1;
        /* Every match is removed; the search goes on at the match's position,
         * which now holds the item that followed it. */
        while (from <= count_of(list)) {
            size_t match = find_in_range(list, item_at(list, j), from, count_of(list), compareFn);
            if (!match) break;
            remove_resolved(list, nullptr, match, 1);
            from = match;
        }
    }
}

int ListApplyToEach(ListType list, int ascending, ListApplicationFunc callback, void *callbackData)
{
    if (!valid(list) || !callback) return 0;
    int result = 0;
    if (ascending) {
        /* The count is read again before every call: the callback may change it. */
        for (int index = 1; index <= static_cast<int>(list->numItems); ++index) {
            result = callback(index, item_at(list, static_cast<size_t>(index)), callbackData);
            if (result < 0) break;
        }
    } else {
        for (int index = static_cast<int>(list->numItems); index >= 1; --index) {
            if (index > static_cast<int>(list->numItems)) break;
            result = callback(index, item_at(list, static_cast<size_t>(index)), callbackData);
            if (result < 0) break;
        }
    }
    return result;
}

int ListApplyToEachEx(ListType list, int ascending, ListApplicationFuncEx callback, void *callbackData)
{
    if (!valid(list) || !callback) return 0;
    int result = 0;
    if (ascending) {
        for (size_t index = 1; index <= count_of(list); ++index) {
            result = callback(index, item_at(list, index), callbackData);
            if (result < 0) break;
        }
    } else {
        for (size_t index = count_of(list); index >= 1; --index) {
            if (index > count_of(list)) break;
            result = callback(index, item_at(list, index), callbackData);
            if (result < 0) break;
        }
    }
    return result;
}

} // extern "C"
