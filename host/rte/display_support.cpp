/* The C library's ctime as the engine exports it, over the C runtime's own
 * conversion of a 64-bit time, and the record of the break-on switches that
 * the engine calls serving the module's value displays found. */
#include "displays_internal.h"
#include <time.h>

namespace {
volatile LONG g_switches_seen = -1;
} // namespace

void rte::note_display_switches()
{
    int seen = (standin_GetBreakOnLibraryErrors() ? 1 : 0) | (standin_GetBreakOnProtectionErrors() ? 2 : 0) |
               (standin_GetBreakOnFirstChanceExceptions() ? 4 : 0);
    InterlockedExchange(&g_switches_seen, seen);
}

extern "C" char *standin_ctime(const int64_t *seconds)
{
    rte::note_display_switches();
    if (!seconds) return nullptr;
    time_t t = static_cast<time_t>(*seconds);
    return ctime(&t);
}

extern "C" int standin_rte_display_switches_seen(void) { return InterlockedExchange(&g_switches_seen, -1); }
