/* The existence registry: which object pointers currently exist, for code
 * that must tell a live object from a disposed one before touching it.
 *
 * One process-wide ListType of pointer-sized items, kept sorted by the bytes
 * of the pointers (the list functions' byte-wise order of a null compare
 * function), found by bisection. It is created by the first registration,
 * which also registers the clean-up with the module's exit functions; before
 * that the registry is null and every query answers "absent".
 *
 * Rules kept:
 *   - a pointer may be recorded more than once; each DeRegisterExistence
 *     removes one record;
 *   - the clean-up at exit disposes of the list only while the run-time
 *     engine is still attached (its allocator is gone otherwise) and forgets
 *     it in any case, so a later registration starts afresh;
 *   - there is no lock: callers that register from several threads serialise
 *     the calls themselves. */
#include "cnode_startup.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

ListType ExistenceRegistry = nullptr;

void forget_existence_registry(void)
{
    if (ExistenceRegistry && QEXRTEHasBeenDetached() == 0) ListDispose(ExistenceRegistry);
    ExistenceRegistry = nullptr;
}

} // namespace

int RegisterExistence(void *object)
{
    if (!ExistenceRegistry) {
        ExistenceRegistry = ListCreate(sizeof object);
        if (!ExistenceRegistry) return 0;
        __QEX_LinkName_atexit(forget_existence_registry);
    }
    return ListInsertInOrder(ExistenceRegistry, &object, nullptr);
}

void DeRegisterExistence(void *object)
{
    if (!object || !ExistenceRegistry) return;
    size_t position = ListBinSearch(ExistenceRegistry, &object, nullptr);
    if (position != 0) ListRemoveItem(ExistenceRegistry, nullptr, static_cast<ptrdiff_t>(position));
}

int ObjectExists(void *object)
{
    if (!object || !ExistenceRegistry) return 0;
    return ListBinSearch(ExistenceRegistry, &object, nullptr) != 0 ? 1 : 0;
}
