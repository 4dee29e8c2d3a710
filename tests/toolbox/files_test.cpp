/* File and path helpers on real files in a temporary folder of the Wine
 * prefix, FindBytesInFile against std::search, OutputList texts, and the
 * assertion reports of the path functions in a child process. */
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <functional>
#include <random>
#include "files_test_support.h"
#include "module_functions.h"

using namespace toolbox_test;
using namespace std::string_literals;

namespace {

class Files : public FilesTest {};

/* FindBytesInFile's result, skipped count, match position and the stream's
 * position after it. */
std::vector<long> find_in(FILE *s, const std::string &sought)
{
    long skipped = -1, at = -1;
    int found = FindBytesInFile(s, sought.data(), static_cast<int>(sought.size()), &skipped, &at);
    return {found, skipped, at, qex_rte_ftell(s)};
}

TEST_F(Files, TemporaryNamesExistenceWritabilityAndReplacement)
{
    for (int i = 0; i < 10; ++i) write("repor" + std::to_string(i) + ".tmp", "x");
    char name[MAX_PATH] = {};
    FILE *file = nullptr;
    ASSERT_EQ(CreateAndOpenTemporaryFile(path("x.dat").c_str(), "report", "tmp", "wb", name, &file), 0);
    EXPECT_EQ(std::string(name), path("repor10.tmp")); /* no zero padding */
    qex_rte_fclose(file);
    EXPECT_EQ(CreateAndOpenTemporaryFile(path("x.dat").c_str(), nullptr, "t", "", name, &file), -5004);
    EXPECT_EQ(std::string(name), path("0.t"));

    long long size = 7;
    EXPECT_EQ(FileExists(path("missing").c_str(), &size) * 1000 + size, -94 * 1000 - 1);
    EXPECT_EQ(FileExists(write("empty", "").c_str(), &size) * 1000 + size, 1000);
    EXPECT_EQ(FileExists(write("300", std::string(300, 'x')).c_str(), &size) * 1000 + size, 1300);
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(FileExists(path("300").c_str(), &size) * 1000 + size, -100 * 1000 - 1);

    int writable = -1;
    for (const auto &[file_path, expected] : {std::pair{path("300"), 1}, {path("new"), 1}, {path("no\\x"), 0},
                                              {dir_.substr(0, dir_.size() - 1), 0}}) {
        EXPECT_EQ(GetFileWritability(file_path.c_str(), &writable), 0);
        EXPECT_EQ(writable, expected) << file_path;
    }
    EXPECT_EQ(FileExists(path("new").c_str(), nullptr), -94) << "the probe file was left behind";

    write("src", "new");
    write("dst", "old");
    EXPECT_EQ(DeleteAndRename(path("src").c_str(), path("dst").c_str()), 0);
    EXPECT_EQ(read(path("dst")), "new");
    EXPECT_EQ(DeleteAndRename(path("src").c_str(), path("dst").c_str()), -94);
    RemoveFileIfExists(path("dst").c_str());
    EXPECT_EQ(FileExists(path("dst").c_str(), nullptr), -94);
}

TEST_F(Files, SixFunctionsRestoreBreakOnLibraryErrors)
{
    char name[MAX_PATH];
    FILE *f = nullptr;
    const std::function<void()> calls[] = {
        [&] { GetFileWritability(path("none\\x").c_str(), nullptr); },
        [&] { CreateAndOpenTemporaryFile(path("x").c_str(), "t", "e", "", name, &f); },
        [&] { RemoveFileIfExists(path("none").c_str()); },
        [&] { DeleteAndRename(path("none").c_str(), path("none2").c_str()); },
        [&] { FileExists(path("none").c_str(), nullptr); },
        [&] { FILE *s = stream_of("abc"); find_in(s, "c"); qex_rte_fclose(s); },
    };
    for (int on : {1, 0})
        for (size_t i = 0; i < std::size(calls); ++i) {
            SetBreakOnLibraryErrors(on);
            calls[i]();
            EXPECT_EQ(GetBreakOnLibraryErrors(), on) << "function " << i;
        }
}

TEST_F(Files, CrLfSearchAndLines)
{
    FILE *s = stream_of("ab\r\ncd");
    EXPECT_EQ(find_in(s, "\r\n"), (std::vector<long>{1, 2, 2, 4}));
    EXPECT_EQ(find_in(s, "\r\n"), (std::vector<long>{0, 2, 6, 6}));
    qex_rte_fseek(s, 0, SEEK_SET);
    EXPECT_EQ(read_from(s, -1, true), (Read{0, "ab\r\n", 0, 1, 4}));
    EXPECT_EQ(read_from(s, -1, true), (Read{0, "cd", 1, 0, 6}));
    qex_rte_fclose(s);
    s = stream_of(std::string(127, 'x') + "\r\n" + std::string(200, 'y') + "\r\n");
    EXPECT_EQ(read_from(s, -1, true), (Read{0, std::string(127, 'x') + "\r\n", 0, 1, 129}));
    EXPECT_EQ(read_from(s, 100, true), (Read{0, std::string(100, 'y'), 0, 1, 229}));
    qex_rte_fclose(s);
}

TEST_F(Files, FindBytesAcrossChunksAndRepeatedLeadingBytes)
{
    struct Case {
        std::string data, sought;
        long skipped; /* -1: absent */
    };
    const std::string pad(126, '.');
    const Case cases[] = {
        {pad + "\r\nx", "\r\n", 126},                   /* ends at the chunk's last byte */
        {pad + ".\r\nx", "\r\n", 127},                  /* straddles bytes 127 and 128 */
        {"aaaab", "aab", 2},                            /* a longer run than the match's */
        {std::string(124, '.') + "aaaab", "aab", 126},  /* ... across the chunk boundary */
        {pad + "abaabab", "abab", 129},
        {std::string(300, 'a') + "b", std::string(200, 'a') + "b", 100},
        {std::string(3000, 'a') + "b", std::string(2500, 'a') + "b", 500}, /* beyond the border table */
        {pad + "aab", "aaab", -1},
    };
    for (const Case &c : cases) {
        FILE *s = stream_of(c.data);
        long size = static_cast<long>(c.data.size()), sought = static_cast<long>(c.sought.size());
        std::vector<long> expected = {1, c.skipped, c.skipped, c.skipped + sought};
        if (c.skipped < 0) expected = {0, size, size, size};
        EXPECT_EQ(find_in(s, c.sought), expected) << c.sought;
        qex_rte_fclose(s);
    }
}

TEST_F(Files, FindBytesMatchesStdSearch)
{
    std::mt19937 rng(1210);
    for (int round = 0; round < 300; ++round) {
        std::string data(rng() % 700, '\0'), sought(1 + rng() % 6, '\0');
        for (auto &c : data) c = static_cast<char>('a' + rng() % 2);
        for (auto &c : sought) c = static_cast<char>('a' + rng() % 2);
        long start = data.empty() ? 0 : static_cast<long>(rng() % data.size());
        FILE *s = stream_of(data);
        qex_rte_fseek(s, start, SEEK_SET);
        long at = std::search(data.begin() + start, data.end(), sought.begin(), sought.end()) - data.begin();
        bool present = at < static_cast<long>(data.size());
        long after = present ? at + static_cast<long>(sought.size()) : at;
        ASSERT_EQ(find_in(s, sought), (std::vector<long>{present, at - start, at, after})) << data << " / " << sought;
        qex_rte_fclose(s);
    }
}

TEST_F(Files, ReadStringStopsAtNulLimitOrEnd)
{
    const std::string q(300, 'q');
    const std::pair<std::string, Read> cases[] = {
        {"abcdef", {0, "abc", 0, 1, 3}},  /* maxBytes 3 throughout */
        {"ab\0cd"s, {0, "ab", 0, 0, 3}},
        {"", {0, "", 1, 0, 0}},
    };
    for (const auto &[data, expected] : cases) {
        FILE *s = stream_of(data);
        EXPECT_EQ(read_from(s, 3), expected);
        qex_rte_fclose(s);
    }
    FILE *s = stream_of(q + '\0' + q);
    EXPECT_EQ(read_from(s, 0), (Read{0, "", 0, 1, 0}));
    EXPECT_EQ(read_from(s, 256), (Read{0, q.substr(0, 256), 0, 1, 256}));
    EXPECT_EQ(read_from(s, 1000), (Read{0, q.substr(256), 0, 0, 301}));
    EXPECT_EQ(read_from(s, -1), (Read{0, q, 1, 0, 601}));
    qex_rte_fclose(s);
}

/* Every allocation of the readers failed in turn (the first string, then one
 * per 128-byte chunk) until the read succeeds: -12, a null string, no block
 * left behind. */
TEST_F(Files, ReadersAnswerMinusTwelveWhenMemoryRunsOut)
{
    const std::string text(300, 'r');
    FILE *s = stream_of(text + "\r\n" + "tail");
    for (bool line : {false, true}) {
        Read r;
        long n = 1;
        for (;; ++n) {
            EngineBaseline before;
            qex_rte_fseek(s, 0, SEEK_SET);
            standin_rte_fail_alloc_nth(n);
            r = read_from(s, -1, line);
            standin_rte_fail_alloc_nth(0);
            EXPECT_EQ(before.extra_blocks(), 0) << n;
            if (r.status == 0 || n == 10) break;
            EXPECT_EQ(r, (Read{-12, "<null>", 0, 0, r.position})) << n;
        }
        EXPECT_EQ(n, 5) << "the first string and three chunks allocate";
        EXPECT_EQ(r.text, line ? text + "\r\n" : text + "\r\ntail");
    }
    qex_rte_fclose(s);
}

TEST_F(Files, UnreadablePositionsAndShortWrites)
{
    FILE *s = stream_of("abcdef");
    size_t size = 0;
    EXPECT_EQ(BinaryFileSize(s, &size) * 10 + static_cast<int>(size), 6);
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(find_in(s, "c")[0], -93);
    standin_rte_streams_fail_seek_nth(1, 22);
    EXPECT_EQ(find_in(s, "c")[0], -93); /* the repositioning after the match */
    standin_rte_streams_fail_position_nth(2, 22);
    EXPECT_EQ(BinaryFileSize(s, &size), -93);
    EXPECT_EQ(qex_rte_ftell(s), 6) << "the size probe went back";
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(read_from(s, -1), (Read{-93, "<null>", 0, 0, 6}));

    qex_rte_fseek(s, 0, SEEK_SET);
    EXPECT_EQ(WriteByteToFile(s, 0x1AB, 200) + WriteStringToFile(s, "a\nb\n\nc"), 0);
    EXPECT_EQ(WriteByteToFile(s, 'z', 0) + WriteStringToFile(s, nullptr), 0);
    standin_rte_streams_short_write_nth(1);
    EXPECT_EQ(WriteByteToFile(s, 'z', 10), -97);
    standin_rte_streams_short_write_nth(3);
    EXPECT_EQ(WriteStringToFile(s, "x\ny"), -97);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("s.bin")), std::string(200, '\xAB') + "a\r\nb\r\n\r\nc" + "zzzzz" + "x\r\n");
}

