/* HashTableType: the toolbox's map from fixed-size or NUL-terminated string
 * keys to fixed-size values.
 *
 * Separate chaining over a power-of-two array of buckets; a key's bucket is
 * its Lookup3_hashlittle hash (or the caller's hash function) masked by the
 * bucket count. New nodes go to the head of their chain, so iteration runs
 * through the buckets in index order and through each chain from the most
 * recently inserted node. The load that drives growth and shrinking is the
 * fraction of non-empty buckets.
 *
 * Every pair is chained twice:
 *   - its node in the ordered chains, placed by the table's hash function:
 *     everything the caller can observe about placement and order follows
 *     them (iteration, printing, the bucket sizes, the load, the chain limit,
 *     the order in which a resize moves pairs);
 *   - its entry (link, key copy, value copy) in the lookup chains, two per
 *     bucket, which serve get, find, insert and remove (see "the lookup
 *     index" below).
 *
 * Invariants kept by every operation:
 *   - bucketCount is a power of two, minBuckets <= bucketCount <= 2^31;
 *   - itemCount is the number of pairs, usedBuckets the number of buckets
 *     whose ordered chain is not empty;
 *   - every pair's node is in exactly one ordered chain and its entry in
 *     exactly one lookup chain, each the one its key's hash picks;
 *   - a resize never fails part-way: everything that may fail (the new
 *     bucket array, the chain limits) is done or checked before the first
 *     change;
 *   - an operation that fails leaves the table exactly as it was, with three
 *     exceptions, where the failure is that of the resize that follows a
 *     completed change: a removal whose shrink fails has still removed the
 *     pair (and copied its value out), a clear whose shrink fails has still
 *     emptied the table, and a grow threshold whose growth fails stays
 *     stored. A failed growth after an insertion leaves the table without the
 *     insertion;
 *   - an iterator slot in use and valid points at an existing node; every
 *     change of the table clears the valid bit of every slot;
 *   - a bucket is only the heads of its chains: all ordered heads first and
 *     the lookup heads behind them, in one block. Chain lengths are
 *     counted by walking the ordered chain where they are needed (the
 *     bucket-sizes attribute, the chain limit, a resize).
 *
 * Choices where the contract is open:
 *   - An entry holds the key copy and the value copy in one piece with its
 *     link (and, for a string key, the key's hash and length); replacing the
 *     value of an existing key copies the new value over the old one and
 *     cannot fail for lack of memory.
 *   - Pairs of a table with small fixed-size keys and values are carved from
 *     pooled engine blocks (see "pair pool" below) instead of one block each:
 *     entries lie densely packed, without a per-block header between them,
 *     so a lookup that misses the cache fetches fewer lines. A pooled pair goes back to its table's free list when it is
 *     removed; the blocks go back to the engine when the table is cleared,
 *     emptied or disposed. Pairs of string keys, and of large keys or values,
 *     are one engine block each (the node, then the entry).
 *   - A failed change of the shrink threshold or of the hash function that
 *     needed a resize keeps the previous one (a hash function stored without
 *     the rehash would lose every key).
 *   - An iterator created on an empty table is valid and at end: reading or
 *     advancing it reports -5213 until the table changes (then -5210). A slot
 *     that is used again starts from a clean state word.
 *   - Disposing a table releases the registrations of iterators that are
 *     still open, since their token blocks are freed with the table.
 *
 * Every allocation runs with the engine's resource tracking suspended; the
 * table and each iterator are registered explicitly under "Toolbox". */
#include <cmath>
#include <cstddef>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include "toolbox.h"
#include "hash_table_internal.h"
#include "toolbox_internal.h"
#include "unaligned.h"

namespace {

constexpr uint32_t kTableMagic = 0xDEADBABE;

enum Status : int {
    kOk = 0,
    kOutOfMemory = -5071,
    kInvalidTable = -5200,
    kBadKeyKind = -5201,
    kBadKeySize = -5202,
    kBadValueSize = -5203,
    kNullKey = -5204,
    kBadValueBuffer = -5205,
    kNullPointer = -5206,
    kBufferTooSmall = -5207,
    kBadAttribute = -5208,
    kAttributeOutOfRange = -5209,
    kIteratorInvalidated = -5210,
    kNoSuchIterator = -5211,
    kIteratorTableFull = -5212,
    kIteratorPastEnd = -5213,
    kTooManyBuckets = -5214,
    kBucketFull = -5215,
    kResizeFailed = -5216,
};

constexpr size_t kMaxKeyOrValueSize = 0x7FFFFFFF;
constexpr uint32_t kMinimumBuckets = 32;
constexpr uint64_t kMaximumBuckets = uint64_t{1} << 31;
constexpr int32_t kMaxChainLength = 0x10000000;
constexpr double kDefaultGrowThreshold = 0.8;
constexpr double kDisabled = -1.0;
constexpr uint32_t kInitialIteratorSlots = 2;
constexpr size_t kTokenBytes = 4;

/* Iterator state word. */
constexpr uint32_t kIteratorPosition = 0x1FFFFFFF; /* node index within the chain */
constexpr uint32_t kIteratorInUse = 0x20000000;
constexpr uint32_t kIteratorValid = 0x40000000;
constexpr uint32_t kIteratorAtEnd = 0x80000000;

/* A pair's data: the link to the next entry of its lookup chain, for string
 * keys a StringTag, then the key copy, then the value copy at the next 8-byte
 * boundary. Keeping the copies inline (no pointers to them) keeps a lookup to
 * one cache line per entry visited. */
struct Entry {
    Entry *link;
};

/* Behind the link of a string key's entry: the key's hash under the table's
 * hash function and its length (strlen + 1, UINT32_MAX for a key of that
 * length or more). A lookup compares both, as one word, before any key byte,
 * and finds the value copy without measuring the key again. */
struct StringTag {
    uint32_t hash;
    uint32_t length;
};

/* A pair's place in the ordered chains: the chains that iteration, printing,
 * the bucket sizes and the resize order see. */
struct HashNode {
    HashNode *next;
    Entry *entry;
};

struct NodeSlab; /* a block of pooled pairs */

struct HashBucket {
    HashNode *head;
};

struct IteratorSlot {
    void *token; /* 4-byte engine block: the iterator's identity for resource tracking */
    uint32_t bucket;
    uint32_t state;
};

using KeyCompare = int (*)(const void *stored, const void *key, size_t keySize);

int compare_string_keys(const void *stored, const void *key, size_t)
{
    return std::strcmp(static_cast<const char *>(stored), static_cast<const char *>(key));
}

} // namespace

