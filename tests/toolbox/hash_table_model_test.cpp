/* Long random sequences of hash-table operations, with fixed 8-byte keys and
 * with string keys, growth and shrinking enabled and the hash function
 * switched now and then, checked after every step
 * against a std::unordered_map model: contents, counts, a full iteration, and
 * which open iterators a step invalidated. */
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

/* Key handling of the two key kinds. */
struct FixedKeys {
    using Key = uint64_t;
    static constexpr int kind = HASH_KEY_FIXED;
    static constexpr size_t size = 8;
    /* 600 keys; a third of them differ only in bits 44 to 53 */
    static Key make(std::mt19937 &random)
    {
        Key k = random() % 600;
        return k % 3 == 0 ? k << 44 : k;
    }
    static const void *bytes(const Key &k) { return &k; }
    static Key from_bytes(const std::vector<char> &b) { Key k; std::memcpy(&k, b.data(), 8); return k; }
};

struct StringKeys {
    using Key = std::string;
    static constexpr int kind = HASH_KEY_CSTRING;
    static constexpr size_t size = 0;
    static Key make(std::mt19937 &random)
    {
        std::string s(random() % 4, ' ');
        for (char &c : s) c = static_cast<char>('a' + random() % 5);
        return s; /* 156 strings, the empty one included */
    }
    static const void *bytes(const Key &k) { return k.c_str(); }
    static Key from_bytes(const std::vector<char> &b) { return std::string(b.data()); }
};

struct Value {
    uint32_t a, b, c; /* a 12-byte value */
    bool operator==(const Value &) const = default;
};

/* A weak hash of the caller's: the byte sum. */
uint32_t byte_sum_hash(const void *key, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += static_cast<const unsigned char *>(key)[i];
    return sum;
}

