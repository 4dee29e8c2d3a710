/* The module's side of the one-way message channel to the debugger, and the
 * announcement of the module's image (module_attach / module_detach).
 *
 * A message is "@{", a name, "|"-introduced fields, ":", the list of the
 * separators' offsets counted from the leading "@", and "}@". The offsets are
 * constants computed from the fields' fixed widths (a pointer always prints as
 * 16 hexadecimal digits, "%3u" as 3 characters below 1000), so a field of
 * variable width stands only last. There is no reply: the debugger answers by
 * writing into the module's memory and the engine's control block. */
#include <windows.h>
#include <string.h>
#include "debug_support.h"

/* Marks this unit as hidden from the debugger's source view (a private
 * symbol of exactly this name, looked up with the unit). */
extern "C" {
[[maybe_unused]] __attribute__((used)) static void __qex_hide_this_file(void) {}
}

namespace {

constexpr DWORD kFileNameSize = 4096;

/* The announcement up to the file name, then the file name and the trailer
 * with the positions of the separators: 15 after the name, 32, 36, 40, 44 and
 * 48 after the handle and the four 3-character constants, 65 after the table's
 * address and 69 after the 3-character section count. */
const char kAttachHead[] = "@{module_attach|%p|%3u|%3u|%3u|%3u|%p|%3u|";
const char kAttachTrailer[] = ":15|%u|%u|%u|%u|%u|%u|%u}@";

/* Constants the debugger reads from every announcement; their meaning is its own. */
constexpr unsigned kAttachConstants[4] = {15, 5, 0, 181};

unsigned count_used_sections(const entry_t *sections)
{
    unsigned count = 0;
    for (const entry_t *e = sections; e && e->begin; ++e)
        if (e->begin != e->end) ++count;
    return count;
}

} // namespace

extern "C" void __qex_send_message(const char *message) { __qex_debug_message(message); }

/* wsprintfA writes at most 1024 characters; the file name is appended after
 * the formatted head, so that a long name can never cut off the position list
 * and leave the debugger a message without its end. */
extern "C" void __qex_attach_module(HMODULE owner, const entry_t *sections)
{
    char file_name[kFileNameSize];
    if (GetModuleFileNameA(owner, file_name, kFileNameSize) == 0)
        wsprintfA(file_name, "<unknown module %p>", static_cast<void *>(owner));
    file_name[kFileNameSize - 1] = 0;

    char head[128], trailer[96];
    wsprintfA(head, kAttachHead, static_cast<void *>(owner), kAttachConstants[0], kAttachConstants[1],
              kAttachConstants[2], kAttachConstants[3], static_cast<const void *>(sections),
              count_used_sections(sections));
    wsprintfA(trailer, kAttachTrailer, 32u, 36u, 40u, 44u, 48u, 65u, 69u);

    char message[sizeof head + kFileNameSize + sizeof trailer];
    lstrcpyA(message, head);
    lstrcatA(message, file_name);
    lstrcatA(message, trailer);
    __qex_send_message(message);
}

extern "C" void __qex_detach_module(HMODULE owner)
{
    char message[64];
    wsprintfA(message, "@{module_detach|%p:15}@", static_cast<void *>(owner));
    __qex_send_message(message);
}
