/* Thread-local variables: each variable owns a Windows TLS index; a thread's
 * record is made lazily on its first CmtGetThreadLocalVar, filled with the
 * variable's initial contents (zeros when none were given), and discarded with
 * the variable's callback when the thread ends or the variable is discarded.
 *
 * Also the abort entry "cnode_rte_get_abort_tlv": the handle of the per-thread
 * 456-byte abort record of node modules, zero when a thread first reaches it. */
#include "rte_internal.h"
#include "per_thread.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

typedef void (*TlvDiscardCallback)(void *record, void *callback_data);

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kOutOfMemory = -12;

struct Variable {
    DWORD tls_index;
    size_t size;
    std::vector<unsigned char> initial;
    TlvDiscardCallback discard;
    void *callback_data;
    std::vector<void *> records; /* every thread's record, for discarding; table lock */
};

/* Slot index + 1 is the handle. Slots are filled once, in order, under the
 * table lock, and read without it, so that a thread that already has its
 * record gets it for the price of a TLS read. */
constexpr size_t kMaxVariables = 1024;
std::atomic<Variable *> g_slots[kMaxVariables];
size_t g_slots_used = 0; /* guarded by the table lock */

Variable *find(int handle)
{
    if (handle <= 0 || static_cast<size_t>(handle) > kMaxVariables) return nullptr;
    return g_slots[static_cast<size_t>(handle) - 1].load(std::memory_order_acquire);
}

void discard_record(Variable *v, void *record)
{
    if (v->discard) v->discard(record, v->callback_data);
    std::free(record);
}

} // namespace

extern "C" int standin_CmtNewThreadLocalVar(unsigned int size, const void *initial,
                                            TlvDiscardCallback discard, void *callback_data,
                                            int *handle)
{
    if (!handle || size == 0) return kInvalidHandle;
    *handle = 0;
    DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return kOutOfMemory;
    auto *v = new Variable{index, size, {}, discard, callback_data, {}};
    if (initial) {
        auto *bytes = static_cast<const unsigned char *>(initial);
        v->initial.assign(bytes, bytes + size);
    }
    rte::TableLock guard;
    if (g_slots_used == kMaxVariables) {
        TlsFree(index);
        delete v;
        return kOutOfMemory;
    }
    g_slots[g_slots_used].store(v, std::memory_order_release);
    *handle = static_cast<int>(++g_slots_used);
    return 0;
}

/* Counted per thread (threads calling side by side do not share a counter);
 * the test control sums the threads' counts. */
standin::SpreadCount g_tlv_get_calls;

extern "C" long standin_rte_tlv_get_calls(void) { return g_tlv_get_calls.total(); }

extern "C" int standin_CmtGetThreadLocalVar(int handle, void *record_out)
{
    g_tlv_get_calls.add(1);
    if (!record_out) return kInvalidHandle;
    void **out = static_cast<void **>(record_out);
    *out = nullptr;
    Variable *v = find(handle);
    if (!v) return kInvalidHandle;
    void *record = TlsGetValue(v->tls_index);
    if (!record) {
        rte::TableLock guard;
        record = std::calloc(1, v->size);
        if (!record) return kOutOfMemory;
        if (!v->initial.empty()) std::memcpy(record, v->initial.data(), v->size);
        TlsSetValue(v->tls_index, record);
        v->records.push_back(record);
    }
    *out = record;
    return 0;
}

extern "C" int standin_CmtDiscardThreadLocalVar(int handle)
{
    if (!find(handle)) return kInvalidHandle;
    /* Whoever empties the slot owns the variable's end. */
    Variable *v = g_slots[static_cast<size_t>(handle) - 1].exchange(nullptr, std::memory_order_acq_rel);
    if (!v) return kInvalidHandle;
    std::vector<void *> records;
    {
        rte::TableLock guard;
        records.swap(v->records);
    }
    for (void *record : records) discard_record(v, record);
    TlsFree(v->tls_index);
    delete v;
    return 0;
}

void rte::tlv_thread_detach()
{
    std::vector<std::pair<Variable *, void *>> ending;
    {
        TableLock guard;
        for (size_t i = 0; i < g_slots_used; ++i) {
            Variable *v = g_slots[i].load(std::memory_order_acquire);
            if (!v) continue;
            void *record = TlsGetValue(v->tls_index);
            if (!record) continue;
            TlsSetValue(v->tls_index, nullptr);
            auto &rs = v->records;
            for (size_t i = 0; i < rs.size(); ++i)
                if (rs[i] == record) { rs.erase(rs.begin() + static_cast<std::ptrdiff_t>(i)); break; }
            ending.emplace_back(v, record);
        }
    }
    for (auto &[v, record] : ending) discard_record(v, record);
}

/* ---- the abort entry of node modules ---- */

namespace {
constexpr unsigned kAbortRecordSize = 456;
INIT_ONCE g_abort_once = INIT_ONCE_STATIC_INIT;
int g_abort_handle = 0;
volatile long g_abort_entry_calls = 0;

BOOL CALLBACK create_abort_tlv(PINIT_ONCE, PVOID, PVOID *)
{
    return standin_CmtNewThreadLocalVar(kAbortRecordSize, nullptr, nullptr, nullptr, &g_abort_handle) >= 0;
}
} // namespace

extern "C" int standin_cnode_rte_get_abort_tlv(void)
{
    InterlockedIncrement(&g_abort_entry_calls);
    InitOnceExecuteOnce(&g_abort_once, create_abort_tlv, nullptr, nullptr);
    return g_abort_handle;
}

extern "C" long standin_rte_abort_entry_calls(void) { return g_abort_entry_calls; }
