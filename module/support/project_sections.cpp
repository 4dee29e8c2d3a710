/* __qex_project_sections: the module's image as the debugger maps it, one
 * record per section in image order, the relocation section left out, ended
 * by a record with a null begin.
 *
 * The records are taken from the loaded image's own section headers, once per
 * process, before the module first announces itself; afterwards the table
 * only is read. A section whose name is longer than eight characters carries
 * in its header only a reference into the image file's string table (the
 * debug-information sections do), so its name is read from the file and cut
 * to eight characters; when the file cannot be read the reference stays. */
#include <windows.h>
#include <atomic>
#include <string.h>
#include "debug_support.h"

/* The linker's symbol for this image's first byte (its DOS header); declared
 * without a bound, since the headers that follow it are part of the image too. */
extern "C" unsigned char __ImageBase[];

extern "C" {
entry_t __qex_project_sections[__QEX_PROJECT_SECTIONS_CAPACITY + 1] = {};
}

namespace {

INIT_ONCE g_filled = INIT_ONCE_STATIC_INIT;

const IMAGE_NT_HEADERS64 *image_headers()
{
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(__ImageBase);
    return reinterpret_cast<const IMAGE_NT_HEADERS64 *>(__ImageBase + dos->e_lfanew);
}

/* The image file's string table (after the symbol table), or an empty
 * string when the file has none or cannot be read. Owned by the caller. */
struct StringTable {
    char *text = nullptr;
    DWORD size = 0;
    ~StringTable() { HeapFree(GetProcessHeap(), 0, text); }
};

void read_string_table(const IMAGE_NT_HEADERS64 *nt, StringTable &table)
{
    DWORD symbols = nt->FileHeader.PointerToSymbolTable;
    if (symbols == 0) return;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(__ImageBase), path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(symbols) + static_cast<LONGLONG>(nt->FileHeader.NumberOfSymbols) * IMAGE_SIZEOF_SYMBOL;
    DWORD size = 0, got = 0;
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, &size, 4, &got, nullptr) && got == 4 &&
        size > 4) {
        table.text = static_cast<char *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 1));
        if (table.text && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
            ReadFile(file, table.text, size, &got, nullptr) && got == size)
            table.size = size;
    }
    CloseHandle(file);
}

/* The section's name as at most eight characters, NUL-padded. */
void copy_name(const IMAGE_SECTION_HEADER &section, const StringTable &strings, char (&name)[8])
{
    memcpy(name, section.Name, 8);
    if (name[0] != '/' || !strings.size) return;
    DWORD offset = 0;
    for (int i = 1; i < 8 && name[i] >= '0' && name[i] <= '9'; ++i) offset = offset * 10 + static_cast<DWORD>(name[i] - '0');
    if (offset < 4 || offset >= strings.size) return;
    memset(name, 0, 8);
    strncpy(name, strings.text + offset, 8);
}

BOOL CALLBACK fill(PINIT_ONCE, PVOID, PVOID *)
{
    const IMAGE_NT_HEADERS64 *nt = image_headers();
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    const IMAGE_DATA_DIRECTORY &relocations = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    unsigned char *base = __ImageBase;
    StringTable strings;
    read_string_table(nt, strings);

    size_t used = 0;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections && used < __QEX_PROJECT_SECTIONS_CAPACITY; ++i) {
        const IMAGE_SECTION_HEADER &s = sections[i];
        bool is_relocations = (relocations.Size != 0 && s.VirtualAddress == relocations.VirtualAddress) ||
                              memcmp(s.Name, ".reloc\0", 8) == 0;
        if (is_relocations) continue;
        entry_t &e = __qex_project_sections[used++];
        e.begin = base + s.VirtualAddress;
        e.end = base + s.VirtualAddress + s.Misc.VirtualSize;
        copy_name(s, strings, e.name);
    }
    __qex_project_sections[used] = entry_t{};
    return TRUE;
}

} // namespace

/* Set once the table is filled: every export's entry asks, so the common
 * answer must not cost a call into the system. */
std::atomic<bool> g_filled_seen{false};

extern "C" entry_t *__qex_project_sections_filled(void)
{
    if (!g_filled_seen.load(std::memory_order_acquire)) {
        InitOnceExecuteOnce(&g_filled, fill, nullptr, nullptr);
        g_filled_seen.store(true, std::memory_order_release);
    }
    return __qex_project_sections;
}
