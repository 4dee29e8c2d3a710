/* Speed of the toolbox's sorting, searching and random generator against the
 * C runtime in the same process: HeapSort (10^6 ints) and InsertionSort (10^3
 * ints) against qsort with the same comparison function, BinSearch against
 * bsearch, and Random per call against a plain inline Wichmann-Hill step.
 * Goals: HeapSort <= 2x qsort, BinSearch <= 1.2x bsearch, Random <= 2x the
 * inline step. A further row weighs Random, which finds the thread's record
 * kept in a TLS slot, against the same step on the record asked of the engine
 * on every call (what the accessor did before it kept the record).
 *
 * Subject and baseline runs alternate, so that both see the same load of a
 * shared machine; each side reports the median of its runs. */
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>
#include "cnode_startup.h"
#include "harness.h"
#include "../../module/toolbox/toolbox_globals.h"
#include "toolbox.h"

namespace {

/* The comparison both sides use, called through a pointer by both. */
__attribute__((noinline)) int compare_ints(const void *a, const void *b)
{
    int x = *static_cast<const int *>(a);
    int y = *static_cast<const int *>(b);
    return (x > y) - (x < y);
}

std::vector<int> random_ints(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<int> v(n);
    for (int &x : v) x = static_cast<int>(random());
    return v;
}

/* ns per element of sorting a fresh copy of data; subject and qsort alternate. */
template <typename Sort>
void bench_sort(const char *name, size_t n, int runs, Sort sort)
{
    const std::vector<int> data = random_ints(n, 20261210);
    std::vector<int> work(n);
    std::vector<double> s, b;
    for (int i = 0; i <= runs; ++i) {
        work = data;
        double t0 = bench::now_ns();
        sort(work.data(), n, sizeof(int), compare_ints);
        double t1 = bench::now_ns();
        bench::keep(work[n / 2]);
        work = data;
        double t2 = bench::now_ns();
        std::qsort(work.data(), n, sizeof(int), compare_ints);
        double t3 = bench::now_ns();
        bench::keep(work[n / 2]);
        if (i == 0) continue;
        s.push_back((t1 - t0) / static_cast<double>(n));
        b.push_back((t3 - t2) / static_cast<double>(n));
    }
    std::sort(s.begin(), s.end());
    std::sort(b.begin(), b.end());
    bench::report(name, s[s.size() / 2], "qsort", b[b.size() / 2]);
}

void bench_search()
{
    constexpr size_t kCount = 100000;
    constexpr long kLookups = 200000;
    std::vector<int> sorted = random_ints(kCount, 5);
    std::sort(sorted.begin(), sorted.end());
    /* Half the keys present, half absent. */
    std::vector<int> keys = random_ints(kLookups, 6);
    for (size_t i = 0; i < keys.size(); i += 2) keys[i] = sorted[static_cast<size_t>(keys[i]) % kCount];
    auto r = bench::paired_median_ns_per_op(
        [&](long ops) {
            long found = 0;
            for (long i = 0; i < ops; ++i)
                found += BinSearch(sorted.data(), kCount, sizeof(int), &keys[size_t(i)], compare_ints) >= 0;
            bench::keep(found);
        },
        kLookups,
        [&](long ops) {
            long found = 0;
            for (long i = 0; i < ops; ++i)
                found += std::bsearch(&keys[size_t(i)], sorted.data(), kCount, sizeof(int), compare_ints) != nullptr;
            bench::keep(found);
        },
        kLookups);
    bench::report("BinSearch, 10^5 ints", r.subject_ns, "bsearch", r.baseline_ns);
}

/* One Wichmann-Hill step with the state in registers: the generator's own
 * work without finding a per-thread record. */
struct InlineGenerator {
    int x = 5009, y = (5009 * 8191) & 0x3FFF, z = (((5009 * 8191) & 0x3FFF) * 8191) & 0x3FFF;
    double step(double minimum, double maximum)
    {
        x = 171 * x % 30269;
        y = 172 * y % 30307;
        z = 170 * z % 30323;
        double u = (x * (1.0 / 30269) + y * (1.0 / 30307)) + z * (1.0 / 30323);
        double f = u - std::floor(u);
        if (f < 0) f += 1.0;
        return (maximum - minimum) * f + minimum;
    }
};

/* Random's work on the thread's record as the engine's look-up gives it on
 * every call. */
__attribute__((noinline)) double random_with_engine_lookup(double minimum, double maximum)
{
    void *found = nullptr;
    CmtGetThreadLocalVar(toolbox::g_thread_record_variable, &found);
    auto *r = static_cast<toolbox::ThreadRecord *>(found);
    if (r->reseed) {
        r->reseed = 0;
        r->x = 0;
    }
    r->x = 171 * r->x % 30269;
    r->y = 172 * r->y % 30307;
    r->z = 170 * r->z % 30323;
    double u = (r->x * r->reciprocal[0] + r->y * r->reciprocal[1]) + r->z * r->reciprocal[2];
    double f = u - std::floor(u);
    if (f < 0) f += 1.0;
    return (maximum - minimum) * f + minimum;
}

void bench_random()
{
    constexpr long kDraws = 1000000;
    InlineGenerator generator;
    auto r = bench::paired_median_ns_per_op(
        [](long ops) {
            double sum = 0;
            for (long i = 0; i < ops; ++i) sum += Random(0.0, 1.0);
            bench::keep(sum);
        },
        kDraws,
        [&](long ops) {
            double sum = 0;
            for (long i = 0; i < ops; ++i) sum += generator.step(0.0, 1.0);
            bench::keep(sum);
        },
        kDraws);
    bench::report("Random per call", r.subject_ns, "inline Wichmann-Hill step", r.baseline_ns);

    auto engine_lookup = bench::paired_median_ns_per_op(
        [](long ops) {
            double sum = 0;
            for (long i = 0; i < ops; ++i) sum += Random(0.0, 1.0);
            bench::keep(sum);
        },
        kDraws,
        [](long ops) {
            double sum = 0;
            for (long i = 0; i < ops; ++i) sum += random_with_engine_lookup(0.0, 1.0);
            bench::keep(sum);
        },
        kDraws);
    bench::report("Random per call", engine_lookup.subject_ns, "record looked up in the engine",
                  engine_lookup.baseline_ns);
}

} // namespace

int main()
{
    /* The loader entry opens the exit-function library in the DLL; the
     * generator's first use registers the toolbox's clean-up there. */
    _InitExitLib();
    bench_sort("HeapSort, 10^6 ints, per element", 1000000, 7, HeapSort);
    bench_sort("InsertionSort, 10^3 ints, per element", 1000, 51, InsertionSort);
    bench_search();
    bench_random();
    return 0;
}
