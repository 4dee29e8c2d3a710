/* What every value display shares: the debug switches held off while it
 * inspects a value, and the one message that carries its answer. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include "debug_support.h"
#include "qex_rte.h"

namespace smart_types {

/* Saves the engine's three break-on switches and turns them off (library
 * errors, protection errors, first-chance exceptions, in this order), so that
 * a failing library call or a bad pointer met while a value is inspected
 * never breaks into the debugger; puts the saved settings back in the same
 * order when the scope ends, whichever way it ends. */
class DebugSwitchesOff {
public:
    DebugSwitchesOff()
        : library_(GetBreakOnLibraryErrors()), protection_(GetBreakOnProtectionErrors()),
          first_chance_(GetBreakOnFirstChanceExceptions())
    {
        SetBreakOnLibraryErrors(0);
        SetBreakOnProtectionErrors(0);
        SetBreakOnFirstChanceExceptions(0);
    }
    ~DebugSwitchesOff()
    {
        SetBreakOnLibraryErrors(library_);
        SetBreakOnProtectionErrors(protection_);
        SetBreakOnFirstChanceExceptions(first_chance_);
    }
    DebugSwitchesOff(const DebugSwitchesOff &) = delete;
    DebugSwitchesOff &operator=(const DebugSwitchesOff &) = delete;

private:
    int library_, protection_, first_chance_;
};

/* Whether n bytes at p can be read: committed memory that no guard or
 * no-access protection covers. A display checks memory it was handed before
 * it reads it, because a fault would end it before it could restore the
 * switches; an address that fails the check gets no answer. */
inline bool readable(const void *p, size_t n)
{
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    auto at = reinterpret_cast<uintptr_t>(p);
    uintptr_t end = at + n;
    if (at == 0 || end < at) return false;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void *>(at), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || !(info.Protect & kReadable))
            return false;
        at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

template <typename T>
bool readable(const T *variable)
{
    return readable(variable, sizeof *variable);
}

/* Sends a display's answer: a text's or an element's address, or a count.
 * The pointer is the message's only field, so its width moves no separator. */
inline void send_answer(const void *answer)
{
    char message[48];
    wsprintfA(message, "@{smart_type|%p:12}@", answer);
    __qex_send_message(message);
}

inline void send_answer(size_t count) { send_answer(reinterpret_cast<const void *>(count)); }

} // namespace smart_types
