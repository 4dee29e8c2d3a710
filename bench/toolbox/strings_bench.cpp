/* The toolbox's strict decimal conversion StrToInt against the C runtime's
 * strtol (base 10) over the same texts: signed values of 1 to 10 digits, some
 * with surrounding blanks. Ratio = StrToInt / strtol; the goal is <= 1.0. */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include "harness.h"
#include "toolbox.h"

int main()
{
    std::mt19937 random(16);
    std::vector<std::string> texts;
    for (int i = 0; i < 4096; ++i) {
        int digits = 1 + static_cast<int>(random() % 9);
        long value = static_cast<long>(random() % 1000000000) % static_cast<long>(std::pow(10, digits));
        std::string t = std::to_string(random() % 2 ? value : -value);
        if (i % 8 == 0) t = "  " + t + " ";
        texts.push_back(t);
    }
    const long ops = static_cast<long>(texts.size());
    auto toolbox = [&](long n) {
        long sum = 0;
        for (long i = 0; i < n; ++i) {
            int v = 0;
            StrToInt(texts[static_cast<size_t>(i)].c_str(), &v);
            sum += v;
        }
        bench::keep(sum);
    };
    auto baseline = [&](long n) {
        long sum = 0;
        for (long i = 0; i < n; ++i) sum += std::strtol(texts[static_cast<size_t>(i)].c_str(), nullptr, 10);
        bench::keep(sum);
    };
    std::printf("toolbox strings (ratio = toolbox / C runtime; below 1 is faster)\n");
    bench::Paired t = bench::paired_median_ns_per_op(toolbox, ops, baseline, ops, 51);
    bench::report("StrToInt", t.subject_ns, "strtol", t.baseline_ns);
    return 0;
}
