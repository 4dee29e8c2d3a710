/* File and path helpers on real files in a temporary folder of the Wine
 * prefix, FindBytesInFile against std::search, OutputList texts, and the
 * assertion reports of the path functions in a child process. */
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <functional>
#include <random>
#include "files_test_support.h"

using namespace toolbox_test;
using namespace std::string_literals;

namespace {

class Files : public FilesTest {};

long position_of(FILE *stream) { return qex_rte_ftell(stream); }

TEST_F(Files, TemporaryNamesCountWithoutPadding)
{
    for (int i = 0; i < 10; ++i) write("repor" + std::to_string(i) + ".tmp", "x");
    char name[MAX_PATH] = {};
    FILE *file = nullptr;
    ASSERT_EQ(CreateAndOpenTemporaryFile(path("x.dat").c_str(), "report", "tmp", "wb", name, &file), 0);
    EXPECT_EQ(std::string(name), path("repor10.tmp"));
    ASSERT_NE(file, nullptr);
    qex_rte_fclose(file);
    EXPECT_EQ(CreateAndOpenTemporaryFile(path("x.dat").c_str(), nullptr, "t", "", name, &file), -5004);
    EXPECT_EQ(std::string(name), path("0.t"));
}

TEST_F(Files, ExistenceSizeWritabilityAndReplacement)
{
    long long size = 7;
    EXPECT_EQ(FileExists(path("missing").c_str(), &size), -94);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(FileExists(write("empty", "").c_str(), &size), 1);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(FileExists(write("300", std::string(300, 'x')).c_str(), &size), 1);
    EXPECT_EQ(size, 300);
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(FileExists(path("300").c_str(), &size), -100);
    EXPECT_EQ(size, -1);

    int writable = -1;
    EXPECT_EQ(GetFileWritability(path("300").c_str(), &writable), 0);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(GetFileWritability(path("new").c_str(), &writable), 0);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(FileExists(path("new").c_str(), nullptr), -94) << "the probe file was left behind";
    EXPECT_EQ(GetFileWritability(dir_.substr(0, dir_.size() - 1).c_str(), &writable), 0); /* a folder */
    EXPECT_EQ(writable, 0);

    write("src", "new");
    write("dst", "old");
    EXPECT_EQ(DeleteAndRename(path("src").c_str(), path("dst").c_str()), 0);
    EXPECT_EQ(read(path("dst")), "new");
    EXPECT_EQ(DeleteAndRename(path("src").c_str(), path("dst").c_str()), -94);
    RemoveFileIfExists(path("dst").c_str());
    RemoveFileIfExists(path("dst").c_str());
    EXPECT_EQ(FileExists(path("dst").c_str(), nullptr), -94);
}

TEST_F(Files, SixFunctionsRestoreBreakOnLibraryErrors)
{
    const std::string file = write("f", "abc");
    char name[MAX_PATH];
    const std::function<void()> calls[] = {
        [&] { int w; GetFileWritability(path("none\\x").c_str(), &w); },
        [&] { FILE *f = nullptr; CreateAndOpenTemporaryFile(file.c_str(), "t", "e", "", name, &f); },
        [&] { RemoveFileIfExists(path("none").c_str()); },
        [&] { DeleteAndRename(path("none").c_str(), path("none2").c_str()); },
        [&] { FileExists(path("none").c_str(), nullptr); },
        [&] { FILE *s = stream_of("abc"); FindBytesInFile(s, "c", 1, nullptr, nullptr); qex_rte_fclose(s); },
    };
    for (int on : {1, 0})
        for (size_t i = 0; i < std::size(calls); ++i) {
            SetBreakOnLibraryErrors(on);
            calls[i]();
            EXPECT_EQ(GetBreakOnLibraryErrors(), on) << "function " << i;
        }
}

TEST_F(Files, FindBytesAndReadLinesWithCrLf)
{
    FILE *s = stream_of("ab\r\ncd");
    long skipped = -1, at = -1;
    EXPECT_EQ(FindBytesInFile(s, "\r\n", 2, &skipped, &at), 1);
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(at, 2);
    EXPECT_EQ(position_of(s), 4);
    EXPECT_EQ(FindBytesInFile(s, "\r\n", 2, &skipped, &at), 0);
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(at, 6);

    qex_rte_fseek(s, 0, SEEK_SET);
    char *line = nullptr;
    int eof = -1, limit = -1;
    EXPECT_EQ(ReadLineFromBinaryFile(s, &line, -1, &eof, &limit), 0);
    EXPECT_STREQ(line, "ab\r\n");
    EXPECT_EQ(eof, 0);
    EXPECT_EQ(limit, 1);
    EXPECT_EQ(position_of(s), 4);
    qex_rte_free(line);
    EXPECT_EQ(ReadLineFromBinaryFile(s, &line, -1, &eof, &limit), 0);
    EXPECT_STREQ(line, "cd");
    EXPECT_EQ(eof, 1);
    EXPECT_EQ(limit, 0);
    qex_rte_free(line);
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
        {pad + "\r\nx", "\r\n", 126},            /* ends at the chunk's last byte */
        {pad + ".\r\nx", "\r\n", 127},           /* straddles bytes 127 and 128 */
        {"aaaab", "aab", 2},                     /* the run is longer than the match's */
        {std::string(124, '.') + "aaaab", "aab", 126}, /* ... across the chunk boundary */
        {pad + "abaabab", "abab", 129},
        {std::string(300, 'a') + "b", std::string(200, 'a') + "b", 100},
        {std::string(3000, 'a') + "b", std::string(2500, 'a') + "b", 500}, /* beyond the border table */
        {pad + "aab", "aaab", -1},
    };
    for (const Case &c : cases) {
        FILE *s = stream_of(c.data);
        long skipped = -1, at = -1;
        int sought = static_cast<int>(c.sought.size());
        EXPECT_EQ(FindBytesInFile(s, c.sought.data(), sought, &skipped, &at), c.skipped >= 0 ? 1 : 0) << c.sought;
        long expected = c.skipped >= 0 ? c.skipped : static_cast<long>(c.data.size());
        EXPECT_EQ(skipped, expected) << c.sought;
        EXPECT_EQ(position_of(s), c.skipped >= 0 ? expected + sought : expected) << c.sought;
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
        long skipped = -1, at = -1;
        int found = FindBytesInFile(s, sought.data(), static_cast<int>(sought.size()), &skipped, &at);
        auto hit = std::search(data.begin() + start, data.end(), sought.begin(), sought.end());
        ASSERT_EQ(found, hit != data.end() ? 1 : 0) << data << " / " << sought << " from " << start;
        EXPECT_EQ(at, static_cast<long>(hit - data.begin()));
        EXPECT_EQ(skipped, at - start);
        qex_rte_fclose(s);
    }
}