TEST_F(Files, PathsTakenApart)
{
    struct Case {
        const char *path, *name, *extension, *dot_rest, *skip_drive;
        int absolute;
    };
    const Case cases[] = {
        {"C:file", "file", "", "", "file", 0},
        {"C:\\file", "file", "", "", "\\file", 1},
        {"\\dir\\a.b.c", "a.b.c", "c", ".c", "\\dir\\a.b.c", 1},
        {"dir\\.profile", ".profile", "", "", "dir\\.profile", 0},
        {"d.x\\name.", "name.", "", ".", "d.x\\name.", 0},
        {"C:/a/b.txt", "/a/b.txt", "txt", ".txt", "/a/b.txt", 0},
        {"", "", "", "", "", 0},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(FindFileName(c.path), c.name) << c.path;
        EXPECT_STREQ(FindFileExtension(c.path), c.extension) << c.path;
        EXPECT_STREQ(FindFileDotPosition(c.path), c.dot_rest) << c.path;
        EXPECT_STREQ(SkipDriveName(c.path), c.skip_drive) << c.path;
        EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
    }
    std::string distant = "x." + std::string(254, 'e');
    EXPECT_STREQ(FindFileExtension(distant.c_str()), distant.c_str() + 2);
    distant += 'e';
    EXPECT_STREQ(FindFileExtension(distant.c_str()), "") << "the dot lies 256 bytes before the end";

    char out[64];
    ChangeFileNameExtension("name", out, "txt");
    EXPECT_STREQ(out, "name.txt");
    ChangeFileNameExtension("a.b.c", out, "d");
    EXPECT_STREQ(out, "a.b.d");
    ChangeBaseFileName("C:\\dir\\old.txt", out, "new.dat");
    EXPECT_STREQ(out, "C:\\dir\\new.dat");
}

