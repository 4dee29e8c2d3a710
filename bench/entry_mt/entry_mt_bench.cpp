/* The entry point's call cost, every call registering its instance under
 * the registry lock and binding through the one-time block: one thread on
 * one instance, and two threads each on its own instance at the same time
 * (wall time per call of one thread, and per call of both together), each
 * against the bare computation measured in the same process. */
#include <windows.h>
#include <cstdio>
#include <string>
#include <thread>
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

struct Caller {
    __cnode_EntryPoint_t entry;
    void *instance;
    void **source;
    int32_t status = 0;

    void calls(long ops)
    {
        int32_t o[8];
        __cnode_gwerror cluster{};
        cluster.source = source;
        for (long i = 0; i < ops; ++i) {
            entry(instance, 1, 0, 1, 1, static_cast<int32_t>(i & 1), 1, 16, 1, &o[0], &o[1], &o[2], &cluster, &o[3],
                  &o[4], &o[5], &o[6], &o[7]);
            bench::keep(o);
        }
        status |= cluster.status;
    }
};

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
    auto new_string = export_of<void **(*)(const char *, int32_t)>(memory, "standin_mem_new_string");
    /* The engine stand-in's protection log would measure itself, not the module. */
    if (auto log_enable = export_of<void (*)(int)>(engine, "standin_rte_protection_log_enable")) log_enable(0);
    if (!entry || !reserve || !unreserve || !new_string) {
        std::fprintf(stderr, "missing exports\n");
        return 2;
    }

    char instances[2] = {};
    for (char &instance : instances) reserve(&instance);
    Caller first{entry, &instances[0], new_string("source", 6)};
    Caller second{entry, &instances[1], new_string("source", 6)};
    constexpr long kCalls = 50000;

    auto bare = [](long ops) {
        for (long i = 0; i < ops; ++i) {
            __cnode_node_locals l{};
            l.label = 1; l.samp = 1; l.freq = 1; l.cap = 1; l.loss = static_cast<int32_t>(i & 1);
            l.volt = 1; l.size = 16;
            bare_computation(&l);
            bench::keep(l);
        }
    };
    constexpr long kBareCalls = 200000;
    /* Each side alternates with the bare computation, so a ratio compares
     * runs made under the same conditions. */
    bench::Paired one = bench::paired_median_ns_per_op([&](long ops) { first.calls(ops); }, kCalls, bare, kBareCalls);
    /* The second thread lives through all rounds and starts each on a signal:
     * a thread created per round would add its creation to the round's time. */
    HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr), done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    long round_ops = 0;
    bool stop = false;
    std::thread other([&] {
        for (;;) {
            WaitForSingleObject(go, INFINITE);
            if (stop) return;
            second.calls(round_ops);
            SetEvent(done);
        }
    });
    bench::Paired two = bench::paired_median_ns_per_op(
        [&](long ops) {
            round_ops = ops;
            SetEvent(go);
            first.calls(ops);
            WaitForSingleObject(done, INFINITE);
        },
        kCalls, bare, kBareCalls);
    stop = true;
    SetEvent(go);
    other.join();
    CloseHandle(go);
    CloseHandle(done);
    double one_thread = one.subject_ns, two_threads = two.subject_ns;

    bench::report("entry point, one thread", one_thread, "bare computation", one.baseline_ns);
    bench::report("entry point, two threads: per call of one", two_threads, "bare computation", two.baseline_ns);
    bench::report("entry point, two threads: per call of both", two_threads / 2, "bare computation",
                  two.baseline_ns);
    /* Throughput of the pair against one thread alone, each side's time
     * scaled by the bare computation of its own rounds (the machine's state). */
    std::printf("two threads' throughput / one thread's: %.2f (raw %.2f)\n",
                (one_thread / one.baseline_ns) / (two_threads / 2 / two.baseline_ns), one_thread / (two_threads / 2));
    for (char &instance : instances) unreserve(&instance);
    return first.status == 0 && second.status == 0 ? 0 : 1;
}
