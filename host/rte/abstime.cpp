/* Absolute time: the engine's 16-byte time value and its conversion to and
 * from counts of time units since the start of a year.
 *
 * The 16 bytes are, in order: a signed 64-bit count of whole seconds since
 * 1601-01-01 00:00:00 UTC (the Windows file-time epoch), an unsigned 32-bit
 * count of nanoseconds within that second (0 to 999999999) and 32 reserved
 * bits that are always 0. Times before 1601 have negative seconds and still
 * non-negative nanoseconds. Any value whose nanoseconds exceed 999999999 or
 * whose reserved bits are set is not a time.
 *
 * Unit codes are 0x36CAD7C0 + k for k = 0..9, the unit being 10^(k-9)
 * seconds: 0x36CAD7C0 nanoseconds, 0x36CAD7C2 100-nanosecond ticks,
 * 0x36CAD7C6 milliseconds, 0x36CAD7C9 seconds. Epochs are the first instant
 * of a year 1 to 9999 of the proleptic Gregorian calendar, UTC.
 *
 * QEXAbsoluteTimeToTimeUnit rounds toward the past to whole units when its
 * rounding argument is 1 and to the nearest unit (halves away from zero) when
 * it is 0. Both conversions return 0 or:
 *   -1 the absolute time is not a time;
 *   -2 a null result pointer;
 *   -3 an unknown unit code;
 *   -4 the result does not fit (a count beyond 64 bits, seconds beyond 64 bits);
 *   -5 an epoch year outside 1..9999 or a rounding argument other than 0 or 1. */
#include "rte_internal.h"

namespace {

struct AbsoluteTime {
    int64_t seconds;
    uint32_t nanoseconds;
    uint32_t reserved;
};
static_assert(sizeof(AbsoluteTime) == 16);

constexpr int kNotATime = -1;
constexpr int kNullPointer = -2;
constexpr int kBadUnit = -3;
constexpr int kOutOfRange = -4;
constexpr int kBadArgument = -5;
constexpr uint32_t kUnitBase = 0x36CAD7C0;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

/* Days from 1601-01-01 to year-01-01 in the proleptic Gregorian calendar. */
int64_t days_to_year(int64_t year)
{
    int64_t y = year - 1601;
    /* 1601 starts a 400-year cycle, so leap days before year y are counted from it. */
    return y * 365 + y / 4 - y / 100 + y / 400;
}

bool unit_nanoseconds(uint32_t unit, int64_t *ns)
{
    if (unit < kUnitBase || unit > kUnitBase + 9) return false;
    int64_t n = 1;
    for (uint32_t k = kUnitBase; k < unit; ++k) n *= 10;
    *ns = n;
    return true;
}

__int128 floor_div(__int128 a, __int128 b)
{
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

volatile long g_forced_status = 0; /* the next conversion's status, 0 = none */

int take_forced_status() { return static_cast<int>(InterlockedExchange(&g_forced_status, 0)); }

} // namespace

extern "C" int standin_QEXAbsoluteTimeToTimeUnit(AbsoluteTime time, int epoch_year, unsigned int unit,
                                                 int whole_units, int64_t *value)
{
    if (int forced = take_forced_status()) return forced;
    if (!value) return kNullPointer;
    *value = 0;
    if (time.nanoseconds >= kNanosecondsPerSecond || time.reserved != 0) return kNotATime;
    int64_t unit_ns = 0;
    if (!unit_nanoseconds(unit, &unit_ns)) return kBadUnit;
    if (epoch_year < 1 || epoch_year > 9999 || (whole_units != 0 && whole_units != 1)) return kBadArgument;
    __int128 epoch_ns = static_cast<__int128>(days_to_year(epoch_year)) * 86400 * kNanosecondsPerSecond;
    __int128 ns = static_cast<__int128>(time.seconds) * kNanosecondsPerSecond + time.nanoseconds - epoch_ns;
    __int128 units;
    if (whole_units) {
        units = floor_div(ns, unit_ns);
    } else {
        __int128 half = unit_ns / 2;
        units = ns >= 0 ? (ns + half) / unit_ns : -((-ns + half) / unit_ns);
    }
    if (units > INT64_MAX || units < INT64_MIN) return kOutOfRange;
    *value = static_cast<int64_t>(units);
    return 0;
}

extern "C" int standin_QEXAbsoluteTimeFromTimeUnit(int64_t value, int epoch_year, unsigned int unit,
                                                   AbsoluteTime *time)
{
    if (int forced = take_forced_status()) return forced;
    if (!time) return kNullPointer;
    *time = {};
    int64_t unit_ns = 0;
    if (!unit_nanoseconds(unit, &unit_ns)) return kBadUnit;
    if (epoch_year < 1 || epoch_year > 9999) return kBadArgument;
    __int128 epoch_ns = static_cast<__int128>(days_to_year(epoch_year)) * 86400 * kNanosecondsPerSecond;
    __int128 ns = static_cast<__int128>(value) * unit_ns + epoch_ns;
    __int128 seconds = floor_div(ns, kNanosecondsPerSecond);
    if (seconds > INT64_MAX || seconds < INT64_MIN) return kOutOfRange;
    time->seconds = static_cast<int64_t>(seconds);
    time->nanoseconds = static_cast<uint32_t>(ns - seconds * kNanosecondsPerSecond);
    return 0;
}

extern "C" void standin_rte_force_time_status(int status) { InterlockedExchange(&g_forced_status, status); }
