/* The toolbox's text functions: the multibyte-aware Cmb family, growable heap
 * texts, whitespace scanning and trimming, bounded copy and insertion,
 * case-insensitive comparison, merging of comma-separated lists, and the
 * toolbox assertion DoAssert. (The integer and binary-digit conversions live
 * in number_text.cpp.)
 *
 * Rules every function keeps:
 *   - Texts are NUL-terminated bytes in the process code page. While
 *     MultiByteCodePage is non-zero a character is a single byte or a lead
 *     byte with its trail byte; scans step by whole characters with the
 *     engine's QEX__mbsinc / QEX__mbsdec, otherwise byte by byte. A lead byte
 *     directly before the terminator is a character of its own: no step ever
 *     passes a NUL.
 *   - Nothing cuts a text between a lead byte and its trail byte; whether a
 *     byte is a lead byte is decided by QEX__mbsbtype in the context of the
 *     bytes before it (a byte in the lead range may be a trail byte), and a
 *     trail byte is never taken for a separator, a letter or whitespace.
 *   - Whitespace is what the engine's isspace accepts, byte by byte; single
 *     bytes are upper-cased with the engine's toupper, double-byte characters
 *     never.
 *   - Heap texts come from the engine's malloc/realloc under the caller's
 *     resource-tracking setting (the caller owns them and frees them with
 *     free). A growing function that runs out of memory returns 0 and leaves
 *     the caller's pointer and text exactly as they were; a text added from
 *     inside the caller's own block is read from where it is after the block
 *     moved.
 *   - Argument errors that only a wrong call can make are reported by the
 *     toolbox assertion with the unit name "toolbox", which ends the program.
 *
 * Choices where the contract is open:
 *   - StrDupWithoutSurrWhiteSpace, SkipWhiteSpace, SkipNonWhiteSpace and
 *     RemoveSurroundingWhiteSpace accept a null text (null result, nothing
 *     done); StringInsert inserts nothing into a buffer no larger than its
 *     text; StringCopyMax does nothing for a negative size.
 *   - AddStringQuotes makes both quotes in one allocation, so that a failure
 *     leaves the text unquoted instead of with a closing quote only.
 *   - The assertion ends the process with exit code 1 through the start-up
 *     code's ExitProcess; the module's exit functions run at its detachment,
 *     and the engine's C runtime flushes standard output as the process ends. */
#include <cstring>
#include "cnode_startup.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr const char *kUnitName = "toolbox";
constexpr const char *kAssertFormat =
    "Assert!\n\n%s\n\nThe error was detected on line %d of file '%s'.\n\nProgram aborting.";
constexpr const char *kDefaultAssertMessage = "Programming error detected.";

[[noreturn]] void assertion_failed(const char *source, int line, const char *message)
{
    qex_rte_printf(kAssertFormat, message ? message : kDefaultAssertMessage, line, source);
    __QEX_SDK_ExitProcess(1);
}

[[noreturn]] void toolbox_assertion(int line, const char *message) { assertion_failed(kUnitName, line, message); }

inline bool multibyte() { return MultiByteCodePage != 0; }
inline const unsigned char *bytes(const char *p) { return reinterpret_cast<const unsigned char *>(p); }
inline bool is_space(char c) { return qex_rte_isspace(static_cast<unsigned char>(c)) != 0; }

/* The start of the character after the one at p (which is not the terminator). */
inline const char *next_char(const char *p)
{
    if (!multibyte()) return p + 1;
    const char *q = reinterpret_cast<const char *>(QEX__mbsinc(bytes(p)));
    return (q > p + 1 && p[1] == '\0') ? p + 1 : q;
}

/* The start of the character before p, scanning from start. */
inline const char *previous_char(const char *start, const char *p)
{
    if (!multibyte()) return p - 1;
    return reinterpret_cast<const char *>(QEX__mbsdec(bytes(start), bytes(p)));
}

/* In multibyte mode, whether text[index] is a lead byte among the bytes
 * text[0..index] (a byte in the lead range may be a trail byte there). */
