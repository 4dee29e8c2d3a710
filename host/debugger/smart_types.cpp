/* Value displays as the debugger runs them: a unit's property table found by
 * its private symbol in the module file's symbol table, and a display run as
 * a call evaluation on a thread held at a stoppoint, its answer read from the
 * smart_type message the display sent.
 *
 * The symbol table of the module's file lists each unit's private symbols
 * after the unit's file record (storage class FILE, the source file name in
 * the auxiliary records), so two units' tables of the same name are told
 * apart by the file record they follow. */
#include "debugger_internal.h"
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr const char *kTableSymbol = "__qex_smart_types";
constexpr const char *kAnswerHead = "@{smart_type|";
constexpr const char *kAnswerTail = ":12}@";
constexpr size_t kPointerDigits = 16;

#pragma pack(push, 8)
struct Row {
    int32_t property;
    const void *value;
    size_t size;
};
#pragma pack(pop)
static_assert(sizeof(Row) == 24);

std::string symbol_name(const IMAGE_SYMBOL &sym, const std::vector<char> &file, size_t strings_at)
{
    if (sym.N.Name.Short != 0)
        return std::string(reinterpret_cast<const char *>(sym.N.ShortName),
                           strnlen(reinterpret_cast<const char *>(sym.N.ShortName), 8));
    if (strings_at + sym.N.Name.Long >= file.size()) return {};
    const char *s = file.data() + strings_at + sym.N.Name.Long;
    return std::string(s, strnlen(s, file.size() - strings_at - sym.N.Name.Long));
}

/* The unit a file record names: its file name without directory and extension. */
std::string unit_of(const char *aux, size_t bytes)
{
    std::string name(aux, strnlen(aux, bytes));
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

struct Found {
    uint32_t rva = 0;
    uint32_t limit = 0; /* the next symbol's address in the same section, or the section's end */
};

Found find_table(HMODULE module, const std::string &unit)
{
    Found found;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path) return found;
    std::ifstream f(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto base = reinterpret_cast<const unsigned char *>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    size_t symbols_at = nt->FileHeader.PointerToSymbolTable, count = nt->FileHeader.NumberOfSymbols;
    if (symbols_at == 0 || symbols_at + count * IMAGE_SIZEOF_SYMBOL > file.size()) return found;
    size_t strings_at = symbols_at + count * IMAGE_SIZEOF_SYMBOL;

    std::vector<IMAGE_SYMBOL> symbols(count);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(&symbols[i], file.data() + symbols_at + i * IMAGE_SIZEOF_SYMBOL, IMAGE_SIZEOF_SYMBOL);
    std::string current_unit;
    int section = 0;
    for (size_t i = 0; i < count; i += 1 + symbols[i].NumberOfAuxSymbols) {
        const IMAGE_SYMBOL &sym = symbols[i];
        if (sym.StorageClass == IMAGE_SYM_CLASS_FILE) {
            current_unit = unit_of(file.data() + symbols_at + (i + 1) * IMAGE_SIZEOF_SYMBOL,
                                   sym.NumberOfAuxSymbols * IMAGE_SIZEOF_SYMBOL);
        } else if (sym.StorageClass == IMAGE_SYM_CLASS_STATIC && sym.SectionNumber > 0 &&
                   sym.SectionNumber <= nt->FileHeader.NumberOfSections && current_unit == unit &&
                   symbol_name(sym, file, strings_at) == kTableSymbol) {
            section = sym.SectionNumber;
            found.rva = sections[section - 1].VirtualAddress + sym.Value;
            break;
        }
    }
    if (section == 0) return found;
    const IMAGE_SECTION_HEADER &home = sections[section - 1];
    found.limit = home.VirtualAddress + home.Misc.VirtualSize;
    for (const IMAGE_SYMBOL &sym : symbols) {
        if (sym.SectionNumber != section) continue;
        uint32_t rva = home.VirtualAddress + sym.Value;
        if (rva > found.rva && rva < found.limit) found.limit = rva;
    }
    return found;
}

bool in_image(HMODULE module, const void *p)
{
    auto base = reinterpret_cast<const unsigned char *>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    auto at = static_cast<const unsigned char *>(p);
    return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
}

bool well_formed(HMODULE module, const Row &row)
{
    switch (row.property) {
    case 1: case 2: case 7: case 8: {
        if (!in_image(module, row.value) || row.size == 0) return false;
        auto text = static_cast<const char *>(row.value);
        return in_image(module, text + row.size - 1) && strnlen(text, row.size) == row.size - 1;
    }
    case 3: case 4: case 5: return in_image(module, row.value) && row.size == 0;
    case 6: return row.value == nullptr;
    default: return false;
    }
}

/* The pointer of a well-formed answer message, or false. */
bool parse_answer(const std::string &line, void *&answer)
{
    size_t head = std::strlen(kAnswerHead), tail = std::strlen(kAnswerTail);
    if (line.size() != head + kPointerDigits + tail || line.compare(0, head, kAnswerHead) != 0 ||
        line.compare(head + kPointerDigits, tail, kAnswerTail) != 0)
        return false;
    uint64_t value = 0;
    for (size_t i = head; i < head + kPointerDigits; ++i) {
        char c = line[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    answer = reinterpret_cast<void *>(static_cast<uintptr_t>(value));
    return true;
}

} // namespace

extern "C" const void *standin_dbg_smart_type_table(HMODULE module, const char *unit, size_t *rows)
{
    if (rows) *rows = 0;
    if (!module || !unit) return nullptr;
    Found found = find_table(module, unit);
    if (found.rva == 0) return nullptr;
    auto table = reinterpret_cast<const Row *>(reinterpret_cast<const unsigned char *>(module) + found.rva);
    size_t n = 0, room = (found.limit - found.rva) / sizeof(Row);
    while (n < room && well_formed(module, table[n]) && (n > 0 || table[n].property == 1)) ++n;
    if (rows) *rows = n;
    return table;
}

extern "C" int standin_dbg_run_display(standin_dbg_stop_t *stop, const void *display, const void *variable,
                                       intptr_t index, uint32_t timeout_ms, void **answer)
{
    standin_dbg_control_block_t *c = standin_dbg_control_block();
    if (!c || !stop) return -1;
    size_t first_line = standin_dbg_log_count();
    c->call_function = reinterpret_cast<uintptr_t>(display);
    c->call_value = reinterpret_cast<uintptr_t>(variable);
    c->call_operand = static_cast<uint64_t>(index);
    c->call_thread = stop->thread_id;
    c->call_barrier = 0;
    c->call_evaluation = 1;
    bool stopped = standin_dbg_release(stop->id) && dbg::wait_stop_of(stop->thread_id, timeout_ms, *stop);
    /* Cleared while the thread is held, so that it does not run the call again. */
    c->call_evaluation = 0;
    c->call_function = 0;
    if (!stopped) return -1;
    int answers = 0;
    for (size_t i = first_line, n = standin_dbg_log_count(); i < n; ++i) {
        char line[128];
        void *pointer = nullptr;
        if (standin_dbg_log_line(i, line, sizeof line) < 0 || std::strncmp(line, kAnswerHead, std::strlen(kAnswerHead)) != 0)
            continue;
        ++answers;
        if (parse_answer(line, pointer) && answer) *answer = pointer;
        else if (answer) *answer = nullptr;
    }
    return answers;
}
