/* The entry point's call cost, every call registering its instance under
 * the registry lock and binding through the one-time block: one thread on
 * one instance, and two threads each on its own instance at the same time
 * (wall time per call of one thread, and per call of both together), each
 * against the bare computation measured in the same process. */
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>
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
    constexpr long kCalls = 50000, kBareCalls = 200000;
    constexpr int kWarmups = 3, kRounds = 41;

    auto bare = [](long ops) {
        for (long i = 0; i < ops; ++i) {
            __cnode_node_locals l{};
            l.label = 1; l.samp = 1; l.freq = 1; l.cap = 1; l.loss = static_cast<int32_t>(i & 1);
            l.volt = 1; l.size = 16;
            bare_computation(&l);
            bench::keep(l);
        }
    };

    /* The second thread lives through all rounds and spins between them on
     * a round counter, so that it starts the moment the first does: waking a
     * sleeping thread takes milliseconds on some machines (an idle processor
     * of a virtual machine is parked), as long as a whole round. */
    std::atomic<long> round{0}, finished{0};
    std::thread other([&] {
        for (long seen = 0;;) {
            long r;
            while ((r = round.load(std::memory_order_acquire)) == seen) YieldProcessor();
            if (r < 0) return;
            seen = r;
            second.calls(kCalls);
            finished.store(r, std::memory_order_release);
        }
    });

    /* Each round times one thread alone, both threads together and the bare
     * computation, back to back, so that the ratios of a round compare runs
     * made under the same state of the machine; the medians over the rounds
     * are reported. */
    std::vector<double> one_ns, two_ns, bare_ns, scaling;
    for (int r = 1; r <= kWarmups + kRounds; ++r) {
        double t0 = bench::now_ns();
        first.calls(kCalls);
        double t1 = bench::now_ns();
        round.store(r, std::memory_order_release);
        first.calls(kCalls);
        while (finished.load(std::memory_order_acquire) != r) YieldProcessor();
        double t2 = bench::now_ns();
        bare(kBareCalls);
        double t3 = bench::now_ns();
        if (r <= kWarmups) continue;
        one_ns.push_back((t1 - t0) / kCalls);
        two_ns.push_back((t2 - t1) / kCalls);
        bare_ns.push_back((t3 - t2) / kBareCalls);
        scaling.push_back(2 * (t1 - t0) / (t2 - t1));
    }
    round.store(-1, std::memory_order_release);
    other.join();
    using bench::median;
    double one_thread = median(one_ns), two_threads = median(two_ns), baseline = median(bare_ns);

    bench::report("entry point, one thread", one_thread, "bare computation", baseline);
    bench::report("entry point, two threads: per call of one", two_threads, "bare computation", baseline);
    bench::report("entry point, two threads: per call of both", two_threads / 2, "bare computation", baseline);
    /* Per round: calls per second of the pair against one thread's alone. */
    std::sort(scaling.begin(), scaling.end());
    std::printf("two threads' throughput / one thread's: %.2f (median of %d rounds; quartiles %.2f to %.2f)\n",
                median(scaling), kRounds, scaling[scaling.size() / 4], scaling[scaling.size() * 3 / 4]);
    for (char &instance : instances) unreserve(&instance);
    return first.status == 0 && second.status == 0 ? 0 : 1;
}
