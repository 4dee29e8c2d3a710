/* The hash table's contract at its edges: bucket counts at creation, growth on
 * the fraction of used buckets, shrinking, iterators and their table, the
 * attributes, the printed listing and every error code. */
#include <gtest/gtest.h>
#include <io.h>
#include <fcntl.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>
#include <windows.h>
#include "hash_table_internal.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class ToolboxHashTable : public ToolboxTest {};

HashTableType make_table(int initialSize = 0, int keyKind = HASH_KEY_FIXED, size_t keySize = 8,
                         size_t valueSize = 8)
{
    HashTableType table = nullptr;
    EXPECT_EQ(HashTableCreate(initialSize, keyKind, keySize, valueSize, &table), 0);
    return table;
}

int attribute_int(HashTableType table, int attribute)
{
    int value = -1;
    EXPECT_EQ(HashTableGetAttribute(table, attribute, &value), 0);
    return value;
}

double attribute_double(HashTableType table, int attribute)
{
    double value = -2;
    EXPECT_EQ(HashTableGetAttribute(table, attribute, &value), 0);
    return value;
}

int buckets_of(HashTableType table) { return attribute_int(table, HASH_ATTR_NUM_BUCKETS); }

/* The bucket of an 8-byte key in a table of n buckets. */
uint32_t bucket_of(uint64_t key, uint32_t n) { return Lookup3_hashlittle(&key, 8) & (n - 1); }

/* Keys that fall into distinct buckets of an n-bucket table, or all into one. */
std::vector<uint64_t> keys_in_distinct_buckets(size_t count, uint32_t n)
{
    std::vector<uint64_t> keys;
    std::vector<bool> taken(n);
    for (uint64_t k = 1; keys.size() < count; ++k)
        if (!taken[bucket_of(k, n)]) {
            taken[bucket_of(k, n)] = true;
            keys.push_back(k);
        }
    return keys;
}

std::vector<uint64_t> keys_in_bucket(size_t count, uint32_t bucket, uint32_t n)
{
    std::vector<uint64_t> keys;
    for (uint64_t k = 1; keys.size() < count; ++k)
        if (bucket_of(k, n) == bucket) keys.push_back(k);
    return keys;
}

void insert(HashTableType table, uint64_t key, uint64_t value) { ASSERT_EQ(HashTableInsertItem(table, &key, &value), 0); }

TEST_F(ToolboxHashTable, BucketCountAtCreation)
{
    struct Case { int initialSize; int buckets; };
    for (Case c : {Case{0, 32}, Case{1, 32}, Case{25, 32}, Case{26, 64}, Case{51, 64}, Case{52, 128}, Case{100, 128},
                   Case{1000, 2048}}) {
        HashTableType table = make_table(c.initialSize);
        EXPECT_EQ(buckets_of(table), c.buckets) << c.initialSize;
        EXPECT_EQ(view(table).minBuckets, static_cast<uint32_t>(c.buckets));
        EXPECT_EQ(HashTableDispose(table), 0);
    }
}

TEST_F(ToolboxHashTable, CreateValidatesInOrder)
{
    struct Case { int initialSize, keyKind; size_t keySize, valueSize; bool out; int status; };
    const Case cases[] = {
        {0, 2, 8, 8, true, -5201},           {0, -1, 0, 0, false, -5201},     {0, 0, 0, 8, true, -5202},
        {0, 0, 0x80000000u, 8, true, -5202}, {0, 1, 0, 8, true, 0},           {0, 0, 8, 0, true, -5203},
        {0, 1, 8, 0x80000000u, true, -5203}, {0, 0, 8, 8, false, -5206},      {-1, 0, 8, 8, true, -5214},
        {0x7FFFFFFF, 0, 8, 8, true, -5214},  {0, 0, 0x7FFFFFFF, 0x7FFFFFFF, true, 0},
    };
    for (const Case &c : cases) {
        HashTableType table = reinterpret_cast<HashTableType>(&table);
        int status = HashTableCreate(c.initialSize, c.keyKind, c.keySize, c.valueSize, c.out ? &table : nullptr);
        EXPECT_EQ(status, c.status) << c.initialSize << " " << c.keyKind << " " << c.keySize << " " << c.valueSize;
        if (!c.out) continue;
        EXPECT_EQ(table != nullptr, status == 0);
        if (table) HashTableDispose(table);
    }
}

TEST_F(ToolboxHashTable, NewTableRecordAndRegistration)
{
    HashTableType table = make_table(10, HASH_KEY_FIXED, 8, 24);
    const HashTableView &v = view(table);
    EXPECT_EQ(v.magic, 0xDEADBABEu);
    EXPECT_EQ(v.keyKind, 0u);
    EXPECT_EQ(v.keySize, 8);
    EXPECT_EQ(v.valueSize, 24);
    EXPECT_EQ(v.hash, reinterpret_cast<void *>(&Lookup3_hashlittle));
    EXPECT_EQ(v.growThreshold, 0.8);
    EXPECT_EQ(v.shrinkThreshold, -1.0);
    EXPECT_EQ(v.iteratorCount, 2u);
    EXPECT_EQ(category_of(table), "Toolbox");
    EXPECT_EQ(description_of(table), "HashTableType 0x" + pointer_text(table));
    HashFunction hash = nullptr;
    EXPECT_EQ(HashTableGetAttribute(table, HASH_ATTR_HASH_FUNCTION, &hash), 0);
    EXPECT_EQ(hash, &Lookup3_hashlittle);
    EXPECT_EQ(HashTableDispose(table), 0);
    EXPECT_EQ(description_of(table), "<not tracked>");
}

