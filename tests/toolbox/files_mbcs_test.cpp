/* File and path helpers under code page 932: a double-byte character is
 * never split at a 128-byte chunk edge, a limit or the end of the data, and a
 * trail byte 0x5C is never taken for a backslash. */
#include <string>
#include "cnode_startup.h"
#include "files_test_support.h"
#include "module_functions.h"

using namespace toolbox_test;

namespace {

class FilesMultiByte : public FilesTest {
protected:
    static void SetUpTestSuite() { InitQEXRTEEx(nullptr, nullptr, nullptr); }
    static void TearDownTestSuite() { CloseQEXRTE(); }
};

TEST_F(FilesMultiByte, ReadStringKeepsWholeCharacters)
{
    ASSERT_EQ(MultiByteCodePage, 932);
    const std::string a127(127, 'a'), a126(126, 'a');
    const std::tuple<std::string, int, Read> cases[] = {
        {a127 + "\x82\xA0" "b", -1, {0, a127 + "\x82\xA0" "b", 1, 0, 130}}, /* a lead byte ends chunk 1 */
        {a126 + "\x82\x82" "c", -1, {0, a126 + "\x82\x82" "c", 1, 0, 129}}, /* a trail byte in the lead range */
        {a127 + "\x82\xA0", 128, {0, a127, 0, 1, 127}},                     /* the limit splits a character */
        {a126 + "\x82\x82", 128, {0, a126 + "\x82\x82", 0, 1, 128}},
        {"ab\x82", -1, {0, "ab", 1, 0, 2}},                                  /* half a character at the end */
    };
    for (const auto &[data, max, expected] : cases) {
        FILE *s = stream_of(data);
        EXPECT_EQ(read_from(s, max), expected);
        qex_rte_fclose(s);
    }
}

TEST_F(FilesMultiByte, PrefixesAndPathsStepByCharacters)
{
    char name[MAX_PATH];
    FILE *file = nullptr;
    EXPECT_EQ(CreateAndOpenTemporaryFile(path("x").c_str(), "abcd\x82\xA0", "t", "wb", name, &file), 0);
    EXPECT_EQ(std::string(name), path("abcd0.t"));
    qex_rte_fclose(file);
    /* Wine may not map a double-byte name to the Unix side: the name tried counts. */
    if (CreateAndOpenTemporaryFile(path("x").c_str(), "abc\x82\xA0z", "t", "wb", name, &file) == 0)
        qex_rte_fclose(file);
    EXPECT_EQ(std::string(name), path("abc\x82\xA0" "0.t"));

    const char *table = "C:\\d\\\x95\x5C.txt"; /* 0x95 0x5C is one character */
    EXPECT_STREQ(FindFileName(table), "\x95\x5C.txt");
    EXPECT_STREQ(FindFileExtension(table), "txt");
    const char *no_dir = "\x95\x5C";
    EXPECT_STREQ(FindFileName(no_dir), no_dir);
    char out[32];
    ChangeBaseFileName(table, out, "n");
    EXPECT_STREQ(out, "C:\\d\\n");
    ModuleFunctions dll;
    ASSERT_TRUE(dll.loaded());
    EXPECT_STREQ(dll.get<char *(const char *)>("FindFileName")(table), "\x95\x5C.txt");
}

} // namespace
