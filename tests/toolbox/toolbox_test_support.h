/* Shared by the toolbox suites: views of the container records (their field
 * order is part of the containers' contract), an engine-state baseline that
 * catches leaked blocks and leaked registrations, and small compare helpers. */
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <cstring>
#include <string>
#include "qex_rte.h"
#include "standin_rte.h"
#include "toolbox.h"

namespace toolbox_test {

/* The list record, field by field. */
struct ListView {
    uint32_t magic;
    int32_t percentIncrease;
    int64_t minItemsPerAlloc;
    uint64_t capacity;
    uint64_t itemSize;
    int64_t numItems;
    void *data;
};

inline const ListView &view(ListType list) { return *reinterpret_cast<const ListView *>(list); }
inline uint64_t capacity_of(ListType list) { return view(list).capacity; }

struct IteratorSlotView {
    void *token;
    uint32_t bucket;
    uint32_t state;
};

/* The hash table record, field by field. */
struct HashTableView {
    uint32_t magic;
    uint32_t keyKind;
    int32_t keySize;
    int32_t valueSize;
    void *hash;
    void *compare;
    uint32_t minBuckets;
    double growThreshold;
    double shrinkThreshold;
    void *buckets;
    int32_t itemCount;
    uint32_t usedBuckets;
    uint32_t bucketCount;
    IteratorSlotView *iterators;
    uint32_t iteratorCount;
};

inline const HashTableView &view(HashTableType table) { return *reinterpret_cast<const HashTableView *>(table); }

constexpr uint32_t kIteratorInUse = 0x20000000;
constexpr uint32_t kIteratorValid = 0x40000000;
constexpr uint32_t kIteratorAtEnd = 0x80000000;

/* Engine state at the start of a test; no_leaks() compares against it. */
class EngineBaseline {
public:
    EngineBaseline() : blocks_(standin_rte_live_blocks()), resources_(standin_rte_resource_count()) {}
    long extra_blocks() const { return standin_rte_live_blocks() - blocks_; }
    long extra_resources() const
    {
        return static_cast<long>(standin_rte_resource_count()) - static_cast<long>(resources_);
    }

private:
    long blocks_;
    size_t resources_;
};

/* Every toolbox test starts from a reset engine with resource tracking ON, so
 * that an allocation made without suspending it shows up as an extra resource. */
class ToolboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin_rte_reset();
        SetEnableResourceTracking(1);
        baseline_ = EngineBaseline();
    }
    void TearDown() override
    {
        standin_rte_fail_alloc_nth(0);
        EXPECT_EQ(baseline_.extra_blocks(), 0) << "engine blocks leaked";
        EXPECT_EQ(baseline_.extra_resources(), 0) << "tracked resources leaked";
        EXPECT_EQ(standin_rte_resource_tracking(), 1) << "resource tracking not restored";
        SetEnableResourceTracking(0);
    }
    EngineBaseline baseline_;
};

inline std::string description_of(const void *resource)
{
    char text[256] = {};
    if (standin_rte_resource_find(resource, text, sizeof text) != 0) return "<not tracked>";
    return text;
}

inline std::string category_of(const void *resource)
{
    for (size_t i = 0; i < standin_rte_resource_count(); ++i) {
        void *p = nullptr;
        char category[64] = {};
        if (standin_rte_resource_at(i, &p, category, sizeof category, nullptr, 0) == 0 && p == resource)
            return category;
    }
    return "<not tracked>";
}

/* The pointer as the engine prints "%0*p" with width 16. */
inline std::string pointer_text(const void *p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

inline int compare_ints(const void *a, const void *b)
{
    int x = *static_cast<const int *>(a);
    int y = *static_cast<const int *>(b);
    return (x > y) - (x < y);
}

} // namespace toolbox_test
