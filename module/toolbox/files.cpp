/* File helpers over the engine's C streams: testing, creating, replacing and
 * removing files by path, and finding, reading and writing bytes, strings and
 * lines in the caller's binary streams.
 *
 * Rules kept:
 *   - Every stream and file operation is the engine's (its fopen, fread,
 *     remove, ...), and failures are read from the engine's errno
 *     (_GetErrno) and mapped: 2 -> -94, 12 -> -12, 13 -> -95, 22 -> -100,
 *     28 -> -97, anything else -> -93. A short write is -97 as well.
 *   - A stream position read fails when ftell gives -1 or leaves the
 *     engine's errno at 100; positions are the engine's 32-bit ftell values.
 *   - GetFileWritability, CreateAndOpenTemporaryFile, RemoveFileIfExists,
 *     DeleteAndRename, FileExists and FindBytesInFile switch the engine's
 *     break-on-library-errors off while they work, and a scope guard puts it
 *     back on every exit (FileExists and FindBytesInFile switch it off again
 *     when it had been off).
 *   - FindBytesInFile reads 128-byte chunks and never misses a present
 *     sequence: the matcher keeps how much of the sequence the bytes read so
 *     far end with, and on a mismatch falls back to the longest shorter
 *     prefix that they still end with (the sequence's own borders), so a
 *     match that starts inside a longer run of a repeated leading byte, or in
 *     one chunk and ends in another, is found. No allocation: the border
 *     table lives on the stack for sequences up to 2048 bytes; longer ones
 *     compute a border when a mismatch needs it.
 *   - Text read from a stream never ends in half a character: in multibyte
 *     mode (MultiByteCodePage non-zero) a chunk that ends in a lead byte is
 *     appended without it and the byte is read again with the next chunk, and
 *     a lead byte that would end the string is left in the stream. */
#include <cstdint>
#include <cstdio>
#include <cstring>
#include "byte_scan.h"
#include "cnode_startup.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

constexpr size_t kChunk = 128;
constexpr size_t kPathBytes = 260;
constexpr int kPositionErrno = 100;
constexpr int kMbcLead = 1;

int mapped_errno(int error)
{
    switch (error) {
    case 2: return TOOLBOX_ERR_FILE_NOT_FOUND;
    case 12: return TOOLBOX_ERR_OUT_OF_MEMORY;
    case 13: return TOOLBOX_ERR_ACCESS_DENIED;
    case 22: return TOOLBOX_ERR_INVALID_ARGUMENT;
    case 28: return TOOLBOX_ERR_DISK_FULL;
    default: return TOOLBOX_ERR_IO;
    }
}

int mapped_errno() { return mapped_errno(_GetErrno()); }

/* Break-on-library-errors off for the guard's lifetime; on again at the end
 * when it had been on, else (when asked) switched off once more. */
class LibraryErrorsSuppressed {
public:
    explicit LibraryErrorsSuppressed(bool disableAgainWhenOff = false)
        : was_on_(GetBreakOnLibraryErrors() != 0), disable_again_(disableAgainWhenOff)
    {
        DisableBreakOnLibraryErrors();
    }
    ~LibraryErrorsSuppressed()
    {
        if (was_on_)
            EnableBreakOnLibraryErrors();
        else if (disable_again_)
            DisableBreakOnLibraryErrors();
    }
    LibraryErrorsSuppressed(const LibraryErrorsSuppressed &) = delete;
    LibraryErrorsSuppressed &operator=(const LibraryErrorsSuppressed &) = delete;

private:
    bool was_on_;
    bool disable_again_;
};

bool read_position(FILE *stream, long *position)
{
    long at = qex_rte_ftell(stream);
    if (at == -1 || _GetErrno() == kPositionErrno) return false;
    *position = at;
    return true;
}

bool multibyte_mode() { return MultiByteCodePage != 0; }

/* Whether the last of n bytes (no NUL among them, starting on a character
 * boundary) is a lead byte. */
bool ends_in_lead_byte(const unsigned char *bytes, size_t n)
{
    return n > 0 && QEX__mbsbtype(bytes, n - 1) == kMbcLead;
}

/* Streaming search for a byte sequence: `matched` bytes of the sequence end
 * the data fed so far. On a byte that does not continue the match, the match
 * falls back to the longest border of the matched prefix (a prefix that is
 * also its suffix) that the byte does continue, as Knuth, Morris and Pratt
 * do, so no occurrence is skipped. */