struct HashTableStructTag {
    uint32_t magic;
    uint32_t keyKind;
    int32_t keySize;
    int32_t valueSize;
    HashFunction hash;
    KeyCompare compare;
    uint32_t minBuckets;
    double growThreshold;
    double shrinkThreshold;
    HashBucket *buckets;
    int32_t itemCount;
    uint32_t usedBuckets;
    uint32_t bucketCount;
    IteratorSlot *iterators;
    uint32_t iteratorCount;
    /* Behind the documented record: the lookup chains and the pair pool. */
    Entry **lookupHeads;    /* lookupMask + 1 heads, in the same block right behind the ordered heads */
    NodeSlab *slabs;        /* newest first */
    HashNode *freeNodes;    /* pooled pairs not in use, linked through next */
    uint32_t pooledNodes;   /* pairs carved from all slabs together */
    uint32_t entryBytes;    /* size of a pooled entry; 0 when pairs are not pooled */
    uint32_t plainFixed8;   /* 8-byte fixed keys under Lookup3_hashlittle: lookups spread the key by multiplication */
    uint32_t fastGetValueSize; /* the value size when plainFixed8 and values fit 32 bytes, else 0 */
    uint32_t lookupMask;    /* kLookupChainsPerBucket * bucketCount - 1 */
    uint64_t fastGetGate;   /* fastGetValueSize - 1, or all ones when it is 0: one compare admits a buffer size */
};

namespace {

using toolbox::engine_calloc;
using toolbox::engine_free;
using toolbox::engine_malloc;
using toolbox::ResourceTrackingSuspended;
using toolbox::spread8;

bool valid(HashTableType table) { return table && table->magic == kTableMagic; }

bool string_keys(HashTableType table) { return table->keyKind == HASH_KEY_CSTRING; }

/* The key copy of a fixed-size key's entry. */
unsigned char *fixed_key(Entry *entry) { return reinterpret_cast<unsigned char *>(entry + 1); }

StringTag *string_tag(Entry *entry) { return reinterpret_cast<StringTag *>(entry + 1); }

unsigned char *string_key(Entry *entry) { return reinterpret_cast<unsigned char *>(string_tag(entry) + 1); }

unsigned char *entry_key(HashTableType table, Entry *entry)
{
    return string_keys(table) ? string_key(entry) : fixed_key(entry);
}

unsigned char *node_key(HashTableType table, HashNode *node) { return entry_key(table, node->entry); }

size_t aligned8(size_t n) { return (n + 7) & ~size_t{7}; }

size_t key_length(HashTableType table, const void *key)
{
    if (table->keyKind == HASH_KEY_CSTRING) return std::strlen(static_cast<const char *>(key)) + 1;
    return static_cast<size_t>(table->keySize);
}

/* The length of a stored key: its key size, or strlen + 1 as its tag holds it. */
size_t stored_key_length(HashTableType table, Entry *entry)
{
    if (!string_keys(table)) return static_cast<size_t>(table->keySize);
    uint32_t length = string_tag(entry)->length;
    return length != UINT32_MAX ? length : key_length(table, string_key(entry));
}

/* The value copy lies behind the key copy, at the next 8-byte boundary. */
unsigned char *entry_value(HashTableType table, Entry *entry)
{
    return entry_key(table, entry) + aligned8(stored_key_length(table, entry));
}

unsigned char *node_value(HashTableType table, HashNode *node) { return entry_value(table, node->entry); }

uint32_t bucket_index(uint32_t hash, uint32_t bucketCount) { return hash & (bucketCount - 1); }

double load_of(uint32_t used, uint32_t bucketCount)
{
    return static_cast<double>(used) / static_cast<double>(bucketCount);
}

/* ---- the lookup index ----
 *
 * The lookup chains find a key's entry for get, find, insert and remove; the
 * ordered chains, placed by the table's hash function, decide everything the
 * caller can observe about placement and order.
 *
 * Invariants:
 *   - there are lookupMask + 1 = kLookupChainsPerBucket * bucketCount lookup
 *     chains, their heads in the same block right behind the ordered heads;
 *   - every pair's entry is in exactly one lookup chain: chain
 *     spread8(key) & lookupMask for an 8-byte key under the table's own hash
 *     (plainFixed8), its hash under the table's hash function & lookupMask for
 *     any other key; the order within a chain carries no meaning;
 *   - plainFixed8, fastGetValueSize and fastGetGate follow the key kind, key
 *     size, value size and hash function (note_hash_function): bufferSize >
 *     fastGetGate holds exactly when the fast get applies and the buffer takes
 *     the value;
 *   - a string key's entry holds in its StringTag the key's hash under the
 *     table's current hash function (a rehash with another function rewrites
 *     it) and its length, so that a lookup passes over another key's entry
 *     on one compare and the key bytes are compared only when both agree;
 *   - an entry never moves while its pair exists: a resize only relinks it.
 *
 * spread8 (hash_table_internal.h) places 8-byte keys: a dozen instructions
 * where lookup3 takes some thirty, and sequential, aligned and high-bit keys
 * spread about as well as random ones. */

/* 8-byte fixed keys hashed by the table's own hash take the inlined path. */
bool is_plain_fixed8(HashTableType table) { return table->plainFixed8 != 0; }

uint32_t hash_with(HashFunction hash, const void *key, size_t length)
{
    if (hash == &Lookup3_hashlittle && length == 8) return toolbox::lookup3_hash8(key);
    return hash(key, length);
}

/* The lookup heads lie right behind the ordered heads, in the same block. */
Entry **lookup_heads_of(HashBucket *buckets, uint32_t count)
{
    return reinterpret_cast<Entry **>(buckets + count);
}

/* Two lookup chains per bucket: a table that grows at the default load holds
 * about 1.5 pairs per bucket, so a lookup chain holds about 0.75 and a lookup
 * mostly finds its key at the head, without a second miss for the successor. */
constexpr uint32_t kLookupChainsPerBucket = 2;

/* The bytes of a bucket's heads: its ordered chain's and its lookup chains'. */
constexpr size_t kHeadBytesPerBucket = sizeof(HashBucket) + kLookupChainsPerBucket * sizeof(Entry *);

/* One block for both arrays of heads, zero-filled. */
HashBucket *allocate_heads(uint64_t count)
{
    return static_cast<HashBucket *>(engine_calloc(count, kHeadBytesPerBucket));
}

size_t heads_bytes(uint32_t count) { return size_t{count} * kHeadBytesPerBucket; }

/* The mask of a lookup chain's index; bucketCount is at most 2^31. */
uint32_t lookup_mask(uint32_t bucketCount)
{
    return static_cast<uint32_t>(uint64_t{kLookupChainsPerBucket} * bucketCount - 1);
}

/* Kept whenever the key kind, key size or hash function is set. */
void note_hash_function(HashTableType table, HashFunction hash)
{
    table->hash = hash;
    table->plainFixed8 = table->keyKind == HASH_KEY_FIXED && table->keySize == 8 && hash == &Lookup3_hashlittle;
    table->fastGetValueSize =
        table->plainFixed8 && table->valueSize <= 32 ? static_cast<uint32_t>(table->valueSize) : 0;
    table->fastGetGate = uint64_t{table->fastGetValueSize} - 1;
}

/* Where a key's entry is chained for lookups: spread8 for 8-byte keys under
 * the table's own hash, the table's hash otherwise. */
uint32_t lookup_hash(HashTableType table, const void *key, size_t length)
{
    return is_plain_fixed8(table) ? spread8(key) : hash_with(table->hash, key, length);
}

/* Where a key's entry is, or would go, among the lookup chains. */
struct Place {
    uint32_t hash;    /* the key's hash under the table's hash function; 0 for spread keys */
    uint32_t bucket;  /* the lookup chain */
    Entry *entry;     /* null when the key is absent */
    Entry *previous;  /* the entry before it in the chain, null at the head */
    size_t length;    /* a string key's strlen + 1; 0 for fixed keys */
};

/* strlen(key) + 1, by aligned 16-byte blocks. An aligned block never crosses
 * a page boundary, so reading the whole block that holds the terminator
 * cannot fault, though it may cover bytes before the key and after the
 * terminator; those before are shifted out, those after are never looked at
 * (the lowest zero byte ends the scan). */
[[gnu::always_inline]] inline size_t string_key_length(const char *key)
{
    uintptr_t address = reinterpret_cast<uintptr_t>(key);
    const auto *block = reinterpret_cast<const __m128i *>(address & ~uintptr_t{15});
    const __m128i zero = _mm_setzero_si128();
    uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    zeros >>= address & 15;
    if (zeros) return static_cast<size_t>(__builtin_ctz(zeros)) + 1;
    for (;;) {
        ++block;
        zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
        if (zeros)
            return static_cast<size_t>(reinterpret_cast<const char *>(block) - key) + __builtin_ctz(zeros) + 1;
    }
}

using toolbox::load32;
using toolbox::load64;

/* Whether n bytes (n >= 1) at x and y are equal, by 8-byte words and a last
 * word that ends at the last byte; nothing outside the n bytes is read. */
[[gnu::always_inline]] inline bool same_bytes(const unsigned char *x, const unsigned char *y, size_t n)
{
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (load64(x + i) != load64(y + i)) return false;
        return load64(x + n - 8) == load64(y + n - 8);
    }
    if (n >= 4) return ((load32(x) ^ load32(y)) | (load32(x + n - 4) ^ load32(y + n - 4))) == 0;
    return x[0] == y[0] && x[n / 2] == y[n / 2] && x[n - 1] == y[n - 1];
}

