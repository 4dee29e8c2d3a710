/* Speed of the toolbox containers against the standard library in the same
 * process: the list against std::vector, the hash table against
 * std::unordered_map with std::hash, and the lookup3 hash against memcpy of the
 * same buffer. Every row prints both timings and subject / baseline.
 *
 * Subject and baseline runs alternate, so that both see the same load of a
 * shared machine; each side reports the median of its runs. */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>
#include "harness.h"
#include "hash_table_internal.h"
#include "toolbox.h"

namespace {

using Timing = bench::Paired;
using bench::alternate;

template <typename Subject, typename Baseline>
Timing alternate(Subject &&subject, Baseline &&baseline, long ops, int runs)
{
    auto nothing = [] {};
    return alternate(nothing, subject, nothing, baseline, ops, runs);
}

void report(const char *name, Timing t, const char *baseline_name)
{
    bench::report(name, t.subject_ns, baseline_name, t.baseline_ns);
}

/* ---------------------------------- lists ---------------------------------- */

void bench_lists()
{
    constexpr long kAppends = 1000000;
    report("list append, 10^6 ints",
           alternate(
               [] {
                   ListType list = ListCreate(sizeof(int));
                   for (int i = 0; i < kAppends; ++i) ListInsertItem(list, &i, LIST_POS_END);
                   bench::keep(list);
                   ListDispose(list);
               },
               [] {
                   std::vector<int> v;
                   for (int i = 0; i < kAppends; ++i) v.push_back(i);
                   bench::keep(v);
               },
               kAppends, 7),
           "vector push_back");

    constexpr long kFront = 10000;
    report("list insert at front, 10^4 ints",
           alternate(
               [] {
                   ListType list = ListCreate(sizeof(int));
                   for (int i = 0; i < kFront; ++i) ListInsertItem(list, &i, LIST_POS_FRONT);
                   bench::keep(list);
                   ListDispose(list);
               },
               [] {
                   std::vector<int> v;
                   for (int i = 0; i < kFront; ++i) v.insert(v.begin(), i);
                   bench::keep(v);
               },
               kFront, 7),
           "vector insert at begin");

    constexpr int kFindItems = 100000;
    ListType list = ListCreate(sizeof(int));
    std::vector<int> v;
    for (int i = 0; i < kFindItems; ++i) {
        ListInsertItem(list, &i, LIST_POS_END);
        v.push_back(i);
    }
    int missing = -1;
    /* one search through all items per run, reported per item */
    report("ListFindItem over 10^5 ints (per item)",
           alternate([&] { bench::keep(ListFindItem(list, &missing, LIST_POS_FRONT, nullptr)); },
                     [&] { bench::keep(std::find(v.begin(), v.end(), missing)); }, kFindItems, 21),
           "std::find");
    ListDispose(list);
}

/* ------------------------------- hash tables ------------------------------- */

constexpr long kKeys = 100000;

struct Value {
    uint64_t a, b;
};

/* Builds, reads and empties a table and a map of the same pairs. */
template <typename Key, typename TableKey>
void bench_table_against_map(const char *what, int keyKind, size_t keySize, const std::vector<Key> &keys,
                             TableKey table_key)
{
    std::vector<Key> lookups = keys;
    std::shuffle(lookups.begin(), lookups.end(), std::mt19937(99));
    HashTableType table = nullptr;
    std::unordered_map<Key, Value> map;
    auto new_table = [&] {
        if (table) HashTableDispose(table);
        HashTableCreate(0, keyKind, keySize, sizeof(Value), &table);
    };
    auto fill_table = [&] {
        Value v{1, 2};
        for (const Key &k : keys) HashTableInsertItem(table, table_key(k), &v);
    };
    auto new_map = [&] { map = std::unordered_map<Key, Value>(); };
    auto fill_map = [&] {
        for (const Key &k : keys) map.emplace(k, Value{1, 2});
    };
    char name[96];

    std::snprintf(name, sizeof name, "hash insert, 10^5 %s", what);
    report(name, alternate(new_table, fill_table, new_map, fill_map, kKeys, 9), "unordered_map emplace");

    /* both are full now */
    std::snprintf(name, sizeof name, "hash get, 10^5 %s", what);
    report(name,
           alternate(
               [&] {
                   uint64_t sum = 0;
                   for (const Key &k : lookups) {
                       Value v;
                       HashTableGetItem(table, table_key(k), &v, sizeof v);
                       sum += v.a;
                   }
                   bench::keep(sum);
               },
               [&] {
                   uint64_t sum = 0;
                   for (const Key &k : lookups) {
                       auto it = map.find(k);
                       Value v = it != map.end() ? it->second : Value{0, 0};
                       sum += v.a;
                   }
                   bench::keep(sum);
               },
               kKeys, 21),
           "unordered_map find");

    /* The same lookups, each key chosen by the value the previous one read: the
     * latency of a single lookup, as a caller sees it that looks one key up
     * and acts on it, without overlap between lookups. */
    std::snprintf(name, sizeof name, "hash get one after another, %s", what);
    const size_t n = lookups.size();
    report(name,
           alternate(
               [&] {
                   uint64_t carried = 0;
                   for (size_t i = 0; i < n; ++i) {
                       Value v;
                       HashTableGetItem(table, table_key(lookups[(i + carried) % n]), &v, sizeof v);
                       carried = v.a - 1; /* 0, known only once the value is read */
                   }
                   bench::keep(carried);
               },
               [&] {
                   uint64_t carried = 0;
                   for (size_t i = 0; i < n; ++i) {
                       auto it = map.find(lookups[(i + carried) % n]);
                       Value v = it != map.end() ? it->second : Value{0, 0};
                       carried = v.a - 1;
                   }
                   bench::keep(carried);
               },
               kKeys, 21),
           "unordered_map find");

    std::snprintf(name, sizeof name, "hash remove, 10^5 %s", what);
    report(name,
           alternate([&] { new_table(); fill_table(); },
                     [&] {
                         for (const Key &k : lookups) {
                             Value v;
                             HashTableRemoveItem(table, table_key(k), &v, sizeof v);
                         }
                     },
                     [&] { new_map(); fill_map(); },
                     [&] {
                         for (const Key &k : lookups) map.erase(k);
                     },
                     kKeys, 9),
           "unordered_map erase");
    HashTableDispose(table);
}

void bench_tables()
{
    std::mt19937_64 random(42);
    std::vector<uint64_t> fixed(kKeys);
    for (auto &k : fixed) k = random() & ~uint64_t{15}; /* pointer-like keys */
    bench_table_against_map("8-byte keys", HASH_KEY_FIXED, 8, fixed, [](const uint64_t &k) { return &k; });

    std::vector<std::string> strings;
    for (long i = 0; i < kKeys; ++i) strings.push_back("k" + std::to_string(random() % 1000) + "_" + std::to_string(i));
    bench_table_against_map("short string keys", HASH_KEY_CSTRING, 0, strings,
                            [](const std::string &k) { return k.c_str(); });
}

/* HashTableGetItem against its own checked path (every check in order, the
 * general search) over the same table of 8-byte keys: the fast path stays
 * only while it wins. Independent lookups show how many lookups the
 * processor keeps in flight; dependent ones (each key picked by the value the
 * previous get read) show a single lookup's latency. Many short runs, each
 * taking the next slice of one long random sequence of present keys, so that
 * a run seldom straddles a switch to another program and neither side reads
 * the keys the other has just brought into the cache. */
void bench_get_paths()
{
    constexpr long kPerRun = 10000;
    constexpr int kRuns = 301;
    for (long items : {1000L, 100000L}) {
        std::mt19937_64 random(7);
        std::vector<uint64_t> keys(static_cast<size_t>(items));
        for (auto &k : keys) k = random() & ~uint64_t{15};
        HashTableType table = nullptr;
        HashTableCreate(0, HASH_KEY_FIXED, 8, sizeof(Value), &table);
        Value one{1, 2};
        for (const uint64_t &k : keys) HashTableInsertItem(table, &k, &one);
        std::vector<uint64_t> lookups;
        while (lookups.size() < size_t{1} << 20) {
            std::shuffle(keys.begin(), keys.end(), random);
            lookups.insert(lookups.end(), keys.begin(), keys.end());
        }
        size_t cursor = 0;
        auto next_slice = [&] {
            if (cursor + kPerRun > lookups.size()) cursor = 0;
            const uint64_t *slice = &lookups[cursor];
            cursor += kPerRun;
            return slice;
        };

        using Get = int (*)(HashTableType, const void *, void *, size_t);
        auto independent = [&](Get get) {
            const uint64_t *slice = next_slice();
            uint64_t sum = 0;
            for (long i = 0; i < kPerRun; ++i) {
                Value v;
                get(table, &slice[i], &v, sizeof v);
                sum += v.a;
            }
            bench::keep(sum);
        };
        auto dependent = [&](Get get) {
            const uint64_t *slice = next_slice();
            uint64_t carried = 0;
            for (long i = 0; i < kPerRun; ++i) {
                Value v;
                get(table, &slice[static_cast<uint64_t>(i) + carried], &v, sizeof v);
                carried = v.a - 1; /* 0, known only once the value is read */
            }
            bench::keep(carried);
        };
        Get fast = &HashTableGetItem;
        Get checked = &toolbox::hash_table_get_checked;
        char name[96];
        std::snprintf(name, sizeof name, "get A/B, 10^%d 8-byte keys, independent", items == 1000 ? 3 : 5);
        report(name, alternate([&] { independent(fast); }, [&] { independent(checked); }, kPerRun, kRuns),
               "checked get");
        std::snprintf(name, sizeof name, "get A/B, 10^%d 8-byte keys, dependent", items == 1000 ? 3 : 5);
        report(name, alternate([&] { dependent(fast); }, [&] { dependent(checked); }, kPerRun, kRuns),
               "checked get");
        HashTableDispose(table);
    }
}

/* ------------------------------ the lookup3 hash ------------------------------ */

void bench_lookup3()
{
    constexpr long kBytes = 64 * 1024;
    std::vector<unsigned char> source(kBytes), target(kBytes);
    std::mt19937 random(3);
    for (auto &b : source) b = static_cast<unsigned char>(random());
    Timing t = alternate([&] { bench::keep(Lookup3_hashlittle(source.data(), kBytes)); },
                         [&] {
                             std::memcpy(target.data(), source.data(), kBytes);
                             bench::keep(target[0]);
                         },
                         kBytes, 51);
    report("Lookup3_hashlittle over 64 KiB (per byte)", t, "memcpy");
    std::printf("%-44s %10.1f MB/s   %-28s %10.1f MB/s\n", "  throughput", 1e3 / t.subject_ns, "memcpy",
                1e3 / t.baseline_ns);
}

} // namespace

int main()
{
    std::printf("toolbox containers (ratio = toolbox / standard library; below 1 is faster)\n");
    bench_lists();
    bench_tables();
    bench_get_paths();
    bench_lookup3();
    return 0;
}
