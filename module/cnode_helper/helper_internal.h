/* Internals shared by the helper runtime's units: the instance record, the
 * registry lock guard and record access, and the counted abort requests.
 *
 * The registry lock guards the instance registry, every instance record and
 * every change of an abort record's flag. It is a run-time engine lock, which
 * is recursive on its owning thread, and it is never held while node code
 * runs. */
#pragma once
#include <stdint.h>
#include "cnode_helper.h"
#include "toolbox.h"

namespace cnode_helper {

/* The value the registry keeps per instance (key: the instance pointer's 8
 * bytes). A record the registry does not hold reads as all zeros. */
struct InstanceRecord {
    ListType list;                        /* string-array records; null before the first call */
    __cnode_abort_tlv_data_t *abort_data; /* abort record of the thread that last entered */
    int32_t in_user_code;                 /* 1 between the begin and end user-code steps */
    uint32_t process_id;                  /* the debugged process, 0 without a debugger library */
    uint32_t thread_id;                   /* the thread that last entered */
};

/* Holds the registry lock for its lifetime; held() is false when the lock
 * could not be taken (the caller then does nothing). */
class RegistryLock {
public:
    RegistryLock();
    ~RegistryLock();
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

/* Registry access; call only while holding the registry lock. read_record
 * yields zeros and true for an instance the registry does not hold; false
 * means the registry reported an error. Invariant: every record the registry
 * holds has a list (an entry is stored only once its list exists), so a
 * record read with a null list is one the registry does not hold. */
bool read_record(void *instance, InstanceRecord &record);
bool store_record(void *instance, const InstanceRecord &record);
/* Whether the registry exists (it does between the helper's start-up and
 * unload). */
bool registry_exists();
/* The record the registry keeps for the instance, to be read and changed in
 * place, or null when the registry does not hold the instance. The pointer
 * stays good while the lock is held and the instance is not removed; a
 * change through it needs no store. */
InstanceRecord *record_in_place(void *instance);
/* True when the registry holds the instance (false also on an error). */
bool holds_instance(void *instance);

/* Abort requests. Invariant, kept under the registry lock: the pending-abort
 * count __qex_cnode_abort_flag equals the number of abort records whose flag
 * this module set and has not cleared. Raising a flag that is already set
 * does nothing; every flag cleared gives back its one count. */
bool raise_abort_request(__cnode_abort_tlv_data_t *record); /* false: it was already pending */
void clear_abort_request(__cnode_abort_tlv_data_t *record);

/* The calling thread's abort record, or null when the handle is not fetched
 * yet or the engine has none for this thread. */
__cnode_abort_tlv_data_t *this_thread_abort_record();

/* The debugger library's handle when it is loaded, else null, and one of its
 * exports. Between watch and stop (the helper's start-up and unload) the
 * library's presence is followed through the loader's notifications instead
 * of being asked of the loader at each call, which under some loaders means a
 * search of the file system whenever the library is absent. */
HMODULE debugger_library();
void *debugger_library_export(const char *name);
void watch_debugger_library();
void stop_watching_debugger_library();

/* Binds the host memory manager once per process (runs the one-time block);
 * on failure the cluster, when given, carries status 1 and code 12. */
int32_t bind_memory_manager_once(__cnode_gwerror *error);

} // namespace cnode_helper