TEST_F(ToolboxHashTable, GrowsOnThe26thUsedBucketRegardlessOfItems)
{
    HashTableType table = make_table();
    /* Many items sharing one bucket do not raise the load. */
    for (uint64_t k : keys_in_bucket(40, 0, 32)) insert(table, k, k);
    EXPECT_EQ(buckets_of(table), 32);
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 40);
    std::vector<uint64_t> spread = keys_in_distinct_buckets(32, 32);
    int inserted = 0;
    for (uint64_t k : spread) {
        if (bucket_of(k, 32) == 0) continue;
        insert(table, k, k);
        ++inserted;
        /* bucket 0 plus `inserted` more: the 26th used bucket (26/32 >= 0.8) doubles */
        EXPECT_EQ(buckets_of(table), inserted + 1 >= 26 ? 64 : 32) << inserted + 1 << " used buckets";
        if (inserted + 1 == 26) break;
    }
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 40 + 25);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, ExistingKeyTakesTheNewValue)
{
    HashTableType table = make_table();
    insert(table, 7, 1);
    size_t it = 0;
    EXPECT_EQ(HashTableIteratorCreate(table, &it), 0);
    insert(table, 7, 2);
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 1);
    uint64_t key = 7, value = 0;
    EXPECT_EQ(HashTableGetItem(table, &key, &value, sizeof value), 0);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(HashTableIteratorAdvance(table, it), -5210); /* still a change of the table */
    EXPECT_EQ(HashTableIteratorDispose(table, it), 0);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, GetFindAndRemove)
{
    HashTableType table = make_table(0, HASH_KEY_FIXED, 8, 4);
    uint64_t key = 42;
    uint32_t value = 0xA5A5A5A5;
    ASSERT_EQ(HashTableInsertItem(table, &key, &value), 0);

    unsigned char buffer[8];
    std::memset(buffer, 0xCC, sizeof buffer);
    uint64_t missing = 43;
    EXPECT_EQ(HashTableGetItem(table, &missing, buffer, sizeof buffer), 0);
    for (unsigned char b : buffer) EXPECT_EQ(b, 0); /* all bufferSize bytes zeroed */
    EXPECT_EQ(HashTableGetItem(table, &missing, buffer, 0), 4);
    EXPECT_EQ(HashTableGetItem(table, &key, buffer, 4), 0);
    EXPECT_EQ(std::memcmp(buffer, &value, 4), 0);

    int found = -1;
    EXPECT_EQ(HashTableFindItem(table, &key, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(HashTableFindItem(table, &missing, &found), 0);
    EXPECT_EQ(found, 0);

    size_t it = 0;
    EXPECT_EQ(HashTableIteratorCreate(table, &it), 0);
    std::memset(buffer, 0xCC, sizeof buffer);
    EXPECT_EQ(HashTableRemoveItem(table, &missing, buffer, 6), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], i < 6 ? 0 : 0xCC);
    EXPECT_EQ(HashTableIteratorGetItem(table, it, buffer, 8, buffer, 8), 0); /* missing key: still valid */
    EXPECT_EQ(HashTableRemoveItem(table, &key, buffer, 4), 0);
    EXPECT_EQ(std::memcmp(buffer, &value, 4), 0);
    EXPECT_EQ(HashTableIteratorAdvance(table, it), -5210);
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 0);
    EXPECT_EQ(HashTableRemoveItem(table, &key, nullptr, 0), 0);
    HashTableIteratorDispose(table, it);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, StringKeysIncludeTheirTerminator)
{
    HashTableType table = make_table(0, HASH_KEY_CSTRING, 0, sizeof(int));
    const char *words[] = {"alpha", "beta", "", "a much longer key than the others"};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(HashTableInsertItem(table, words[i], &i), 0);
    for (int i = 0; i < 4; ++i) {
        std::string copy = words[i]; /* a different pointer to the same text */
        int value = -1;
        EXPECT_EQ(HashTableGetItem(table, copy.c_str(), &value, sizeof value), 0);
        EXPECT_EQ(value, i);
    }
    size_t it = 0;
    ASSERT_EQ(HashTableIteratorCreate(table, &it), 0);
    int seen = 0;
    do {
        int length = HashTableIteratorGetItem(table, it, nullptr, 0, nullptr, 0);
        std::vector<char> key(static_cast<size_t>(length));
        int value = -1;
        EXPECT_EQ(HashTableIteratorGetItem(table, it, key.data(), key.size(), &value, 0), 4);
        if (length > 1) {
            EXPECT_EQ(HashTableIteratorGetItem(table, it, key.data(), key.size() - 1, &value, sizeof value), -5207);
        }
        ASSERT_EQ(HashTableIteratorGetItem(table, it, key.data(), key.size(), &value, sizeof value), 0);
        EXPECT_EQ(static_cast<size_t>(length), std::strlen(words[value]) + 1);
        EXPECT_STREQ(key.data(), words[value]);
        ++seen;
    } while (HashTableIteratorAdvance(table, it) == 0);
    EXPECT_EQ(seen, 4);
    HashTableIteratorDispose(table, it);
    HashTableDispose(table);
}

