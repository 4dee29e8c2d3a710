/* Debug switches. Each Set returns the previous setting. The break-on switches
 * only record what was asked; resource tracking also steers whether engine
 * allocations are registered as resources. */
#include "rte_internal.h"

namespace {
/* Node frames on several threads set these at every call, mostly to the value
 * they already hold: a Set that changes nothing writes nothing, so the
 * switches' cache lines stay shared between the threads' cores; resource
 * tracking, which every call turns on and off, has a line of its own. */
alignas(64) volatile LONG g_break_on_library_errors = 1;
volatile LONG g_break_on_protection_errors = 1;
volatile LONG g_break_on_first_chance = 0;
alignas(64) volatile LONG g_resource_tracking = 0;
[[maybe_unused]] alignas(64) char g_end_of_switches;

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
extern "C" int standin_SetEnableResourceTracking(int v) { return swap(&g_resource_tracking, v); }

extern "C" int standin_rte_resource_tracking(void) { return g_resource_tracking; }
bool rte::resource_tracking_on() { return g_resource_tracking != 0; }

void rte::reset_switches()
{
    g_break_on_library_errors = 1;
    g_break_on_protection_errors = 1;
    g_break_on_first_chance = 0;
    g_resource_tracking = 0;
}
