/* The cost of a whole __cnode_EntryPoint call (frame, helper start-up, source
 * text round trip, the text with its stoppoints) against a bare call of the
 * computation in the same process. */
#include <windows.h>
#include <cstdio>
#include <string>
#include "cnode.h"
#include "harness.h"
#include "node_text.h"

namespace {

template <typename T>
T export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

std::string exe_directory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

__attribute__((noinline)) void bare_computation(__cnode_node_locals *l)
{
    cnode_text::run(l, [](int) {});
}

} // namespace

int main()
{
    std::string dir = exe_directory();
    HMODULE engine = LoadLibraryA((dir + "qex_gwrt.dll").c_str());
    HMODULE memory = LoadLibraryA((dir + "gwrt.dll").c_str());
    HMODULE module = LoadLibraryA((dir + "parse_measurement.dll").c_str());
    if (!engine || !memory || !module) {
        std::fprintf(stderr, "cannot load the engine, the memory manager or the module\n");
        return 2;
    }
    auto entry = export_of<__cnode_EntryPoint_t>(module, "__cnode_EntryPoint");
    auto reserve = export_of<__cnode_callback_t>(module, "__cnode_reserve_callback");
    auto unreserve = export_of<__cnode_callback_t>(module, "__cnode_unreserve_callback");
    auto new_handle = export_of<void **(*)(size_t)>(memory, "DSNewHClr");
    /* The engine stand-in's protection log would measure itself, not the module. */
    if (auto log_enable = export_of<void (*)(int)>(engine, "standin_rte_protection_log_enable")) log_enable(0);
    int instance = 0;
    reserve(&instance);

    void **source = new_handle(4 + 6);
    *static_cast<int32_t *>(*source) = 6;
    __builtin_memcpy(static_cast<char *>(*source) + 4, "source", 6);

    int32_t o[8];
    __cnode_gwerror cluster{};
    cluster.source = source;
    double full = bench::median_ns_per_op(
        [&](long ops) {
            for (long i = 0; i < ops; ++i) {
                entry(&instance, 1, 0, 1, 1, static_cast<int32_t>(i & 1), 1, 16, 1, &o[0], &o[1], &o[2], &cluster,
                      &o[3], &o[4], &o[5], &o[6], &o[7]);
                bench::keep(o);
            }
        },
        20000);

    double bare = bench::median_ns_per_op(
        [&](long ops) {
            for (long i = 0; i < ops; ++i) {
                __cnode_node_locals l{};
                l.label = 1; l.samp = 1; l.freq = 1; l.cap = 1; l.loss = static_cast<int32_t>(i & 1);
                l.volt = 1; l.size = 16;
                bare_computation(&l);
                bench::keep(l);
            }
        },
        2000000);

    bench::report("__cnode_EntryPoint, one thread", full, "bare computation", bare);
    unreserve(&instance);
    return cluster.status == 0 ? 0 : 1;
}