/* A hash of the caller's that puts every key into one chain: a lookup then
 * passes entries whose hash and length agree with its key's, and the key
 * bytes alone decide. */
uint32_t one_chain_hash(const void *, size_t) { return 7; }

/* String keys of every length up to 40, each with variants that differ from
 * it in one byte, inserted from every alignment, under the table's own hash
 * and under one that chains them all together. Every lookup reads a copy
 * whose terminator is the last byte before an inaccessible page, so a lookup
 * that read past the terminator would fault. */
TEST_F(ToolboxHashTable, StringKeysAreToldApartByEveryByte)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    auto *pages = static_cast<char *>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
    auto at_page_end = [&](const std::string &text) {
        char *copy = pages + page - text.size() - 1;
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return copy;
    };
    const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDE";
    std::vector<std::string> present, absent;
    for (size_t length = 0; length <= 40; ++length) {
        present.push_back(pattern.substr(0, length));
        for (size_t i = 0; i < length; ++i) {
            for (char c : {'#', '%'}) {
                std::string variant = pattern.substr(0, length);
                variant[i] = c;
                (c == '#' ? present : absent).push_back(variant);
            }
        }
    }
    for (HashFunction hash : {&Lookup3_hashlittle, &one_chain_hash}) {
        SCOPED_TRACE(hash == &one_chain_hash ? "one chain" : "own hash");
        HashTableType table = make_table(0, HASH_KEY_CSTRING, 0, sizeof(int));
        ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, hash), 0);
        alignas(16) char source[64];
        for (size_t i = 0; i < present.size(); ++i) {
            char *copy = source + i % 16;
            std::memcpy(copy, present[i].c_str(), present[i].size() + 1);
            int value = static_cast<int>(i);
            ASSERT_EQ(HashTableInsertItem(table, copy, &value), 0);
        }
        for (size_t i = 0; i < present.size(); ++i) {
            int value = -1;
            EXPECT_EQ(HashTableGetItem(table, at_page_end(present[i]), &value, sizeof value), 0);
            EXPECT_EQ(value, static_cast<int>(i)) << present[i];
        }
        for (const std::string &key : absent) {
            int found = -1;
            EXPECT_EQ(HashTableFindItem(table, at_page_end(key), &found), 0);
            EXPECT_EQ(found, 0) << key;
        }
        for (size_t i = 0; i < present.size(); ++i) {
            int value = -1;
            EXPECT_EQ(HashTableRemoveItem(table, at_page_end(present[i]), &value, sizeof value), 0);
            EXPECT_EQ(value, static_cast<int>(i)) << present[i];
        }
        EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 0);
        HashTableDispose(table);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(ToolboxHashTable, IterationFollowsBucketsAndNewestFirstInAChain)
{
    HashTableType table = make_table();
    std::vector<uint64_t> same = keys_in_bucket(3, 5, 32);
    std::vector<uint64_t> other = keys_in_bucket(1, 2, 32);
    for (uint64_t k : same) insert(table, k, k);
    insert(table, other[0], other[0]);
    const std::vector<uint64_t> expected = {other[0], same[2], same[1], same[0]};

    size_t it = 0;
    ASSERT_EQ(HashTableIteratorCreate(table, &it), 0);
    std::vector<uint64_t> order;
    int advance = 0;
    do {
        uint64_t key = 0, value = 0;
        ASSERT_EQ(HashTableIteratorGetItem(table, it, &key, 8, &value, 8), 0);
        order.push_back(key);
        const IteratorSlotView &slot = view(table).iterators[it];
        EXPECT_EQ(slot.state & 0x1FFFFFFF, order.size() == 1 ? 0u : order.size() - 2);
        EXPECT_EQ(slot.bucket, order.size() == 1 ? 2u : 5u);
        advance = HashTableIteratorAdvance(table, it);
    } while (advance == 0);
    EXPECT_EQ(advance, 1);
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(view(table).iterators[it].state & kIteratorAtEnd);
    uint64_t key, value;
    EXPECT_EQ(HashTableIteratorGetItem(table, it, &key, 8, &value, 8), -5213);
    EXPECT_EQ(HashTableIteratorAdvance(table, it), -5213);
    HashTableIteratorDispose(table, it);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, IteratorsAndTheirTable)
{
    HashTableType table = make_table();
    size_t first = 0, second = 0, third = 0;
    /* On an empty table: in use, at end, result 1; reading it reports the end. */
    EXPECT_EQ(HashTableIteratorCreate(table, &first), 1);
    EXPECT_EQ(first, 1u);
    uint64_t key = 0, value = 0;
    EXPECT_EQ(HashTableIteratorGetItem(table, first, &key, 8, &value, 8), -5213);
    EXPECT_EQ(HashTableIteratorAdvance(table, first), -5213);
    EXPECT_EQ(HashTableIteratorCreate(table, &second), 1);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(view(table).iteratorCount, 4u);
    for (size_t i : {first, second}) {
        EXPECT_TRUE(view(table).iterators[i].state & kIteratorInUse);
        EXPECT_EQ(category_of(view(table).iterators[i].token), "Toolbox");
        EXPECT_EQ(description_of(view(table).iterators[i].token),
                  "Iterator " + std::to_string(i) + " for HashTableType 0x" + pointer_text(table));
    }
    insert(table, 1, 1);
    EXPECT_EQ(HashTableIteratorGetItem(table, first, &key, 8, &value, 8), -5210);
    EXPECT_EQ(HashTableIteratorDispose(table, first), 0);
    EXPECT_EQ(description_of(view(table).iterators[first].token), "<not tracked>");
    EXPECT_EQ(HashTableIteratorDispose(table, first), -5211);
    /* The lowest free slot is taken again; the table does not grow. */
    EXPECT_EQ(HashTableIteratorCreate(table, &third), 0);
    EXPECT_EQ(third, 1u);
    EXPECT_EQ(view(table).iteratorCount, 4u);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 8, &value, 8), 0);
    EXPECT_EQ(key, 1u);
    /* Sizes and buffers. */
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 0, &value, 8), 8);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 8, &value, 0), 8);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, nullptr, 8, &value, 8), -5206);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 8, nullptr, 8), -5206);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 7, &value, 8), -5207);
    EXPECT_EQ(HashTableIteratorGetItem(table, third, &key, 8, &value, 7), -5207);
    /* Numbers that are not iterators. */
    for (size_t bad : {size_t{0}, size_t{3}, size_t{4}, SIZE_MAX}) {
        EXPECT_EQ(HashTableIteratorGetItem(table, bad, &key, 8, &value, 8), -5211) << bad;
        EXPECT_EQ(HashTableIteratorAdvance(table, bad), -5211) << bad;
        EXPECT_EQ(HashTableIteratorDispose(table, bad), -5211) << bad;
    }
    /* Two more iterators fill the table of 4 and double it to 8. */
    size_t fourth = 0, fifth = 0;
    EXPECT_EQ(HashTableIteratorCreate(table, &fourth), 0);
    EXPECT_EQ(fourth, 3u);
    EXPECT_EQ(HashTableIteratorCreate(table, &fifth), 0);
    EXPECT_EQ(fifth, 4u);
    EXPECT_EQ(view(table).iteratorCount, 8u);
    for (size_t i : {second, third, fourth}) EXPECT_EQ(HashTableIteratorDispose(table, i), 0);
    /* fifth stays open: disposing the table releases it. */
    void *open_token = view(table).iterators[fifth].token;
    EXPECT_EQ(description_of(open_token).rfind("Iterator 4 ", 0), 0u);
    HashTableDispose(table);
    EXPECT_EQ(description_of(open_token), "<not tracked>");
}

