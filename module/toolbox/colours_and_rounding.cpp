/* Colour matching and rounding to a multiple.
 *
 * Colours are ints 0xRRGGBB; the top byte takes no part. The distance of two
 * colours, from the channel differences d1, d2, d3 (table entry subtracted
 * from the colour), is 3(d1^2 + d2^2 + d3^2) + (d1-d2)^2 + (d1-d3)^2 +
 * (d2-d3)^2, at most about 1.4 million, so 32-bit ints hold it.
 *
 * Rules kept:
 *   - the first entry at the smallest distance wins, and an exact match ends
 *     the search at once;
 *   - an empty table, a count above 2147483647 or a null table gives -1;
 *   - RoundToNextMultiple rounds away from zero for positive multiples and
 *     wraps in 32 bits where the result does not fit; a multiple of 0, which
 *     has no multiples to round to, returns the value unchanged instead of
 *     dividing by zero, and a multiple of -1 leaves every value (INT_MIN
 *     included) as it is. */
#include <climits>
#include "toolbox.h"

namespace {

int channel(int color, int shift) { return (color >> shift) & 0xFF; }

int distance(int color, int entry)
{
    int d1 = channel(color, 16) - channel(entry, 16);
    int d2 = channel(color, 8) - channel(entry, 8);
    int d3 = channel(color, 0) - channel(entry, 0);
    return 3 * (d1 * d1 + d2 * d2 + d3 * d3) + (d1 - d2) * (d1 - d2) + (d1 - d3) * (d1 - d3) + (d2 - d3) * (d2 - d3);
}

} // namespace

int FindClosestColorInTable(int color, const int *colorTable, size_t numColors)
{
    if (numColors == 0 || numColors > static_cast<size_t>(INT_MAX) || !colorTable) return -1;
    int best = 0;
    int best_distance = INT_MAX;
    for (size_t i = 0; i < numColors; ++i) {
        int d = distance(color, colorTable[i]);
        if (d < best_distance) {
            best = static_cast<int>(i);
            best_distance = d;
            if (d == 0) break;
        }
    }
    return best;
}

int RoundToNextMultiple(int value, int multiple)
{
    if (multiple == 0 || multiple == -1) return value;
    int r = value % multiple;
    if (r == 0) return value;
    unsigned v = static_cast<unsigned>(value) - static_cast<unsigned>(r);
    v = r > 0 ? v + static_cast<unsigned>(multiple) : v - static_cast<unsigned>(multiple);
    return static_cast<int>(v);
}
