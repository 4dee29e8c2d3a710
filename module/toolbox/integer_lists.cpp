/* Integer lists: ListType lists of 32-bit ints built from variadic
 * arguments, so that a list literal takes one call.
 *
 * The ints are read in place from the caller's variable-argument area. Under
 * the 64-bit Windows calling convention a variadic function finds every
 * argument in consecutive 8-byte slots (the register arguments are spilled to
 * their home slots), and an int occupies the low four bytes of its slot; the
 * area is reached with va_start, whose va_list is a plain pointer to the next
 * slot there.
 *
 * Rules kept:
 *   - a count above 0 takes exactly that many ints, zeros included; a count
 *     of 0 takes ints up to the first 0, which is not added;
 *   - the list is created as ListCreate creates lists (item size 4, tracked
 *     as "ListType 0x..."), and ints are appended one by one at the end;
 *   - when memory runs out nothing is left behind: the partial list is
 *     disposed of, the out is null and the target of an append is unchanged. */
#include <cstdarg>
#include <cstring>
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr int kOutOfMemory = -12;
constexpr size_t kSlotBytes = 8;

int int_in_slot(const unsigned char *slots, size_t index)
{
    int value;
    std::memcpy(&value, slots + index * kSlotBytes, sizeof value);
    return value;
}

/* The list of the ints in the variadic area that ap points to, or null. */
ListType list_from(va_list ap, size_t numInts)
{
    ListType list = nullptr;
    GetIntListFromParmInfo(reinterpret_cast<void *>(ap), numInts, &list);
    return list;
}

} // namespace

static_assert(sizeof(va_list) == sizeof(void *), "va_list is a pointer into the argument slots");

int GetIntListFromParmInfo(void *parmInfo, size_t numInts, ListType *list)
{
    ListType ints = ListCreate(sizeof(int));
    *list = ints;
    if (!ints) return kOutOfMemory;
    const auto *slots = static_cast<const unsigned char *>(parmInfo);
    for (size_t i = 0; numInts == 0 || i < numInts; ++i) {
        int value = int_in_slot(slots, i);
        if (numInts == 0 && value == 0) break;
        if (!ListInsertItem(ints, &value, LIST_POS_END)) {
            ListDispose(ints);
            *list = nullptr;
            return kOutOfMemory;
        }
    }
    return 0;
}

ListType BuildIntegerList(size_t numInts, ...)
{
    va_list ap;
    va_start(ap, numInts);
    ListType list = list_from(ap, numInts);
    va_end(ap);
    return list;
}

int AppendToIntegerList(ListType list, size_t numInts, ...)
{
    va_list ap;
    va_start(ap, numInts);
    ListType ints = list_from(ap, numInts);
    va_end(ap);
    if (!ints) return 0;
    int appended = ListAppend(list, ints);
    ListDispose(ints);
    return appended ? 1 : 0;
}
