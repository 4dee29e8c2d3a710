/* The C library's time and clock as the engine offers them: each call passes
 * to the Windows C runtime the stand-in is linked with, so the clock, the
 * calendar, the time zone and the locale's formats are the runtime's own. The
 * broken-down time that localtime returns is the runtime's per-thread buffer,
 * overwritten by the thread's next call. */
#include "rte_internal.h"
#include <time.h>

extern "C" clock_t standin_clock(void) { return clock(); }
extern "C" time_t standin_time(time_t *result) { return time(result); }
extern "C" struct tm *standin_localtime(const time_t *timer) { return localtime(timer); }
extern "C" size_t standin_strftime(char *buffer, size_t size, const char *format, const struct tm *time)
{
    return strftime(buffer, size, format, time);
}
