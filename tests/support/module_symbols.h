/* Finds symbols of a loaded module in the symbol table of its file, the way
 * a debugger finds variables and functions a DLL does not export. Written
 * apart from the debugger stand-in's own reader so that each checks the other. */
#pragma once
#include <windows.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

inline std::string module_file(HMODULE module)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return std::string(path, n);
}

/* Address of the external symbol `name` of a loaded module, or null. */
inline void *module_symbol(HMODULE module, const std::string &name)
{
    std::ifstream f(module_file(module), std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto base = reinterpret_cast<unsigned char *>(module);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS64 *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    size_t table = nt->FileHeader.PointerToSymbolTable, count = nt->FileHeader.NumberOfSymbols;
    size_t strings = table + count * 18;
    if (table == 0 || strings > file.size()) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *s = file.data() + table + i * 18;
        uint32_t value;
        int16_t section;
        std::memcpy(&value, s + 8, 4);
        std::memcpy(&section, s + 12, 2);
        uint8_t storage = s[16], aux = s[17];
        std::string symbol;
        uint32_t zeros, offset;
        std::memcpy(&zeros, s, 4);
        std::memcpy(&offset, s + 4, 4);
        if (zeros) symbol.assign(reinterpret_cast<const char *>(s), strnlen(reinterpret_cast<const char *>(s), 8));
        else if (strings + offset < file.size()) symbol = reinterpret_cast<const char *>(file.data() + strings + offset);
        if (storage == 2 && section > 0 && symbol == name) return base + sections[section - 1].VirtualAddress + value;
        i += aux;
    }
    return nullptr;
}

template <typename T>
T symbol_as(HMODULE module, const std::string &name)
{
    return reinterpret_cast<T>(module_symbol(module, name));
}

} // namespace testing_support
