/* Loads the built node module the way the host engine does and hands out its
 * four exports; also gives tests the directory of the running executable. */
#pragma once
#include <windows.h>
#include <string>
#include "cnode.h"

namespace testing_support {

inline std::string exe_directory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

template <typename T>
T export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

struct NodeModule {
    HMODULE handle = nullptr;
    __cnode_EntryPoint_t entry = nullptr;
    __cnode_callback_t reserve = nullptr, unreserve = nullptr, abort = nullptr;

    bool load(const std::string &name = "parse_measurement.dll")
    {
        handle = LoadLibraryA((exe_directory() + name).c_str());
        if (!handle) return false;
        entry = export_of<__cnode_EntryPoint_t>(handle, "__cnode_EntryPoint");
        reserve = export_of<__cnode_callback_t>(handle, "__cnode_reserve_callback");
        unreserve = export_of<__cnode_callback_t>(handle, "__cnode_unreserve_callback");
        abort = export_of<__cnode_callback_t>(handle, "__cnode_abort_callback");
        return entry && reserve && unreserve && abort;
    }
    void unload()
    {
        if (handle) FreeLibrary(handle);
        handle = nullptr;
    }
};

} // namespace testing_support