TEST_F(Files, UnreadablePositionsAndShortWrites)
{
    FILE *s = stream_of("abcdef");
    size_t size = 0;
    EXPECT_EQ(BinaryFileSize(s, &size), 0);
    EXPECT_EQ(size, 6u);
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(FindBytesInFile(s, "c", 1, nullptr, nullptr), -93);
    standin_rte_streams_fail_seek_nth(1, 22);
    EXPECT_EQ(FindBytesInFile(s, "c", 1, nullptr, nullptr), -93);
    standin_rte_streams_fail_position_nth(2, 22);
    EXPECT_EQ(BinaryFileSize(s, &size), -93);
    EXPECT_EQ(position_of(s), 6) << "the size probe went back";
    char *text = reinterpret_cast<char *>(1);
    standin_rte_streams_fail_position_nth(1, 22);
    EXPECT_EQ(ReadStringFromBinaryFile(s, &text, -1, nullptr, nullptr), -93);
    EXPECT_EQ(text, nullptr);

    qex_rte_fseek(s, 0, SEEK_SET);
    EXPECT_EQ(WriteByteToFile(s, 0x1AB, 200), 0);
    EXPECT_EQ(WriteStringToFile(s, "a\nb\n\nc"), 0);
    EXPECT_EQ(WriteByteToFile(s, 'z', 0), 0);
    EXPECT_EQ(WriteStringToFile(s, nullptr), 0);
    standin_rte_streams_short_write_nth(1);
    EXPECT_EQ(WriteByteToFile(s, 'z', 10), -97);
    standin_rte_streams_short_write_nth(3);
    EXPECT_EQ(WriteStringToFile(s, "x\ny"), -97);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("s.bin")), std::string(200, '\xAB') + "a\r\nb\r\n\r\nc" + "zzzzz" + "x\r\n");
}

