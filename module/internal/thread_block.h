/* The calling thread's own record, kept by the system for every thread and
 * reached through the gs segment on 64-bit Windows: its last-error value and
 * its thread-local slots.
 *
 * Reading these fields directly gives what GetLastError and TlsGetValue give,
 * and writing the last-error field is what SetLastError does, without a call
 * through two system libraries for each. The hooks that run at every export's
 * entry and exit and around the node's text use them several times per call.
 * Unlike TlsGetValue, a direct read leaves the last-error value alone. For the
 * module's own C++ units. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

namespace thread_block {

/* Offsets in the 64-bit thread record, fixed by the system's binary
 * interface. */
inline constexpr unsigned long kLastError = 0x68;
inline constexpr unsigned long kTlsSlots = 0x1480;
inline constexpr unsigned long kTlsExpansionSlots = 0x1780;

/* 64 slots live in the thread record itself, 1024 more in a block that the
 * system allocates for the thread when a slot beyond 63 is first set. */
inline constexpr DWORD kInlineSlotCount = 64;
inline constexpr DWORD kExpansionSlotCount = 1024;

/* One word of the thread record. The accesses are compiler barriers, so that
 * they stay in order with the calls around them that read or change the same
 * fields. (The compiler's own segment intrinsics trip its bounds warnings.) */
inline uint32_t read_dword(unsigned long offset)
{
    uint32_t value;
    asm volatile("movl %%gs:(%1), %0" : "=r"(value) : "r"(static_cast<uintptr_t>(offset)) : "memory");
    return value;
}

inline uintptr_t read_qword(unsigned long offset)
{
    uintptr_t value;
    asm volatile("movq %%gs:(%1), %0" : "=r"(value) : "r"(static_cast<uintptr_t>(offset)) : "memory");
    return value;
}

inline void write_dword(unsigned long offset, uint32_t value)
{
    asm volatile("movl %0, %%gs:(%1)" : : "r"(value), "r"(static_cast<uintptr_t>(offset)) : "memory");
}

inline DWORD last_error() { return read_dword(kLastError); }

inline void set_last_error(DWORD value) { write_dword(kLastError, value); }

/* The value TlsGetValue gives for a slot the process allocated; null for a
 * slot beyond the system's range (TLS_OUT_OF_INDEXES among them), for which
 * TlsGetValue fails and also gives null. */
inline void *tls_value(DWORD slot)
{
    if (slot < kInlineSlotCount)
        return reinterpret_cast<void *>(read_qword(kTlsSlots + slot * static_cast<unsigned long>(sizeof(void *))));
    DWORD expansion_slot = slot - kInlineSlotCount;
    if (expansion_slot >= kExpansionSlotCount) return nullptr;
    auto *expansion = reinterpret_cast<void *const *>(read_qword(kTlsExpansionSlots));
    return expansion ? expansion[expansion_slot] : nullptr;
}

} // namespace thread_block
