/* Accelerator escape codes in menu and control labels: two underscores
 * before the character that becomes the accelerator ("__File").
 *
 * Rules kept:
 *   - an escape code is a pair of underscores followed by a character other
 *     than an underscore; a run of three or more underscores is no escape
 *     code and is passed over whole, and a pair at the very end has no
 *     character to mark;
 *   - the scan steps by whole characters when the process code page has lead
 *     bytes, so the trail byte of a double-byte character (which may be 0x5F)
 *     is never taken for an underscore, and it never steps past the NUL, not
 *     even after a lead byte that the NUL cuts short. */
#include <cstring>
#include "cnode_startup.h"
#include "toolbox.h"
#include "toolbox_internal.h"

namespace {

/* The character after the one at p, never beyond the NUL. */
const char *next_character(const char *p)
{
    if (MultiByteCodePage != 0 && p[1] != '\0')
        return reinterpret_cast<const char *>(QEX__mbsinc(reinterpret_cast<const unsigned char *>(p)));
    return p + 1;
}

} // namespace

int AcceleratorEscapeCodeLocation(const char *label)
{
    if (!label) return -1;
    const char *p = label;
    while (*p != '\0') {
        if (p[0] == '_' && p[1] == '_') {
            if (p[2] == '\0') return -1;
            if (p[2] != '_') return static_cast<int>(p - label);
            while (*p == '_') ++p; /* the whole run of three or more */
            continue;
        }
        p = next_character(p);
    }
    return -1;
}

void RemoveAcceleratorEscapeCode(char *label)
{
    int at = AcceleratorEscapeCodeLocation(label);
    if (at < 0) return;
    char *code = label + at;
    std::memmove(code, code + 2, std::strlen(code + 2) + 1);
}
