/* The toolbox functions of the built node module (parse_measurement.dll), found
 * by name in the linkage table the module handed to the engine at load. */
#pragma once
#include <windows.h>
#include "module_loader.h"

namespace toolbox_test {

class ModuleFunctions {
public:
    ModuleFunctions() { module_.load(); }
    ~ModuleFunctions() { module_.unload(); }
    bool loaded() const { return module_.handle != nullptr; }
    template <typename F>
    F *get(const char *name) const
    {
        using Lookup = void *(*)(void *, const char *);
        auto lookup = testing_support::export_of<Lookup>(GetModuleHandleA("qex_gwrt.dll"), "standin_rte_lookup_function");
        return lookup ? reinterpret_cast<F *>(lookup(module_.handle, name)) : nullptr;
    }

private:
    testing_support::NodeModule module_;
};

} // namespace toolbox_test
