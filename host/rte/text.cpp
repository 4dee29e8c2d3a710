/* The engine's C library text functions: formatted output, character classes
 * and the locale. The engine is a C runtime; the stand-in hands each call to
 * the Windows C runtime (msvcrt) it is linked with, so formats, character
 * tables and the locale are msvcrt's own.
 *
 * Formatted output goes straight to msvcrt's printf family (the __ms_ names
 * bypass the compiler's own replacement formatter). snprintf and vsnprintf
 * keep the C standard's contract over msvcrt's _vsnprintf: the output is
 * always terminated when the size is not 0, and the result is the length the
 * whole text would have had. */
#include "rte_internal.h"
#include <cctype>
#include <clocale>
#include <cstdarg>
#include <cstdio>

namespace {

int bounded_format(char *buffer, size_t size, const char *format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int full = _vscprintf(format, measure);
    va_end(measure);
    if (size == 0 || !buffer) return full;
    int written = _vsnprintf(buffer, size, format, args);
    if (written < 0 || static_cast<size_t>(written) >= size) buffer[size - 1] = '\0';
    return full;
}

} // namespace

extern "C" int standin_vprintf(const char *format, va_list args) { return __ms_vprintf(format, args); }

extern "C" int standin_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = __ms_vprintf(format, args);
    va_end(args);
    return result;
}

extern "C" int standin_vsprintf(char *buffer, const char *format, va_list args)
{
    return __ms_vsprintf(buffer, format, args);
}

extern "C" int standin_sprintf(char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = __ms_vsprintf(buffer, format, args);
    va_end(args);
    return result;
}

extern "C" int standin_vsnprintf(char *buffer, size_t size, const char *format, va_list args)
{
    return bounded_format(buffer, size, format, args);
}

extern "C" int standin_snprintf(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = bounded_format(buffer, size, format, args);
    va_end(args);
    return result;
}

extern "C" int standin_isspace(int c) { return isspace(c); }
extern "C" int standin_toupper(int c) { return toupper(c); }
extern "C" int standin_tolower(int c) { return tolower(c); }
extern "C" char *standin_setlocale(int category, const char *locale) { return setlocale(category, locale); }
