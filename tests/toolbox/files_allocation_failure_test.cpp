/* Allocation failure in the readers of strings and lines: the 1st, 2nd, 3rd
 * ... engine allocation fails until the call succeeds. A failed read answers
 * -12 with a null string and leaves no block behind. */
#include <functional>
#include "files_test_support.h"

using namespace toolbox_test;

namespace {

class FilesAllocationFailure : public FilesTest {};

/* Runs round(n) for n = 1, 2, ... until it succeeds; returns the failed rounds. */
int fail_each_allocation_until_success(const std::function<bool(long n)> &round)
{
    for (long n = 1; n <= 64; ++n) {
        EngineBaseline before;
        bool succeeded = round(n);
        standin_rte_fail_alloc_nth(0);
        EXPECT_EQ(before.extra_blocks(), succeeded ? 1 : 0) << "round " << n;
        /* The string is the caller's heap text, tracked as engine memory. */
        EXPECT_EQ(before.extra_resources(), succeeded ? 1 : 0) << "round " << n;
        if (succeeded) return static_cast<int>(n - 1);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

TEST_F(FilesAllocationFailure, ReadersAnswerMinusTwelveWithoutLeaks)
{
    const std::string text(300, 'r');
    FILE *s = stream_of(text + "\r\n" + "tail");
    using Reader = std::function<int(char **)>;
    const Reader readers[] = {
        [s](char **out) { return ReadStringFromBinaryFile(s, out, -1, nullptr, nullptr); },
        [s](char **out) { return ReadLineFromBinaryFile(s, out, -1, nullptr, nullptr); },
    };
    for (const Reader &read_one : readers) {
        char *result = nullptr;
        int failures = fail_each_allocation_until_success([&](long n) {
            qex_rte_fseek(s, 0, SEEK_SET);
            result = reinterpret_cast<char *>(1);
            standin_rte_fail_alloc_nth(n);
            int status = read_one(&result);
            standin_rte_fail_alloc_nth(0);
            if (status == 0) return true;
            EXPECT_EQ(status, -12);
            EXPECT_EQ(result, nullptr);
            return false;
        });
        EXPECT_GE(failures, 4) << "the first string and each 128-byte chunk allocate";
        EXPECT_EQ(std::string(result).substr(0, 300), text);
        qex_rte_free(result);
    }
    qex_rte_fclose(s);
}

} // namespace
