/* Allocation failure of every operation that allocates: each is run with its
 * 1st, 2nd, 3rd ... engine allocation failing until it succeeds. After every
 * failure the container must be exactly as before (contents, count, capacity
 * or buckets, iterator states), the failure result must be the documented
 * one, no engine block or tracked resource may be left behind and resource
 * tracking must be back on. Three hash-table operations fail only in the
 * resize that follows a completed change, which stays: a removal or a clear
 * whose shrink fails, and a grow threshold whose growth fails. */
#include <gtest/gtest.h>
#include <functional>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class ToolboxAllocationFailure : public ToolboxTest {};

/* Runs round(n) for n = 1, 2, ... until it reports success; each round must
 * leave the engine as it found it. Returns the number of failed rounds. */
int fail_each_allocation_until_success(const std::function<bool(long n)> &round)
{
    for (long n = 1; n <= 64; ++n) {
        EngineBaseline before;
        bool succeeded = round(n);
        standin_rte_fail_alloc_nth(0);
        EXPECT_EQ(before.extra_blocks(), 0) << "round " << n;
        EXPECT_EQ(before.extra_resources(), 0) << "round " << n;
        EXPECT_EQ(standin_rte_resource_tracking(), 1) << "round " << n;
        if (succeeded) return static_cast<int>(n - 1);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

/* ---------------------------------- lists ---------------------------------- */

struct ListSnapshot {
    std::vector<unsigned char> bytes;
    int64_t numItems;
    uint64_t capacity;
    void *data;
    bool operator==(const ListSnapshot &) const = default;
};

ListSnapshot snapshot(ListType list)
{
    const ListView &v = view(list);
    const auto *data = static_cast<const unsigned char *>(v.data);
    return {std::vector<unsigned char>(data, data + v.numItems * v.itemSize), v.numItems, v.capacity, v.data};
}

ListType list_of(int count, int spare_policy_percent = 10)
{
    ListType list = ListCreate(sizeof(int));
    ListSetAllocationPolicy(list, 4, spare_policy_percent);
    for (int i = 0; i < count; ++i) ListInsertItem(list, &i, LIST_POS_END);
    return list;
}

/* An operation on a prepared list: true when it reported success. */
struct ListOperation {
    const char *name;
    std::function<ListType()> make;
    std::function<bool(ListType)> run;
    int expected_failures;
};

TEST_F(ToolboxAllocationFailure, ListOperationsLeaveTheListAsItWas)
{
    ListType other = list_of(3);
    const ListOperation operations[] = {
        {"first insertion", [] { return list_of(0); },
         [](ListType l) { int v = 7; return ListInsertItem(l, &v, LIST_POS_END) == 1; }, 1},
        {"insertion into a full list", [] { ListType l = list_of(4); return l; },
         [](ListType l) { int v[3] = {7, 8, 9}; return ListInsertItems(l, v, 2, 3) == 1; }, 1},
        {"insertion of zeros at the front", [] { return list_of(5); },
         [](ListType l) { return ListInsertItems(l, nullptr, LIST_POS_FRONT, 20) == 1; }, 1},
        {"insert after a match", [] { return list_of(4); },
         [](ListType l) { int v = 7, find = 2; return ListInsertAfterItem(l, &v, &find, nullptr) == 1; }, 1},
        {"insert before a match", [] { return list_of(4); },
         [](ListType l) { int v = 7, find = 2; return ListInsertBeforeItem(l, &v, &find, nullptr) == 1; }, 1},
        {"pre-allocation", [] { return list_of(3); }, [](ListType l) { return ListPreAllocate(l, 100) == 1; }, 1},
        {"compaction", [] { return list_of(6); },
         [](ListType l) { ListCompact(l); return capacity_of(l) == 6; }, 1},
        {"append", [] { return list_of(3); }, [other](ListType l) { return ListAppend(l, other) == 1; }, 1},
        {"append to itself", [] { return list_of(3); }, [](ListType l) { return ListAppend(l, l) == 1; }, 1},
    };
    for (const ListOperation &op : operations) {
        SCOPED_TRACE(op.name);
        int failures = fail_each_allocation_until_success([&](long n) {
            ListType list = op.make();
            ListSnapshot before = snapshot(list);
            EngineBaseline engine;
            standin_rte_fail_alloc_nth(n);
            bool ok = op.run(list);
            standin_rte_fail_alloc_nth(0);
            if (!ok) {
                EXPECT_TRUE(snapshot(list) == before) << "round " << n;
                EXPECT_EQ(engine.extra_blocks(), 0);
            } else {
                EXPECT_FALSE(snapshot(list) == before);
            }
            ListDispose(list);
            return ok;
        });
        EXPECT_EQ(failures, op.expected_failures);
    }
    ListDispose(other);
}

TEST_F(ToolboxAllocationFailure, ListCreateAndCopyReturnNull)
{
    int failures = fail_each_allocation_until_success([](long n) {
        standin_rte_fail_alloc_nth(n);
        ListType list = ListCreate(12);
        standin_rte_fail_alloc_nth(0);
        if (list) ListDispose(list);
        return list != nullptr;
    });
    EXPECT_EQ(failures, 1);

    ListType source = list_of(9);
    ListSnapshot before = snapshot(source);
    failures = fail_each_allocation_until_success([&](long n) {
        standin_rte_fail_alloc_nth(n);
        ListType copy = ListCopy(source);
        standin_rte_fail_alloc_nth(0);
        EXPECT_TRUE(snapshot(source) == before);
        if (!copy) return false;
        EXPECT_EQ(ListEqual(copy, source), 1);
        ListDispose(copy);
        return true;
    });
    EXPECT_EQ(failures, 2); /* the record, then the data block */
    ListDispose(source);
}

/* ------------------------------- hash tables ------------------------------- */

struct TableSnapshot {
    int items;
    uint32_t buckets;
    uint32_t used;
    double grow;
    double shrink;
    void *hash;
    std::vector<int> bucket_sizes;
    std::vector<uint64_t> values; /* value of each key of the universe, or ~0 when absent */
    std::vector<uint32_t> iterator_states;
    std::vector<void *> iterator_tokens;
    bool operator==(const TableSnapshot &) const = default;
};

constexpr uint64_t kUniverse = 120;
constexpr uint64_t kAbsent = ~uint64_t{0};

TableSnapshot snapshot(HashTableType table)
{
    const HashTableView &v = view(table);
    TableSnapshot s{v.itemCount, v.bucketCount, v.usedBuckets, v.growThreshold, v.shrinkThreshold, v.hash,
                    std::vector<int>(v.bucketCount), {}, {}, {}};
    HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, s.bucket_sizes.data());
    for (uint64_t k = 0; k < kUniverse; ++k) {
        int found = 0;
        HashTableFindItem(table, &k, &found);
        uint64_t value = kAbsent;
        if (found) HashTableGetItem(table, &k, &value, sizeof value);
        s.values.push_back(value);
    }
    for (uint32_t i = 0; i < v.iteratorCount; ++i) {
        s.iterator_states.push_back(v.iterators[i].state);
        s.iterator_tokens.push_back(v.iterators[i].token);
    }
    return s;
}

/* A table of `count` keys 0..count-1 (value = key + 1000) with one open iterator. */
HashTableType table_of(uint64_t count)
{
    HashTableType table = nullptr;
    HashTableCreate(0, HASH_KEY_FIXED, 8, 8, &table);
    for (uint64_t k = 0; k < count; ++k) {
        uint64_t value = k + 1000;
        HashTableInsertItem(table, &k, &value);
    }
    size_t iterator = 0;
    HashTableIteratorCreate(table, &iterator);
    return table;
}

/* The smallest count of keys 0..count-1 after which inserting key `count`
 * doubles a fresh table. */
uint64_t keys_before_growth()
{
    HashTableType table = table_of(0);
    int buckets = 0;
    uint64_t k = 0;
    for (;; ++k) {
        HashTableInsertItem(table, &k, &k);
        HashTableGetAttribute(table, HASH_ATTR_NUM_BUCKETS, &buckets);
        if (buckets != 32) break;
    }
    HashTableDispose(table);
    return k;
}

/* A table of `count` keys with shrinking at 0.3, from which keys 0, 1, ... were
 * removed until removing *key would halve it. */
HashTableType table_before_shrinking_removal(uint64_t count, uint64_t *key)
{
    HashTableType table = table_of(count);
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_SHRINK_THRESHOLD, 0.3), 0);
    for (uint64_t k = 0; k < count; ++k) {
        const HashTableView &v = view(table);
        std::vector<int> sizes(v.bucketCount);
        HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data());
        uint32_t bucket = Lookup3_hashlittle(&k, 8) & (v.bucketCount - 1);
        uint32_t used_after = v.usedBuckets - (sizes[bucket] == 1 ? 1 : 0);
        if (0.3 >= static_cast<double>(used_after) / v.bucketCount && v.bucketCount / 2 >= v.minBuckets) {
            *key = k;
            return table;
        }
        HashTableRemoveItem(table, &k, nullptr, 0);
    }
    ADD_FAILURE() << "no removal shrinks the table";
    return table;
}