inline bool lead_byte_at(const char *text, size_t index)
{
    return multibyte() && QEX__ismbblead(static_cast<unsigned char>(text[index])) &&
           QEX__mbsbtype(bytes(text), index) == 1;
}

/* The character at p as a code: lead * 256 + trail for a double-byte
 * character, else the byte upper-cased; *length receives its byte count. */
inline int char_code(const char *p, int *length)
{
    auto c = static_cast<unsigned char>(p[0]);
    if (multibyte() && p[1] != '\0' && QEX__ismbblead(c)) {
        *length = 2;
        return c * 256 + static_cast<unsigned char>(p[1]);
    }
    *length = 1;
    return qex_rte_toupper(c);
}

/* The byte count of add to take: all of it for a negative length, else the
 * bytes before the first NUL within the first length bytes. */
inline size_t added_length(const char *add, int length)
{
    return length < 0 ? std::strlen(add) : strnlen(add, static_cast<size_t>(length));
}

/* Where add lies inside block (of used bytes used, terminator included):
 * its offset, else -1. */
inline ptrdiff_t offset_inside(const char *block, size_t used, const char *add)
{
    if (!block || add < block || add >= block + used) return -1;
    return add - block;
}

} // namespace

/* ------------------------------ the assertion ----------------------------- */

extern "C" void DoAssert(int condition, const char *source, int line, const char *message)
{
    if (condition) return;
    assertion_failed(source, line, message);
}

/* ------------------------- multibyte-aware characters ---------------------- */

extern "C" unsigned int CmbFirstByteOfChar(unsigned int character)
{
    unsigned int lead = (character >> 8) & 0xFF;
    return lead ? lead : character & 0xFF;
}

extern "C" size_t CmbNumChars(const char *text) { return QEX__mbslen(bytes(text)); }

