/* The engine's C streams and file-system functions: fopen, fread, fprintf,
 * remove and the rest under their standard names, plus the engine's own
 * GetFileInfo, SplitPath, _GetErrno and _GetFilesArray. Each passes the call
 * to the Windows C runtime the stand-in is linked with, so streams are that
 * runtime's FILE records, errno is its per-thread errno and files are real
 * files. Formatted output goes through the runtime's own printf engine, not
 * a replacement.
 *
 * Test controls make the failures a real disk rarely gives on demand: a
 * short write, a position that cannot be read, a seek that fails. */
#include "rte_internal.h"
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

rte::FailCountdown g_short_write;
rte::FailCountdown g_fail_position;
rte::FailCountdown g_fail_seek;
volatile long g_position_errno = 0;
volatile long g_seek_errno = 0;

bool seek_fails()
{
    if (!g_fail_seek.take()) return false;
    errno = static_cast<int>(g_seek_errno);
    return true;
}

bool position_fails()
{
    if (!g_fail_position.take()) return false;
    errno = static_cast<int>(g_position_errno);
    return true;
}

/* Copies text into an out buffer of `size` bytes, cut to fit. */
void copy_cut(char *out, size_t size, const char *text)
{
    if (!out) return;
    size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace

extern "C" FILE *standin_fopen(const char *path, const char *mode) { return std::fopen(path, mode); }
extern "C" int standin_fclose(FILE *stream) { return std::fclose(stream); }
extern "C" size_t standin_fread(void *buffer, size_t size, size_t count, FILE *stream)
{
    return std::fread(buffer, size, count, stream);
}

extern "C" size_t standin_fwrite(const void *buffer, size_t size, size_t count, FILE *stream)
{
    if (count && g_short_write.take()) {
        size_t written = std::fwrite(buffer, size, count / 2, stream);
        errno = ENOSPC;
        return written;
    }
    return std::fwrite(buffer, size, count, stream);
}

extern "C" int standin_fseek(FILE *stream, long offset, int origin)
{
    if (seek_fails()) return -1;
    return std::fseek(stream, offset, origin);
}

extern "C" long standin_ftell(FILE *stream)
{
    if (position_fails()) return -1;
    return std::ftell(stream);
}

extern "C" int standin_fgetpos(FILE *stream, fpos_t *position)
{
    if (position_fails()) return -1;
    return std::fgetpos(stream, position);
}

extern "C" int standin_fsetpos(FILE *stream, const fpos_t *position)
{
    if (seek_fails()) return -1;
    return std::fsetpos(stream, position);
}

extern "C" void standin_rewind(FILE *stream) { std::rewind(stream); }
extern "C" int standin_fflush(FILE *stream) { return std::fflush(stream); }
extern "C" int standin_feof(FILE *stream) { return std::feof(stream); }
extern "C" int standin_ferror(FILE *stream) { return std::ferror(stream); }
extern "C" void standin_clearerr(FILE *stream) { std::clearerr(stream); }

extern "C" int standin_vfprintf(FILE *stream, const char *format, va_list arguments)
{
    return __ms_vfprintf(stream, format, arguments);
}

extern "C" int standin_fprintf(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int written = __ms_vfprintf(stream, format, arguments);
    va_end(arguments);
    return written;
}

extern "C" int standin_fputs(const char *text, FILE *stream) { return std::fputs(text, stream); }
extern "C" int standin_fputc(int c, FILE *stream) { return std::fputc(c, stream); }
extern "C" char *standin_fgets(char *buffer, int size, FILE *stream) { return std::fgets(buffer, size, stream); }
extern "C" int standin_fgetc(FILE *stream) { return std::fgetc(stream); }
extern "C" int standin_ungetc(int c, FILE *stream) { return std::ungetc(c, stream); }
extern "C" int standin_remove(const char *path) { return std::remove(path); }
extern "C" int standin_rename(const char *from, const char *to) { return std::rename(from, to); }

extern "C" int standin_GetErrno(void) { return errno; }

/* The runtime's table of FILE records: stdin, stdout and stderr first. */
extern "C" FILE *standin_GetFilesArray(void) { return stdin; }

extern "C" int standin_GetFileInfo(const char *fileName, long long *fileSize)
{
    if (fileSize) *fileSize = 0;
    if (!fileName) return -1;
    struct _stat64 info;
    if (_stat64(fileName, &info) == 0) {
        if (fileSize) *fileSize = info.st_size;
        return 1;
    }
    return errno == ENOENT ? 0 : -1;
}

extern "C" void standin_SplitPath(const char *pathName, char *driveName, char *directoryName, char *fileName)
{
    const char *path = pathName ? pathName : "";
    size_t room = std::strlen(path) + 1;
    std::string drive(room, '\0'), directory(room, '\0'), name(room, '\0'), extension(room, '\0');
    _splitpath(path, drive.data(), directory.data(), name.data(), extension.data());
    std::string file = name.c_str();
    file += extension.c_str();
    copy_cut(driveName, 3, drive.c_str());
    copy_cut(directoryName, 256, directory.c_str());
    copy_cut(fileName, 260, file.c_str());
}

extern "C" void standin_rte_streams_short_write_nth(long n) { g_short_write.arm(n, false); }

extern "C" void standin_rte_streams_fail_position_nth(long n, int error)
{
    g_position_errno = error;
    g_fail_position.arm(n, false);
}

extern "C" void standin_rte_streams_fail_seek_nth(long n, int error)
{
    g_seek_errno = error;
    g_fail_seek.arm(n, false);
}

extern "C" void standin_rte_streams_reset(void)
{
    g_short_write.arm(0, false);
    g_fail_position.arm(0, false);
    g_fail_seek.arm(0, false);
}
