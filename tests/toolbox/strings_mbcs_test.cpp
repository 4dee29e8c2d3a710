/* The toolbox's text functions under the real double-byte code page 932
 * (lead bytes 0x81-0x9F and 0xE0-0xFC, trail bytes 0x40-0xFC): a lead byte is
 * never split, a trail byte is never taken for a letter or a separator, and a
 * lead byte before the terminator never carries a scan past it. */
#include <gtest/gtest.h>
#include <string>
#include "cnode_startup.h"
#include "module_functions.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class StringsMultiByte : public ToolboxTest {
protected:
    /* Start-up, as the module's loader entry runs it, sets the code page. */
    static void SetUpTestSuite() { InitQEXRTEEx(nullptr, nullptr, nullptr); }
    static void TearDownTestSuite() { CloseQEXRTE(); }
};

TEST_F(StringsMultiByte, StartUpTakesTheProcessCodePage)
{
    ASSERT_EQ(GetACP(), 932u);
    EXPECT_EQ(MultiByteCodePage, 932);
    ModuleFunctions dll; /* and the real DLL steps by characters too */
    ASSERT_TRUE(dll.loaded());
    char text[] = "a\x82\x61";
    EXPECT_STREQ(dll.get<char *(char *)>("CmbStrUpr")(text), "A\x82\x61");
    char *s = nullptr;
    EXPECT_EQ(dll.get<int(char **, const char *, int)>("AppendString")(&s, "\x82\xa0\x82\xa2", 3), 1);
    EXPECT_STREQ(s, "\x82\xa0");
    qex_rte_free(s);
}

TEST_F(StringsMultiByte, CutsKeepWholeCharacters)
{
    /* "\x82\x82" is one character whose trail byte lies in the lead range. */
    const struct {
        const char *add;
        int length;
        const char *appended;
    } appends[] = {{"\x82\xa0\x82\xa2", 3, "x\x82\xa0"}, {"\x82\x82", -1, "x\x82\x82"}, {"\x82\x82\x82", -1, "x\x82\x82"},
                   {"\x82", -1, "x"}, {"a\x82\xa0", 2, "xa"}};
    for (const auto &c : appends) {
        char *s = StrDup("x");
        EXPECT_EQ(AppendString(&s, c.add, c.length), 1);
        EXPECT_STREQ(s, c.appended) << c.add;
        qex_rte_free(s);
    }
    const struct {
        int size;
        const char *copied;
    } copies[] = {{4, "\x82\xa0"}, {3, "\x82\xa0"}, {2, ""}, {6, "\x82\xa0\x82\x82"}, {5, "\x82\xa0\x82\x82"}};
    for (const auto &c : copies) {
        char buffer[8];
        StringCopyMax(buffer, "\x82\xa0\x82\x82", c.size);
        EXPECT_STREQ(buffer, c.copied) << c.size;
    }
    const struct {
        const char *insert;
        int size;
        const char *result;
    } inserts[] = {{"\x82\xa0\x82\xa2", 7, "\x82\xa0" "abc"}, {"\x82\x82\x82\x82", 6, "\x82\x82" "abc"}, {"\x82\xa0", 5, "abc"}};
    for (const auto &c : inserts) {
        char buffer[16] = "abc";
        EXPECT_EQ(StringInsert(buffer, c.insert, c.size), buffer + std::strlen(c.result) - 3);
        EXPECT_STREQ(buffer, c.result);
    }
}

TEST_F(StringsMultiByte, TrailBytesAreNeitherLettersNorSeparators)
{
    char text[] = "a\x82\x61z\x95\x5c";
    EXPECT_STREQ(CmbStrUpr(text), "A\x82\x61Z\x95\x5c");
    EXPECT_STREQ(CmbStrLwr(text), "a\x82\x61z\x95\x5c");
    EXPECT_EQ(CmbStrByteIs(text, 5, '\\'), 0);
    EXPECT_EQ(CmbStrByteIs("\\\x82\x82", 0, '\\'), 1);
    EXPECT_EQ(CmbStrByteIs("\x82\x82", 1, 0x82), 0);
    EXPECT_EQ(CmbStrByteIs("\x82\x82", 0, 0x82), 1);
    EXPECT_EQ(CmbNumChars(text), 4u);
    EXPECT_EQ(CmbStrLastChar(text), text + 4);
    const char *four = "\x82\x82\x82\x82";
    EXPECT_EQ(CmbStrLastChar(four), four + 2);
    const char *lead_at_end = "a\x82";
    EXPECT_EQ(SkipNonWhiteSpace(lead_at_end), lead_at_end + 2);
    /* Double-byte codes are compared as they are, single bytes upper-cased. */
    EXPECT_EQ(StrICmpWithoutSurrWhiteSpace(" \x82\x61", "\x82\x41 "), 1);
    EXPECT_EQ(StrICmpWithoutSurrWhiteSpace(" a\x82\x61", "A\x82\x61 "), 0);
    EXPECT_EQ(CmbStrEqI("\x82\x61", "\x82\x41"), 0);
    EXPECT_EQ(CmbStrEqI("a\x82\x61", "A\x82\x61"), 1);
    char *trimmed = StrDupWithoutSurrWhiteSpace("  \x82\x82\x82\x82 \t");
    char in_place[] = " \x82\x82 \x82\xa0  ";
    RemoveSurroundingWhiteSpace(in_place);
    EXPECT_EQ(std::string(trimmed) + "|" + in_place, "\x82\x82\x82\x82|\x82\x82 \x82\xa0");
    qex_rte_free(trimmed);
}

} // namespace