TEST_F(ToolboxHashTable, ClearShrinksOnceNeverBelowTheCreationCount)
{
    HashTableType table = make_table();
    for (uint64_t k = 0; k < 300; ++k) insert(table, k, k);
    int grown = buckets_of(table);
    ASSERT_GE(grown, 256);
    size_t it = 0;
    HashTableIteratorCreate(table, &it);
    EXPECT_EQ(HashTableClear(table), 0); /* shrinking disabled */
    EXPECT_EQ(buckets_of(table), grown);
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 0);
    EXPECT_EQ(attribute_double(table, HASH_ATTR_LOAD), 0.0);
    EXPECT_EQ(HashTableIteratorAdvance(table, it), -5210);
    HashTableIteratorDispose(table, it);

    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_SHRINK_THRESHOLD, 0.0), 0); /* load 0 <= 0: halves */
    EXPECT_EQ(buckets_of(table), grown / 2);
    for (int expected = grown / 4; expected >= 16; expected /= 2) {
        EXPECT_EQ(HashTableClear(table), 0);
        EXPECT_EQ(buckets_of(table), expected >= 32 ? expected : 32);
    }
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, RemovalShrinksWhenTheLoadFallsToTheThreshold)
{
    HashTableType table = make_table();
    for (uint64_t k = 0; k < 100; ++k) insert(table, k, k);
    int start = buckets_of(table);
    ASSERT_GE(start, 64);
    ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_SHRINK_THRESHOLD, 0.25), 0); /* load above 0.25 */
    ASSERT_EQ(buckets_of(table), start);
    for (uint64_t k = 0; k < 100; ++k) {
        int buckets_before = buckets_of(table);
        int used_after = 0;
        std::vector<int> sizes(static_cast<size_t>(buckets_before));
        HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data());
        for (int s : sizes) used_after += s > 0;
        if (sizes[bucket_of(k, static_cast<uint32_t>(buckets_before))] == 1) --used_after;
        bool halves = 0.25 >= static_cast<double>(used_after) / buckets_before && buckets_before / 2 >= 32;
        ASSERT_EQ(HashTableRemoveItem(table, &k, nullptr, 0), 0);
        ASSERT_EQ(buckets_of(table), halves ? buckets_before / 2 : buckets_before) << "removing " << k;
    }
    EXPECT_EQ(buckets_of(table), 32);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, Attributes)
{
    HashTableType table = make_table();
    struct Case { int attribute; double value; int status; };
    const Case sets[] = {
        {HASH_ATTR_GROW_THRESHOLD, 0.4, -5209},    {HASH_ATTR_GROW_THRESHOLD, 1.01, -5209},
        {HASH_ATTR_GROW_THRESHOLD, 0.5, 0},        {HASH_ATTR_GROW_THRESHOLD, 1.0, 0},
        {HASH_ATTR_GROW_THRESHOLD, -1.0, 0},       {HASH_ATTR_SHRINK_THRESHOLD, 0.6, -5209},
        {HASH_ATTR_SHRINK_THRESHOLD, -0.1, -5209}, {HASH_ATTR_SHRINK_THRESHOLD, -1.0, 0},
        {HASH_ATTR_NUM_ITEMS, 1.0, -5208},         {HASH_ATTR_NUM_BUCKETS, 1.0, -5208},
        {HASH_ATTR_LOAD, 1.0, -5208},              {HASH_ATTR_BUCKET_SIZES, 1.0, -5208},
        {7, 1.0, -5208},                           {-1, 1.0, -5208},
    };
    double grow = 0.8, shrink = -1.0;
    for (const Case &c : sets) {
        EXPECT_EQ(HashTableSetAttribute(table, c.attribute, c.value), c.status) << c.attribute << " " << c.value;
        if (c.status == 0) (c.attribute == HASH_ATTR_GROW_THRESHOLD ? grow : shrink) = c.value;
        EXPECT_EQ(attribute_double(table, HASH_ATTR_GROW_THRESHOLD), grow);
        EXPECT_EQ(attribute_double(table, HASH_ATTR_SHRINK_THRESHOLD), shrink);
    }
    /* Growth disabled: 32 buckets however full. */
    for (uint64_t k = 0; k < 500; ++k) insert(table, k, k);
    EXPECT_EQ(buckets_of(table), 32);
    EXPECT_EQ(attribute_double(table, HASH_ATTR_LOAD), 1.0);
    /* Enabling growth while the load is above it doubles once. */
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_GROW_THRESHOLD, 0.9), 0);
    EXPECT_EQ(buckets_of(table), 64);
    std::vector<int> sizes(64);
    EXPECT_EQ(HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data()), 0);
    int total = 0, used = 0;
    for (int s : sizes) total += s, used += s > 0;
    EXPECT_EQ(total, 500);
    EXPECT_EQ(attribute_double(table, HASH_ATTR_LOAD), used / 64.0);

    int dummy;
    EXPECT_EQ(HashTableGetAttribute(table, 7, &dummy), -5208);
    EXPECT_EQ(HashTableGetAttribute(table, HASH_ATTR_NUM_ITEMS, nullptr), -5206);
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, static_cast<HashFunction>(nullptr)), -5209);
    HashTableDispose(table);
}