/* The tag word of a string key: hash and length as a StringTag holds them. */
uint64_t tag_word(uint32_t hash, size_t length)
{
    StringTag tag{hash, length < UINT32_MAX ? static_cast<uint32_t>(length) : UINT32_MAX};
    uint64_t word;
    std::memcpy(&word, &tag, sizeof word);
    return word;
}

/* The search for a string key: measured once, hashed once, and compared with
 * an entry's tag before its bytes. Equal tags below UINT32_MAX mean equal
 * lengths, so the n bytes (the terminator included) decide; keys too long for
 * the tag are compared by strcmp. */
[[gnu::always_inline]] inline Place locate_string(HashTableType table, const char *key)
{
    Place place{};
    size_t length = string_key_length(key);
    place.length = length;
    place.hash = table->hash(key, length);
    place.bucket = place.hash & table->lookupMask;
    uint64_t wanted = tag_word(place.hash, length);
    const auto *bytes = reinterpret_cast<const unsigned char *>(key);
    for (Entry *entry = table->lookupHeads[place.bucket]; entry; entry = entry->link) {
        uint64_t tag;
        std::memcpy(&tag, string_tag(entry), sizeof tag);
        const unsigned char *stored = string_key(entry);
        if (tag == wanted && (length < UINT32_MAX ? same_bytes(stored, bytes, length)
                                                  : std::strcmp(reinterpret_cast<const char *>(stored), key) == 0)) {
            place.entry = entry;
            return place;
        }
        place.previous = entry;
    }
    place.previous = nullptr;
    return place;
}

/* The general search: fixed keys of any size, any hash function. */
[[gnu::noinline]] Place locate_general(HashTableType table, const void *key)
{
    Place place{};
    place.hash = lookup_hash(table, key, key_length(table, key));
    place.bucket = place.hash & table->lookupMask;
    for (Entry *entry = table->lookupHeads[place.bucket]; entry; entry = entry->link) {
        if (table->compare(fixed_key(entry), key, static_cast<size_t>(table->keySize)) == 0) {
            place.entry = entry;
            return place;
        }
        place.previous = entry;
    }
    place.previous = nullptr;
    return place;
}

/* The search for an 8-byte key hashed by the table's own hash: the spread
 * inlined, keys compared as one word. */
[[gnu::always_inline]] inline Place locate_fixed8(HashTableType table, const void *key)
{
    Place place{};
    uint64_t wanted;
    std::memcpy(&wanted, key, sizeof wanted);
    place.bucket = spread8(key) & table->lookupMask;
    for (Entry *entry = table->lookupHeads[place.bucket]; entry; entry = entry->link) {
        uint64_t stored;
        std::memcpy(&stored, fixed_key(entry), sizeof stored);
        if (stored == wanted) {
            place.entry = entry;
            return place;
        }
        place.previous = entry;
    }
    place.previous = nullptr;
    return place;
}

[[gnu::always_inline]] inline Place locate(HashTableType table, const void *key)
{
    if (is_plain_fixed8(table)) return locate_fixed8(table, key);
    if (string_keys(table)) return locate_string(table, static_cast<const char *>(key));
    return locate_general(table, key);
}

/* Pushes an entry at the head of lookup chain b. */
void push_entry(Entry **heads, uint32_t b, Entry *entry)
{
    entry->link = heads[b];
    heads[b] = entry;
}

/* The ordered chain of a key whose lookup chain is known: the key's hash
 * under the table's hash function, which is the lookup chain's own hash
 * unless the key is spread instead. */
uint32_t order_bucket(HashTableType table, const void *key, const Place &place)
{
    return bucket_index(is_plain_fixed8(table) ? toolbox::lookup3_hash8(key) : place.hash, table->bucketCount);
}

/* The ordered-chain node of a present entry, and the node before it. */
HashNode *node_of_entry(HashTableType table, Entry *entry, uint32_t order, HashNode **previous)
{
    *previous = nullptr;
    HashNode *node = table->buckets[order].head;
    while (node->entry != entry) {
        *previous = node;
        node = node->next;
    }
    return node;
}

