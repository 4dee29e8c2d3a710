/* Byte-order tests and swaps for this little-endian host: the "Other" and
 * "Big" conversions reverse the bytes of a 16-, 32- or 64-bit value, the
 * "Little" ones return it unchanged. */
#include "toolbox.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the byte-order functions assume a little-endian host");

extern "C" {

int HostIsBigEndian(void) { return 0; }
int HostIsLittleEndian(void) { return 1; }

uint16_t ToOtherEndian16(uint16_t value) { return __builtin_bswap16(value); }
uint32_t ToOtherEndian32(uint32_t value) { return __builtin_bswap32(value); }
uint64_t ToOtherEndian64(uint64_t value) { return __builtin_bswap64(value); }

uint16_t ToLittleEndian16(uint16_t value) { return value; }
uint32_t ToLittleEndian32(uint32_t value) { return value; }
uint64_t ToLittleEndian64(uint64_t value) { return value; }

uint16_t ToBigEndian16(uint16_t value) { return __builtin_bswap16(value); }
uint32_t ToBigEndian32(uint32_t value) { return __builtin_bswap32(value); }
uint64_t ToBigEndian64(uint64_t value) { return __builtin_bswap64(value); }

} // extern "C"