TEST_F(Files, OutputListTexts)
{
    int items[] = {4, 5, 6};
    ListType list = ListCreate(sizeof(int));
    ListInsertItems(list, items, LIST_POS_END, 3);
    ListOutputFunction fail_on_5 = [](FILE *f, const void *item) {
        return *static_cast<const int *>(item) == 5 ? -7 : OutputIntegerItem(f, item);
    };
    struct Case {
        ListType list;
        const char *prefix, *suffix, *item_prefix, *separator;
        ListOutputFunction output;
        const char *text;
        int result;
    };
    const Case cases[] = {
        {list, "[", "]", nullptr, ", ", OutputIntegerItem, "[4, 5, 6]", 9},
        {list, nullptr, " (%d)\n", "#%d=", nullptr, OutputIntegerItem, "#1=4#2=5#3=6 (3)\n", 17},
        {list, "<", ">", nullptr, "%d%%", OutputIntegerItem, "<41%52%6>", 9},
        {nullptr, "[", "%d]", "x", ",", OutputIntegerItem, "[0]", 3},
        {list, "[", "]", nullptr, ",", nullptr, "Error, no output function specified\n", 36},
        {list, "[", "]", nullptr, ",", fail_on_5, "[4,", -7},
    };
    for (const Case &c : cases) {
        FILE *s = qex_rte_fopen(path("out").c_str(), "wb");
        EXPECT_EQ(OutputList(c.list, s, c.prefix, c.suffix, c.item_prefix, c.separator, c.output), c.result);
        qex_rte_fclose(s);
        EXPECT_EQ(read(path("out")), c.text);
    }
    short sh = -2;
    double d = 1.5;
    const char *str = "txt";
    FILE *s = qex_rte_fopen(path("out").c_str(), "wb");
    EXPECT_EQ(OutputShortItem(s, &sh) + OutputDoubleItem(s, &d) + OutputStringItem(s, &str), 13);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("out")), "-21.500000txt");
    EXPECT_EQ(OutputList(list, nullptr, nullptr, "\n", nullptr, nullptr, OutputIntegerItem), 4) << "standard output";
    ListDispose(list);
}