uint32_t bucket_in(HashTableType table, uint64_t key) { return Lookup3_hashlittle(&key, 8) & (view(table).bucketCount - 1); }

/* A key of the universe that would land in an empty bucket. */
uint64_t key_in_empty_bucket(HashTableType table)
{
    std::vector<int> sizes(view(table).bucketCount);
    HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data());
    for (uint64_t k = 0; k < kUniverse; ++k)
        if (sizes[bucket_in(table, k)] == 0) return k;
    ADD_FAILURE() << "no key of the universe lands in an empty bucket";
    return 0;
}

/* 16 keys (a full first slab) in 16 distinct buckets of 32, with growth set
 * for 17 used buckets: the next key in an empty bucket needs both a slab and
 * a larger bucket array. */
HashTableType full_slab_one_bucket_before_growth()
{
    HashTableType table = table_of(0);
    for (int i = 0; i < 16; ++i) {
        uint64_t k = key_in_empty_bucket(table), value = k + 1000;
        HashTableInsertItem(table, &k, &value);
    }
    EXPECT_EQ(view(table).usedBuckets, 16u);
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_GROW_THRESHOLD, 17.0 / 32.0), 0);
    return table;
}

uint32_t other_hash(const void *key, size_t length) { return Lookup3_hashlittle(key, length) * 2654435761u; }

