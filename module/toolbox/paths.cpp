/* Windows path names taken apart in place: drive prefixes, absolute paths,
 * file names, extensions, and new names built from old ones.
 *
 * Rules kept:
 *   - The separator is the backslash (a colon also ends a drive or
 *     directory part); forward slashes are ordinary characters.
 *   - In multibyte mode (MultiByteCodePage non-zero) the scans step back by
 *     whole characters with the engine's QEX__mbsdec and check byte types
 *     with QEX__mbsbtype, so a trail byte that happens to equal a backslash,
 *     colon or dot is never taken for one.
 *   - The finders return pointers into their argument; the changers write
 *     into the caller's buffer, whose size is the caller's promise.
 *   - A null path given to ChangeFileNameExtension, FindFileDotPosition,
 *     FindFileExtension or FindFileName is a programming error, reported
 *     with the toolbox's assertion, which ends the program.
 *   - An extension is what follows the last dot of the file name, unless
 *     that dot is the name's first character (".profile" has none); the
 *     search for the dot gives up 256 bytes before the end. */
#include <cstring>
#include "cnode_startup.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr const char *kToolboxUnit = "toolbox";
constexpr int kMbcTrail = 2;
constexpr ptrdiff_t kExtensionReach = 256;

bool multibyte_mode() { return MultiByteCodePage != 0; }

const unsigned char *bytes_of(const char *text) { return reinterpret_cast<const unsigned char *>(text); }

/* The start of the character before `current`. */
const char *previous_char(const char *start, const char *current)
{
    if (!multibyte_mode()) return current - 1;
    return reinterpret_cast<const char *>(QEX__mbsdec(bytes_of(start), bytes_of(current)));
}

const char *file_name_of(const char *path)
{
    const char *p = path + std::strlen(path);
    while (p > path) {
        p = previous_char(path, p);
        if (*p == '\\' || *p == ':') return p + 1;
    }
    return path;
}

/* The dot that starts the extension of the path's file name, or null. */
const char *extension_dot(const char *path, const char **end)
{
    const char *name = file_name_of(path);
    *end = name + std::strlen(name);
    const char *p = *end;
    while (p > name) {
        p = previous_char(name, p);
        if (*end - p >= kExtensionReach) return nullptr;
        if (*p == '.') return p == name ? nullptr : p;
    }
    return nullptr;
}

} // namespace

extern "C" {

char *SkipDriveName(const char *path)
{
    if (path && path[0] && path[1] == ':' && !(multibyte_mode() && QEX__mbsbtype(bytes_of(path), 1) == kMbcTrail))
        return const_cast<char *>(path + 2);
    return const_cast<char *>(path);
}

int IsAbsolutePath(const char *path)
{
    if (!path || !*path) return 0;
    return *SkipDriveName(path) == '\\' ? 1 : 0;
}

char *FindFileName(const char *path)
{
    if (!path) {
        DoAssert(0, kToolboxUnit, 11653, "Null pathString parameter passed to FindFileName");
        return nullptr;
    }
    return const_cast<char *>(file_name_of(path));
}

char *FindFileExtension(const char *path)
{
    if (!path) {
        DoAssert(0, kToolboxUnit, 11622, "Null pathString parameter passed to FindFileExtension");
        return nullptr;
    }
    const char *end = nullptr;
    const char *dot = extension_dot(path, &end);
    return const_cast<char *>(dot ? dot + 1 : end);
}

char *FindFileDotPosition(const char *path)
{
    if (!path) {
        DoAssert(0, kToolboxUnit, 11590, "Null pathString parameter passed to FindFileDotPosition");
        return nullptr;
    }
    const char *end = nullptr;
    const char *dot = extension_dot(path, &end);
    return const_cast<char *>(dot ? dot : end);
}

void ChangeFileNameExtension(const char *fileName, char *newFileName, const char *newExtension)
{
    if (!fileName || !newFileName || !newExtension) {
        DoAssert(0, kToolboxUnit, 11560, "Null parameters passed to ChangeFileNameExtension");
        return;
    }
    std::memmove(newFileName, fileName, std::strlen(fileName) + 1);
    char *dot = FindFileDotPosition(newFileName);
    *dot = '.';
    std::memmove(dot + 1, newExtension, std::strlen(newExtension) + 1);
}

void ChangeBaseFileName(const char *path, char *newPath, const char *newBaseName)
{
    size_t directory = static_cast<size_t>(FindFileName(path) - path);
    size_t base = std::strlen(newBaseName);
    /* The base name may lie in the caller's output buffer: move it first. */
    std::memmove(newPath + directory, newBaseName, base + 1);
    std::memmove(newPath, path, directory);
}

} // extern "C"
