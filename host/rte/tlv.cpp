/* Thread-local variables: each variable owns a Windows TLS index; a thread's
 * record is made lazily on its first CmtGetThreadLocalVar, filled with the
 * variable's initial contents (zeros when none were given), and discarded with
 * the variable's callback when the thread ends or the variable is discarded.
 * The callback learns why (CMT_TLV_THREAD_ENDING: it runs on the ending thread
 * itself; CMT_TLV_DISCARDED: it runs on the thread that discards the variable,
 * which need not own the record) and which thread owned the record; the record
 * is freed once the callback returns.
 *
 * Also the abort entry "cnode_rte_get_abort_tlv": the handle of the per-thread
 * 456-byte abort record of node modules, zero when a thread first reaches it. */
#include "rte_internal.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

typedef void (*TlvDiscardCallback)(void *record, int reason, void *callback_data, unsigned int thread_id);

namespace {

constexpr int kInvalidHandle = -45;
constexpr int kOutOfMemory = -12;
/* Reasons given to a discard callback (the module's qex_rte.h has the same). */
constexpr int CMT_TLV_THREAD_ENDING = 1;
constexpr int CMT_TLV_DISCARDED = 2;

struct OwnedRecord {
    void *record;
    DWORD thread_id;
};

struct Variable {
    DWORD tls_index;
    size_t size;
    std::vector<unsigned char> initial;
    TlvDiscardCallback discard;
    void *callback_data;
    std::vector<OwnedRecord> records; /* every thread's record, for discarding; table lock */
};

/* Slot index + 1 is the handle. Slots are filled once, in order, under the
 * table lock, and read without it, so that a thread that already has its
 * record gets it for the price of a TLS read. */
constexpr size_t kMaxVariables = 1024;
std::atomic<Variable *> g_slots[kMaxVariables];
size_t g_slots_used = 0; /* guarded by the table lock */
volatile long g_tlvs_created = 0;

Variable *find(int handle)
{
    if (handle <= 0 || static_cast<size_t>(handle) > kMaxVariables) return nullptr;
    return g_slots[static_cast<size_t>(handle) - 1].load(std::memory_order_acquire);
}

void discard_record(Variable *v, OwnedRecord owned, int reason)
{
    if (v->discard) v->discard(owned.record, reason, v->callback_data, owned.thread_id);
    std::free(owned.record);
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
    InterlockedIncrement(&g_tlvs_created);
    return 0;
}

extern "C" long standin_rte_tlvs_created(void) { return g_tlvs_created; }

static volatile long g_tlv_get_calls = 0;

extern "C" long standin_rte_tlv_get_calls(void) { return g_tlv_get_calls; }

extern "C" int standin_CmtGetThreadLocalVar(int handle, void *record_out)
{
    InterlockedIncrement(&g_tlv_get_calls);
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
        v->records.push_back({record, GetCurrentThreadId()});
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
    std::vector<OwnedRecord> records;
    {
        rte::TableLock guard;
        records.swap(v->records);
    }
    for (OwnedRecord owned : records) discard_record(v, owned, CMT_TLV_DISCARDED);
    TlsFree(v->tls_index);
    delete v;
    return 0;
}

void rte::tlv_thread_detach()
{
    std::vector<std::pair<Variable *, OwnedRecord>> ending;
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
                if (rs[i].record == record) { rs.erase(rs.begin() + static_cast<std::ptrdiff_t>(i)); break; }
            ending.emplace_back(v, OwnedRecord{record, GetCurrentThreadId()});
        }
    }
    for (auto &[v, owned] : ending) discard_record(v, owned, CMT_TLV_THREAD_ENDING);
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