class SequenceMatcher {
public:
    SequenceMatcher(const unsigned char *sequence, size_t length) : seq_(sequence), length_(length)
    {
        table_ = length <= kTableSize;
        if (!table_) return;
        /* border_[i]: length of the longest proper border of seq[0..i]. */
        border_[0] = 0;
        size_t k = 0;
        for (size_t i = 1; i < length; ++i) {
            while (k > 0 && seq_[i] != seq_[k]) k = border_[k - 1];
            if (seq_[i] == seq_[k]) ++k;
            border_[i] = static_cast<uint32_t>(k);
        }
    }

    /* Feeds n bytes; true with *after = the index just past the last byte of
     * the first completed match. */
    bool feed(const unsigned char *data, size_t n, size_t *after)
    {
        size_t i = 0;
        const unsigned char first = seq_[0];
        while (i < n) {
            if (matched_ == 0) {
                const unsigned char *hit = byte_scan::find_byte(data + i, n - i, first);
                if (!hit) return false;
                i = static_cast<size_t>(hit - data) + 1;
                matched_ = 1;
            } else {
                unsigned char c = data[i++];
                while (matched_ > 0 && seq_[matched_] != c) matched_ = border_of(matched_);
                if (seq_[matched_] == c) ++matched_;
            }
            if (matched_ == length_) {
                *after = i;
                return true;
            }
        }
        return false;
    }

private:
    static constexpr size_t kTableSize = 2048;

    /* Longest proper border of the first k bytes of the sequence. */
    size_t border_of(size_t k) const
    {
        if (table_) return border_[k - 1];
        for (size_t b = k - 1; b > 0; --b)
            if (std::memcmp(seq_, seq_ + (k - b), b) == 0) return b;
        return 0;
    }

    const unsigned char *seq_;
    size_t length_;
    size_t matched_ = 0;
    bool table_;
    uint32_t border_[kTableSize];
};

/* Appends n bytes (no NUL among them) to the heap string; the number of
 * bytes actually appended, or -1 when memory ran out. */
long append_bytes(char **string, size_t length, const unsigned char *bytes, size_t n)
{
    if (n == 0) return 0;
    if (!AppendString(string, reinterpret_cast<const char *>(bytes), static_cast<int>(n))) return -1;
    /* The string never ends in half a character; count what it took. */
    return static_cast<long>(strnlen(*string + length, n));
}

int read_string(FILE *stream, char **string, int maxBytes, int *endOfFile, int *limitReached)
{
    long start;
    if (!read_position(stream, &start)) return TOOLBOX_ERR_IO;
    /* Heap text for the caller, allocated as AppendString grows it. */
    *string = static_cast<char *>(qex_rte_malloc(1));
    if (!*string) return TOOLBOX_ERR_OUT_OF_MEMORY;
    **string = '\0';
    size_t length = 0;  /* bytes in the string */
    long long read = 0; /* bytes read from the stream since start */
    long long taken = 0; /* where the stream must stand, relative to start */
    unsigned char chunk[kChunk];
    for (;;) {
        size_t want = kChunk;
        bool limited = false;
        if (maxBytes >= 0 && static_cast<long long>(maxBytes) - read <= static_cast<long long>(kChunk)) {
            want = static_cast<size_t>(maxBytes - read);
            limited = true;
        }
        size_t n = want ? qex_rte_fread(chunk, 1, want, stream) : 0;
        read += static_cast<long long>(n);
        if (const void *nul = std::memchr(chunk, 0, n)) {
            size_t before = static_cast<size_t>(static_cast<const unsigned char *>(nul) - chunk);
            if (append_bytes(string, length, chunk, before) < 0) return TOOLBOX_ERR_OUT_OF_MEMORY;
            taken += static_cast<long long>(before) + 1;
            break;
        }
        bool end_of_data = n < want;
        size_t keep = n;
        if (multibyte_mode() && ends_in_lead_byte(chunk, n)) --keep;
        long appended = append_bytes(string, length, chunk, keep);
        if (appended < 0) return TOOLBOX_ERR_OUT_OF_MEMORY;
        length += static_cast<size_t>(appended);
        taken += appended;
        if (end_of_data || limited) {
            if (end_of_data) {
                if (endOfFile) *endOfFile = 1;
            } else if (limitReached) {
                *limitReached = 1;
            }
            break;
        }
        /* A held-back lead byte is read again with the next chunk. */
        if (taken != read && qex_rte_fseek(stream, static_cast<long>(taken - read), SEEK_CUR) != 0)
            return TOOLBOX_ERR_IO;
        read = taken;
    }
    if (taken != read && qex_rte_fseek(stream, static_cast<long>(taken - read), SEEK_CUR) != 0) return TOOLBOX_ERR_IO;
    return 0;
}

} // namespace