uint32_t constant_hash(const void *, size_t) { return 3; }

TEST_F(ToolboxHashTable, ChangingTheHashFunctionRehashes)
{
    HashTableType table = make_table();
    for (uint64_t k = 0; k < 10; ++k) insert(table, k, k * 10);
    size_t it = 0;
    HashTableIteratorCreate(table, &it);
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, &constant_hash), 0);
    EXPECT_EQ(HashTableIteratorAdvance(table, it), -5210);
    std::vector<int> sizes(32);
    HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data());
    EXPECT_EQ(sizes[3], 10);
    for (uint64_t k = 0; k < 10; ++k) {
        uint64_t value = 0;
        EXPECT_EQ(HashTableGetItem(table, &k, &value, 8), 0);
        EXPECT_EQ(value, k * 10);
    }
    /* Back to the table's own hash: the chains follow lookup3 again and every
     * pair can still be read and removed. */
    EXPECT_EQ(HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, &Lookup3_hashlittle), 0);
    HashTableGetAttribute(table, HASH_ATTR_BUCKET_SIZES, sizes.data());
    std::vector<int> expected(32);
    for (uint64_t k = 0; k < 10; ++k) ++expected[Lookup3_hashlittle(&k, 8) & 31];
    EXPECT_EQ(sizes, expected);
    for (uint64_t k = 0; k < 10; ++k) {
        uint64_t value = 0;
        EXPECT_EQ(HashTableGetItem(table, &k, &value, 8), 0);
        EXPECT_EQ(value, k * 10);
        EXPECT_EQ(HashTableRemoveItem(table, &k, &value, 8), 0);
        EXPECT_EQ(HashTableGetItem(table, &k, &value, 8), 0);
        EXPECT_EQ(value, 0u);
    }
    EXPECT_EQ(attribute_int(table, HASH_ATTR_NUM_ITEMS), 0);
    HashTableIteratorDispose(table, it);
    HashTableDispose(table);
}