/* ---- pair pool ----
 *
 * A table whose fixed-size entries are small keeps its pairs in slabs: engine
 * blocks holding the entries side by side from a 64-byte boundary, followed
 * by as many ordered-chain nodes, node i belonging to entry i for the slab's
 * whole life. The first slab holds kFirstSlabNodes pairs and each later one as
 * many as all before it, up to kLargestSlabNodes, so a table of n pairs wastes
 * at most about half a slab. Free pairs form a list through their nodes' next
 * links.
 *
 * Invariants: every pair of a pooled table is either in use (its node in one
 * ordered chain, its entry in one lookup chain) or on the free list;
 * pooledNodes is the sum of the slabs' pair counts; a slab is given back only
 * when no pair of it is in use (all of them at once, when the table is
 * cleared, emptied or disposed, or the newest one when the insertion that
 * made it fails). Slabs never move, so neither do entries. */

struct NodeSlab {
    NodeSlab *next;
    uint32_t nodes;
};

constexpr size_t kLargestPooledEntry = 256;
constexpr uint32_t kFirstSlabNodes = 16;
constexpr uint32_t kLargestSlabNodes = 4096;
constexpr size_t kSlabAlignment = 64;

size_t fixed_entry_bytes(size_t keySize, size_t valueSize)
{
    return sizeof(Entry) + aligned8(keySize) + aligned8(valueSize);
}

bool pooled(HashTableType table) { return table->entryBytes != 0; }

unsigned char *slab_entries(NodeSlab *slab)
{
    auto start = reinterpret_cast<uintptr_t>(slab + 1);
    return reinterpret_cast<unsigned char *>((start + kSlabAlignment - 1) & ~uintptr_t{kSlabAlignment - 1});
}

/* Adds a slab and puts its pairs on the (empty) free list. */
bool add_slab(HashTableType table)
{
    uint32_t count = table->pooledNodes < kFirstSlabNodes   ? kFirstSlabNodes
                     : table->pooledNodes > kLargestSlabNodes ? kLargestSlabNodes
                                                              : table->pooledNodes;
    if (table->pooledNodes > UINT32_MAX - count) return false;
    size_t pair_bytes = table->entryBytes + sizeof(HashNode);
    auto *slab =
        static_cast<NodeSlab *>(engine_malloc(sizeof(NodeSlab) + kSlabAlignment - 1 + size_t{count} * pair_bytes));
    if (!slab) return false;
    slab->nodes = count;
    slab->next = table->slabs;
    table->slabs = slab;
    table->pooledNodes += count;
    unsigned char *entries = slab_entries(slab);
    auto *nodes = reinterpret_cast<HashNode *>(entries + size_t{count} * table->entryBytes);
    for (uint32_t i = count; i-- > 0;) {
        nodes[i].entry = reinterpret_cast<Entry *>(entries + size_t{i} * table->entryBytes);
        nodes[i].next = table->freeNodes;
        table->freeNodes = &nodes[i];
    }
    return true;
}

/* Gives back the newest slab, all of whose pairs are on the free list and
 * make up the whole list: the insertion that needed it has failed. */
void drop_newest_slab(HashTableType table)
{
    NodeSlab *slab = table->slabs;
    table->slabs = slab->next;
    table->pooledNodes -= slab->nodes;
    table->freeNodes = nullptr;
    engine_free(slab);
}

/* Gives back every slab; no pooled pair may be in use. */
void drop_all_slabs(HashTableType table)
{
    while (NodeSlab *slab = table->slabs) {
        table->slabs = slab->next;
        engine_free(slab);
    }
    table->freeNodes = nullptr;
    table->pooledNodes = 0;
}

/* A pair holding copies of key and value, linked nowhere, or null when memory
 * runs out; place is where locate found the key absent. An unpooled pair is
 * one engine block: the node, then the entry. *madeSlab tells whether a slab
 * was added for it. */
HashNode *new_pair(HashTableType table, const void *key, const Place &place, const void *value, bool *madeSlab)
{
    *madeSlab = false;
    bool strings = string_keys(table);
    size_t length = strings ? place.length : key_length(table, key);
    size_t key_offset = sizeof(Entry) + (strings ? sizeof(StringTag) : 0);
    size_t value_offset = key_offset + aligned8(length);
    HashNode *node;
    if (pooled(table)) {
        if (!table->freeNodes) {
            if (!add_slab(table)) return nullptr;
            *madeSlab = true;
        }
        node = table->freeNodes;
        table->freeNodes = node->next;
    } else {
        size_t bytes;
        if (length > SIZE_MAX - sizeof(HashNode) - key_offset - 8 ||
            __builtin_add_overflow(sizeof(HashNode) + value_offset, static_cast<size_t>(table->valueSize), &bytes))
            return nullptr;
        node = static_cast<HashNode *>(engine_malloc(bytes));
        if (!node) return nullptr;
        node->entry = reinterpret_cast<Entry *>(node + 1);
    }
    node->next = nullptr;
    node->entry->link = nullptr;
    if (strings) {
        uint64_t tag = tag_word(place.hash, length);
        std::memcpy(string_tag(node->entry), &tag, sizeof tag);
    }
    std::memcpy(entry_key(table, node->entry), key, length);
    std::memcpy(reinterpret_cast<unsigned char *>(node->entry) + value_offset, value,
                static_cast<size_t>(table->valueSize));
    return node;
}

void free_pair(HashTableType table, HashNode *node)
{
    if (pooled(table)) {
        node->next = table->freeNodes;
        table->freeNodes = node;
    } else {
        engine_free(node);
    }
}

/* Frees every pair; the chains are left dangling. */
void free_all_pairs(HashTableType table)
{
    if (pooled(table)) {
        drop_all_slabs(table);
        return;
    }
    for (uint32_t b = 0; b < table->bucketCount; ++b) {
        HashNode *node = table->buckets[b].head;
        while (node) {
            HashNode *next = node->next;
            engine_free(node);
            node = next;
        }
    }
}

/* Pushes a node at the head of ordered chain b of the given array. */
void push_node(HashBucket *buckets, uint32_t b, HashNode *node, uint32_t *used)
{
    HashBucket &bucket = buckets[b];
    if (!bucket.head) ++*used;
    node->next = bucket.head;
    bucket.head = node;
}

int64_t chain_length(const HashNode *node)
{
    int64_t length = 0;
    for (; node; node = node->next) ++length;
    return length;
}

void invalidate_iterators(HashTableType table)
{
    for (uint32_t i = 0; i < table->iteratorCount; ++i) table->iterators[i].state &= ~kIteratorValid;
}

/* ---- resizing: prepared (everything that may fail) before it is committed ---- */

struct PreparedResize {
    HashBucket *buckets = nullptr;
    uint32_t count = 0;
    HashFunction hash = nullptr;
};

