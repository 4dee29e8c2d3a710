/* Multibyte strings under the process code page: the engine's QEX__mbs*
 * family. The engine offers the C runtime's own multibyte functions under its
 * names, so the stand-in passes each call to the runtime it is linked with;
 * the runtime steps by whole characters when the multibyte code page has lead
 * bytes. */
#include "rte_internal.h"
#include <mbctype.h>
#include <mbstring.h>

extern "C" int standin_ismbblead(unsigned int c) { return _ismbblead(c); }
extern "C" int standin_mbsbtype(const unsigned char *str, size_t count) { return _mbsbtype(str, count); }
extern "C" unsigned char *standin_mbscat(unsigned char *destination, const unsigned char *source)
{
    return _mbscat(destination, source);
}
extern "C" unsigned char *standin_mbschr(const unsigned char *str, unsigned int c) { return _mbschr(str, c); }
extern "C" unsigned char *standin_mbscpy(unsigned char *destination, const unsigned char *source)
{
    return _mbscpy(destination, source);
}
extern "C" unsigned char *standin_mbsdec(const unsigned char *start, const unsigned char *current)
{
    return _mbsdec(start, current);
}
extern "C" int standin_mbsicmp(const unsigned char *a, const unsigned char *b) { return _mbsicmp(a, b); }
extern "C" unsigned char *standin_mbsinc(const unsigned char *current) { return _mbsinc(current); }
extern "C" size_t standin_mbslen(const unsigned char *str) { return _mbslen(str); }
extern "C" int standin_mbsnbicmp(const unsigned char *a, const unsigned char *b, size_t count)
{
    return _mbsnbicmp(a, b, count);
}
extern "C" unsigned char *standin_mbsrchr(const unsigned char *str, unsigned int c) { return _mbsrchr(str, c); }
extern "C" unsigned char *standin_mbsstr(const unsigned char *str, const unsigned char *search)
{
    return _mbsstr(str, search);
}
