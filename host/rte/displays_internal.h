/* Shared by the engine stand-in's units that serve the module's value
 * displays (queues, lock attributes, TCP conversations, ctime). */
#pragma once
#include "rte_internal.h"

extern "C" int standin_GetBreakOnLibraryErrors(void);
extern "C" int standin_GetBreakOnProtectionErrors(void);
extern "C" int standin_GetBreakOnFirstChanceExceptions(void);

namespace rte {

/* Records the three break-on switches as an engine call serving a display
 * found them; tests read the record with standin_rte_display_switches_seen. */
void note_display_switches();

} // namespace rte