/* What a failed operation keeps of its change: the snapshot before, turned
 * into the snapshot it must leave. */
using Kept = std::function<void(TableSnapshot &)>;

void invalidate_iterators(TableSnapshot &s)
{
    for (uint32_t &state : s.iterator_states) state &= ~kIteratorValid;
}

/* The removal of `key` stands. */
Kept removed(const uint64_t &key)
{
    return [&key](TableSnapshot &s) {
        int &size = s.bucket_sizes[Lookup3_hashlittle(&key, 8) & (s.buckets - 1)];
        if (--size == 0) --s.used;
        --s.items;
        s.values[key] = kAbsent;
        invalidate_iterators(s);
    };
}

void emptied(TableSnapshot &s)
{
    s.items = 0;
    s.used = 0;
    for (int &size : s.bucket_sizes) size = 0;
    for (uint64_t &value : s.values) value = kAbsent;
    invalidate_iterators(s);
}

struct TableOperation {
    const char *name;
    std::function<HashTableType()> make;
    std::function<int(HashTableType)> run;
    int expected_failures;
    Kept kept = [](TableSnapshot &) {}; /* nothing, unless stated */
};

TEST_F(ToolboxAllocationFailure, TableOperationsLeaveTheTableAsItWas)
{
    const uint64_t before_growth = keys_before_growth();
    uint64_t shrink_key = 0;
    ASSERT_LT(before_growth, kUniverse);
    const TableOperation operations[] = {
        /* Small fixed-size nodes come from slabs of 16, 16, 32, 64 ... nodes. */
        {"insertion of a new key into a free pooled node", [] { return table_of(10); },
         [](HashTableType t) { uint64_t k = 50, v = 5; return HashTableInsertItem(t, &k, &v); }, 0},
        {"insertion that needs a new slab of nodes", [] { return table_of(16); },
         [](HashTableType t) { uint64_t k = 50, v = 5; return HashTableInsertItem(t, &k, &v); }, 1},
        {"insertion that needs a new slab and grows the table", [] { return full_slab_one_bucket_before_growth(); },
         [](HashTableType t) {
             uint64_t k = key_in_empty_bucket(t);
             uint64_t v = 5;
             return HashTableInsertItem(t, &k, &v);
         },
         2},
        {"insertion that grows the table", [&] { return table_of(before_growth); },
         [&](HashTableType t) { uint64_t k = before_growth, v = 5; return HashTableInsertItem(t, &k, &v); }, 1},
        {"second iterator: the iterator table doubles", [] { return table_of(10); },
         [](HashTableType t) {
             size_t it = 0;
             int status = HashTableIteratorCreate(t, &it);
             if (status != 0) {
                 EXPECT_EQ(it, 0u);
             }
             return status;
         },
         3},
        {"grow threshold that doubles", [&] { return table_of(before_growth); },
         [](HashTableType t) { return HashTableSetAttribute(t, HASH_ATTR_GROW_THRESHOLD, 0.5); }, 1,
         [](TableSnapshot &s) { s.grow = 0.5; }},
        {"shrink threshold that halves", [&] { return table_of(before_growth + 1); },
         [](HashTableType t) { return HashTableSetAttribute(t, HASH_ATTR_SHRINK_THRESHOLD, 0.5); }, 1},
        {"new hash function", [] { return table_of(30); },
         [](HashTableType t) { return HashTableSetAttribute(t, HASH_ATTR_HASH_FUNCTION, &other_hash); }, 1},
        {"clear with shrinking", [&] {
             HashTableType t = table_of(before_growth + 1);
             HashTableSetAttribute(t, HASH_ATTR_SHRINK_THRESHOLD, 0.01);
             return t;
         },
         [](HashTableType t) { return HashTableClear(t); }, 1, emptied},
        {"removal that shrinks the table", [&] { return table_before_shrinking_removal(before_growth + 1, &shrink_key); },
         [&](HashTableType t) {
             uint64_t v = 0;
             int status = HashTableRemoveItem(t, &shrink_key, &v, sizeof v);
             EXPECT_EQ(v, shrink_key + 1000) << "the value is copied out, shrunk or not";
             return status;
         },
         1, removed(shrink_key)},
    };
    for (const TableOperation &op : operations) {
        SCOPED_TRACE(op.name);
        int failures = fail_each_allocation_until_success([&](long n) {
            HashTableType table = op.make();
            TableSnapshot before = snapshot(table);
            standin_rte_fail_alloc_nth(n);
            int status = op.run(table);
            standin_rte_fail_alloc_nth(0);
            if (status < 0) {
                EXPECT_EQ(status, -5071) << "round " << n;
                TableSnapshot expected = before;
                op.kept(expected);
                EXPECT_TRUE(snapshot(table) == expected) << "round " << n;
            } else {
                EXPECT_FALSE(snapshot(table) == before);
            }
            HashTableDispose(table);
            return status >= 0;
        });
        EXPECT_EQ(failures, op.expected_failures);
    }
}

TEST_F(ToolboxAllocationFailure, TableCreateFreesWhatItMade)
{
    int failures = fail_each_allocation_until_success([](long n) {
        HashTableType table = reinterpret_cast<HashTableType>(&n);
        standin_rte_fail_alloc_nth(n);
        int status = HashTableCreate(100, HASH_KEY_CSTRING, 0, 16, &table);
        standin_rte_fail_alloc_nth(0);
        if (status != 0) {
            EXPECT_EQ(status, -5071);
            EXPECT_EQ(table, nullptr);
            return false;
        }
        HashTableDispose(table);
        return true;
    });
    EXPECT_EQ(failures, 5); /* record, buckets, iterator table, two token blocks */
}

} // namespace
