/* A small benchmark harness: QueryPerformanceCounter timing, a warm-up, repeated
 * runs and the median, reported as nanoseconds per operation and as a ratio
 * against a baseline measured in the same process. */
#pragma once
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <vector>

namespace bench {

inline double now_ns()
{
    static LARGE_INTEGER freq = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1e9 / static_cast<double>(freq.QuadPart);
}

/* The median of samples. */
inline double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

/* Median nanoseconds per operation of body(ops), which performs ops operations. */
template <typename Body>
double median_ns_per_op(Body &&body, long ops, int runs = 15, int warmups = 3)
{
    for (int i = 0; i < warmups; ++i) body(ops);
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        double t0 = now_ns();
        body(ops);
        samples.push_back((now_ns() - t0) / static_cast<double>(ops));
    }
    return median(std::move(samples));
}

/* Medians of a subject and its baseline measured in alternation, so that both
 * see the same state of a shared machine (its load, the core's clock): each
 * round times subject(subject_ops), then baseline(baseline_ops). */
struct Paired {
    double subject_ns, baseline_ns;
};

template <typename Subject, typename Baseline>
Paired paired_median_ns_per_op(Subject &&subject, long subject_ops, Baseline &&baseline, long baseline_ops,
                               int runs = 21, int warmups = 3)
{
    std::vector<double> s, b;
    for (int i = 0; i < warmups + runs; ++i) {
        double t0 = now_ns();
        subject(subject_ops);
        double t1 = now_ns();
        baseline(baseline_ops);
        double t2 = now_ns();
        if (i < warmups) continue;
        s.push_back((t1 - t0) / static_cast<double>(subject_ops));
        b.push_back((t2 - t1) / static_cast<double>(baseline_ops));
    }
    return {median(std::move(s)), median(std::move(b))};
}

/* Medians of subject() and baseline() in ns per operation, measured in
 * alternation, each timed run preceded by its untimed setup; one warm-up
 * round. */
template <typename SubjectSetup, typename Subject, typename BaselineSetup, typename Baseline>
Paired alternate(SubjectSetup &&subject_setup, Subject &&subject, BaselineSetup &&baseline_setup,
                 Baseline &&baseline, double ops, int runs)
{
    std::vector<double> s, b;
    for (int i = 0; i <= runs; ++i) {
        subject_setup();
        double t0 = now_ns();
        subject();
        double t1 = now_ns();
        baseline_setup();
        double t2 = now_ns();
        baseline();
        double t3 = now_ns();
        if (i == 0) continue; /* warm-up */
        s.push_back((t1 - t0) / ops);
        b.push_back((t3 - t2) / ops);
    }
    return {median(s), median(b)};
}

/* Prints one result row: name, ns/op of the subject and the baseline, and their ratio. */
inline void report(const char *name, double subject_ns, const char *baseline_name, double baseline_ns)
{
    std::printf("%-44s %10.2f ns/op   %-28s %10.2f ns/op   ratio %7.2f\n", name, subject_ns, baseline_name,
                baseline_ns, baseline_ns > 0 ? subject_ns / baseline_ns : 0.0);
}

/* Keeps the optimiser from discarding a computed value. A scalar is handed
 * over in a register: taking its address would make an accumulator that a
 * loop of calls keeps live a memory variable for the whole loop, and the loop
 * would then time a read-modify-write of a stack slot on every call, which a
 * loop without calls (the baseline) does not pay. */
template <typename T>
inline void keep(T const &value)
{
    if constexpr (std::is_scalar_v<T>)
        asm volatile("" : : "r"(value) : "memory");
    else
        asm volatile("" : : "g"(&value) : "memory");
}

} // namespace bench
