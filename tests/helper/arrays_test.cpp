/* Numeric array handles, for each of the ten element types: where the element
 * pointer lands, what the host is asked, what the pointer checking is told,
 * and that a refused or impossible resize changes nothing. */
#include <cstring>
#include "helper_support.h"
#include "runtime_environment.h"

using namespace helper_test;

namespace {

typedef int32_t (*GetAny)(void *handle, size_t count, void *unused, void **elements);
typedef int32_t (*ResizeAny)(void *handle, size_t count, void *previous, void **elements);

template <typename T, int32_t (*Get)(void *, size_t, void *, T **)>
int32_t get_any(void *handle, size_t count, void *unused, void **elements)
{
    return Get(handle, count, unused, reinterpret_cast<T **>(elements));
}

template <typename T, int32_t (*Resize)(void *, size_t, void *, T **)>
int32_t resize_any(void *handle, size_t count, void *previous, void **elements)
{
    return Resize(handle, count, previous, reinterpret_cast<T **>(elements));
}

/* Sizes, offsets and codes as the host and the pointer checking define them. */
struct ArrayCase {
    const char *name;
    size_t element_size;
    size_t offset;
    int32_t host_code;
    int32_t protection_code;
    GetAny get;
    ResizeAny resize;
    const void *get_address;
    const void *resize_address;
};

#define ARRAY_CASE(name, T, size, offset, host, protection)                                                     \
    ArrayCase{#name, size, offset, host, protection, &get_any<T, __cnode_get_##name##_array_handle>,           \
              &resize_any<T, __cnode_resize_##name##_array_handle>,                                            \
              reinterpret_cast<const void *>(&__cnode_get_##name##_array_handle),                              \
              reinterpret_cast<const void *>(&__cnode_resize_##name##_array_handle)}

const ArrayCase kCases[] = {
    ARRAY_CASE(char, signed char, 1, 4, 1, 10),
    ARRAY_CASE(short, int16_t, 2, 4, 2, 12),
    ARRAY_CASE(int, int32_t, 4, 4, 3, 14),
    ARRAY_CASE(int64, int64_t, 8, 8, 4, 38),
    ARRAY_CASE(unsigned_char, uint8_t, 1, 4, 5, 11),
    ARRAY_CASE(unsigned_short, uint16_t, 2, 4, 6, 13),
    ARRAY_CASE(unsigned_int, uint32_t, 4, 4, 7, 15),
    ARRAY_CASE(unsigned_int64, uint64_t, 8, 8, 8, 39),
    ARRAY_CASE(float, float, 4, 4, 9, 16),
    ARRAY_CASE(double, double, 8, 8, 10, 17),
};

int32_t count_of(UHandle handle) { return *static_cast<int32_t *>(*handle); }
unsigned char *block(UHandle handle) { return static_cast<unsigned char *>(*handle); }

class NumericArray : public HelperTest, public ::testing::WithParamInterface<ArrayCase> {
protected:
    void SetUp() override
    {
        const ArrayCase &c = GetParam();
        handle_ = standin_mem_new_array(c.element_size, 3);
        ASSERT_NE(handle_, nullptr);
        for (size_t i = 0; i < 3 * c.element_size; ++i) block(handle_)[c.offset + i] = static_cast<unsigned char>(0xA0 + i);
        standin_rte_protection_log_enable(1);
        standin_rte_protection_log_clear();
    }
    void TearDown() override
    {
        DSDisposeHandle(handle_);
        HelperTest::TearDown();
    }
    bool first_elements_kept(size_t count) const
    {
        const ArrayCase &c = GetParam();
        for (size_t i = 0; i < count * c.element_size; ++i)
            if (block(handle_)[c.offset + i] != static_cast<unsigned char>(0xA0 + i)) return false;
        return true;
    }

    UHandle handle_ = nullptr;
};

TEST_P(NumericArray, GetPointsAtTheElementsAndReportsTheGivenCount)
{
    const ArrayCase &c = GetParam();
    void *elements = nullptr;
    ASSERT_EQ(c.get(handle_, 5, reinterpret_cast<void *>(0x77), &elements), 1);
    EXPECT_EQ(elements, block(handle_) + c.offset);
    EXPECT_EQ(count_of(handle_), 3) << "the count in the block is not the get's business";
    EXPECT_EQ(protection_log(), std::vector<std::string>{call("_UPSetOutputPointerSizeInfo", 3, &elements,
                                                               5 * c.element_size, c.get_address,
                                                               c.protection_code)});
}

TEST_P(NumericArray, GrowingMovesTheBlockKeepsTheElementsAndReportsANewBlock)
{
    const ArrayCase &c = GetParam();
    standin_mem_set_always_move(1);
    unsigned char *before = block(handle_);
    void *elements = nullptr;
    ASSERT_EQ(c.resize(handle_, 7, nullptr, &elements), 1);
    ASSERT_NE(block(handle_), before);
    EXPECT_EQ(count_of(handle_), 7);
    EXPECT_EQ(elements, block(handle_) + c.offset);
    EXPECT_TRUE(first_elements_kept(3));
    int32_t type_code = 0, dims = 0;
    size_t asked = 0;
    standin_mem_last_resize(&type_code, &dims, &asked);
    EXPECT_EQ(type_code, c.host_code);
    EXPECT_EQ(dims, 1);
    EXPECT_EQ(asked, 7u);
    EXPECT_EQ(protection_log(), std::vector<std::string>{call("_UPSetOutputPointerSizeInfo", 3, &elements,
                                                               7 * c.element_size, c.resize_address,
                                                               c.protection_code)});
}

TEST_P(NumericArray, ShrinkingWithAPreviousPointerReportsTheChange)
{
    const ArrayCase &c = GetParam();
    void *elements = nullptr;
    void *previous = reinterpret_cast<void *>(0x1234);
    ASSERT_EQ(c.resize(handle_, 2, previous, &elements), 1);
    EXPECT_EQ(count_of(handle_), 2);
    EXPECT_EQ(elements, block(handle_) + c.offset);
    EXPECT_TRUE(first_elements_kept(2));
    EXPECT_EQ(protection_log(),
              std::vector<std::string>{call("_UPResizePointerSizeInfo", 3, previous, &elements, 3 * c.element_size,
                                            2 * c.element_size, c.resize_address, c.protection_code)});
}

TEST_P(NumericArray, ResizeToNothingStillHandsOutWhereElementsWouldStart)
{
    const ArrayCase &c = GetParam();
    void *elements = nullptr;
    ASSERT_EQ(c.resize(handle_, 0, nullptr, &elements), 1);
    EXPECT_EQ(count_of(handle_), 0);
    EXPECT_EQ(elements, block(handle_) + c.offset);
    EXPECT_EQ(protection_log(), std::vector<std::string>{call("_UPSetOutputPointerSizeInfo", 3, &elements, 0,
                                                               c.resize_address, c.protection_code)});
}

TEST_P(NumericArray, ACountPastTheSignedLimitNeverReachesTheHost)
{
    const ArrayCase &c = GetParam();
    void *sentinel = reinterpret_cast<void *>(0x5e5e);
    void *elements = sentinel;
    unsigned char *before = block(handle_);
    long calls = standin_mem_resize_calls();
    EXPECT_EQ(c.resize(handle_, size_t{2147483648u}, nullptr, &elements), 0);
    EXPECT_EQ(standin_mem_resize_calls(), calls);
    EXPECT_EQ(elements, sentinel);
    EXPECT_EQ(block(handle_), before);
    EXPECT_EQ(count_of(handle_), 3);
    EXPECT_TRUE(protection_log().empty());

    /* The limit itself is the host's to grant; here the host refuses it. */
    standin_mem_fail_nth(1);
    EXPECT_EQ(c.resize(handle_, size_t{2147483647}, nullptr, &elements), 0);
    size_t asked = 0;
    standin_mem_last_resize(nullptr, nullptr, &asked);
    EXPECT_EQ(asked, size_t{2147483647});
}

TEST_P(NumericArray, ARefusedHostResizeLeavesEverythingAsItWas)
{
    const ArrayCase &c = GetParam();
    void *sentinel = reinterpret_cast<void *>(0x5e5e);
    void *elements = sentinel;
    unsigned char *before = block(handle_);
    standin_mem_fail_nth(1);
    EXPECT_EQ(c.resize(handle_, 9, reinterpret_cast<void *>(0x1234), &elements), 0);
    EXPECT_EQ(elements, sentinel);
    EXPECT_EQ(block(handle_), before);
    EXPECT_EQ(count_of(handle_), 3);
    EXPECT_TRUE(first_elements_kept(3));
    EXPECT_TRUE(protection_log().empty());
}

INSTANTIATE_TEST_SUITE_P(TenTypes, NumericArray, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ArrayCase> &info) { return std::string(info.param.name); });

} // namespace
