/* Speed of list ordering and of the byte search in files, against baselines
 * in the same process: ListQuickSort against the C runtime's qsort with the
 * same IntCompare, ListInsertInOrder against std::vector insertion at
 * std::lower_bound, and FindBytesInFile over a 64 MiB file against reading
 * the same file in the same 128-byte chunks without looking at them.
 *
 * Subject and baseline runs alternate, so that both see the same load of a
 * shared machine; each side reports the median of its runs. */
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "byte_scan.h"
#include "harness.h"
#include "qex_rte.h"
#include "toolbox.h"

namespace {

using Timing = bench::Paired;
using bench::alternate;

void quick_sort_against_qsort()
{
    constexpr size_t kCount = 1000000;
    std::mt19937 rng(1);
    std::vector<int> data(kCount);
    for (int &v : data) v = static_cast<int>(rng());
    ListType list = ListCreate(sizeof(int));
    ListInsertItems(list, data.data(), LIST_POS_END, kCount);
    std::vector<int> copy;
    Timing t = alternate(
        [&] { std::copy(data.begin(), data.end(), static_cast<int *>(ListGetDataPtr(list))); },
        [&] { ListQuickSort(list, IntCompare); },
        [&] { copy = data; },
        [&] { std::qsort(copy.data(), copy.size(), sizeof(int), IntCompare); }, kCount, 7);
    bench::report("ListQuickSort 10^6 ints, IntCompare", t.subject_ns, "qsort, IntCompare", t.baseline_ns);
    if (!ListIsSorted(list, IntCompare)) std::puts("  (not sorted!)");
    ListDispose(list);
}

void insert_in_order_against_vector()
{
    constexpr size_t kCount = 10000;
    std::mt19937 rng(2);
    std::vector<int> data(kCount);
    for (int &v : data) v = static_cast<int>(rng() % 100000);
    ListType list = nullptr;
    std::vector<int> sorted;
    auto nothing = [] {};
    Timing t = alternate(
        nothing,
        [&] {
            list = ListCreate(sizeof(int));
            for (int v : data) ListInsertInOrder(list, &v, IntCompare);
            ListDispose(list);
        },
        nothing,
        [&] {
            sorted.clear();
            sorted.shrink_to_fit();
            for (int v : data) sorted.insert(std::lower_bound(sorted.begin(), sorted.end(), v), v);
            bench::keep(sorted.data());
        },
        kCount, 15);
    bench::report("ListInsertInOrder 10^4 ints", t.subject_ns, "vector insert at lower_bound", t.baseline_ns);
}

void find_bytes_against_reading(const char *what, const std::string &bytes, const std::string &sought)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string path = std::string(temp) + "bench_find_bytes_" + std::to_string(GetCurrentProcessId()) + ".bin";
    FILE *out = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    FILE *s = qex_rte_fopen(path.c_str(), "rb");
    long skipped = 0;
    int found = 1;
    auto rewind = [&] { qex_rte_fseek(s, 0, SEEK_SET); };
    Timing t = alternate(
        rewind, [&] { found = FindBytesInFile(s, sought.data(), static_cast<int>(sought.size()), &skipped, nullptr); },
        rewind,
        [&] {
            char chunk[128];
            while (qex_rte_fread(chunk, 1, sizeof chunk, s) == sizeof chunk) bench::keep(chunk[0]);
        },
        static_cast<double>(bytes.size()), 5);
    qex_rte_fclose(s);
    std::remove(path.c_str());
    std::string name = std::string("FindBytesInFile 64 MiB, ") + what;
    bench::report(name.c_str(), t.subject_ns, "fread 128-byte chunks", t.baseline_ns);
    std::printf("  %.0f MB/s (fread alone %.0f MB/s)%s\n", 1e3 / t.subject_ns, 1e3 / t.baseline_ns,
                found == 0 && skipped == static_cast<long>(bytes.size()) ? "" : "  (unexpected find!)");
}

/* The first-byte scan FindBytesInFile runs over each 128-byte chunk, against
 * the C runtime's memchr on the same chunks. */
void byte_scan_against_memchr(const std::string &bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    constexpr size_t kSpan = 1u << 20;
    auto scan = [&](auto find) {
        size_t hits = 0;
        for (size_t at = 0; at < kSpan; at += 128) {
            const unsigned char *p = data + at, *end = p + 128;
            while (p < end && (p = find(p, static_cast<size_t>(end - p))) != nullptr) ++p, ++hits;
        }
        bench::keep(hits);
    };
    auto nothing = [] {};
    Timing t = alternate(
        nothing, [&] { scan([](const unsigned char *p, size_t n) { return byte_scan::find_byte(p, n, 0x0D); }); },
        nothing,
        [&] {
            scan([](const unsigned char *p, size_t n) {
                return static_cast<const unsigned char *>(std::memchr(p, 0x0D, n));
            });
        },
        kSpan, 15);
    bench::report("byte_scan::find_byte, 128-byte chunks", t.subject_ns, "memchr", t.baseline_ns);
}

} // namespace

int main()
{
    quick_sort_against_qsort();
    insert_in_order_against_vector();
    constexpr size_t kBytes = 64u << 20;
    std::mt19937 rng(3);
    std::string random(kBytes, '\0'), letters(kBytes, '\0');
    for (char &c : random) c = static_cast<char>(rng() & 0xFF);
    for (char &c : letters) c = static_cast<char>('a' + (rng() & 1));
    byte_scan_against_memchr(random);
    find_bytes_against_reading("random bytes", random, "\r\n\xFF\xFE\xFD\xFC\xFB\xFA");
    find_bytes_against_reading("letters a, b", letters, std::string(40, 'a'));
    return 0;
}
