/* Handles, integer lists, the existence registry, accelerators, colours,
 * rounding and data-text conversion: case tables, models, every allocation
 * failing in turn, assertion reports of a dying child, and the functions
 * inside the loaded node DLL. */
#include <io.h>
#include <climits>
#include <functional>
#include <random>
#include <vector>
#include "cnode_startup.h"
#include "module_loader.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class Objects : public ToolboxTest {};

/* The items of an int list, which is disposed of. */
std::vector<int> items_taken(ListType list)
{
    std::vector<int> v(ListNumItems(list));
    if (!v.empty()) ListGetItems(list, v.data(), 1, static_cast<ptrdiff_t>(v.size()));
    return ListDispose(list), v;
}

TEST_F(Objects, HandlesAreRegisteredZeroFilledAndResized)
{
    for (size_t size : {0, 1, 4}) {
        Handle h = NewHandle(size);
        EXPECT_EQ(description_of(h), "Handle 0x" + pointer_text(h) + " of " + std::to_string(size) +
                                         (size == 1 ? " byte" : " bytes"));
        EXPECT_EQ(GetHandleSize(h), size);
        EXPECT_EQ(*h == nullptr, size == 0);
        ASSERT_EQ(SetHandleSize(h, 4), 1);
        ASSERT_EQ(SetHandleSize((std::memset(*h, 0xAB, 4), h), 8), 1);
        EXPECT_EQ(std::memcmp(*h, "\xAB\xAB\xAB\xAB\0\0\0\0", 8), 0);
        EXPECT_TRUE(SetHandleSize(h, 0) == 1 && *h == nullptr);
        DisposeHandle(h);
    }
    DisposeHandle(nullptr);
}

TEST_F(Objects, IntegerListsTakeCountedOrZeroTerminatedArguments)
{
    const struct { ListType list; std::vector<int> items; } cases[] = {
        {BuildIntegerList(0, 5, 7, 0), {5, 7}}, {BuildIntegerList(3, 5, 0, 7), {5, 0, 7}}, {BuildIntegerList(0, 0), {}},
        {BuildIntegerList(3, -1, INT_MIN, 2), {-1, INT_MIN, 2}},
        {BuildIntegerList(0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 10), {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(description_of(c.list), "ListType 0x" + pointer_text(c.list));
        EXPECT_EQ(items_taken(c.list), c.items);
    }
    ListType list = BuildIntegerList(1, 9), wide = ListCreate(8);
    EXPECT_EQ(AppendToIntegerList(list, 0, 4, -4, 0), 1);
    EXPECT_EQ(items_taken(list), std::vector<int>({9, 4, -4}));
    EXPECT_EQ(AppendToIntegerList(wide, 2, 5, 6), 0);
    EXPECT_EQ(ListNumItems(wide), 0u);
    ListDispose(wide);

    /* Slots as callers lay them out: the int in the low half, anything above. */
    uint64_t slots[] = {0xFFFFFFFF00000007, 0x1234567800000000, 0x00000001FFFFFFFE, 0};
    EXPECT_EQ(items_taken((GetIntListFromParmInfo(slots, 3, &list), list)), std::vector<int>({7, 0, -2}));
    EXPECT_EQ(items_taken((GetIntListFromParmInfo(slots, 0, &list), list)), std::vector<int>({7}));
}

class Registry : public Objects {
protected:
    void SetUp() override { Objects::SetUp(), _InitExitLib(); }
    void TearDown() override { _ExecUserExitFuns(), _CloseExitLib(), Objects::TearDown(); }
};

TEST_F(Registry, CountsEachRecordOfAPointer)
{
    char objects[3];
    DeRegisterExistence(objects); /* without a registry */
    for (char *p : {objects + 2, objects + 0, objects + 2, objects + 1}) ASSERT_EQ(RegisterExistence(p), 1);
    const struct { int deregistered; int exists[3]; } steps[] = {
        {-1, {1, 1, 1}}, {2, {1, 1, 1}}, {0, {0, 1, 1}}, {1, {0, 0, 1}}, {2, {0, 0, 0}}, {2, {0, 0, 0}}};
    for (const auto &step : steps) {
        if (step.deregistered >= 0) DeRegisterExistence(objects + step.deregistered);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ObjectExists(objects + i), step.exists[i]) << step.deregistered;
    }
    EXPECT_EQ(_UserExitFunsTop(), 1) << "one clean-up, registered at the first registration";
}

TEST_F(Registry, CleanUpAtExitDisposesOnlyWhileTheEngineIsAttached)
{
    auto set_detached = testing_support::export_of<void (*)(int32_t)>(GetModuleHandleA("qex_gwrt.dll"),
                                                                      "standin_rte_set_detached");
    for (int detached = 0; detached <= 1; ++detached) {
        EngineBaseline before;
        ASSERT_EQ(RegisterExistence(this), 1);
        void *list = nullptr;
        standin_rte_resource_at(standin_rte_resource_count() - 1, &list, nullptr, 0, nullptr, 0);
        set_detached(detached);
        _ExecUserExitFuns();
        set_detached(0);
        EXPECT_EQ(ObjectExists(this), 0) << "forgotten in any case";
        EXPECT_EQ(before.extra_resources(), detached) << "disposed of only while attached";
        if (detached) ListDispose(static_cast<ListType>(list));
    }
}

TEST_F(Objects, AcceleratorEscapeCodes)
{
    const struct { const char *label; int location; const char *removed; } cases[] = {
        {"__File", 0, "File"},  {"___File", -1, "___File"}, {"File__", -1, "File__"}, {"Fi__le", 2, "File"},
        {"a___b__c", 5, "a___bc"}, {"____x__", -1, "____x__"}, {"_a__b_", 2, "_ab_"}, {"", -1, ""},
        {"x__y__z", 1, "xy__z"}, {"__ __", 0, " __"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AcceleratorEscapeCodeLocation(c.label), c.location) << c.label;
        std::string text = c.label;
        RemoveAcceleratorEscapeCode(text.data());
        EXPECT_STREQ(text.c_str(), c.removed);
    }
    EXPECT_EQ(AcceleratorEscapeCodeLocation(nullptr), -1);
}

TEST_F(Objects, ClosestColourAndRounding)
{
    const int table[] = {0xFF0000, 0x00FF00, 0x7F7F7F, 0x808080, 0x00FF00};
    const struct { int color; size_t count; int index; } colours[] = {
        {0xFE0101, 2, 0}, {0x01FE01, 5, 1}, {0x000000, 2, 0}, {0x7F7F7F, 5, 2},
        {0x2A808080, 5, 3}, {0x808081, 4, 3}, {0x000000, 0, -1}, {0x00FF00, size_t{1} << 31, -1},
    };
    for (const auto &c : colours) EXPECT_EQ(FindClosestColorInTable(c.color, table, c.count), c.index) << c.color;
    const struct { int value, multiple, result; } roundings[] = {
        {7, 5, 10}, {10, 5, 10}, {-7, 5, -10}, {0, 5, 0}, {INT_MIN, -1, INT_MIN}, {9, 0, 9}, {INT_MAX, 2, INT_MIN},
    };
    for (const auto &r : roundings) EXPECT_EQ(RoundToNextMultiple(r.value, r.multiple), r.result) << r.value;
}

/* The encoding character by character, as its definition reads. */
std::string model_text(const std::vector<unsigned char> &data)
{
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3) {
        size_t n = std::min<size_t>(3, data.size() - i);
        int first = 0;
        for (size_t k = 0; k < n; ++k) first |= (data[i + k] >> 6) << (4 - 2 * k);
        text += static_cast<char>(first + 48);
        for (size_t k = 0; k < n; ++k) text += static_cast<char>((data[i + k] & 0x3F) + 48);
    }
    return text;
}