TEST_F(Files, ReadStringStopsAtNulLimitOrEnd)
{
    struct Case {
        std::string data;
        int max;
        std::string text;
        int eof, limit;
        long position;
    };
    const std::string long_text(300, 'q');
    const Case cases[] = {
        {"abcdef", 3, "abc", 0, 1, 3},
        {"ab\0cd"s, -1, "ab", 0, 0, 3},
        {long_text, -1, long_text, 1, 0, 300},
        {long_text, 256, long_text.substr(0, 256), 0, 1, 256},
        {long_text + '\0' + "z", 1000, long_text, 0, 0, 301},
        {"abc", 0, "", 0, 1, 0},
        {"", -1, "", 1, 0, 0},
    };
    for (const Case &c : cases) {
        FILE *s = stream_of(c.data);
        char *text = nullptr;
        int eof = -1, limit = -1;
        EXPECT_EQ(ReadStringFromBinaryFile(s, &text, c.max, &eof, &limit), 0);
        EXPECT_EQ(std::string(text), c.text);
        EXPECT_EQ(eof, c.eof) << c.text;
        EXPECT_EQ(limit, c.limit) << c.text;
        EXPECT_EQ(position_of(s), c.position) << c.text;
        qex_rte_free(text);
        qex_rte_fclose(s);
    }
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
    ChangeBaseFileName("old.txt", out, "new");
    EXPECT_STREQ(out, "new");
}

int fail_on_three(FILE *stream, const void *item)
{
    return *static_cast<const int *>(item) == 3 ? -7 : OutputIntegerItem(stream, item);
}

TEST_F(Files, OutputListTexts)
{
    int items[] = {4, 5, 6};
    ListType list = ListCreate(sizeof(int));
    ListInsertItems(list, items, LIST_POS_END, 3);
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
    };
    for (const Case &c : cases) {
        FILE *s = qex_rte_fopen(path("out").c_str(), "wb");
        EXPECT_EQ(OutputList(c.list, s, c.prefix, c.suffix, c.item_prefix, c.separator, c.output), c.result);
        qex_rte_fclose(s);
        EXPECT_EQ(read(path("out")), c.text);
    }
    int more[] = {3, 1};
    ListInsertItems(list, more, LIST_POS_FRONT, 2);
    FILE *s = qex_rte_fopen(path("out").c_str(), "wb");
    EXPECT_EQ(OutputList(list, s, "[", "]", nullptr, ",", fail_on_three), -7);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("out")), "[");

    short sh = -2;
    double d = 1.5;
    const char *str = "txt";
    s = qex_rte_fopen(path("out").c_str(), "wb");
    EXPECT_EQ(OutputShortItem(s, &sh) + OutputDoubleItem(s, &d) + OutputStringItem(s, &str), 13);
    qex_rte_fclose(s);
    EXPECT_EQ(read(path("out")), "-21.500000txt");
    EXPECT_EQ(OutputList(list, nullptr, nullptr, "", nullptr, nullptr, OutputIntegerItem), 5) << "to standard output";
    ListDispose(list);
}

/* The assertion text goes to standard output; the child sends it to the
 * captured standard error. */
std::string escaped(const std::string &text)
{
    std::string pattern;
    for (char c : text) {
        if (ispunct(static_cast<unsigned char>(c))) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

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
    struct Case {
        std::function<void()> call;
        const char *message;
        int line;
    };
    char out[8];
    const Case cases[] = {
        {[&] { ChangeFileNameExtension("a", out, nullptr); }, "Null parameters passed to ChangeFileNameExtension",
         11560},
        {[] { FindFileDotPosition(nullptr); }, "Null pathString parameter passed to FindFileDotPosition", 11590},
        {[] { FindFileExtension(nullptr); }, "Null pathString parameter passed to FindFileExtension", 11622},
        {[] { FindFileName(nullptr); }, "Null pathString parameter passed to FindFileName", 11653},
    };
    for (const Case &c : cases) {
        std::string text = "Assert!\n\n" + std::string(c.message) + "\n\nThe error was detected on line " +
                           std::to_string(c.line) + " of file 'toolbox'.\n\nProgram aborting.";
        EXPECT_EXIT((stdout_to_stderr(), c.call(), exit(0)), [](int) { return true; }, escaped(text));
    }
}

} // namespace
