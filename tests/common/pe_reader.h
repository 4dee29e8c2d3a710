/* Reads a PE image file as it lies on disk: its export names, the DLLs it
 * imports from, and the RVA of its entry point. Tests use it to check the built
 * module's tables without loading it. */
#pragma once
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pe {

class Image {
public:
    explicit Image(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return;
        auto dos = at<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        nt_ = at<IMAGE_NT_HEADERS64>(static_cast<size_t>(dos->e_lfanew));
        if (!nt_ || nt_->Signature != IMAGE_NT_SIGNATURE) nt_ = nullptr;
    }

    bool valid() const { return nt_ != nullptr; }
    uint32_t entry_point_rva() const { return nt_ ? nt_->OptionalHeader.AddressOfEntryPoint : 0; }

    std::vector<std::string> export_names() const
    {
        std::vector<std::string> names;
        auto dir = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (!dir.VirtualAddress) return names;
        auto exp = at<IMAGE_EXPORT_DIRECTORY>(offset(dir.VirtualAddress));
        if (!exp) return names;
        for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
            auto rva = at<DWORD>(offset(exp->AddressOfNames) + i * 4);
            if (rva) names.push_back(string_at(offset(*rva)));
        }
        return names;
    }

    /* Address (RVA) of an exported name, 0 when absent. */
    uint32_t export_rva(const std::string &name) const
    {
        auto dir = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (!dir.VirtualAddress) return 0;
        auto exp = at<IMAGE_EXPORT_DIRECTORY>(offset(dir.VirtualAddress));
        for (DWORD i = 0; exp && i < exp->NumberOfNames; ++i) {
            auto rva = at<DWORD>(offset(exp->AddressOfNames) + i * 4);
            if (!rva || string_at(offset(*rva)) != name) continue;
            auto ordinal = at<WORD>(offset(exp->AddressOfNameOrdinals) + i * 2);
            auto fn = ordinal ? at<DWORD>(offset(exp->AddressOfFunctions) + *ordinal * 4u) : nullptr;
            return fn ? *fn : 0;
        }
        return 0;
    }

    std::vector<std::string> imported_dlls() const
    {
        std::vector<std::string> dlls;
        auto dir = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (!dir.VirtualAddress) return dlls;
        for (size_t off = offset(dir.VirtualAddress);; off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            auto d = at<IMAGE_IMPORT_DESCRIPTOR>(off);
            if (!d || d->Name == 0) break;
            dlls.push_back(string_at(offset(d->Name)));
        }
        return dlls;
    }

private:
    template <typename T>
    const T *at(size_t off) const
    {
        if (off == SIZE_MAX || off + sizeof(T) > bytes_.size()) return nullptr;
        return reinterpret_cast<const T *>(bytes_.data() + off);
    }

    IMAGE_DATA_DIRECTORY directory(int index) const
    {
        if (!nt_ || static_cast<DWORD>(index) >= nt_->OptionalHeader.NumberOfRvaAndSizes) return {};
        return nt_->OptionalHeader.DataDirectory[index];
    }

    /* File offset of an RVA, through the section table; SIZE_MAX when outside. */
    size_t offset(DWORD rva) const
    {
        auto first = reinterpret_cast<const IMAGE_SECTION_HEADER *>(
            reinterpret_cast<const char *>(&nt_->OptionalHeader) + nt_->FileHeader.SizeOfOptionalHeader);
        for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER &s = first[i];
            DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return SIZE_MAX;
    }

    std::string string_at(size_t off) const
    {
        if (off >= bytes_.size()) return {};
        const char *p = bytes_.data() + off;
        return std::string(p, strnlen(p, bytes_.size() - off));
    }

    std::vector<char> bytes_;
    const IMAGE_NT_HEADERS64 *nt_ = nullptr;
};

} // namespace pe