extern "C" int CmbStrEq(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

extern "C" int CmbStrEqI(const char *a, const char *b) { return QEX__mbsicmp(bytes(a), bytes(b)) == 0; }

extern "C" int CmbStrEqN(const char *a, const char *b, int count)
{
    return std::strncmp(a, b, static_cast<size_t>(static_cast<ptrdiff_t>(count))) == 0;
}

extern "C" int CmbStrEqNI(const char *a, const char *b, int count)
{
    return QEX__mbsnbicmp(bytes(a), bytes(b), static_cast<size_t>(static_cast<ptrdiff_t>(count))) == 0;
}

namespace {

/* Shifts the single-byte letters from..to by delta; trail bytes are skipped
 * with their characters. */
char *shift_letters(char *text, char from, char to, int delta)
{
    for (const char *p = text; *p; p = next_char(p)) {
        char *c = text + (p - text);
        if (*c >= from && *c <= to) *c = static_cast<char>(*c + delta);
    }
    return text;
}

} // namespace

extern "C" char *CmbStrUpr(char *text) { return shift_letters(text, 'a', 'z', -32); }
extern "C" char *CmbStrLwr(char *text) { return shift_letters(text, 'A', 'Z', 32); }

extern "C" int CmbStrByteIs(const char *text, int index, int byte)
{
    if (static_cast<unsigned char>(text[index]) != static_cast<unsigned char>(byte)) return 0;
    return !multibyte() || QEX__mbsbtype(bytes(text), static_cast<size_t>(index)) != 2;
}

extern "C" char *CmbStrLastChar(const char *text)
{
    if (!text) toolbox_assertion(805, nullptr);
    const char *end = text + std::strlen(text);
    return const_cast<char *>(end == text ? text : previous_char(text, end));
}

/* -------------------------------- heap texts ------------------------------- */

extern "C" char *StringEnd(const char *text) { return const_cast<char *>(text + std::strlen(text)); }

extern "C" char *StrDup(const char *text)
{
    if (!text) return nullptr;
    size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(qex_rte_malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

namespace {

/* The heap text old (m bytes before its terminator; null for none) with room
 * for n bytes more and the terminator, reallocated in place of old or newly
 * allocated; null when memory runs out, old then unchanged. */
char *grow_heap_text(char *old, size_t m, size_t n)
{
    return static_cast<char *>(old ? qex_rte_realloc(old, m + n + 1) : qex_rte_malloc(n + 1));
}

} // namespace

extern "C" int AppendString(char **text, const char *add, int length)
{
    if (!text) toolbox_assertion(2676, "NULL passed to first parameter of AppendString()");
    if (!add || length == 0) return 1;
    size_t n = added_length(add, length);
    if (n == 0) return 1;
    char *old = *text;
    size_t m = old ? std::strlen(old) : 0;
    ptrdiff_t inside = offset_inside(old, m + 1, add);
    char *grown = grow_heap_text(old, m, n);
    if (!grown) return 0;
    if (inside >= 0) add = grown + inside;
    std::memmove(grown + m, add, n);
    if (lead_byte_at(grown + m, n - 1)) --n;
    grown[m + n] = '\0';
    *text = grown;
    return 1;
}

extern "C" int AddStringPrefix(char **text, const char *add, int length)
{
    if (!add || length == 0) return 1;
    size_t n = added_length(add, length);
    if (n == 0) return 1;
    char *old = *text;
    size_t m = old ? std::strlen(old) : 0;
    ptrdiff_t inside = offset_inside(old, m + 1, add);
    char *grown = grow_heap_text(old, m, n);
    if (!grown) return 0;
    std::memmove(grown + n, grown, old ? m + 1 : 1);
    if (!old) grown[n] = '\0';
    std::memmove(grown, inside >= 0 ? grown + n + inside : add, n);
    *text = grown;
    return 1;
}

extern "C" int AddStringQuotes(char **text)
{
    char *old = *text;
    size_t m = old ? std::strlen(old) : 0;
    char *grown = grow_heap_text(old, m, 2);
    if (!grown) return 0;
    std::memmove(grown + 1, grown, m);
    grown[0] = '"';
    grown[m + 1] = '"';
    grown[m + 2] = '\0';
    *text = grown;
    return 1;
}

extern "C" char *StrDupWithoutSurrWhiteSpace(const char *text)
{
    if (!text) return nullptr;
    const char *start = SkipWhiteSpace(text);
    size_t span = 0;
    if (*start) {
        const char *p = start + std::strlen(start);
        do p = previous_char(start, p);
        while (p > start && is_space(*p));
        span = static_cast<size_t>(next_char(p) - start);
    }
    auto *copy = static_cast<char *>(qex_rte_malloc(span + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, start, span);
    copy[span] = '\0';
    return copy;
}

/* -------------------------------- whitespace ------------------------------- */

extern "C" char *SkipWhiteSpace(const char *text)
{
    if (!text) return nullptr;
    while (*text && is_space(*text)) ++text;
    return const_cast<char *>(text);
}

extern "C" char *SkipNonWhiteSpace(const char *text)
{
    if (!text) return nullptr;
    while (*text && !is_space(*text)) text = next_char(text);
    return const_cast<char *>(text);
}

extern "C" int HasNonWhiteSpace(const char *text)
{
    if (!text) return 0;
    for (; *text; ++text)
        if (!is_space(*text)) return 1;
    return 0;
}

extern "C" void RemoveSurroundingWhiteSpace(char *text)
{
    if (!text) return;
    const char *start = SkipWhiteSpace(text);
    size_t length = std::strlen(start);
    std::memmove(text, start, length + 1);
    const char *kept_end = text;
    for (const char *p = text; *p;) {
        const char *after = next_char(p);
        if (!is_space(*p)) kept_end = after;
        p = after;
    }
    text[kept_end - text] = '\0';
}

/* ------------------------- bounded copy and insertion ---------------------- */

extern "C" void StringCopyMax(char *destination, const char *source, int size)
{
    if (!destination) toolbox_assertion(2859, "Null string passed to first parameter of StringCopyMax");
    if (!source || size <= 0) return;
    size_t limit = static_cast<size_t>(size);
    size_t n = strnlen(source, limit);
    if (n < limit) {
        std::memmove(destination, source, n + 1);
        return;
    }
    /* Cut: limit - 1 bytes and the terminator, one fewer before a lead byte. */
    size_t kept = limit - 1;
    std::memmove(destination, source, kept);
    if (kept > 0 && lead_byte_at(destination, kept - 1)) --kept;
    destination[kept] = '\0';
}

extern "C" char *StringInsert(char *destination, const char *insert, int size)
{
    if (!destination) toolbox_assertion(2885, "NULL string passed to first parameter of StringInsert");
    if (!insert) toolbox_assertion(2886, "NULL string passed to second parameter of StringInsert");
    size_t d = std::strlen(destination);
    size_t s = std::strlen(insert);
    if (size <= 0 || d >= static_cast<size_t>(size)) return destination;
    size_t room = static_cast<size_t>(size) - d - 1;
    size_t count = s <= room ? s : room;
    if (count < s && count > 0 && lead_byte_at(insert, count - 1)) --count;
    if (count == 0) return destination;
    /* The inserted text may lie inside the destination's buffer: take it from
     * where it is once the destination has moved up. */
    ptrdiff_t inside = offset_inside(destination, d + 1, insert);
    std::memmove(destination + count, destination, d + 1);
    std::memmove(destination, inside >= 0 ? destination + count + inside : insert, count);
    return destination + count;
}

/* ---------------------------- case-insensitive order ----------------------- */

extern "C" int StrICmp(const char *a, const char *b) { return QEX__mbsicmp(bytes(a), bytes(b)); }

extern "C" int StrNICmp(const char *a, const char *b, int count)
{
    return QEX__mbsnbicmp(bytes(a), bytes(b), static_cast<size_t>(static_cast<ptrdiff_t>(count)));
}

extern "C" int StrICmpWithoutSurrWhiteSpace(const char *a, const char *b)
{
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    a = SkipWhiteSpace(a);
    b = SkipWhiteSpace(b);
    for (;;) {
        if (!*a || !*b) {
            if (*a) return *SkipWhiteSpace(a) ? 1 : 0;
            if (*b) return *SkipWhiteSpace(b) ? -1 : 0;
            return 0;
        }
        int length_a = 1, length_b = 1;
        int code_a = char_code(a, &length_a);
        int code_b = char_code(b, &length_b);
        if (code_a != code_b) return code_a < code_b ? -1 : 1;
        a += length_a;
        b += length_b;
    }
}

/* -------------------------- comma-separated lists -------------------------- */

namespace {

/* The end of the item that starts at item: the next "," or the terminator. */
const char *item_end(const char *item)
{
    const char *comma = reinterpret_cast<const char *>(QEX__mbschr(bytes(item), ','));
    return comma ? comma : item + std::strlen(item);
}

} // namespace

extern "C" int SpliceCommaSeparatedList(const char *first, const char *second, char **result)
{
    *result = nullptr;
    char *merged = nullptr;
    bool ok = true;
    while (ok) {
        const char *end1 = first ? item_end(first) : nullptr;
        const char *end2 = second ? item_end(second) : nullptr;
        if (first && end1 > first)
            ok = AppendString(&merged, first, static_cast<int>(end1 - first));
        else if (second && end2 > second)
            ok = AppendString(&merged, second, static_cast<int>(end2 - second));
        first = first && *end1 == ',' ? end1 + 1 : nullptr;
        second = second && *end2 == ',' ? end2 + 1 : nullptr;
        if (!first && !second) break;
        if (ok) ok = AppendString(&merged, ",", -1);
    }
    if (ok && !merged) {
        merged = static_cast<char *>(qex_rte_malloc(1));
        if (merged) merged[0] = '\0';
        ok = merged != nullptr;
    }
    if (!ok) {
        qex_rte_free(merged);
        return -12;
    }
    *result = merged;
    return 0;
}