TEST_F(Files, InsideTheDll)
{
    ModuleFunctions dll;
    ASSERT_TRUE(dll.loaded());
    auto find = dll.get<int(FILE *, const void *, int, long *, long *)>("FindBytesInFile");
    auto exists = dll.get<int(const char *, long long *)>("FileExists");
    auto output = dll.get<int(ListType, FILE *, const char *, const char *, const char *, const char *,
                              ListOutputFunction)>("OutputList");
    ASSERT_TRUE(find && exists && output);
    FILE *s = stream_of(std::string(124, '.') + "aaaab");
    long skipped = 0;
    EXPECT_EQ(find(s, "aab", 3, &skipped, nullptr) * 1000 + skipped, 1126);
    qex_rte_fclose(s);
    EXPECT_EQ(exists(path("missing").c_str(), nullptr), -94);
    s = qex_rte_fopen(path("out").c_str(), "wb");
    EXPECT_EQ(output(nullptr, s, "(", "%d)", nullptr, nullptr, OutputIntegerItem), 3);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("out")), "(0)");
}

/* The assertion text goes to standard output; the child sends it to the
 * captured standard error. */
void stdout_to_stderr()
{
    fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
}

using FilesDeathTest = Files;

TEST_F(FilesDeathTest, NullPathsAreReportedWithTheirLines)
{
    char out[8];
    const std::tuple<std::function<void()>, const char *, int> cases[] = {
        {[&] { ChangeFileNameExtension("a", out, nullptr); }, "Null parameters passed to ChangeFileNameExtension",
         11560},
        {[] { FindFileDotPosition(nullptr); }, "Null pathString parameter passed to FindFileDotPosition", 11590},
        {[] { FindFileExtension(nullptr); }, "Null pathString parameter passed to FindFileExtension", 11622},
        {[] { FindFileName(nullptr); }, "Null pathString parameter passed to FindFileName", 11653},
    };
    for (const auto &[call, message, line] : cases) {
        std::string text = "Assert!\n\n" + std::string(message) + "\n\nThe error was detected on line " +
                           std::to_string(line) + " of file 'toolbox'.\n\nProgram aborting.";
        EXPECT_EXIT((stdout_to_stderr(), call(), exit(0)), ::testing::ExitedWithCode(1), ::testing::Eq(text));
    }
}

} // namespace