TEST_F(Objects, DataTextRoundTripsEveryLengthAgainstTheModel)
{
    std::mt19937 random(300);
    for (size_t length = 0; length <= 300; ++length) {
        std::vector<unsigned char> data(length);
        for (auto &b : data) b = static_cast<unsigned char>(length % 2 ? random() : 0xFF - (random() & 0x81));
        char *text = nullptr;
        ASSERT_EQ(ConvertDataToText(data.data(), length, &text), 1);
        ASSERT_EQ(text, model_text(data)) << "length " << length;
        size_t size = 12345;
        unsigned char *back = reinterpret_cast<unsigned char *>(&size);
        alignas(16) char shifted[512] = {}; /* the text at every offset from a 16-byte boundary, NULs before */
        ASSERT_EQ(ConvertTextToData(std::strcpy(shifted + length % 16, text), &size, &back), 1);
        EXPECT_EQ(size, length);
        EXPECT_EQ(std::vector<unsigned char>(back, back + size), data) << "length " << length;
        EXPECT_EQ(length == 0, back == reinterpret_cast<unsigned char *>(&size)) << "untouched when empty";
        qex_rte_free(length ? back : nullptr), qex_rte_free(text);
    }
    EXPECT_EQ(model_text({'a', 'b', 'c'}), "EQRS") << "the model itself";
}

/* The nth engine allocation of call() fails for n = 1, 2, ... until the call
 * succeeds; each round must leave no block or registration behind. */
int failed_rounds(const std::function<bool()> &call)
{
    for (long n = 1; n <= 64; ++n) {
        EngineBaseline before;
        standin_rte_fail_alloc_nth(n);
        bool ok = call();
        standin_rte_fail_alloc_nth(0);
        EXPECT_TRUE(!before.extra_blocks() && !before.extra_resources() && standin_rte_resource_tracking()) << n;
        if (ok) return static_cast<int>(n - 1);
    }
    return -1;
}

/* A conversion's out (read after the call) is a block exactly when it
 * succeeded; freed here. */
template <typename T>
bool freed(int status, T **out)
{
    EXPECT_EQ(status == 1, *out != nullptr);
    return qex_rte_free(status == 1 ? *out : nullptr), status == 1;
}

