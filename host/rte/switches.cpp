/* Debug switches. Each Set returns the previous setting. The break-on switches
 * are process-wide and only record what was asked. Resource tracking steers
 * whether engine allocations are registered as resources, and it is a setting
 * of each thread: callers suspend it around an allocation and restore what
 * the Set returned, and node frames turn it on around the node's text and off
 * after it, so a process-wide setting would let one thread's restore or end
 * step switch tracking off under another thread's node (its allocations would
 * go unreported), and two threads' suspend-and-restore pairs could leave it
 * in the wrong state for both. A new thread starts with tracking off. */
#include "rte_internal.h"
#include "per_thread.h"

namespace {
/* Node frames on several threads set these at every call, mostly to the value
 * they already hold: a Set that changes nothing writes nothing, so the
 * switches' cache line stays shared between the threads' cores. */
alignas(64) volatile LONG g_break_on_library_errors = 1;
volatile LONG g_break_on_protection_errors = 1;
volatile LONG g_break_on_first_chance = 0;
[[maybe_unused]] alignas(64) char g_end_of_switches;

/* Each thread's resource-tracking setting: a slot never written reads 0, off. */
standin::ThreadSlot g_tracking;

int tracking() { return static_cast<int>(reinterpret_cast<uintptr_t>(g_tracking.get())); }

int set_tracking(int value)
{
    int previous = tracking();
    if (previous != value) g_tracking.set(reinterpret_cast<void *>(static_cast<uintptr_t>(static_cast<unsigned>(value))));
    return previous;
}

/* A Set that finds its value in place is the same as an exchange that wrote
 * that value at the moment of the read. */
int swap(volatile LONG *slot, int value)
{
    LONG current = *slot;
    return current == value ? current : InterlockedExchange(slot, value);
}
} // namespace

extern "C" int standin_GetBreakOnLibraryErrors(void) { return g_break_on_library_errors; }
extern "C" int standin_SetBreakOnLibraryErrors(int v) { return swap(&g_break_on_library_errors, v); }
extern "C" void standin_EnableBreakOnLibraryErrors(void) { swap(&g_break_on_library_errors, 1); }
extern "C" void standin_DisableBreakOnLibraryErrors(void) { swap(&g_break_on_library_errors, 0); }
extern "C" int standin_GetBreakOnProtectionErrors(void) { return g_break_on_protection_errors; }
extern "C" int standin_SetBreakOnProtectionErrors(int v) { return swap(&g_break_on_protection_errors, v); }
extern "C" int standin_GetBreakOnFirstChanceExceptions(void) { return g_break_on_first_chance; }
extern "C" int standin_SetBreakOnFirstChanceExceptions(int v) { return swap(&g_break_on_first_chance, v); }
extern "C" int standin_SetEnableResourceTracking(int v) { return set_tracking(v); }

extern "C" int standin_rte_resource_tracking(void) { return tracking(); }
bool rte::resource_tracking_on() { return tracking() != 0; }

void rte::reset_switches()
{
    g_break_on_library_errors = 1;
    g_break_on_protection_errors = 1;
    g_break_on_first_chance = 0;
    set_tracking(0); /* the calling thread's */
}
