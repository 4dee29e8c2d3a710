/* The toolbox's text-to-integer and binary-digit conversions.
 *
 * The decimal conversions share one strict parser, ParseIntegerString: the
 * whole text must be one optionally signed run of decimal digits, with
 * whitespace (the engine's isspace) allowed only before the sign or the first
 * digit and after the last digit. Nothing is written unless the text is
 * accepted, and a value that does not fit the result's type is rejected,
 * never wrapped.
 *
 * The parser keeps a 32-bit value (wrapping, with a flag set from the digit
 * that would overflow it) and a 64-bit value (rejecting the text at the digit
 * that would overflow it), so that the 32-bit conversions need no 64-bit
 * range check and the 64-bit ones reject any longer digit string at once.
 *
 * The binary conversions read "0" and "1" up to the first other byte and
 * report a value that needs more bits than the result has through an
 * overflow indicator. Choices where the contract is open: a null text is
 * rejected by the decimal conversions; a null buffer is left alone by the
 * ToBinStr functions (they return it). */
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr uint32_t kLast32BeforeOverflow = 429496729u;             /* UINT32_MAX / 10 */
constexpr uint64_t kLast64BeforeOverflow = 1844674407370955161ull; /* UINT64_MAX / 10 */
constexpr uint64_t kInt32MagnitudeLimit = 2147483648ull;
constexpr uint64_t kInt64MagnitudeLimit = 9223372036854775808ull;

enum class Scan { Leading, AfterSign, Digits, Trailing };

inline bool is_digit(unsigned char c) { return static_cast<unsigned>(c - '0') < 10u; }

} // namespace

extern "C" int ParseIntegerString(const char *text, unsigned int *value32, unsigned long long *value64, int *negative)
{
    if ((!value32 && !value64) || !negative || !text || !*text) return 0;
    *negative = 0;
    uint32_t v32 = 0;
    uint64_t v64 = 0;
    bool overflow32 = false, digits = false;
    Scan state = Scan::Leading;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        unsigned char c = *p;
        if (is_digit(c) && state != Scan::Trailing) {
            unsigned d = c - '0';
            if (v32 > kLast32BeforeOverflow || (v32 == kLast32BeforeOverflow && d > 5)) overflow32 = true;
            if (v64 > kLast64BeforeOverflow || (v64 == kLast64BeforeOverflow && d > 5)) return 0;
            v32 = v32 * 10 + d;
            v64 = v64 * 10 + d;
            digits = true;
            state = Scan::Digits;
        } else if ((c == '+' || c == '-') && state == Scan::Leading) {
            if (c == '-') *negative = 1;
            state = Scan::AfterSign;
        } else if (qex_rte_isspace(c)) {
            if (state != Scan::Leading) state = Scan::Trailing;
        } else {
            return 0;
        }
    }
    if (!digits) return 0;
    if (value32) *value32 = v32;
    if (value64) *value64 = v64;
    return value64 || !overflow32;
}

extern "C" int StrToInt(const char *text, int *value)
{
    unsigned long long magnitude = 0;
    int negative = 0;
    if (!ParseIntegerString(text, nullptr, &magnitude, &negative)) return 0;
    if (magnitude > (negative ? kInt32MagnitudeLimit : kInt32MagnitudeLimit - 1)) return 0;
    *value = static_cast<int>(negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude));
    return 1;
}

extern "C" int StrToUInt(const char *text, unsigned int *value)
{
    unsigned int v = 0;
    int negative = 0;
    if (!ParseIntegerString(text, &v, nullptr, &negative) || negative) return 0;
    *value = v;
    return 1;
}

extern "C" int StrToLongLong(const char *text, long long *value)
{
    unsigned long long magnitude = 0;
    int negative = 0;
    if (!ParseIntegerString(text, nullptr, &magnitude, &negative)) return 0;
    if (magnitude > (negative ? kInt64MagnitudeLimit : kInt64MagnitudeLimit - 1)) return 0;
    *value = static_cast<long long>(negative ? 0ull - magnitude : magnitude);
    return 1;
}

extern "C" int StrToULongLong(const char *text, unsigned long long *value)
{
    unsigned long long v = 0;
    int negative = 0;
    if (!ParseIntegerString(text, nullptr, &v, &negative) || negative) return 0;
    *value = v;
    return 1;
}

namespace {

template <typename T>
T binary_text_value(const char *text, int *overflow)
{
    constexpr T kTopBit = T{1} << (sizeof(T) * 8 - 1);
    if (overflow) *overflow = 0;
    if (!text) return 0;
    T value = 0;
    for (; *text == '0' || *text == '1'; ++text) {
        if (value & kTopBit) {
            if (overflow) *overflow = 1;
            return 0;
        }
        value = static_cast<T>(value * 2 + static_cast<T>(*text - '0'));
    }
    return value;
}

template <typename T>
char *binary_text(T value, char *buffer)
{
    if (!buffer) return buffer;
    int digits = 1;
    while (digits < static_cast<int>(sizeof(T) * 8) && (value >> digits) != 0) ++digits;
    for (int i = 0; i < digits; ++i) buffer[i] = static_cast<char>('0' + ((value >> (digits - 1 - i)) & 1));
    buffer[digits] = '\0';
    return buffer;
}

} // namespace

extern "C" unsigned int BinStrToUInt(const char *text, int *overflow)
{
    return binary_text_value<uint32_t>(text, overflow);
}

extern "C" unsigned long long BinStrToULongLong(const char *text, int *overflow)
{
    return binary_text_value<uint64_t>(text, overflow);
}

extern "C" char *UIntToBinStr(unsigned int value, char *buffer) { return binary_text<uint32_t>(value, buffer); }

extern "C" char *ULongLongToBinStr(unsigned long long value, char *buffer)
{
    return binary_text<uint64_t>(value, buffer);
}