TEST_F(ToolboxHashTable, ErrorCodesOfEveryOperation)
{
    HashTableType table = make_table(0, HASH_KEY_FIXED, 8, 8);
    uint64_t key = 1, value = 2;
    unsigned char fake_record[96] = {0xBE, 0xBA, 0xAD, 0xDF};
    HashTableType bad_tags[] = {nullptr, reinterpret_cast<HashTableType>(fake_record)};
    for (HashTableType bad : bad_tags) {
        size_t it = 99;
        int found;
        EXPECT_EQ(HashTableDispose(bad), -5200);
        EXPECT_EQ(HashTableInsertItem(bad, &key, &value), -5200);
        EXPECT_EQ(HashTableGetItem(bad, &key, &value, 8), -5200);
        EXPECT_EQ(HashTableFindItem(bad, &key, &found), -5200);
        EXPECT_EQ(HashTableRemoveItem(bad, &key, &value, 8), -5200);
        EXPECT_EQ(HashTableClear(bad), -5200);
        EXPECT_EQ(HashTableGetAttribute(bad, 0, &found), -5200);
        EXPECT_EQ(HashTableSetAttribute(bad, 3, 0.8), -5200);
        EXPECT_EQ(HashTableIteratorCreate(bad, &it), -5200);
        EXPECT_EQ(it, 0u);
        EXPECT_EQ(HashTableIteratorGetItem(bad, 1, &key, 8, &value, 8), -5200);
        EXPECT_EQ(HashTableIteratorAdvance(bad, 1), -5200);
        EXPECT_EQ(HashTableIteratorDispose(bad, 1), -5200);
        HashTablePrint(bad);
    }
    int found;
    struct Case { const char *what; int status; int expected; };
    const Case cases[] = {
        {"insert null key", HashTableInsertItem(table, nullptr, &value), -5204},
        {"insert null value", HashTableInsertItem(table, &key, nullptr), -5205},
        {"get null key", HashTableGetItem(table, nullptr, &value, 8), -5204},
        {"get size query", HashTableGetItem(table, &key, nullptr, 0), 8},
        {"get null buffer", HashTableGetItem(table, &key, nullptr, 8), -5205},
        {"get small buffer", HashTableGetItem(table, &key, &value, 7), -5207},
        {"find null key", HashTableFindItem(table, nullptr, &found), -5204},
        {"find null result", HashTableFindItem(table, &key, nullptr), -5206},
        {"remove null key", HashTableRemoveItem(table, nullptr, &value, 8), -5204},
        {"remove huge size", HashTableRemoveItem(table, &key, nullptr, 0x80000000u), -5205},
        {"remove small buffer", HashTableRemoveItem(table, &key, &value, 7), -5207},
        {"iterator null result", HashTableIteratorCreate(table, nullptr), -5206},
    };
    for (const Case &c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
    HashTableDispose(table);
}

/* Runs body with stdout sent to a file; returns what it printed. */
template <typename Body>
std::string captured_stdout(Body body)
{
    std::fflush(stdout);
    char path[] = "toolbox_print_XXXXXX";
    if (!_mktemp(path)) return "<no temp name>";
    int saved = _dup(_fileno(stdout));
    FILE *file = std::fopen(path, "wb");
    _dup2(_fileno(file), _fileno(stdout));
    body();
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::fclose(file);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    std::remove(path);
    return text.str();
}

TEST_F(ToolboxHashTable, PrintListsEveryItemInIterationOrder)
{
    HashTableType table = make_table(0, HASH_KEY_FIXED, 2, 3);
    unsigned char key_a[2] = {0x0A, 0x01}, value_a[3] = {0xFF, 0x00, 0x10};
    HashTableInsertItem(table, key_a, value_a);
    uint32_t bucket = Lookup3_hashlittle(key_a, 2) & 31;
    std::string text = captured_stdout([&] { HashTablePrint(table); });
    std::string expected = "size: 1, buckets: 32, load: 3.1%, grow at 80.0%, shrink at 0.0%\n"
                           "Item\tBucket\tKey\t\tValue\n"
                           "-----------------------------------------------------------\n"
                           "0\t" + std::to_string(bucket) + "\ta1\tff010\n";
    EXPECT_EQ(text, expected);
    HashTableDispose(table);

    HashTableType strings = make_table(0, HASH_KEY_CSTRING, 0, 1);
    const char *keys[] = {"x", "yz", "abc"};
    const unsigned char values[] = {1, 0xAB, 0x0C};
    uint32_t buckets[3];
    for (int i = 0; i < 3; ++i) {
        HashTableInsertItem(strings, keys[i], &values[i]);
        buckets[i] = Lookup3_hashlittle(keys[i], std::strlen(keys[i]) + 1) & 31;
    }
    ASSERT_TRUE(buckets[0] != buckets[1] && buckets[1] != buckets[2] && buckets[0] != buckets[2]);
    HashTableSetAttribute(strings, HASH_ATTR_SHRINK_THRESHOLD, 0.125);
    text = captured_stdout([&] { HashTablePrint(strings); });
    std::vector<int> order = {0, 1, 2};
    std::sort(order.begin(), order.end(), [&](int a, int b) { return buckets[a] < buckets[b]; });
    std::string rows;
    const char *value_text[] = {"1", "ab", "c"};
    for (int n = 0; n < 3; ++n)
        rows += std::to_string(n) + "\t" + std::to_string(buckets[order[n]]) + "\t" + keys[order[n]] + "\t" +
                value_text[order[n]] + "\n";
    EXPECT_EQ(text, "size: 3, buckets: 32, load: 9.4%, grow at 80.0%, shrink at 12.5%\n"
                    "Item\tBucket\tKey\t\tValue\n"
                    "-----------------------------------------------------------\n" + rows);
    HashTableDispose(strings);
}

} // namespace

namespace {

TEST_F(ToolboxHashTable, ContainersAreTrackedOnlyByTheirOwnRegistrations)
{
    /* Tracking is on: every block allocated without suspending it would show
     * up as a "Memory" resource while the containers live. */
    size_t before = standin_rte_resource_count();
    ListType list = ListCreate(sizeof(int));
    for (int i = 0; i < 50; ++i) ListInsertItem(list, &i, LIST_POS_END);
    ListType copy = ListCopy(list);
    ListAppend(copy, list);
    HashTableType table = make_table();
    for (uint64_t k = 0; k < 100; ++k) insert(table, k, k);
    size_t first = 0, second = 0;
    HashTableIteratorCreate(table, &first);
    HashTableIteratorCreate(table, &second);
    HashTableSetAttribute(table, HASH_ATTR_HASH_FUNCTION, &Lookup3_hashlittle);
    EXPECT_EQ(standin_rte_resource_count(), before + 5);
    for (size_t i = before; i < standin_rte_resource_count(); ++i) {
        char category[64] = {};
        standin_rte_resource_at(i, nullptr, category, sizeof category, nullptr, 0);
        EXPECT_STREQ(category, "Toolbox");
    }
    EXPECT_EQ(standin_rte_resource_tracking(), 1);
    HashTableDispose(table);
    ListDispose(copy);
    ListDispose(list);
}

} // namespace

