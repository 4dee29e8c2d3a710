/* The toolbox's text functions under the single-byte code page: assertion
 * texts and the program's end, heap texts and their allocation failures,
 * bounded copy and insertion, whitespace, ordering, list splicing, and the
 * decimal parser against an independent model on random texts. */
#include <gtest/gtest.h>
#include <io.h>
#include <charconv>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include "module_functions.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

std::string text_or_null(const char *p) { return p ? std::string(p) : std::string("<null>"); }

std::string assert_text(const char *message, int line)
{
    return std::string("Assert!\n\n") + message + "\n\nThe error was detected on line " + std::to_string(line) +
           " of file 'toolbox'.\n\nProgram aborting.";
}

/* Standard output joined to standard error, which the death test captures. */
void with_stdout_on_stderr(const std::function<void()> &call)
{
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    call();
}

TEST(StringsAssertDeath, EveryAssertionPrintsItsTextAndEndsTheProgram)
{
    char buffer[8] = "abc";
    const struct {
        std::function<void()> call;
        std::string text;
    } cases[] = {
        {[] { DoAssert(0, "toolbox", 12, nullptr); }, assert_text("Programming error detected.", 12)},
        {[] { CmbStrLastChar(nullptr); }, assert_text("Programming error detected.", 805)},
        {[] { AppendString(nullptr, "x", -1); }, assert_text("NULL passed to first parameter of AppendString()", 2676)},
        {[] { StringCopyMax(nullptr, "x", 4); }, assert_text("Null string passed to first parameter of StringCopyMax", 2859)},
        {[] { StringInsert(nullptr, nullptr, 4); }, assert_text("NULL string passed to first parameter of StringInsert", 2885)},
        {[&] { StringInsert(buffer, nullptr, 8); }, assert_text("NULL string passed to second parameter of StringInsert", 2886)},
        {[] { /* inside the real DLL */
             ModuleFunctions dll;
             dll.get<void(int, const char *, int, const char *)>("DoAssert")(0, "unit", -3, "m %d");
         },
         "Assert!\n\nm %d\n\nThe error was detected on line -3 of file 'unit'.\n\nProgram aborting."},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(with_stdout_on_stderr(c.call), ::testing::ExitedWithCode(1), ::testing::Eq(c.text));
    DoAssert(1, "toolbox", 1, "not reported");
}

class StringsHeap : public ToolboxTest {};

TEST_F(StringsHeap, AppendPrefixAndQuote)
{
    const struct {
        const char *start, *add;
        int length;
        const char *appended, *prefixed, *quoted;
    } cases[] = {
        {nullptr, "abc", 2, "ab", "ab", "\"\""},
        {nullptr, "", -1, "<null>", "<null>", "\"\""},
        {"x", nullptr, 5, "x", "x", "\"x\""},
        {"x", "abc", 0, "x", "x", "\"x\""},
        {"x", "ab", 10, "xab", "abx", "\"x\""},
        {"", "abc", -1, "abc", "abc", "\"\""},
    };
    for (const auto &c : cases) {
        char *a = StrDup(c.start), *p = StrDup(c.start), *q = StrDup(c.start);
        EXPECT_EQ(AppendString(&a, c.add, c.length), 1);
        EXPECT_EQ(AddStringPrefix(&p, c.add, c.length), 1);
        EXPECT_EQ(AddStringQuotes(&q), 1);
        EXPECT_EQ(text_or_null(a) + "|" + text_or_null(p) + "|" + q,
                  std::string(c.appended) + "|" + c.prefixed + "|" + c.quoted);
        qex_rte_free(a), qex_rte_free(p), qex_rte_free(q);
    }
    /* Text added from inside the caller's own block, which moves. */
    char *s = StrDup("abcdef");
    ASSERT_EQ(AppendString(&s, s + 2, 3), 1);
    ASSERT_EQ(AddStringPrefix(&s, s + 6, -1), 1);
    EXPECT_STREQ(s, "cdeabcdefcde");
    qex_rte_free(s);
}

/* Every allocation of every allocating function failed in turn: the stated
 * result, the caller's text as it was, nothing leaked. */
TEST_F(StringsHeap, AllocationFailureLeavesTheTextAsItWas)
{
    const struct {
        const char *name;
        std::function<bool(char **)> run;
        int allocations;
    } cases[] = {
        {"append", [](char **s) { return AppendString(s, "xyz", -1) == 1; }, 1},
        {"prefix", [](char **s) { return AddStringPrefix(s, "xyz", 2) == 1; }, 1},
        {"quotes", [](char **s) { return AddStringQuotes(s) == 1; }, 1},
        {"dup", [](char **s) { char *d = StrDup(*s); qex_rte_free(d); return d != nullptr; }, 1},
        {"dup trimmed", [](char **s) { char *d = StrDupWithoutSurrWhiteSpace(*s); qex_rte_free(d); return d != nullptr; }, 1},
        {"splice", [](char **s) {
             char *r = *s;
             int status = SpliceCommaSeparatedList("a,,c", "x,y,z,w", &r);
             EXPECT_TRUE(status == 0 ? std::string(r) == "a,y,c,w" : status == -12 && !r);
             qex_rte_free(r);
             return status == 0;
         }, 7},
        {"splice of nothing", [](char **) {
             char *r = nullptr;
             int status = SpliceCommaSeparatedList(nullptr, nullptr, &r);
             EXPECT_TRUE(status == 0 ? std::string(r).empty() : status == -12 && !r);
             qex_rte_free(r);
             return status == 0;
         }, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int n = 1;
        for (;; ++n) {
            char *s = StrDup(" text "), *before = s;
            EngineBaseline engine;
            standin_rte_fail_alloc_nth(n);
            bool ok = c.run(&s);
            standin_rte_fail_alloc_nth(0);
            if (!ok) {
                EXPECT_EQ(s, before);
                EXPECT_STREQ(s, " text ");
                EXPECT_EQ(engine.extra_blocks(), 0);
            }
            qex_rte_free(s);
            if (ok || n > 20) break;
        }
        EXPECT_EQ(n - 1, c.allocations);
    }
}

TEST(StringsBuffers, CopyMaxAndInsert)
{
    const struct {
        const char *source;
        int size;
        const char *copied;
    } copies[] = {{"hello", 3, "he"}, {"hello", 1, ""}, {"hello", 6, "hello"}, {"hello", 0, "#####"}, {nullptr, 4, "#####"}};
    for (const auto &c : copies) {
        char buffer[8] = "#####";
        StringCopyMax(buffer, c.source, c.size);
        EXPECT_STREQ(buffer, c.copied) << c.size;
    }
    const struct {
        const char *destination, *insert;
        int size;
        const char *result;
        int returned_offset;
    } inserts[] = {{"abc", "XY", 5, "Xabc", 1}, {"abc", "XY", 4, "abc", 0}, {"abc", "XY", 9, "XYabc", 2},
                   {"", "XY", 2, "X", 1},       {"abc", "", 9, "abc", 0}};
    for (const auto &c : inserts) {
        char buffer[16];
        std::strcpy(buffer, c.destination);
        EXPECT_EQ(StringInsert(buffer, c.insert, c.size) - buffer, c.returned_offset);
        EXPECT_STREQ(buffer, c.result);
    }
}

class StringsWhiteSpace : public ToolboxTest {};

TEST_F(StringsWhiteSpace, TrimSkipAndCompare)
{
    const struct {
        const char *text, *trimmed;
        int skip, skip_non, has;
    } cases[] = {{"  ab c \t\n", "ab c", 2, 0, 1}, {" \t ", "", 3, 0, 0}, {"", "", 0, 0, 0}, {"x", "x", 0, 1, 1},
                 {"ab ", "ab", 0, 2, 1}};
    for (const auto &c : cases) {
        char *dup = StrDupWithoutSurrWhiteSpace(c.text);
        char in_place[16];
        std::strcpy(in_place, c.text);
        RemoveSurroundingWhiteSpace(in_place);
        EXPECT_EQ(std::string(dup) + "|" + in_place, std::string(c.trimmed) + "|" + c.trimmed);
        EXPECT_EQ(SkipWhiteSpace(c.text) - c.text, c.skip);
        EXPECT_EQ(SkipNonWhiteSpace(c.text) - c.text, c.skip_non);
        EXPECT_EQ(HasNonWhiteSpace(c.text), c.has);
        qex_rte_free(dup);
    }
    EXPECT_EQ(HasNonWhiteSpace(nullptr), 0);
    const struct {
        const char *a, *b;
        int order;
    } orders[] = {{"  Abc ", "abc", 0}, {"ab", "abc", -1}, {nullptr, "", -1}, {"", nullptr, 1}, {nullptr, nullptr, 0},
                  {"a b", "ab", -1}, {"ab c", "ab", 1}, {"ab", "ab \t", 0}, {"[", "a", 1} /* upper-cased: "A" < "[" */};
    for (const auto &c : orders) {
        EXPECT_EQ(StrICmpWithoutSurrWhiteSpace(c.a, c.b), c.order) << text_or_null(c.a) << "|" << text_or_null(c.b);
        EXPECT_EQ(StrICmpWithoutSurrWhiteSpace(c.b, c.a), -c.order);
    }
}

TEST_F(StringsWhiteSpace, SpliceCommaSeparatedLists)
{
    const struct {
        const char *first, *second, *spliced;
    } cases[] = {{"a,,c", "x,y", "a,y,c"}, {"a", "x,y,z", "a,y,z"}, {nullptr, nullptr, ""}, {",", nullptr, ","},
                 {" a ,", "x, y", " a , y"}, {"", "x", "x"}};
    for (const auto &c : cases) {
        char *result = nullptr;
        ASSERT_EQ(SpliceCommaSeparatedList(c.first, c.second, &result), 0);
        EXPECT_STREQ(result, c.spliced);
        qex_rte_free(result);
    }
}

/* Independent model of the strict decimal syntax: whitespace, one optional
 * sign, digits, whitespace; the magnitude as from_chars reads it. */
bool model_parse(const std::string &text, bool *negative, unsigned long long *magnitude, bool *fits64)
{
    auto space = [](char c) { return std::strchr(" \t\n\v\f\r", c) && c; };
    size_t i = 0, n = text.size();
    while (i < n && space(text[i])) ++i;
    *negative = i < n && text[i] == '-';
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = i;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == digits) return false;
    auto [end, error] = std::from_chars(text.data() + digits, text.data() + i, *magnitude);
    *fits64 = error == std::errc();
    while (i < n && space(text[i])) ++i;
    return i == n && end;
}

TEST(StringsDecimal, TablesAndRandomTextsAgreeWithTheModel)
{
    const char *texts[] = {"  -2147483648  ", "2147483648", "2147483647", "1 2", "+-1", "12a", "", "-", " + 5",
                           "4294967295", "4294967296", "-0", "+0", "18446744073709551615", "18446744073709551616",
                           "99999999999999999999", "-9223372036854775808", "9223372036854775808", "0000000000000000000000042"};
    std::mt19937 random(20261210);
    std::vector<std::string> all(std::begin(texts), std::end(texts));
    const char alphabet[] = "0123456789999 +-x\t";
    for (int i = 0; i < 20000; ++i) {
        std::string t;
        for (int k = random() % 24; k > 0; --k) t += alphabet[random() % (sizeof alphabet - 1)];
        all.push_back(t);
    }
    for (const std::string &t : all) {
        bool negative = false, fits64 = false;
        unsigned long long m = 0;
        bool valid = model_parse(t, &negative, &m, &fits64) && fits64;
        int i = 7; unsigned int u = 7; long long ll = 7; unsigned long long ull = 7;
        bool want_i = valid && m <= (negative ? 2147483648ull : 2147483647ull);
        bool want_ll = valid && m <= (negative ? 9223372036854775808ull : 9223372036854775807ull);
        ASSERT_EQ(StrToInt(t.c_str(), &i), want_i) << t;
        ASSERT_EQ(StrToUInt(t.c_str(), &u), valid && !negative && m <= 4294967295ull) << t;
        ASSERT_EQ(StrToLongLong(t.c_str(), &ll), want_ll) << t;
        ASSERT_EQ(StrToULongLong(t.c_str(), &ull), valid && !negative) << t;
        EXPECT_EQ(i, want_i ? static_cast<int>(negative ? 0u - m : m) : 7) << t;
        EXPECT_EQ(ll, want_ll ? static_cast<long long>(negative ? 0ull - m : m) : 7) << t;
        EXPECT_EQ(ull, valid && !negative ? m : 7) << t;
    }
}

TEST(StringsBinary, DigitsBothWays)
{
    int overflow = -1;
    EXPECT_EQ(BinStrToUInt("101x", &overflow), 5u);
    EXPECT_EQ(overflow, 0);
    EXPECT_EQ(BinStrToUInt(("1" + std::string(32, '0')).c_str(), &overflow), 0u);
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(BinStrToUInt(("1" + std::string(31, '1')).c_str(), &overflow), 0xFFFFFFFFu);
    EXPECT_EQ(BinStrToULongLong(("01" + std::string(63, '0') + "2").c_str(), &overflow), 1ull << 63);
    EXPECT_EQ(overflow, 0);
    EXPECT_EQ(BinStrToULongLong(("1" + std::string(64, '0')).c_str(), nullptr), 0u);
    char buffer[65];
    std::mt19937_64 random(5);
    for (int i = 0; i < 1000; ++i) {
        unsigned long long v = random() >> (random() % 64);
        ASSERT_EQ(BinStrToULongLong(ULongLongToBinStr(v, buffer), &overflow), v);
        ASSERT_TRUE(buffer[0] == '1' || std::string(buffer) == "0") << buffer;
        ASSERT_EQ(BinStrToUInt(UIntToBinStr(static_cast<unsigned>(v), buffer), nullptr), static_cast<unsigned>(v));
    }
    EXPECT_STREQ(UIntToBinStr(0, buffer), "0");
    EXPECT_STREQ(UIntToBinStr(6, buffer), "110");
}

TEST(StringsSingleByte, CharacterFunctions)
{
    char text[] = "aZ\x82\xe9!";
    EXPECT_STREQ(CmbStrUpr(text), "AZ\x82\xe9!");
    EXPECT_STREQ(CmbStrLwr(text), "az\x82\xe9!");
    EXPECT_EQ(CmbStrLastChar(text), text + 4);
    EXPECT_EQ(CmbStrLastChar(""), std::string(""));
    EXPECT_EQ(CmbStrByteIs(text, 2, 0x82), 1);
    EXPECT_EQ(CmbFirstByteOfChar(0x8260), 0x82u);
    EXPECT_EQ(CmbFirstByteOfChar(0x41), 0x41u);
    EXPECT_EQ(CmbNumChars(text), 5u);
}

/* The engine's bounded formatting keeps the C standard's contract over msvcrt. */
TEST(StringsEngineText, BoundedFormattingTerminatesAndCounts)
{
    char buffer[8] = "#######";
    EXPECT_EQ(qex_rte_snprintf(buffer, 4, "%s-%d", "ab", 1234), 7);
    EXPECT_STREQ(buffer, "ab-");
    EXPECT_EQ(qex_rte_snprintf(buffer, 8, "%s-%d", "ab", 1234), 7);
    EXPECT_STREQ(buffer, "ab-1234");
    EXPECT_EQ(qex_rte_snprintf(nullptr, 0, "%05d", 42), 5);
}

} // namespace
