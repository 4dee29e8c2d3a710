/* Conversions between the run-time engine's 16-byte absolute time and three
 * other time forms, as thin layers over the engine's unit conversions:
 *   - ANSI time: seconds since 1900-01-01, kept to 0..2^32-1 although it is
 *     written as a 64-bit value;
 *   - CNV time: 100-nanosecond ticks since 1601-01-01, kept to 0..2^63-1;
 *   - FILETIME: the same ticks as two unsigned 32-bit halves, low first.
 *
 * Rules kept:
 *   - The engine counts whole seconds since 1970 (unit 0x36CAD7C9) and
 *     100-ns ticks since 1601 (unit 0x36CAD7C2); ANSI time adds the
 *     2208988800 seconds from 1900 to 1970.
 *   - A null out pointer gives -5206 before the engine is asked; the To
 *     conversions to ANSI and CNV time clear the out first, so a refused
 *     conversion leaves 0 there; the FILETIME is written only on success.
 *   - Results out of the form's range give -14: an ANSI sum outside 32 bits
 *     (also when the sum itself would overflow), a negative tick count, a CNV
 *     time with its top bit set. A FILETIME's ticks go to the engine unchecked.
 *   - Negative engine statuses are translated: -1 -> -5027, -2 -> -5206,
 *     -3 -> -104, -4 -> -14, -5 -> -104, below -5 -> -5095. */
#include <windows.h>
#include "qex_rte.h"
#include "toolbox.h"

namespace {

constexpr unsigned int kSecondsUnit = 0x36CAD7C9;
constexpr unsigned int kTicksUnit = 0x36CAD7C2;
constexpr int kRoundToWholeUnits = 1;
constexpr int kUnixEpochYear = 1970;
constexpr int kFileTimeEpochYear = 1601;
constexpr int64_t kSeconds1900To1970 = 2208988800;

constexpr int kNullPointer = -5206;
constexpr int kOutOfRange = -14;

int translate(int status)
{
    if (status >= 0) return status;
    switch (status) {
    case -1: return -5027;
    case -2: return -5206;
    case -3: return -104;
    case -4: return -14;
    case -5: return -104;
    default: return -5095;
    }
}

/* The engine's tick count since 1601, or a translated failure. */
int ticks_since_1601(QEXAbsoluteTime time, int64_t *ticks)
{
    int status = QEXAbsoluteTimeToTimeUnit(time, kFileTimeEpochYear, kTicksUnit, kRoundToWholeUnits, ticks);
    if (status < 0) return translate(status);
    return *ticks < 0 ? kOutOfRange : status;
}

} // namespace

extern "C" {

int QEXAbsoluteTimeToQEXANSITime(QEXAbsoluteTime absoluteTime, int64_t *ansiTime)
{
    if (!ansiTime) return kNullPointer;
    *ansiTime = 0;
    int64_t seconds = 0;
    int status = QEXAbsoluteTimeToTimeUnit(absoluteTime, kUnixEpochYear, kSecondsUnit, kRoundToWholeUnits, &seconds);
    if (status < 0) return translate(status);
    int64_t sum = 0;
    if (__builtin_add_overflow(seconds, kSeconds1900To1970, &sum) || sum < 0 || sum > INT64_C(0xFFFFFFFF))
        return kOutOfRange;
    *ansiTime = sum;
    return 0;
}

int QEXAbsoluteTimeFromQEXANSITime(int64_t ansiTime, QEXAbsoluteTime *absoluteTime)
{
    if (!absoluteTime) return kNullPointer;
    int64_t seconds = 0;
    if (__builtin_sub_overflow(ansiTime, kSeconds1900To1970, &seconds)) return kOutOfRange;
    return translate(QEXAbsoluteTimeFromTimeUnit(seconds, kUnixEpochYear, kSecondsUnit, absoluteTime));
}

int QEXAbsoluteTimeToCNVTime(QEXAbsoluteTime absoluteTime, uint64_t *cnvTime)
{
    if (!cnvTime) return kNullPointer;
    *cnvTime = 0;
    int64_t ticks = 0;
    int status = ticks_since_1601(absoluteTime, &ticks);
    if (status < 0) return status;
    *cnvTime = static_cast<uint64_t>(ticks);
    return 0;
}

int QEXAbsoluteTimeFromCNVTime(uint64_t cnvTime, QEXAbsoluteTime *absoluteTime)
{
    if (!absoluteTime) return kNullPointer;
    if (cnvTime >> 63) return kOutOfRange;
    return translate(QEXAbsoluteTimeFromTimeUnit(static_cast<int64_t>(cnvTime), kFileTimeEpochYear, kTicksUnit,
                                                 absoluteTime));
}

int QEXAbsoluteTimeToFILETIME(QEXAbsoluteTime absoluteTime, FILETIME *fileTime)
{
    if (!fileTime) return kNullPointer;
    int64_t ticks = 0;
    int status = ticks_since_1601(absoluteTime, &ticks);
    if (status < 0) return status;
    fileTime->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
    fileTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return 0;
}

int QEXAbsoluteTimeFromFILETIME(FILETIME fileTime, QEXAbsoluteTime *absoluteTime)
{
    if (!absoluteTime) return kNullPointer;
    uint64_t ticks = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    return translate(QEXAbsoluteTimeFromTimeUnit(static_cast<int64_t>(ticks), kFileTimeEpochYear, kTicksUnit,
                                                 absoluteTime));
}

} // extern "C"