namespace {

/* The registry reads and writes its records in place: the pointer must follow
 * the pair through growth, see inserted values, and leave iterators alone. */
TEST_F(ToolboxHashTable, ValueInPlaceFollowsThePairThroughGrowthAndRemoval)
{
    for (int keyKind : {HASH_KEY_FIXED, HASH_KEY_CSTRING}) {
        SCOPED_TRACE(keyKind);
        HashTableType table = make_table(0, keyKind, 8, 8);
        /* The same key as a number or as its decimal text. */
        struct Key {
            uint64_t number;
            std::string text;
            const void *bytes(int kind) const { return kind == HASH_KEY_FIXED ? static_cast<const void *>(&number) : text.c_str(); }
        };
        auto make_key = [](uint64_t n) { return Key{n, std::to_string(n * 7919)}; };
        Key five = make_key(5);
        uint64_t v = 50;
        const void *key = five.bytes(keyKind);
        ASSERT_EQ(toolbox::hash_table_value_in_place(table, key), nullptr);
        ASSERT_EQ(HashTableInsertItem(table, key, &v), 0);
        auto *slot = static_cast<uint64_t *>(toolbox::hash_table_value_in_place(table, key));
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(*slot, 50u);

        size_t iterator = 0;
        ASSERT_EQ(HashTableIteratorCreate(table, &iterator), 0);
        *slot = 51;
        uint64_t read = 0;
        char keyBuffer[32];
        EXPECT_EQ(HashTableIteratorGetItem(table, iterator, keyBuffer, sizeof keyBuffer, &read, sizeof read), 0);
        EXPECT_EQ(read, 51u);

        for (uint64_t other = 100; other < 400; ++other) { /* grows several times */
            Key more = make_key(other);
            ASSERT_EQ(HashTableInsertItem(table, more.bytes(keyKind), &other), 0);
        }
        EXPECT_GE(buckets_of(table), 256); /* grew from 32 at least three times */
        EXPECT_EQ(toolbox::hash_table_value_in_place(table, key), slot);
        v = 52;
        ASSERT_EQ(HashTableInsertItem(table, key, &v), 0);
        EXPECT_EQ(*slot, 52u);
        ASSERT_EQ(HashTableRemoveItem(table, key, nullptr, 0), 0);
        EXPECT_EQ(toolbox::hash_table_value_in_place(table, key), nullptr);
        EXPECT_EQ(toolbox::hash_table_value_in_place(nullptr, key), nullptr);
        EXPECT_EQ(toolbox::hash_table_value_in_place(table, nullptr), nullptr);
        HashTableDispose(table);
    }
}

} // namespace

namespace {

/* Pairs of small fixed-size keys live in pooled slabs: churn must reuse freed
 * nodes instead of asking the engine again, and a table that is emptied or
 * cleared gives every slab back. */
TEST_F(ToolboxHashTable, PooledNodesAreReusedAndGivenBackWhenTheTableEmpties)
{
    EngineBaseline engine;
    HashTableType table = make_table(0, HASH_KEY_FIXED, 8, 16);
    const long empty_table = engine.extra_blocks();
    uint64_t value[2] = {1, 2};
    for (uint64_t k = 0; k < 1000; ++k) ASSERT_EQ(HashTableInsertItem(table, &k, value), 0);
    const long full_table = engine.extra_blocks();
    EXPECT_LT(full_table - empty_table, 20) << "1000 pairs should take a few slabs, not a block each";

    /* Remove and re-insert half the keys, twice: no new engine blocks. */
    for (int round = 0; round < 2; ++round) {
        for (uint64_t k = 0; k < 1000; k += 2) ASSERT_EQ(HashTableRemoveItem(table, &k, nullptr, 0), 0);
        for (uint64_t k = 0; k < 1000; k += 2) ASSERT_EQ(HashTableInsertItem(table, &k, value), 0);
        EXPECT_EQ(engine.extra_blocks(), full_table);
    }
    for (uint64_t k = 0; k < 1000; ++k) {
        uint64_t read[2] = {};
        ASSERT_EQ(HashTableGetItem(table, &k, read, sizeof read), 0);
        ASSERT_EQ(read[1], 2u) << k;
    }

    for (uint64_t k = 0; k < 1000; ++k) ASSERT_EQ(HashTableRemoveItem(table, &k, nullptr, 0), 0);
    EXPECT_EQ(engine.extra_blocks(), empty_table) << "an emptied table keeps only its record, buckets and iterators";
    for (uint64_t k = 0; k < 100; ++k) ASSERT_EQ(HashTableInsertItem(table, &k, value), 0);
    EXPECT_GT(engine.extra_blocks(), empty_table);
    ASSERT_EQ(HashTableClear(table), 0);
    EXPECT_EQ(engine.extra_blocks(), empty_table);
    ASSERT_EQ(HashTableDispose(table), 0);
    EXPECT_EQ(engine.extra_blocks(), 0);

    /* String keys, and fixed nodes too large to pool, are one block per pair. */
    for (auto [keyKind, valueSize] : {std::pair{HASH_KEY_CSTRING, size_t{8}}, std::pair{HASH_KEY_FIXED, size_t{4096}}}) {
        HashTableType other = make_table(0, keyKind, 8, valueSize);
        std::vector<unsigned char> big(valueSize, 7);
        const long before = engine.extra_blocks();
        for (uint64_t k = 1; k <= 10; ++k) {
            std::string text = std::to_string(k);
            const void *key = keyKind == HASH_KEY_CSTRING ? static_cast<const void *>(text.c_str()) : &k;
            ASSERT_EQ(HashTableInsertItem(other, key, big.data()), 0);
        }
        EXPECT_EQ(engine.extra_blocks() - before, 10);
        HashTableDispose(other);
    }
    EXPECT_EQ(engine.extra_blocks(), 0);
}

} // namespace

