/* Lookup3_hashlittle: the published lookup3 "hashlittle" hash (little-endian
 * variant) with its initial value fixed at 0xDEADF00D, so that its three state
 * words start at length + 0xBD5BAEFC. The hash table hashes every key with it.
 *
 * The three read paths of the published code are kept: 32-bit words when the
 * key is 4-byte aligned, 16-bit halves when it is 2-byte aligned, single bytes
 * otherwise. On a little-endian machine they give the same hash for the same
 * bytes. The tail of the aligned paths is read only as far as the key goes
 * (the published code may read the rest of the last word and mask it off; the
 * result is the same). */
#include "toolbox.h"
#include "hash_table_internal.h"
#include "unaligned.h"

namespace {

using toolbox::lookup3_final;
using toolbox::lookup3_rot;

inline void mix(uint32_t &a, uint32_t &b, uint32_t &c)
{
    a -= c; a ^= lookup3_rot(c, 4);  c += b;
    b -= a; b ^= lookup3_rot(a, 6);  a += c;
    c -= b; c ^= lookup3_rot(b, 8);  b += a;
    a -= c; a ^= lookup3_rot(c, 16); c += b;
    b -= a; b ^= lookup3_rot(a, 19); a += c;
    c -= b; c ^= lookup3_rot(b, 4);  b += a;
}

using toolbox::load16;
using toolbox::load32;

/* Adds the last 1 to 12 bytes of a key at k as little-endian words, the
 * missing high bytes zero. No byte outside them is read: the words are
 * gathered by fixed-size loads that end at the last byte, shifted so that
 * bytes read twice drop out (no call into the C runtime for a short copy). */
inline void add_tail(const unsigned char *k, size_t length, uint32_t &a, uint32_t &b, uint32_t &c)
{
    if (length >= 8) {
        a += load32(k);
        b += load32(k + 4);
        c += static_cast<uint32_t>(uint64_t{load32(k + length - 4)} >> (8 * (12 - length)));
    } else if (length >= 4) {
        a += load32(k);
        b += static_cast<uint32_t>(uint64_t{load32(k + length - 4)} >> (8 * (8 - length)));
    } else {
        a += k[0] | static_cast<uint32_t>(k[length / 2]) << (8 * (length / 2)) |
             static_cast<uint32_t>(k[length - 1]) << (8 * (length - 1));
    }
}

uint32_t hash_words(const unsigned char *k, size_t length, uint32_t a, uint32_t b, uint32_t c)
{
    while (length > 12) {
        a += load32(k);
        b += load32(k + 4);
        c += load32(k + 8);
        mix(a, b, c);
        length -= 12;
        k += 12;
    }
    if (length == 0) return c;
    add_tail(k, length, a, b, c);
    lookup3_final(a, b, c);
    return c;
}

uint32_t hash_halves(const unsigned char *k, size_t length, uint32_t a, uint32_t b, uint32_t c)
{
    while (length > 12) {
        a += load16(k) + (load16(k + 2) << 16);
        b += load16(k + 4) + (load16(k + 6) << 16);
        c += load16(k + 8) + (load16(k + 10) << 16);
        mix(a, b, c);
        length -= 12;
        k += 12;
    }
    switch (length) {
    case 12:
        c += load16(k + 8) + (load16(k + 10) << 16);
        b += load16(k + 4) + (load16(k + 6) << 16);
        a += load16(k) + (load16(k + 2) << 16);
        break;
    case 11: c += static_cast<uint32_t>(k[10]) << 16; [[fallthrough]];
    case 10:
        c += load16(k + 8);
        b += load16(k + 4) + (load16(k + 6) << 16);
        a += load16(k) + (load16(k + 2) << 16);
        break;
    case 9: c += k[8]; [[fallthrough]];
    case 8:
        b += load16(k + 4) + (load16(k + 6) << 16);
        a += load16(k) + (load16(k + 2) << 16);
        break;
    case 7: b += static_cast<uint32_t>(k[6]) << 16; [[fallthrough]];
    case 6:
        b += load16(k + 4);
        a += load16(k) + (load16(k + 2) << 16);
        break;
    case 5: b += k[4]; [[fallthrough]];
    case 4: a += load16(k) + (load16(k + 2) << 16); break;
    case 3: a += static_cast<uint32_t>(k[2]) << 16; [[fallthrough]];
    case 2: a += load16(k); break;
    case 1: a += k[0]; break;
    case 0: return c;
    }
    lookup3_final(a, b, c);
    return c;
}

uint32_t hash_bytes(const unsigned char *k, size_t length, uint32_t a, uint32_t b, uint32_t c)
{
    while (length > 12) {
        a += k[0] + (static_cast<uint32_t>(k[1]) << 8) + (static_cast<uint32_t>(k[2]) << 16) +
             (static_cast<uint32_t>(k[3]) << 24);
        b += k[4] + (static_cast<uint32_t>(k[5]) << 8) + (static_cast<uint32_t>(k[6]) << 16) +
             (static_cast<uint32_t>(k[7]) << 24);
        c += k[8] + (static_cast<uint32_t>(k[9]) << 8) + (static_cast<uint32_t>(k[10]) << 16) +
             (static_cast<uint32_t>(k[11]) << 24);
        mix(a, b, c);
        length -= 12;
        k += 12;
    }
    switch (length) {
    case 12: c += static_cast<uint32_t>(k[11]) << 24; [[fallthrough]];
    case 11: c += static_cast<uint32_t>(k[10]) << 16; [[fallthrough]];
    case 10: c += static_cast<uint32_t>(k[9]) << 8; [[fallthrough]];
    case 9: c += k[8]; [[fallthrough]];
    case 8: b += static_cast<uint32_t>(k[7]) << 24; [[fallthrough]];
    case 7: b += static_cast<uint32_t>(k[6]) << 16; [[fallthrough]];
    case 6: b += static_cast<uint32_t>(k[5]) << 8; [[fallthrough]];
    case 5: b += k[4]; [[fallthrough]];
    case 4: a += static_cast<uint32_t>(k[3]) << 24; [[fallthrough]];
    case 3: a += static_cast<uint32_t>(k[2]) << 16; [[fallthrough]];
    case 2: a += static_cast<uint32_t>(k[1]) << 8; [[fallthrough]];
    case 1: a += k[0]; break;
    case 0: return c;
    }
    lookup3_final(a, b, c);
    return c;
}

} // namespace

uint32_t toolbox::lookup3_hashlittle_seeded(const void *key, size_t length, uint32_t initval)
{
    /* The state starts from the length's low 32 bits, as published. */
    uint32_t start = 0xDEADBEEFu + static_cast<uint32_t>(length) + initval;
    const auto *k = static_cast<const unsigned char *>(key);
    uintptr_t address = reinterpret_cast<uintptr_t>(key);
    if ((address & 3) == 0) return hash_words(k, length, start, start, start);
    if ((address & 1) == 0) return hash_halves(k, length, start, start, start);
    return hash_bytes(k, length, start, start, start);
}

extern "C" uint32_t Lookup3_hashlittle(const void *key, size_t length)
{
    return toolbox::lookup3_hashlittle_seeded(key, length, toolbox::kLookup3TableInitval);
}
