/* Relocatable handles: a resizable block reached through one indirection.
 *
 * A handle is the address of a record { data, size }; the caller reaches the
 * block as *handle, so the block may move when it is resized while the handle
 * stays. The record and the block come from the engine's allocator with
 * resource tracking suspended; the record is registered under "Toolbox" as
 * "Handle 0x<record> of <size> byte(s)" and released at disposal.
 *
 * Rules kept:
 *   - the data pointer is null exactly while the size is 0;
 *   - every byte of the block is zero until the caller writes it (new blocks
 *     and the bytes added by growth);
 *   - a failed allocation leaves no block behind (NewHandle) or leaves the
 *     handle's block and size as they were (SetHandleSize);
 *   - a null handle passed to GetHandleSize or SetHandleSize is a programming
 *     error, reported by the toolbox assertion, which ends the program. */
#include <cstring>
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

struct HandleRecord {
    void *data;
    size_t size;
};

HandleRecord *record_of(Handle handle) { return reinterpret_cast<HandleRecord *>(handle); }

} // namespace

Handle NewHandle(size_t size)
{
    void *block = nullptr;
    HandleRecord *record;
    {
        toolbox::ResourceTrackingSuspended untracked;
        if (size != 0) block = qex_rte_calloc(1, size);
        record = static_cast<HandleRecord *>(qex_rte_calloc(1, sizeof(HandleRecord)));
    }
    if (!record || (size != 0 && !block)) {
        toolbox::engine_free(block);
        toolbox::engine_free(record);
        return nullptr;
    }
    record->data = block;
    record->size = size;
    /* The engine formats "%u" from the argument's 32 low bits. */
    __QEX_Resource_Acquire(record, toolbox::kResourceCategory, "Handle 0x%0*p of %u byte%s", toolbox::kPointerDigits,
                           record, static_cast<unsigned>(size), size == 1 ? "" : "s");
    return reinterpret_cast<Handle>(record);
}

void DisposeHandle(Handle handle)
{
    if (!handle) return;
    HandleRecord *record = record_of(handle);
    __QEX_Resource_Release(record);
    toolbox::engine_free(record->data);
    toolbox::engine_free(record);
}

size_t GetHandleSize(Handle handle)
{
    if (!handle) {
        DoAssert(0, "toolbox", 3674, "Parameter 1 to GetHandleSize was NULL.");
        return 0;
    }
    return record_of(handle)->size;
}

int SetHandleSize(Handle handle, size_t newSize)
{
    if (!handle) {
        DoAssert(0, "toolbox", 3691, "Parameter 1 to SetHandleSize was NULL.");
        return 0;
    }
    HandleRecord *record = record_of(handle);
    size_t oldSize = record->size;
    if (newSize == oldSize) return 1;
    if (newSize == 0) {
        /* Freed here rather than by realloc to 0, whose result may be a block. */
        toolbox::engine_free(record->data);
        record->data = nullptr;
        record->size = 0;
        return 1;
    }
    auto *block = static_cast<unsigned char *>(toolbox::engine_realloc(record->data, newSize));
    if (!block) return 0;
    if (newSize > oldSize) std::memset(block + oldSize, 0, newSize - oldSize);
    record->data = block;
    record->size = newSize;
    return 1;
}
