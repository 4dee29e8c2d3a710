/* Counted host strings as C strings: the in-place terminator of GetCStr with
 * its fallbacks, and ResizeCStr, which resizes like a char array and keeps the
 * text terminated. */
#include <cstring>
#include "helper_support.h"
#include "runtime_environment.h"

using namespace helper_test;

namespace {

LStrHandle new_string(const char *text, int32_t length)
{
    return reinterpret_cast<LStrHandle>(standin_mem_new_string(text, length));
}

void dispose(LStrHandle string) { DSDisposeHandle(reinterpret_cast<UHandle>(string)); }

struct GetCStrCase {
    const char *name;
    const char *text;
    int32_t length;
    bool host_refuses;
    const char *expected; /* null: no C string */
    int32_t expected_count;
};

const GetCStrCase kGetCStrCases[] = {
    {"grows_by_its_terminator", "abc", 3, false, "abc", 4},
    {"empty_becomes_one_terminator", "", 0, false, "", 1},
    {"refused_growth_terminates_over_the_last_byte", "abc", 3, true, "ab", 3},
    {"refused_growth_of_an_empty_string_gives_nothing", "", 0, true, nullptr, 0},
    {"zero_byte_inside_is_kept", "a\0b", 3, false, "a", 4},
};

class GetCStr : public HelperTest, public ::testing::WithParamInterface<GetCStrCase> {};

TEST_P(GetCStr, ConvertsInPlace)
{
    const GetCStrCase &c = GetParam();
    LStrHandle string = new_string(c.text, c.length);
    ASSERT_NE(string, nullptr);
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    if (c.host_refuses) standin_mem_fail_nth(1);
    char *text = __cnode_GetCStr(string);
    EXPECT_EQ((*string)->cnt, c.expected_count);
    if (!c.expected) {
        EXPECT_EQ(text, nullptr);
        EXPECT_TRUE(protection_log().empty());
    } else {
        ASSERT_EQ(text, reinterpret_cast<char *>((*string)->str));
        EXPECT_STREQ(text, c.expected);
        EXPECT_EQ(text[c.expected_count - 1], '\0');
        EXPECT_EQ(0, std::memcmp(text, c.text, static_cast<size_t>(c.expected_count - 1)));
        EXPECT_EQ(protection_log(),
                  std::vector<std::string>{call("_UPReturnPointerSizeInfo", text, c.expected_count)});
    }
    dispose(string);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetCStr, ::testing::ValuesIn(kGetCStrCases),
                         [](const ::testing::TestParamInfo<GetCStrCase> &info) { return std::string(info.param.name); });

const void *const kResizeCStr = reinterpret_cast<const void *>(&__cnode_ResizeCStr);

struct ResizeCStrCase {
    const char *name;
    size_t count;
    void *previous;
    bool host_refuses;
    int32_t expected_result;
};

const ResizeCStrCase kResizeCStrCases[] = {
    {"grow_new_block", 6, nullptr, false, 1},
    {"shrink_known_block", 2, reinterpret_cast<void *>(0x4321), false, 1},
    {"to_nothing", 0, nullptr, false, 1},
    {"refused_by_the_host", 8, nullptr, true, 0},
    {"past_the_signed_limit", size_t{2147483648u}, nullptr, false, 0},
};

class ResizeCStr : public HelperTest, public ::testing::WithParamInterface<ResizeCStrCase> {};

TEST_P(ResizeCStr, ResizesLikeACharArrayAndTerminates)
{
    const ResizeCStrCase &c = GetParam();
    LStrHandle string = new_string("abcd", 4);
    ASSERT_NE(string, nullptr);
    LStr *before = *string;
    char *sentinel = reinterpret_cast<char *>(0x5e5e);
    char *text = sentinel;
    standin_rte_protection_log_enable(1);
    standin_rte_protection_log_clear();
    if (c.host_refuses) standin_mem_fail_nth(1);
    ASSERT_EQ(__cnode_ResizeCStr(string, c.count, c.previous, &text), c.expected_result);
    if (c.expected_result == 0) {
        EXPECT_EQ(*string, before);
        EXPECT_EQ((*string)->cnt, 4);
        EXPECT_EQ(0, std::memcmp((*string)->str, "abcd", 4));
        EXPECT_EQ(text, sentinel);
        EXPECT_TRUE(protection_log().empty());
    } else {
        EXPECT_EQ((*string)->cnt, static_cast<int32_t>(c.count));
        EXPECT_EQ(text, reinterpret_cast<char *>((*string)->str));
        if (c.count) {
            EXPECT_EQ(text[c.count - 1], '\0');
            EXPECT_EQ(std::strlen(text), std::min<size_t>(c.count - 1, 4));
        }
        std::string expected = c.previous ? call("_UPResizePointerSizeInfo", 3, c.previous, &text, 4, c.count,
                                                 kResizeCStr, 10)
                                          : call("_UPSetOutputPointerSizeInfo", 3, &text, c.count, kResizeCStr, 10);
        EXPECT_EQ(protection_log(), std::vector<std::string>{expected});
    }
    dispose(string);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResizeCStr, ::testing::ValuesIn(kResizeCStrCases),
                         [](const ::testing::TestParamInfo<ResizeCStrCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