TEST_F(Objects, AllocationFailureAtEveryAllocationOfEveryCall)
{
    _InitExitLib();
    ListType target = BuildIntegerList(2, 1, 2);
    Handle handle = NewHandle(4);
    std::memcpy(*handle, "abc", 4);
    std::vector<uint64_t> slots(30, 7);
    int object = 0;
    const struct { const char *name; std::function<bool()> call; int failures; } calls[] = {
        {"empty handle", [] { Handle h = NewHandle(0); DisposeHandle(h); return h != nullptr; }, 1},
        {"handle", [] { Handle h = NewHandle(8); DisposeHandle(h); return h != nullptr; }, 2}, /* block, record */
        {"resize", [&] {
             void *before = *handle;
             bool ok = SetHandleSize(handle, 40) == 1;
             EXPECT_TRUE(ok || (*handle == before && GetHandleSize(handle) == 4 && !std::memcmp(*handle, "abc", 4)));
             return ok;
         }, 1},
        {"integer list", [&] { /* the record, then each of the data block's 7 growths */
             ListType list = target;
             int status = GetIntListFromParmInfo(slots.data(), 30, &list);
             EXPECT_TRUE(status == 0 || (status == -12 && list == nullptr));
             return ListDispose(list), status == 0;
         }, 8},
        {"append", [&] {
             bool ok = AppendToIntegerList(target, 3, 7, 8, 9) == 1;
             EXPECT_EQ(ListNumItems(target), ok ? 5u : 2u);
             return ok;
         }, 3}, /* the temporary list's record and data, the target's growth */
        {"data to text", [] { char *t = (char *)1; return freed(ConvertDataToText("abcd", 4, &t), &t); }, 1},
        {"text to data", [] { auto *d = (unsigned char *)1; return freed(ConvertTextToData("EQRS", 0, &d), &d); }, 1},
        {"registry", [&] { /* its record, then its data; the exit clean-up forgets it */
             int ok = RegisterExistence(&object);
             EXPECT_EQ(ObjectExists(&object), ok);
             _ExecUserExitFuns();
             return ok == 1;
         }, 2},
    };
    for (const auto &c : calls) EXPECT_EQ(failed_rounds(c.call), c.failures) << c.name;
    ListDispose(target);
    DisposeHandle(handle);
    _CloseExitLib();
}

/* Standard output joined to standard error, which the death test captures. */
void with_stdout_on_stderr(const std::function<void()> &call)
{
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    call();
}

TEST(ObjectsAssertDeath, ReportTheMessageLineAndUnitThenEndTheProgram)
{
    const struct { std::function<void()> call; const char *message; int line; } cases[] = {
        {[] { GetHandleSize(nullptr); }, "Parameter 1 to GetHandleSize was NULL.", 3674},
        {[] { SetHandleSize(nullptr, 4); }, "Parameter 1 to SetHandleSize was NULL.", 3691},
        {[] { size_t n; unsigned char *d; ConvertTextToData("12345", &n, &d); }, "Programming error detected.", 15250},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(with_stdout_on_stderr(c.call), ::testing::ExitedWithCode(1),
                    ::testing::Eq(std::string("Assert!\n\n") + c.message + "\n\nThe error was detected on line " +
                                  std::to_string(c.line) + " of file 'toolbox'.\n\nProgram aborting."));
}

/* As the environment reaches them in the real DLL, loaded afresh in a child
 * process so that its unload runs the registry's clean-up; the child's exit
 * status is the number of the first failed check. */
int dll_checks()
{
    testing_support::NodeModule dll;
    if (!dll.load()) return 1;
    auto lookup = testing_support::export_of<void *(*)(void *, const char *)>(GetModuleHandleA("qex_gwrt.dll"),
                                                                            "standin_rte_lookup_function");
    auto fn = [&]<typename F>(F *, const char *name) { return reinterpret_cast<F *>(lookup(dll.handle, name)); };
    char *text = nullptr;
    if (fn(ConvertDataToText, "ConvertDataToText")("abc", 3, &text) != 1 || std::strcmp(text, "EQRS")) return 2;
    if (items_taken(fn(BuildIntegerList, "BuildIntegerList")(0, 3, 1, 0)) != std::vector<int>({3, 1})) return 3;
    if (fn(RegisterExistence, "RegisterExistence")(&dll) != 1) return 4;
    void *registry = nullptr;
    standin_rte_resource_at(standin_rte_resource_count() - 1, &registry, nullptr, 0, nullptr, 0);
    if (description_of(registry) != "ListType 0x" + pointer_text(registry)) return 5;
    dll.unload();
    return description_of(registry) == "<not tracked>" ? 0 : 6;
}

TEST(ObjectsInTheDll, ConvertBuildAndCleanUpAtUnload)
{
    EXPECT_EXIT(std::exit(dll_checks()), ::testing::ExitedWithCode(0), "");
}

} // namespace