/* Checks that no bucket of the new array would exceed the chain limit when
 * every node moves over. Doubling never merges chains; halving
 * merges bucket j with j + n/2; a new hash function can put nodes anywhere. */
bool chains_fit(HashTableType table, const PreparedResize &resize)
{
    if (resize.count > table->bucketCount && resize.hash == table->hash) return true;
    if (resize.hash == table->hash && resize.count == table->bucketCount / 2) {
        for (uint32_t j = 0; j < resize.count; ++j) {
            int64_t merged = chain_length(table->buckets[j].head) + chain_length(table->buckets[j + resize.count].head);
            if (merged > kMaxChainLength) return false;
        }
        return true;
    }
    /* Counts in the new array's (still unused) head fields, which are nulled
     * again before returning. */
    bool fits = true;
    for (uint32_t b = 0; b < table->bucketCount && fits; ++b)
        for (HashNode *node = table->buckets[b].head; node && fits; node = node->next) {
            const unsigned char *key = node_key(table, node);
            uint32_t hash = hash_with(resize.hash, key, stored_key_length(table, node->entry));
            uint32_t target = bucket_index(hash, resize.count);
            uintptr_t counted;
            std::memcpy(&counted, &resize.buckets[target].head, sizeof counted);
            ++counted;
            std::memcpy(&resize.buckets[target].head, &counted, sizeof counted);
            if (counted > static_cast<uintptr_t>(kMaxChainLength)) fits = false;
        }
    for (uint32_t j = 0; j < resize.count; ++j) resize.buckets[j].head = nullptr;
    return fits;
}

int prepare_resize(HashTableType table, uint64_t count, HashFunction hash, PreparedResize *out)
{
    if (count > kMaximumBuckets || count == 0) return kResizeFailed;
    out->count = static_cast<uint32_t>(count);
    out->hash = hash;
    out->buckets = allocate_heads(count);
    if (!out->buckets) return kOutOfMemory;
    if (!chains_fit(table, *out)) {
        engine_free(out->buckets);
        out->buckets = nullptr;
        return kResizeFailed;
    }
    return kOk;
}

/* Moves every node, in old bucket order and chain order, to the head of its
 * ordered chain in the new array, and every entry to the head of its lookup
 * chain (the lookup chains' order is nobody's concern); frees the old array.
 * Each key is hashed again with the current function, except a string key
 * that stays under the table's own hash: the pure function would give the
 * hash its tag already holds. */
void commit_resize(HashTableType table, const PreparedResize &resize)
{
    bool strings = string_keys(table);
    bool tags_hold = strings && table->hash == &Lookup3_hashlittle && resize.hash == &Lookup3_hashlittle;
    HashBucket *old_buckets = table->buckets;
    uint32_t old_count = table->bucketCount;
    table->buckets = resize.buckets;
    table->lookupHeads = lookup_heads_of(resize.buckets, resize.count);
    table->bucketCount = resize.count;
    table->lookupMask = lookup_mask(resize.count);
    note_hash_function(table, resize.hash);
    table->usedBuckets = 0;
    for (uint32_t b = 0; b < old_count; ++b) {
        HashNode *node = old_buckets[b].head;
        while (node) {
            HashNode *next = node->next;
            const unsigned char *key = node_key(table, node);
            uint32_t hash = tags_hold ? string_tag(node->entry)->hash
                                      : hash_with(table->hash, key, stored_key_length(table, node->entry));
            if (strings) string_tag(node->entry)->hash = hash;
            uint32_t lookup = is_plain_fixed8(table) ? spread8(key) : hash;
            push_node(table->buckets, bucket_index(hash, resize.count), node, &table->usedBuckets);
            push_entry(table->lookupHeads, lookup & table->lookupMask, node->entry);
            node = next;
        }
    }
    engine_free(old_buckets);
    invalidate_iterators(table);
}

bool shrink_enabled(HashTableType table) { return table->shrinkThreshold != kDisabled; }
bool grow_enabled(HashTableType table) { return table->growThreshold != kDisabled; }

bool halving_allowed(HashTableType table) { return table->bucketCount / 2 >= table->minBuckets; }

/* ---- iterators ---- */

/* Finds the slot of an iterator that may be read or advanced. */
int usable_slot(HashTableType table, size_t iterator, IteratorSlot **slot)
{
    if (iterator == 0 || iterator >= table->iteratorCount) return kNoSuchIterator;
    IteratorSlot &s = table->iterators[iterator];
    if (!(s.state & kIteratorInUse)) return kNoSuchIterator;
    if (!(s.state & kIteratorValid)) return kIteratorInvalidated;
    if (s.state & kIteratorAtEnd) return kIteratorPastEnd;
    *slot = &s;
    return kOk;
}

HashNode *node_of(HashTableType table, const IteratorSlot &slot)
{
    if (slot.bucket >= table->bucketCount) return nullptr;
    HashNode *node = table->buckets[slot.bucket].head;
    for (uint32_t i = slot.state & kIteratorPosition; node && i > 0; --i) node = node->next;
    return node;
}

/* The first non-empty bucket from `from` on, or bucketCount. */
uint32_t next_used_bucket(HashTableType table, uint64_t from)
{
    for (uint64_t b = from; b < table->bucketCount; ++b)
        if (table->buckets[b].head) return static_cast<uint32_t>(b);
    return table->bucketCount;
}

/* Doubles the iterator table; the new slots each get a token block. */
int grow_iterator_table(HashTableType table)
{
    uint64_t doubled = table->iteratorCount ? uint64_t{table->iteratorCount} * 2 : kInitialIteratorSlots;
    if (doubled > UINT32_MAX) return kIteratorTableFull;
    ResourceTrackingSuspended untracked;
    auto *slots = static_cast<IteratorSlot *>(engine_calloc(doubled, sizeof(IteratorSlot)));
    if (!slots) return kOutOfMemory;
    for (uint64_t i = table->iteratorCount; i < doubled; ++i) {
        slots[i].token = engine_malloc(kTokenBytes);
        if (!slots[i].token) {
            for (uint64_t j = table->iteratorCount; j < i; ++j) engine_free(slots[j].token);
            engine_free(slots);
            return kOutOfMemory;
        }
    }
    if (table->iteratorCount) std::memcpy(slots, table->iterators, table->iteratorCount * sizeof(IteratorSlot));
    engine_free(table->iterators);
    table->iterators = slots;
    table->iteratorCount = static_cast<uint32_t>(doubled);
    return kOk;
}

void free_iterator_table(IteratorSlot *slots, uint32_t count)
{
    if (!slots) return;
    for (uint32_t i = 0; i < count; ++i) engine_free(slots[i].token);
    engine_free(slots);
}

/* ---- creation ---- */

