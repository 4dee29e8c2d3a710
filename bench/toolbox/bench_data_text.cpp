/* Data-text conversion in MB/s of binary data, against memcpy in the same
 * process. Both sides get their output block from the engine's allocator and
 * free it, since the conversions return a new block: the baseline copies as
 * many input bytes as fit into a block of the converted size. Subject and baseline runs
 * alternate.
 *
 * Two sizes: 64 KiB, where the allocator's cost is small, and 4 MiB, where
 * the engine stand-in's allocator (the Windows heap under Wine, which hands
 * out fresh pages for blocks this large) dominates both sides. A third row
 * weighs the decoder's text-length scan against the C runtime's strlen. */
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>
#include "harness.h"
#include "qex_rte.h"
#include "text_length.h"
#include "toolbox.h"

namespace {

void row(const char *name, size_t bytes, const bench::Paired &t)
{
    auto mbps = [&](double ns) { return static_cast<double>(bytes) / ns * 1e3; };
    std::printf("%-20s %5zu KiB %8.0f MB/s   malloc+memcpy %8.0f MB/s   time ratio %6.2f\n", name, bytes >> 10,
                mbps(t.subject_ns), mbps(t.baseline_ns), t.subject_ns / t.baseline_ns);
}

void measure(size_t bytes)
{
    std::vector<unsigned char> data(bytes);
    std::mt19937 random(2026);
    for (auto &b : data) b = static_cast<unsigned char>(random());
    char *text = nullptr;
    if (!ConvertDataToText(data.data(), data.size(), &text)) return;
    size_t text_length = std::strlen(text);
    const int calls = bytes < (size_t{1} << 20) ? 32 : 2;

    auto copy = [&](const void *from, size_t n, size_t out) {
        auto *block = static_cast<unsigned char *>(qex_rte_malloc(out));
        std::memcpy(block, from, n);
        bench::keep(block[0]);
        qex_rte_free(block);
    };
    auto encode = [&](long n) {
        for (long i = 0; i < n; ++i) {
            char *t = nullptr;
            ConvertDataToText(data.data(), data.size(), &t);
            bench::keep(t[0]);
            qex_rte_free(t);
        }
    };
    auto copy_data = [&](long n) {
        for (long i = 0; i < n; ++i) copy(data.data(), bytes, text_length + 1);
    };
    row("ConvertDataToText", bytes, bench::paired_median_ns_per_op(encode, calls, copy_data, calls));

    auto decode = [&](long n) {
        for (long i = 0; i < n; ++i) {
            unsigned char *d = nullptr;
            size_t size = 0;
            ConvertTextToData(text, &size, &d);
            bench::keep(d[0]);
            qex_rte_free(d);
        }
    };
    auto copy_text = [&](long n) {
        for (long i = 0; i < n; ++i) copy(text, bytes, bytes);
    };
    row("ConvertTextToData", bytes, bench::paired_median_ns_per_op(decode, calls, copy_text, calls));

    /* The decoder's length scan against the C runtime's strlen of the same text. */
    auto scan = [&](long n) {
        for (long i = 0; i < n; ++i) bench::keep(text_length::of(text + (i & 1)));
    };
    auto runtime_strlen = [&](long n) {
        for (long i = 0; i < n; ++i) bench::keep(std::strlen(text + (i & 1)));
    };
    bench::Paired t = bench::paired_median_ns_per_op(scan, calls, runtime_strlen, calls);
    std::printf("%-20s %5zu KiB %8.0f MB/s   strlen        %8.0f MB/s   time ratio %6.2f\n", "text length scan",
                text_length >> 10, text_length / t.subject_ns * 1e3, text_length / t.baseline_ns * 1e3,
                t.subject_ns / t.baseline_ns);
    qex_rte_free(text);
}

} // namespace

int main()
{
    measure(size_t{64} << 10);
    measure(size_t{4} << 20);
    return 0;
}
