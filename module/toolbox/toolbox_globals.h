/* The toolbox's per-thread record, for the toolbox units that keep state per
 * thread (the random generator).
 *
 * The record lives in a thread-local variable of the run-time engine, one
 * 224-byte record per thread, made by the engine from the initial contents on
 * the thread's first access. The variable and the two shared thread-safe
 * variables are created once per process on the first call of
 * thread_record(); after that a call costs one read of the initialised flag
 * and one read of a Windows thread-local slot in which each thread keeps the
 * address the engine gave it, without any lock. The slot is cleared when the
 * engine discards the thread's record (the record's clean-up runs on the
 * ending thread) and freed, which clears it in every thread, when the globals
 * are discarded at exit; an empty slot sends the call to the engine.
 *
 * The first call registers an exit function, so the exit-function library
 * must be open: the loader entry opens it in the DLL; a program that links
 * the module's static library (unit tests, benchmarks) calls _InitExitLib()
 * once before. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>
#include "qex_rte.h"

namespace toolbox {

struct ThreadRecord {
    int32_t seed;              /* 0x38589391 at first */
    int32_t reseed;            /* 1 at first: the generator starts from seed */
    double reciprocal[3];      /* reciprocals of the generator's three moduli */
    int32_t x, y, z;           /* generator values; x == 0 means not started */
    unsigned char unused_44[132];
    void *block;               /* heap block (engine allocator) held for the thread */
    int32_t block_count;       /* count that belongs to block */
    unsigned char unused_188[36];
};
static_assert(sizeof(ThreadRecord) == 224);
static_assert(offsetof(ThreadRecord, reciprocal) == 8 && offsetof(ThreadRecord, x) == 32 &&
              offsetof(ThreadRecord, z) == 40 && offsetof(ThreadRecord, block) == 176 &&
              offsetof(ThreadRecord, block_count) == 184);

inline constexpr int32_t kInitialSeed = 0x38589391;

/* Set (1) once the globals exist; read without a lock. */
extern volatile unsigned char g_globals_initialised;
/* The engine's thread-local variable of the records; valid once initialised. */
extern CmtTLVHandle g_thread_record_variable;
/* The Windows TLS index of each thread's cached record address
 * (TLS_OUT_OF_INDEXES when none could be had: every call asks the engine). */
extern DWORD g_record_cache;

/* Creates the globals if no thread has yet (latecomers wait in 10-ms sleeps). */
void initialise_globals();

/* The calling thread's record from the engine, cached for the thread. */
void *thread_record_from_engine();

/* The calling thread's record (a ThreadRecord), or null when the engine gives none. */
inline void *thread_record()
{
    if (!__atomic_load_n(&g_globals_initialised, __ATOMIC_ACQUIRE)) initialise_globals();
    if (void *record = TlsGetValue(g_record_cache)) return record;
    return thread_record_from_engine();
}

} // namespace toolbox