/* The smallest power of two not below max(32, ceil(initialSize / 0.8)), or 0
 * when that is above 2^31. */
uint64_t initial_bucket_count(int initialSize)
{
    double wanted = std::ceil(static_cast<double>(static_cast<uint32_t>(initialSize)) / kDefaultGrowThreshold);
    if (wanted < kMinimumBuckets) wanted = kMinimumBuckets;
    uint64_t count = 1;
    while (static_cast<double>(count) < wanted) count <<= 1;
    return count <= kMaximumBuckets ? count : 0;
}

HashTableType build_table(uint32_t bucketCount)
{
    ResourceTrackingSuspended untracked;
    auto *table = static_cast<HashTableType>(engine_calloc(1, sizeof(HashTableStructTag)));
    if (!table) return nullptr;
    table->buckets = allocate_heads(bucketCount);
    table->iterators = static_cast<IteratorSlot *>(engine_calloc(kInitialIteratorSlots, sizeof(IteratorSlot)));
    bool complete = table->buckets && table->iterators;
    for (uint32_t i = 0; complete && i < kInitialIteratorSlots; ++i) {
        table->iterators[i].token = engine_malloc(kTokenBytes);
        complete = table->iterators[i].token != nullptr;
    }
    if (!complete) {
        free_iterator_table(table->iterators, kInitialIteratorSlots);
        engine_free(table->buckets);
        engine_free(table);
        return nullptr;
    }
    table->iteratorCount = kInitialIteratorSlots;
    table->bucketCount = bucketCount;
    table->lookupMask = lookup_mask(bucketCount);
    table->lookupHeads = lookup_heads_of(table->buckets, bucketCount);
    return table;
}

void print_bytes(const unsigned char *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) std::printf("%x", bytes[i]);
}

/* HashTableGetItem with every check in its order, for any table and key. */
[[gnu::noinline]] int get_item_checked(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize)
{
    if (!valid(table)) return kInvalidTable;
    if (!key) return kNullKey;
    if (bufferSize == 0) return table->valueSize;
    if (!valueBuffer) return kBadValueBuffer;
    size_t value_size = static_cast<size_t>(table->valueSize);
    if (bufferSize < value_size) return kBufferTooSmall;
    Entry *entry = locate(table, key).entry;
    if (entry)
        toolbox::copy_small(valueBuffer, entry_value(table, entry), value_size);
    else
        std::memset(valueBuffer, 0, bufferSize);
    return kOk;
}

/* HashTableGetItem's common case: a present 8-byte key under the table's own
 * hash, a value of at most 32 bytes, every argument good. Everything else,
 * errors and absent keys included, goes with the arguments untouched to the
 * checked path, which makes every check in its order.
 *
 * A run of independent gets of a table that does not fit the caches is
 * bounded by how many of them the processor keeps in flight, which shrinks
 * with every instruction a get takes; so this path is a leaf that needs no
 * register saved: the key is read again for the compare (through a volatile
 * pointer, so that the compiler cannot keep the first read) rather than kept
 * in a register across the spread, since all four arguments stay live for
 * the checked path; and whether the head or its successor holds the key is
 * chosen by a conditional move (the empty asm keeps the compiler from turning
 * the choice back into a branch, which a random key would mispredict). The
 * value copy lies right behind the 8-byte key. */
[[gnu::always_inline]] inline int get_item_fast(HashTableType table, const void *key, void *valueBuffer,
                                                size_t bufferSize)
{
    if (table && key && valueBuffer && table->magic == kTableMagic && bufferSize > table->fastGetGate) {
        Entry *entry = table->lookupHeads[spread8(key) & table->lookupMask];
        if (entry) {
            uint64_t wanted = *static_cast<const volatile uint64_t *>(key);
            uint64_t stored;
            std::memcpy(&stored, fixed_key(entry), sizeof stored);
            Entry *next = entry->link;
            entry = stored == wanted ? entry : next;
            asm("" : "+r"(entry));
            for (; entry; entry = entry->link) {
                std::memcpy(&stored, fixed_key(entry), sizeof stored);
                if (stored == wanted) {
                    toolbox::copy_upto32(valueBuffer, fixed_key(entry) + 8, table->fastGetValueSize);
                    return kOk;
                }
            }
        }
    }
    return get_item_checked(table, key, valueBuffer, bufferSize);
}

double percent_or_zero(double threshold) { return threshold == kDisabled ? 0.0 : threshold * 100.0; }

} // namespace