extern "C" {

int GetFileWritability(const char *path, int *writable)
{
    LibraryErrorsSuppressed suppressed;
    int ignored = 0;
    if (!writable) writable = &ignored;
    *writable = 0;
    long long size = 0;
    switch (GetFileInfo(path, &size)) {
    case 1:
        if (FILE *file = qex_rte_fopen(path, "r+b")) {
            qex_rte_fclose(file);
            *writable = 1;
        }
        return 0;
    case 0:
        if (FILE *file = qex_rte_fopen(path, "wb")) {
            qex_rte_fclose(file);
            qex_rte_remove(path);
            *writable = 1;
        }
        return 0;
    case -1: return TOOLBOX_ERR_FILE_INFO;
    default: return TOOLBOX_ERR_IO;
    }
}

int CreateAndOpenTemporaryFile(const char *pathName, const char *prefix, const char *extension, const char *mode,
                               char *tempFileName, FILE **file)
{
    LibraryErrorsSuppressed suppressed;
    if (file) *file = nullptr;
    constexpr size_t kPrefixBytes = 5;
    char cut_prefix[kPrefixBytes + 1] = {};
    if (prefix) {
        size_t n = strnlen(prefix, kPrefixBytes + 1);
        if (n > kPrefixBytes) {
            n = kPrefixBytes;
            /* Half a character would end the name: cut before it. */
            if (multibyte_mode() && QEX__mbsbtype(reinterpret_cast<const unsigned char *>(prefix), n - 1) == kMbcLead)
                --n;
        }
        std::memcpy(cut_prefix, prefix, n);
    }
    char drive[kPathBytes] = {};
    char directory[kPathBytes] = {};
    SplitPath(pathName, drive, directory, nullptr);
    constexpr int kNames = 1000;
    constexpr int kDeniedTolerated = 100;
    int denied = 0;
    for (int i = 0; i < kNames; ++i) {
        std::sprintf(tempFileName, "%s%s%s%1d.%s", drive, directory, cut_prefix, i, extension ? extension : "");
        long long size = 0;
        int info = GetFileInfo(tempFileName, &size);
        if (info == -1) return TOOLBOX_ERR_FILE_INFO;
        if (info == 1) continue;
        if (info != 0) return TOOLBOX_ERR_IO;
        if (FILE *opened = qex_rte_fopen(tempFileName, mode)) {
            if (file)
                *file = opened;
            else
                qex_rte_fclose(opened);
            return 0;
        }
        if (_GetErrno() != 13 || ++denied > kDeniedTolerated) return TOOLBOX_ERR_TEMP_OPEN;
    }
    return TOOLBOX_ERR_NO_TEMP_NAME;
}

void RemoveFileIfExists(const char *path)
{
    LibraryErrorsSuppressed suppressed;
    qex_rte_remove(path);
}

int DeleteAndRename(const char *sourcePath, const char *destinationPath)
{
    LibraryErrorsSuppressed suppressed;
    qex_rte_remove(destinationPath);
    if (qex_rte_rename(sourcePath, destinationPath) != 0) return mapped_errno();
    return 0;
}

int FileExists(const char *path, long long *fileSize)
{
    LibraryErrorsSuppressed suppressed(true);
    if (fileSize) *fileSize = -1;
    FILE *file = qex_rte_fopen(path, "rb");
    if (!file) return mapped_errno();
    if (fileSize) {
        fpos_t end = 0;
        if (qex_rte_fseek(file, 0, SEEK_END) != 0 || qex_rte_fgetpos(file, &end) != 0) {
            int failure = mapped_errno();
            qex_rte_fclose(file);
            return failure;
        }
        *fileSize = static_cast<long long>(end);
    }
    qex_rte_fclose(file);
    return 1;
}

int BinaryFileSize(FILE *stream, size_t *size)
{
    long start, end;
    if (!read_position(stream, &start)) return TOOLBOX_ERR_IO;
    if (qex_rte_fseek(stream, 0, SEEK_END) != 0) return TOOLBOX_ERR_IO;
    bool measured = read_position(stream, &end);
    if (qex_rte_fseek(stream, start, SEEK_SET) != 0 || !measured) return TOOLBOX_ERR_IO;
    if (size) *size = static_cast<size_t>(end);
    return 0;
}

int FindBytesInFile(FILE *stream, const void *bytes, int numBytes, long *bytesSkipped, long *position)
{
    LibraryErrorsSuppressed suppressed(true);
    long start;
    if (!read_position(stream, &start)) return TOOLBOX_ERR_IO;
    if (numBytes <= 0) { /* the empty sequence stands right at the start */
        if (bytesSkipped) *bytesSkipped = 0;
        if (position) *position = start;
        return 1;
    }
    if (!bytes) return TOOLBOX_ERR_INVALID_ARGUMENT;
    SequenceMatcher matcher(static_cast<const unsigned char *>(bytes), static_cast<size_t>(numBytes));
    unsigned char chunk[kChunk];
    long long read = 0;
    for (;;) {
        size_t n = qex_rte_fread(chunk, 1, kChunk, stream);
        if (n == 0) break;
        size_t after = 0;
        if (matcher.feed(chunk, n, &after)) {
            long long skipped = read + static_cast<long long>(after) - numBytes;
            if (qex_rte_fseek(stream, -static_cast<long>(n - after), SEEK_CUR) != 0) return TOOLBOX_ERR_IO;
            if (bytesSkipped) *bytesSkipped = static_cast<long>(skipped);
            if (position) *position = static_cast<long>(start + skipped);
            return 1;
        }
        read += static_cast<long long>(n);
    }
    if (bytesSkipped) *bytesSkipped = static_cast<long>(read);
    if (position) *position = static_cast<long>(start + read);
    return 0;
}

int ReadStringFromBinaryFile(FILE *stream, char **string, int maxBytes, int *endOfFile, int *limitReached)
{
    if (endOfFile) *endOfFile = 0;
    if (limitReached) *limitReached = 0;
    char *text = nullptr;
    int result = read_string(stream, &text, maxBytes, endOfFile, limitReached);
    if (result != 0) {
        qex_rte_free(text);
        text = nullptr;
    }
    *string = text;
    return result;
}

int ReadLineFromBinaryFile(FILE *stream, char **line, int maxBytes, int *endOfFile, int *limitReached)
{
    *line = nullptr;
    long start;
    if (!read_position(stream, &start)) return TOOLBOX_ERR_IO;
    long skipped = 0;
    int found = FindBytesInFile(stream, "\r\n", 2, &skipped, nullptr);
    if (found < 0) return found;
    if (qex_rte_fseek(stream, start, SEEK_SET) != 0) return TOOLBOX_ERR_IO;
    int allowance = maxBytes;
    if (found == 1) {
        long long line_length = static_cast<long long>(skipped) + 2;
        if (maxBytes < 0 || line_length < maxBytes) allowance = static_cast<int>(line_length);
    }
    return ReadStringFromBinaryFile(stream, line, allowance, endOfFile, limitReached);
}

int WriteByteToFile(FILE *stream, int byte, int count)
{
    constexpr int kBlock = 64;
    unsigned char block[kBlock];
    std::memset(block, byte & 0xFF, sizeof block);
    while (count > 0) {
        size_t n = static_cast<size_t>(count < kBlock ? count : kBlock);
        if (qex_rte_fwrite(block, 1, n, stream) != n) return TOOLBOX_ERR_DISK_FULL;
        count -= static_cast<int>(n);
    }
    return 0;
}

int WriteStringToFile(FILE *stream, const char *string)
{
    if (!string) return 0;
    auto write = [stream](const void *bytes, size_t n) { return n == 0 || qex_rte_fwrite(bytes, 1, n, stream) == n; };
    const auto *segment = reinterpret_cast<const unsigned char *>(string);
    while (const unsigned char *lf = QEX__mbschr(segment, '\n')) {
        if (!write(segment, static_cast<size_t>(lf - segment)) || !write("\r\n", 2)) return TOOLBOX_ERR_DISK_FULL;
        segment = lf + 1;
    }
    if (!write(segment, std::strlen(reinterpret_cast<const char *>(segment)))) return TOOLBOX_ERR_DISK_FULL;
    return 0;
}

} // extern "C"