template <typename Keys>
struct TableRunner {
    using Key = typename Keys::Key;
    std::mt19937 random;
    HashTableType table = nullptr;
    std::unordered_map<Key, Value> model;
    /* open iterators and whether the model says they are still valid */
    std::map<size_t, bool> iterators;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }
    Value fresh_value() { return {static_cast<uint32_t>(random()), static_cast<uint32_t>(random()), 7}; }

    void changed()
    {
        for (auto &it : iterators) it.second = false;
    }

    int buckets() const { return static_cast<int>(view(table).bucketCount); }

    void insert()
    {
        Key k = Keys::make(random);
        Value v = fresh_value();
        ASSERT_EQ(HashTableInsertItem(table, Keys::bytes(k), &v), 0);
        model[k] = v;
        changed();
    }

    void get()
    {
        Key k = Keys::make(random);
        Value v{1, 1, 1};
        ASSERT_EQ(HashTableGetItem(table, Keys::bytes(k), &v, sizeof v), 0);
        auto found = model.find(k);
        ASSERT_EQ(v, (found == model.end() ? Value{0, 0, 0} : found->second));
        int present = -1;
        ASSERT_EQ(HashTableFindItem(table, Keys::bytes(k), &present), 0);
        ASSERT_EQ(present, found != model.end());
    }

    void remove()
    {
        Key k = Keys::make(random);
        Value v{1, 1, 1};
        ASSERT_EQ(HashTableRemoveItem(table, Keys::bytes(k), &v, sizeof v), 0);
        auto found = model.find(k);
        ASSERT_EQ(v, (found == model.end() ? Value{0, 0, 0} : found->second));
        if (found != model.end()) {
            model.erase(found);
            changed();
        }
    }

    void set_threshold()
    {
        int before = buckets();
        if (pick(0, 1)) {
            const double grow[] = {0.5, 0.7, 0.8, 1.0};
            ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_GROW_THRESHOLD, grow[pick(0, 3)]), 0);
        } else {
            const double shrink[] = {0.0, 0.1, 0.3, 0.5};
            ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_SHRINK_THRESHOLD, shrink[pick(0, 3)]), 0);
        }
        if (buckets() != before) changed();
    }

    /* The table's own hash and a caller's take turns; either way the table
     * is rehashed and every pair stays reachable. */
    void set_hash()
    {
        HashFunction current = nullptr;
        ASSERT_EQ(HashTableGetAttribute(table, HASH_ATTR_HASH_FUNCTION, &current), 0);
        HashFunction next = current == &Lookup3_hashlittle ? &byte_sum_hash : &Lookup3_hashlittle;
        ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, next), 0);
        changed();
    }

    void clear()
    {
        ASSERT_EQ(HashTableClear(table), 0);
        model.clear();
        changed();
    }

    /* A full walk with a new iterator sees every pair exactly once. */
    void iterate()
    {
        size_t it = 0;
        int status = HashTableIteratorCreate(table, &it);
        ASSERT_EQ(status, model.empty() ? 1 : 0);
        iterators[it] = true;
        std::unordered_map<Key, Value> seen;
        int advance = status;
        while (advance == 0) {
            int length = HashTableIteratorGetItem(table, it, nullptr, 0, nullptr, 0);
            ASSERT_GT(length, 0);
            std::vector<char> key(static_cast<size_t>(length));
            Value v;
            ASSERT_EQ(HashTableIteratorGetItem(table, it, key.data(), key.size(), &v, sizeof v), 0);
            ASSERT_TRUE(seen.emplace(Keys::from_bytes(key), v).second) << "pair seen twice";
            advance = HashTableIteratorAdvance(table, it);
        }
        ASSERT_EQ(advance, 1);
        ASSERT_EQ(seen, model);
        if (pick(0, 2)) { /* sometimes keep it open, at end */
            ASSERT_EQ(HashTableIteratorDispose(table, it), 0);
            iterators.erase(it);
        }
    }

    void open_iterator()
    {
        if (iterators.size() >= 5) return;
        size_t it = 0;
        ASSERT_GE(HashTableIteratorCreate(table, &it), 0);
        ASSERT_EQ(iterators.count(it), 0u);
        iterators[it] = true;
    }

    void dispose_iterator()
    {
        if (iterators.empty()) return;
        auto victim = iterators.begin();
        std::advance(victim, pick(0, static_cast<int>(iterators.size()) - 1));
        ASSERT_EQ(HashTableIteratorDispose(table, victim->first), 0);
        iterators.erase(victim);
    }

    void step()
    {
        switch (pick(0, 19)) {
        case 0: case 1: case 2: case 3: case 4: case 5: insert(); break;
        case 6: case 7: case 8: get(); break;
        case 9: case 10: case 11: case 12: remove(); break;
        case 13: set_threshold(); break;
        case 14:
            if (pick(0, 9) == 0)
                clear();
            else if (pick(0, 4) == 0)
                set_hash();
            break;
        case 15: if (pick(0, 4) == 0) iterate(); break;
        case 16: open_iterator(); break;
        case 17: dispose_iterator(); break;
        default: get(); break;
        }
    }

    void check()
    {
        const HashTableView &v = view(table);
        ASSERT_EQ(static_cast<size_t>(v.itemCount), model.size());
        ASSERT_EQ(v.bucketCount & (v.bucketCount - 1), 0u);
        ASSERT_GE(v.bucketCount, v.minBuckets);
        std::vector<int> sizes(v.bucketCount);
        ASSERT_EQ(HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data()), 0);
        uint32_t used = 0;
        size_t total = 0;
        for (int s : sizes) used += s > 0, total += static_cast<size_t>(s);
        ASSERT_EQ(used, v.usedBuckets);
        ASSERT_EQ(total, model.size());
        for (auto &[id, valid] : iterators) {
            Value value;
            std::vector<char> key(64);
            int status = HashTableIteratorGetItem(table, id, key.data(), key.size(), &value, sizeof value);
            if (!valid) {
                ASSERT_EQ(status, -5210) << "iterator " << id;
            } else {
                ASSERT_TRUE(status == 0 || status == -5213) << "iterator " << id << ": " << status;
            }
        }
    }

    void run(uint32_t seed, int steps)
    {
        random.seed(seed);
        ASSERT_EQ(HashTableCreate(0, Keys::kind, Keys::size, sizeof(Value), &table), 0);
        ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_SHRINK_THRESHOLD, 0.3), 0);
        for (int i = 0; i < steps; ++i) {
            ASSERT_NO_FATAL_FAILURE(step()) << "step " << i;
            ASSERT_NO_FATAL_FAILURE(check()) << "step " << i;
        }
        ASSERT_EQ(HashTableDispose(table), 0); /* open iterators are released with it */
    }
};

class ToolboxHashTableModel : public ToolboxTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ToolboxHashTableModel, FixedKeysAgreeWithAnUnorderedMap)
{
    TableRunner<FixedKeys> runner;
    runner.run(GetParam(), 6000);
}

TEST_P(ToolboxHashTableModel, StringKeysAgreeWithAnUnorderedMap)
{
    TableRunner<StringKeys> runner;
    runner.run(GetParam(), 4000);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ToolboxHashTableModel, ::testing::Values(11u, 22u, 333u, 4444u),
                         [](const auto &info) { return "seed_" + std::to_string(info.param); });

} // namespace
