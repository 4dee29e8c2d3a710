#include <gtest/gtest.h>
#include <io.h>
#include <cstdio>
#include <string>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

/* Runs an assertion with standard output joined to standard error, which the
 * death test captures. */
void assert_on_stderr(void (*assertion)())
{
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    assertion();
}

TEST(StringsAssertDeath, TextAndEnd)
{
    EXPECT_EXIT(assert_on_stderr([] { DoAssert(0, "unit", 7, "msg"); }), ::testing::ExitedWithCode(1),
                ::testing::Eq(std::string("Assert!\n\nmsg\n\nThe error was detected on line 7 of file 'unit'.\n\nProgram aborting.")));
}

} // namespace

namespace {

class StringsHeap : public ToolboxTest {};

std::string text_or_null(const char *p) { return p ? std::string(p) : std::string("<null>"); }

struct AppendCase {
    const char *name;
    const char *start; /* null: no text yet */
    const char *add;
    int length;
    const char *appended;
    const char *prefixed;
};

TEST_F(StringsHeap, AppendAndPrefix)
{
    const AppendCase cases[] = {
        {"to no text, cut to 2", nullptr, "abc", 2, "ab", "ab"},
        {"empty whole text to no text", nullptr, "", -1, "<null>", "<null>"},
        {"null text", "x", nullptr, 5, "x", "x"},
        {"length 0", "x", "abc", 0, "x", "x"},
        {"length beyond the NUL", "x", "ab", 10, "xab", "abx"},
        {"whole text", "xy", "abc", -1, "xyabc", "abcxy"},
        {"to an empty text", "", "abc", -1, "abc", "abc"},
    };
    for (const AppendCase &c : cases) {
        SCOPED_TRACE(c.name);
        char *a = c.start ? StrDup(c.start) : nullptr;
        char *p = c.start ? StrDup(c.start) : nullptr;
        EXPECT_EQ(AppendString(&a, c.add, c.length), 1);
        EXPECT_EQ(AddStringPrefix(&p, c.add, c.length), 1);
        EXPECT_EQ(text_or_null(a), c.appended);
        EXPECT_EQ(text_or_null(p), c.prefixed);
        qex_rte_free(a);
        qex_rte_free(p);
    }
}

} // namespace
