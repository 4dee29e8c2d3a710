/* The cost of a stoppoint on its fast path (no breakpoint, no global flag, no
 * abort pending): the node's text with its stoppoints, calling the built
 * module's __qex_stoppoint, against the same text built without them (the
 * text's stop action a no-op), per stoppoint passed, in nanoseconds and in
 * processor cycles (rdtsc). Also the module's own __cnode_node_text, which
 * keeps a debug frame as well, against the same baseline. Cycles are those of
 * the time-stamp counter, which ticks at the processor's nominal rate. */
#include <windows.h>
#include <x86intrin.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include "harness.h"
#include "module_symbols.h"
#include "node_text.h"

namespace {

using Stoppoint = void (*)(volatile unsigned char *);
using NodeText = void (*)(__cnode_node_locals *);

Stoppoint g_stoppoint = nullptr;
volatile unsigned char *g_table = nullptr;

void set_inputs(__cnode_node_locals *l)
{
    l->label = 1;
    l->err_code = 0;
    l->samp = 1;
    l->freq = 1;
    l->cap = 1;
    l->loss = 1;
    l->volt = 1;
    l->size = 16;
}

__attribute__((noinline)) void text_without_stoppoints(__cnode_node_locals *l)
{
    cnode_text::run(l, [](int) {});
}

__attribute__((noinline)) void text_with_stoppoints(__cnode_node_locals *l)
{
    cnode_text::run(l, [](int entry) { g_stoppoint(&g_table[entry]); });
}

int stoppoints_passed()
{
    __cnode_node_locals l;
    set_inputs(&l);
    int n = 0;
    cnode_text::run(&l, [&](int) { ++n; });
    return n;
}

struct Cost {
    double ns = 1e300, cycles = 1e300;
};

/* One timed run of many calls: nanoseconds (QueryPerformanceCounter) and
 * time-stamp-counter cycles per call, measured over the same calls. */
Cost one_run(NodeText text, long calls)
{
    __cnode_node_locals l;
    double t0 = bench::now_ns();
    unsigned long long c0 = __rdtsc();
    for (long i = 0; i < calls; ++i) {
        set_inputs(&l);
        text(&l);
    }
    unsigned long long c1 = __rdtsc();
    double t1 = bench::now_ns();
    return {(t1 - t0) / static_cast<double>(calls), static_cast<double>(c1 - c0) / static_cast<double>(calls)};
}

/* The three variants run in turn, many times, and each keeps its fastest run:
 * on a machine shared with other work the minimum is the run least disturbed,
 * and interleaving exposes all three to the same conditions. */
void measure(const std::vector<NodeText> &texts, long calls, int runs, std::vector<Cost> &best)
{
    best.assign(texts.size(), Cost{});
    for (size_t i = 0; i < texts.size(); ++i) one_run(texts[i], calls); /* warm-up */
    for (int r = 0; r < runs; ++r)
        for (size_t i = 0; i < texts.size(); ++i) {
            Cost c = one_run(texts[i], calls);
            best[i].ns = std::min(best[i].ns, c.ns);
            best[i].cycles = std::min(best[i].cycles, c.cycles);
        }
}

} // namespace

int main()
{
    std::string dir = testing_support::module_file(nullptr);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    HMODULE engine = LoadLibraryA((dir + "qex_gwrt.dll").c_str());
    HMODULE module = LoadLibraryA((dir + "parse_measurement.dll").c_str());
    if (!engine || !module) {
        std::fprintf(stderr, "cannot load the engine or the module\n");
        return 2;
    }
    g_stoppoint = testing_support::symbol_as<Stoppoint>(module, "__qex_stoppoint");
    g_table = testing_support::symbol_as<volatile unsigned char *>(module, "__qex_stoppoint_table");
    auto node_text = testing_support::symbol_as<NodeText>(module, "__cnode_node_text");
    if (!g_stoppoint || !g_table || !node_text) {
        std::fprintf(stderr, "the module's file lacks the symbols of its stoppoints\n");
        return 2;
    }

    constexpr long kCalls = 20000;
    constexpr int kRuns = 101;
    const int passed = stoppoints_passed();
    std::vector<Cost> best;
    measure({text_without_stoppoints, text_with_stoppoints, node_text}, kCalls, kRuns, best);
    const Cost &bare = best[0], &with = best[1], &module_text = best[2];

    std::printf("node text, %d stoppoints passed per call; fastest of %d runs of %ld calls each\n", passed, kRuns,
                kCalls);
    bench::report("text with the module's stoppoints", with.ns, "text without stoppoints", bare.ns);
    bench::report("module's __cnode_node_text (debug frame too)", module_text.ns, "text without stoppoints", bare.ns);
    std::printf("%-44s %10.2f cycles/call   %-28s %10.2f cycles/call\n", "text with the module's stoppoints",
                with.cycles, "text without stoppoints", bare.cycles);
    std::printf("%-44s %10.2f cycles/call\n", "module's __cnode_node_text", module_text.cycles);
    std::printf("per stoppoint (fast path): %.3f ns, %.2f cycles (goal: at most 4 cycles)\n",
                (with.ns - bare.ns) / passed, (with.cycles - bare.cycles) / passed);
    std::printf("per stoppoint in the module's text, debug frame included: %.3f ns, %.2f cycles\n",
                (module_text.ns - bare.ns) / passed, (module_text.cycles - bare.cycles) / passed);
    return 0;
}