namespace {

/* Values of every size class the lookup copies differently, under keys that
 * share chains: exactly the value's bytes are written, a longer buffer keeps
 * its tail, and a key that is absent zero-fills the whole buffer. */
TEST_F(ToolboxHashTable, GetCopiesExactlyTheValueWhateverItsSize)
{
    for (size_t valueSize : {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 64, 300}) {
        SCOPED_TRACE(valueSize);
        HashTableType table = make_table(0, HASH_KEY_FIXED, 8, valueSize);
        /* 256 keys in 32 buckets that never grow: whatever chain a lookup
         * follows, it holds about 8 keys, so keys sit at the head, second
         * and deeper, and an absent key is looked for through a long chain. */
        ASSERT_EQ(HashTableSetAttribute(table, HASH_ATTR_GROW_THRESHOLD, -1.0), 0);
        std::vector<uint64_t> keys;
        for (uint64_t k = 0; k < 256; ++k) keys.push_back(k * 0x10001 + 7);
        auto value_of = [&](uint64_t k) {
            std::vector<unsigned char> v(valueSize);
            for (size_t i = 0; i < valueSize; ++i) v[i] = static_cast<unsigned char>(k * 31 + i + 1);
            return v;
        };
        for (uint64_t k : keys) ASSERT_EQ(HashTableInsertItem(table, &k, value_of(k).data()), 0);
        for (uint64_t k : keys) {
            std::vector<unsigned char> buffer(valueSize + 8, 0xEE);
            ASSERT_EQ(HashTableGetItem(table, &k, buffer.data(), buffer.size()), 0);
            std::vector<unsigned char> expected = value_of(k);
            expected.resize(valueSize + 8, 0xEE);
            ASSERT_EQ(buffer, expected) << "key " << k;
        }
        uint64_t absent = 0;
        while (std::find(keys.begin(), keys.end(), absent) != keys.end()) ++absent;
        std::vector<unsigned char> buffer(valueSize + 8, 0xEE);
        ASSERT_EQ(HashTableGetItem(table, &absent, buffer.data(), buffer.size()), 0);
        EXPECT_EQ(buffer, std::vector<unsigned char>(valueSize + 8, 0));
        EXPECT_EQ(HashTableGetItem(table, &keys[0], buffer.data(), valueSize - 1), valueSize > 1 ? -5207 : 1);
        HashTableDispose(table);
    }
}

} // namespace

namespace {

/* The lookup chains of 8-byte keys: keys as callers make them (counters,
 * aligned pointers, handles with their bits high up) fill about as many
 * chains as random keys, so no pattern turns lookups into long walks. A table
 * of n buckets holds up to about 1.5 n keys before it grows; random keys then
 * fill 78% of the chains, the longest holding about 8. */
TEST(ToolboxSpread, CommonKeyPatternsSpreadLikeRandomKeys)
{
    struct Pattern {
        const char *name;
        uint64_t (*key)(uint64_t i);
    };
    const Pattern patterns[] = {
        {"counter", [](uint64_t i) { return i; }},
        {"16-byte aligned pointers", [](uint64_t i) { return 0x10000000 + i * 16; }},
        {"24-byte records", [](uint64_t i) { return 0x20000 + i * 24; }},
        {"4 KiB pages", [](uint64_t i) { return i * 4096; }},
        {"64 KiB blocks", [](uint64_t i) { return 0x7FF000000000 + i * 65536; }},
        {"upper half", [](uint64_t i) { return i << 32; }},
        {"top bits", [](uint64_t i) { return i << 47; }},
        {"top byte and bottom", [](uint64_t i) { return (i << 56) | i; }},
        {"negative", [](uint64_t i) { return 0 - i; }},
    };
    for (const Pattern &pattern : patterns) {
        for (int bits = 5; bits <= 16; ++bits) {
            SCOPED_TRACE(::testing::Message() << pattern.name << ", " << (1u << bits) << " chains");
            uint32_t chains = 1u << bits;
            uint64_t keys = chains + chains / 2;
            std::vector<uint32_t> length(chains);
            for (uint64_t i = 0; i < keys; ++i) {
                uint64_t key = pattern.key(i);
                ++length[toolbox::spread8(&key) & (chains - 1)];
            }
            size_t used = std::count_if(length.begin(), length.end(), [](uint32_t n) { return n > 0; });
            EXPECT_GE(static_cast<double>(used) / chains, 0.5);
            EXPECT_LE(*std::max_element(length.begin(), length.end()), 16u);
        }
    }
}

} // namespace
