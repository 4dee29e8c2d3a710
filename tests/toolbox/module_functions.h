/* A toolbox function of the built node module (parse_measurement.dll), found by
 * name in the linkage table the module handed to the engine when it loaded. */
#pragma once
#include "module_loader.h"

namespace toolbox_test {

template <typename F>
F *module_function(const char *name)
{
    static testing_support::NodeModule module;
    if (!module.handle && !module.load()) return nullptr;
    using Lookup = void *(*)(void *, const char *);
    auto lookup = testing_support::export_of<Lookup>(GetModuleHandleA("qex_gwrt.dll"), "standin_rte_lookup_function");
    return lookup ? reinterpret_cast<F *>(lookup(module.handle, name)) : nullptr;
}

} // namespace toolbox_test