extern "C" {

int HashTableCreate(int initialSize, int keyKind, size_t keySize, size_t valueSize, HashTableType *table)
{
    if (table) *table = nullptr;
    if (keyKind != HASH_KEY_FIXED && keyKind != HASH_KEY_CSTRING) return kBadKeyKind;
    if (keyKind == HASH_KEY_FIXED && (keySize == 0 || keySize > kMaxKeyOrValueSize)) return kBadKeySize;
    if (valueSize == 0 || valueSize > kMaxKeyOrValueSize) return kBadValueSize;
    if (!table) return kNullPointer;
    uint64_t buckets = initial_bucket_count(initialSize);
    if (!buckets) return kTooManyBuckets;
    HashTableType made = build_table(static_cast<uint32_t>(buckets));
    if (!made) return kOutOfMemory;
    made->magic = kTableMagic;
    made->keyKind = static_cast<uint32_t>(keyKind);
    made->keySize = keyKind == HASH_KEY_FIXED ? static_cast<int32_t>(keySize) : 0;
    made->valueSize = static_cast<int32_t>(valueSize);
    note_hash_function(made, &Lookup3_hashlittle);
    made->compare = keyKind == HASH_KEY_FIXED ? &std::memcmp : &compare_string_keys;
    made->minBuckets = static_cast<uint32_t>(buckets);
    made->growThreshold = kDefaultGrowThreshold;
    made->shrinkThreshold = kDisabled;
    if (keyKind == HASH_KEY_FIXED && fixed_entry_bytes(keySize, valueSize) <= kLargestPooledEntry)
        made->entryBytes = static_cast<uint32_t>(fixed_entry_bytes(keySize, valueSize));
    __QEX_Resource_Acquire(made, toolbox::kResourceCategory, "HashTableType 0x%0*p", toolbox::kPointerDigits, made);
    *table = made;
    return kOk;
}

int HashTableDispose(HashTableType table)
{
    if (!valid(table)) return kInvalidTable;
    __QEX_Resource_Release(table);
    table->magic = 0;
    free_all_pairs(table);
    engine_free(table->buckets);
    for (uint32_t i = 0; i < table->iteratorCount; ++i)
        if (table->iterators[i].state & kIteratorInUse) __QEX_Resource_Release(table->iterators[i].token);
    free_iterator_table(table->iterators, table->iteratorCount);
    engine_free(table);
    return kOk;
}

int HashTableInsertItem(HashTableType table, const void *key, const void *value)
{
    if (!valid(table)) return kInvalidTable;
    if (!key) return kNullKey;
    if (!value) return kBadValueBuffer;
    Place place = locate(table, key);
    HashNode *fresh = nullptr;
    bool made_slab = false;
    uint32_t used_after = table->usedBuckets;
    uint32_t order = 0;
    if (!place.entry) {
        order = order_bucket(table, key, place);
        const HashNode *head = table->buckets[order].head;
        /* A chain can only be full when the table holds that many items. */
        if (table->itemCount >= kMaxChainLength && chain_length(head) >= kMaxChainLength) return kBucketFull;
        if (table->itemCount == INT32_MAX) return kOutOfMemory;
        if (!head) ++used_after;
        fresh = new_pair(table, key, place, value, &made_slab);
        if (!fresh) return kOutOfMemory;
    }
    PreparedResize growth;
    if (grow_enabled(table) && load_of(used_after, table->bucketCount) >= table->growThreshold) {
        int status = prepare_resize(table, uint64_t{table->bucketCount} * 2, table->hash, &growth);
        if (status != kOk) {
            if (fresh) free_pair(table, fresh);
            if (made_slab) drop_newest_slab(table);
            return status;
        }
    }
    if (fresh) {
        push_node(table->buckets, order, fresh, &table->usedBuckets);
        push_entry(table->lookupHeads, place.bucket, fresh->entry);
        ++table->itemCount;
    } else {
        std::memcpy(entry_value(table, place.entry), value, static_cast<size_t>(table->valueSize));
    }
    invalidate_iterators(table);
    if (growth.buckets) commit_resize(table, growth);
    return kOk;
}

/* A leaf without a frame: see get_item_fast. */
[[gnu::optimize("omit-frame-pointer")]] int HashTableGetItem(HashTableType table, const void *key, void *valueBuffer,
                                                            size_t bufferSize)
{
    return get_item_fast(table, key, valueBuffer, bufferSize);
}

int HashTableFindItem(HashTableType table, const void *key, int *found)
{
    if (!valid(table)) return kInvalidTable;
    if (!key) return kNullKey;
    if (!found) return kNullPointer;
    *found = locate(table, key).entry ? 1 : 0;
    return kOk;
}

int HashTableRemoveItem(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize)
{
    if (!valid(table)) return kInvalidTable;
    if (!key) return kNullKey;
    if (bufferSize > kMaxKeyOrValueSize) return kBadValueBuffer;
    if (valueBuffer && bufferSize < static_cast<size_t>(table->valueSize)) return kBufferTooSmall;
    Place place = locate(table, key);
    if (!place.entry) {
        if (valueBuffer) std::memset(valueBuffer, 0, bufferSize);
        return kOk;
    }
    uint32_t order = order_bucket(table, key, place);
    HashBucket &bucket = table->buckets[order];
    HashNode *previous = nullptr;
    HashNode *node = node_of_entry(table, place.entry, order, &previous);
    if (valueBuffer) std::memcpy(valueBuffer, entry_value(table, place.entry), static_cast<size_t>(table->valueSize));
    if (place.previous)
        place.previous->link = place.entry->link;
    else
        table->lookupHeads[place.bucket] = place.entry->link;
    if (previous)
        previous->next = node->next;
    else
        bucket.head = node->next;
    if (!bucket.head) --table->usedBuckets;
    free_pair(table, node);
    --table->itemCount;
    if (table->itemCount == 0 && pooled(table)) drop_all_slabs(table); /* an emptied table gives its memory back */
    invalidate_iterators(table);
    /* The removal stands even when the shrink fails: a caller frees memory
     * exactly when memory is short. */
    if (shrink_enabled(table) && table->shrinkThreshold >= load_of(table->usedBuckets, table->bucketCount) &&
        halving_allowed(table)) {
        PreparedResize shrink;
        int status = prepare_resize(table, table->bucketCount / 2, table->hash, &shrink);
        if (status != kOk) return status;
        commit_resize(table, shrink);
    }
    return kOk;
}

int HashTableClear(HashTableType table)
{
    if (!valid(table)) return kInvalidTable;
    free_all_pairs(table);
    std::memset(table->buckets, 0, heads_bytes(table->bucketCount));
    table->itemCount = 0;
    table->usedBuckets = 0;
    invalidate_iterators(table);
    /* The table stays empty even when the shrink fails. An empty table's
     * chains cannot overflow, so only the allocation can fail. */
    if (shrink_enabled(table) && halving_allowed(table)) {
        PreparedResize shrink;
        shrink.count = table->bucketCount / 2;
        shrink.hash = table->hash;
        shrink.buckets = allocate_heads(shrink.count);
        if (!shrink.buckets) return kOutOfMemory;
        commit_resize(table, shrink);
    }
    return kOk;
}

int HashTableGetAttribute(HashTableType table, int attribute, void *value)
{
    if (!valid(table)) return kInvalidTable;
    if (!value) return kNullPointer;
    switch (attribute) {
    case HASH_ATTR_NUM_ITEMS: *static_cast<int *>(value) = table->itemCount; return kOk;
    case HASH_ATTR_NUM_BUCKETS: *static_cast<int *>(value) = static_cast<int>(table->bucketCount); return kOk;
    case HASH_ATTR_LOAD: *static_cast<double *>(value) = load_of(table->usedBuckets, table->bucketCount); return kOk;
    case HASH_ATTR_GROW_THRESHOLD: *static_cast<double *>(value) = table->growThreshold; return kOk;
    case HASH_ATTR_SHRINK_THRESHOLD: *static_cast<double *>(value) = table->shrinkThreshold; return kOk;
    case HASH_ATTR_HASH_FUNCTION: *static_cast<HashFunction *>(value) = table->hash; return kOk;
    case HASH_ATTR_BUCKET_SIZES: {
        int *sizes = static_cast<int *>(value);
        for (uint32_t b = 0; b < table->bucketCount; ++b)
            sizes[b] = static_cast<int>(chain_length(table->buckets[b].head));
        return kOk;
    }
    default: return kBadAttribute;
    }
}

int HashTableSetAttribute(HashTableType table, int attribute, ...)
{
    if (!valid(table)) return kInvalidTable;
    if (attribute != HASH_ATTR_GROW_THRESHOLD && attribute != HASH_ATTR_SHRINK_THRESHOLD &&
        attribute != HASH_ATTR_HASH_FUNCTION)
        return kBadAttribute;
    va_list args;
    va_start(args, attribute);
    double threshold = 0.0;
    HashFunction hash = nullptr;
    if (attribute == HASH_ATTR_HASH_FUNCTION)
        hash = va_arg(args, HashFunction);
    else
        threshold = va_arg(args, double);
    va_end(args);

    PreparedResize resize;
    double load = load_of(table->usedBuckets, table->bucketCount);
    int status = kOk;
    switch (attribute) {
    case HASH_ATTR_GROW_THRESHOLD:
        if (threshold != kDisabled && !(threshold >= 0.5 && threshold <= 1.0)) return kAttributeOutOfRange;
        table->growThreshold = threshold; /* stays stored when the growth fails */
        if (threshold != kDisabled && load >= threshold)
            status = prepare_resize(table, uint64_t{table->bucketCount} * 2, table->hash, &resize);
        if (status != kOk) return status;
        break;
    case HASH_ATTR_SHRINK_THRESHOLD:
        if (threshold != kDisabled && !(threshold >= 0.0 && threshold <= 0.5)) return kAttributeOutOfRange;
        if (threshold != kDisabled && load <= threshold && halving_allowed(table))
            status = prepare_resize(table, table->bucketCount / 2, table->hash, &resize);
        if (status != kOk) return status;
        table->shrinkThreshold = threshold;
        break;
    default: /* HASH_ATTR_HASH_FUNCTION: rehash at the current bucket count */
        if (!hash) return kAttributeOutOfRange;
        status = prepare_resize(table, table->bucketCount, hash, &resize);
        if (status != kOk) return status;
        break;
    }
    if (resize.buckets) commit_resize(table, resize);
    return kOk;
}

int HashTableIteratorCreate(HashTableType table, size_t *iterator)
{
    if (iterator) *iterator = 0;
    if (!valid(table)) return kInvalidTable;
    if (!iterator) return kNullPointer;
    uint32_t slot = 1;
    while (slot < table->iteratorCount && (table->iterators[slot].state & kIteratorInUse)) ++slot;
    if (slot >= table->iteratorCount) {
        slot = table->iteratorCount ? table->iteratorCount : 1;
        int status = grow_iterator_table(table);
        if (status != kOk) return status;
    }
    IteratorSlot &s = table->iterators[slot];
    int result;
    if (table->itemCount > 0) {
        s.bucket = next_used_bucket(table, 0);
        s.state = kIteratorInUse | kIteratorValid;
        result = 0;
    } else {
        s.bucket = 0;
        s.state = kIteratorInUse | kIteratorValid | kIteratorAtEnd;
        result = 1;
    }
    *iterator = slot;
    __QEX_Resource_Acquire(s.token, toolbox::kResourceCategory, "Iterator %Iu for HashTableType 0x%0*p",
                           static_cast<size_t>(slot), toolbox::kPointerDigits, table);
    return result;
}

int HashTableIteratorGetItem(HashTableType table, size_t iterator, void *keyBuffer, size_t keyBufferSize,
                             void *valueBuffer, size_t valueBufferSize)
{
    if (!valid(table)) return kInvalidTable;
    IteratorSlot *slot = nullptr;
    int status = usable_slot(table, iterator, &slot);
    if (status != kOk) return status;
    HashNode *node = node_of(table, *slot);
    if (!node) return kIteratorInvalidated; /* cannot happen while the slot is valid */
    size_t length = stored_key_length(table, node->entry);
    size_t value_size = static_cast<size_t>(table->valueSize);
    if (keyBufferSize == 0) return static_cast<int>(length);
    if (valueBufferSize == 0) return table->valueSize;
    if (!keyBuffer || !valueBuffer) return kNullPointer;
    if (keyBufferSize < length || valueBufferSize < value_size) return kBufferTooSmall;
    std::memcpy(keyBuffer, node_key(table, node), length);
    std::memcpy(valueBuffer, node_value(table, node), value_size);
    return kOk;
}

int HashTableIteratorAdvance(HashTableType table, size_t iterator)
{
    if (!valid(table)) return kInvalidTable;
    IteratorSlot *slot = nullptr;
    int status = usable_slot(table, iterator, &slot);
    if (status != kOk) return status;
    HashNode *node = node_of(table, *slot);
    if (node && node->next) {
        uint32_t position = (slot->state & kIteratorPosition) + 1;
        slot->state = (slot->state & ~kIteratorPosition) | position;
        return kOk;
    }
    uint32_t next = next_used_bucket(table, uint64_t{slot->bucket} + 1);
    if (next < table->bucketCount) {
        slot->bucket = next;
        slot->state &= ~kIteratorPosition;
        return kOk;
    }
    slot->state |= kIteratorAtEnd;
    return 1;
}

int HashTableIteratorDispose(HashTableType table, size_t iterator)
{
    if (!valid(table)) return kInvalidTable;
    if (iterator == 0 || iterator >= table->iteratorCount) return kNoSuchIterator;
    IteratorSlot &s = table->iterators[iterator];
    if (!(s.state & kIteratorInUse)) return kNoSuchIterator;
    s.state &= ~kIteratorInUse;
    __QEX_Resource_Release(s.token);
    return kOk;
}

void HashTablePrint(HashTableType table)
{
    if (!valid(table)) return;
    std::printf("size: %d, buckets: %d, load: %.1f%%, grow at %.1f%%, shrink at %.1f%%\n", table->itemCount,
                static_cast<int>(table->bucketCount), load_of(table->usedBuckets, table->bucketCount) * 100.0,
                percent_or_zero(table->growThreshold), percent_or_zero(table->shrinkThreshold));
    std::printf("Item\tBucket\tKey\t\tValue\n-----------------------------------------------------------\n");
    int item = 0;
    for (uint32_t b = 0; b < table->bucketCount; ++b)
        for (HashNode *node = table->buckets[b].head; node; node = node->next) {
            std::printf("%d\t%d\t", item++, static_cast<int>(b));
            if (table->keyKind == HASH_KEY_CSTRING)
                std::printf("%s", reinterpret_cast<const char *>(node_key(table, node)));
            else
                print_bytes(node_key(table, node), static_cast<size_t>(table->keySize));
            std::printf("\t");
            print_bytes(node_value(table, node), static_cast<size_t>(table->valueSize));
            std::printf("\n");
        }
}

} // extern "C"

/* In-place access for the module's own callers (the instance registry): the
 * value copy of a present key, or null. An entry never moves in memory, since
 * it lies in a slab or a block of its own and a resize only relinks it, so the
 * pointer stays good until the pair is removed or the table disposed. Writing
 * through it changes the value without counting as a change of the table:
 * open iterators stay valid. */
int toolbox::hash_table_get_checked(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize)
{
    return get_item_checked(table, key, valueBuffer, bufferSize);
}

void *toolbox::hash_table_value_in_place(HashTableType table, const void *key)
{
    if (!valid(table) || !key) return nullptr;
    Entry *entry = locate(table, key).entry;
    return entry ? entry_value(table, entry) : nullptr;
}
