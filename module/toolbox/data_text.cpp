/* Data-text conversion: binary data as printable text and back.
 *
 * Every character stands for a 6-bit value v and is the character v + 48, so
 * only '0' (48) to 'o' (111) occur. Three bytes b0 b1 b2 become four
 * characters: first the three top-bit pairs (b0's at value bits 4..5, b1's at
 * 2..3, b2's at 0..1), then the low six bits of b0, b1 and b2. A final pair of
 * bytes gives three characters (top bits of b0 and b1 at 4..5 and 2..3, then
 * the two low parts), a final single byte two.
 *
 * Rules kept:
 *   - the text is 4 characters per 3 bytes plus 3 or 2 for a final 2 or 1
 *     byte, NUL-terminated; the data is 3 bytes per 4 characters plus 2 or 1
 *     for 3 or 2 final characters; a final single character cannot come from
 *     the encoding and is a programming error (toolbox assertion);
 *   - decoding takes each character's value modulo 64, so any text decodes
 *     without reading or writing out of bounds;
 *   - results come from the engine's malloc and belong to the caller; when
 *     memory runs out (or the text length would not fit in size_t) the
 *     result is 0 with a null out, nothing allocated;
 *   - an empty text decodes to 0 bytes without an allocation and without
 *     touching the data out.
 *
 * Each group is converted in one 32-bit register: the group's bytes or
 * characters move as lanes, and the top-bit pairs are gathered or scattered
 * with three shifts. Groups read and write 4 bytes where a fourth byte is
 * there to spare, 3 at the end. */
#include <cstdint>
#include <cstring>
#include "toolbox.h"
#include "text_length.h"
#include "toolbox_internal.h"
#include "unaligned.h"

namespace {

constexpr uint32_t kDigitZero = 0x30303030; /* '0' in every lane */

using toolbox::load32;
using toolbox::store32;

/* Bytes b0 b1 b2 in the low lanes of group -> the four characters, first
 * character in the low lane. Lanes above the used ones must be zero. */
inline uint32_t encode_group(uint32_t group)
{
    uint32_t y = group << 8;                        /* lanes 1..3: b0 b1 b2 */
    uint32_t low = y & 0x3F3F3F00u;                 /* their low six bits */
    uint32_t top = (y >> 6) & 0x03030300u;          /* their top pairs, at bits 0..1 of each lane */
    uint32_t first = ((top >> 4) | (top >> 14) | (top >> 24)) & 0x3Fu;
    return (low | first) + kDigitZero;
}

/* Four characters (first in the low lane) -> b0 b1 b2 in the low lanes. */
inline uint32_t decode_group(uint32_t text)
{
    uint32_t v = ((text & 0x3F3F3F3Fu) + 0x10101010u) & 0x3F3F3F3Fu; /* (c - 48) mod 64 per lane */
    return (v >> 8) | ((v & 0x30u) << 2) | ((v & 0x0Cu) << 12) | ((v & 0x03u) << 22);
}

/* The low lanes of a group's bytes, from n = 1..3 bytes. */
inline uint32_t partial_bytes(const unsigned char *p, size_t n)
{
    uint32_t v = p[0];
    if (n > 1) v |= uint32_t{p[1]} << 8;
    if (n > 2) v |= uint32_t{p[2]} << 16;
    return v;
}

} // namespace

int ConvertDataToText(const void *data, size_t numBytes, char **text)
{
    const auto *in = static_cast<const unsigned char *>(data);
    size_t groups = numBytes / 3;
    size_t rest = numBytes % 3;
    size_t length;
    size_t bytes;
    bool too_long = __builtin_mul_overflow(groups, size_t{4}, &length);
    too_long |= __builtin_add_overflow(length, rest ? rest + 1 : 0, &length);
    too_long |= __builtin_add_overflow(length, size_t{1}, &bytes);
    if (too_long) {
        *text = nullptr;
        return 0;
    }
    auto *out = static_cast<unsigned char *>(qex_rte_malloc(bytes));
    *text = reinterpret_cast<char *>(out);
    if (!out) return 0;

    /* Groups followed by at least one more data byte read four at once. */
    size_t spare = numBytes >= 4 ? (numBytes - 4) / 3 + 1 : 0;
    if (spare > groups) spare = groups;
    size_t g = 0;
    for (; g < spare; ++g) store32(out + 4 * g, encode_group(load32(in + 3 * g) & 0xFFFFFFu));
    for (; g < groups; ++g) store32(out + 4 * g, encode_group(partial_bytes(in + 3 * g, 3)));
    unsigned char *end = out + 4 * groups;
    if (rest != 0) {
        uint32_t last = encode_group(partial_bytes(in + 3 * groups, rest));
        std::memcpy(end, &last, rest + 1);
        end += rest + 1;
    }
    *end = '\0';
    return 1;
}

int ConvertTextToData(const char *text, size_t *numBytes, unsigned char **data)
{
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    size_t length = text_length::of(text);
    size_t groups = length / 4;
    size_t rest = length % 4;
    if (rest == 1) {
        DoAssert(0, "toolbox", 15250, "Programming error detected.");
        return 0;
    }
    size_t size = groups * 3 + (rest ? rest - 1 : 0);
    if (numBytes) *numBytes = size;
    if (length == 0) return 1;
    auto *out = static_cast<unsigned char *>(qex_rte_malloc(size));
    *data = out;
    if (!out) return 0;

    /* Groups followed by at least one more output byte write four at once;
     * the fourth is overwritten by what follows. */
    size_t spare = size >= 4 ? (size - 4) / 3 + 1 : 0;
    if (spare > groups) spare = groups;
    size_t g = 0;
    for (; g < spare; ++g) store32(out + 3 * g, decode_group(load32(in + 4 * g)));
    for (; g < groups; ++g) {
        uint32_t bytes = decode_group(load32(in + 4 * g));
        std::memcpy(out + 3 * g, &bytes, 3);
    }
    if (rest != 0) {
        /* A short group decodes as a full one whose missing characters are '0'. */
        unsigned char chars[4] = {'0', '0', '0', '0'};
        std::memcpy(chars, in + 4 * groups, rest);
        uint32_t bytes = decode_group(load32(chars));
        std::memcpy(out + 3 * groups, &bytes, rest - 1);
    }
    return 1;
}
