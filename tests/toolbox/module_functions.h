/* Toolbox functions of the built node module (parse_measurement.dll), found by
 * name in the linkage table the module handed to the engine when it loaded:
 * module_function keeps the module loaded for the rest of the process;
 * ModuleFunctions loads it for its own lifetime, so a test can check that
 * unloading gives back everything. */
#pragma once
#include "module_loader.h"

namespace toolbox_test {

/* The function the engine knows by name for a loaded module, or null. */
inline void *linked_function(void *module, const char *name)
{
    using Lookup = void *(*)(void *, const char *);
    auto lookup = testing_support::export_of<Lookup>(GetModuleHandleA("qex_gwrt.dll"), "standin_rte_lookup_function");
    return lookup && module ? lookup(module, name) : nullptr;
}

template <typename F>
F *module_function(const char *name)
{
    static testing_support::NodeModule module;
    if (!module.handle && !module.load()) return nullptr;
    return reinterpret_cast<F *>(linked_function(module.handle, name));
}

class ModuleFunctions {
public:
    ModuleFunctions() { module_.load(); }
    ~ModuleFunctions() { module_.unload(); }
    bool loaded() const { return module_.handle != nullptr; }
    template <typename F>
    F *get(const char *name) const
    {
        return reinterpret_cast<F *>(linked_function(module_.handle, name));
    }

private:
    testing_support::NodeModule module_;
};

} // namespace toolbox_test
