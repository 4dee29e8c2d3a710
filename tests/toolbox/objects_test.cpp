/* Handles, integer lists, the existence registry, accelerator escape codes,
 * colour matching, rounding and data-text conversion: case tables, models
 * written from the encoding's definition, assertion reports of a dying child,
 * and the functions called inside the loaded node DLL. */
#include <io.h>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>
#include "cnode_startup.h"
#include "module_functions.h"
#include "text_length.h"
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

class Objects : public ToolboxTest {};

std::vector<int> items_of(ListType list)
{
    std::vector<int> v(ListNumItems(list));
    if (!v.empty()) ListGetItems(list, v.data(), 1, static_cast<ptrdiff_t>(v.size()));
    return v;
}

TEST_F(Objects, HandlesAreZeroFilledRegisteredAndResizedInPlaceOfTheirData)
{
    const struct { size_t size; const char *unit; } cases[] = {{0, "bytes"}, {1, "byte"}, {4, "bytes"}};
    for (const auto &c : cases) {
        Handle h = NewHandle(c.size);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(description_of(h), "Handle 0x" + pointer_text(h) + " of " + std::to_string(c.size) + " " + c.unit);
        EXPECT_EQ(category_of(h), "Toolbox");
        EXPECT_EQ(GetHandleSize(h), c.size);
        EXPECT_EQ(*h == nullptr, c.size == 0);
        for (size_t i = 0; i < c.size; ++i) EXPECT_EQ(static_cast<unsigned char *>(*h)[i], 0);
        ASSERT_EQ(SetHandleSize(h, 4), 1);
        std::memset(*h, 0xAB, 4);
        ASSERT_EQ(SetHandleSize(h, 8), 1);
        const auto *bytes = static_cast<unsigned char *>(*h);
        EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 8),
                  std::vector<unsigned char>({0xAB, 0xAB, 0xAB, 0xAB, 0, 0, 0, 0}));
        ASSERT_EQ(SetHandleSize(h, 0), 1);
        EXPECT_EQ(*h, nullptr);
        EXPECT_EQ(GetHandleSize(h), 0u);
        DisposeHandle(h);
    }
    DisposeHandle(nullptr);
}

TEST_F(Objects, IntegerListsTakeCountedOrZeroTerminatedArguments)
{
    const struct { ListType list; std::vector<int> items; } cases[] = {
        {BuildIntegerList(0, 5, 7, 0), {5, 7}},
        {BuildIntegerList(3, 5, 0, 7), {5, 0, 7}},
        {BuildIntegerList(0, 0), {}},
        {BuildIntegerList(3, -1, INT_MIN, 2), {-1, INT_MIN, 2}},
        {BuildIntegerList(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 12), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const auto &c : cases) {
        ASSERT_NE(c.list, nullptr);
        EXPECT_EQ(ListGetItemSize(c.list), 4);
        EXPECT_EQ(description_of(c.list), "ListType 0x" + pointer_text(c.list));
        EXPECT_EQ(items_of(c.list), c.items);
        ListDispose(c.list);
    }
    ListType list = BuildIntegerList(1, 9);
    EXPECT_EQ(AppendToIntegerList(list, 0, 4, -4, 0), 1);
    EXPECT_EQ(items_of(list), std::vector<int>({9, 4, -4}));
    ListType wide = ListCreate(8);
    int64_t one = 1;
    ListInsertItem(wide, &one, LIST_POS_END);
    EXPECT_EQ(AppendToIntegerList(wide, 2, 5, 6), 0);
    EXPECT_EQ(ListNumItems(wide), 1u);
    EXPECT_EQ(AppendToIntegerList(nullptr, 1, 5), 0);
    ListDispose(wide);
    ListDispose(list);
}

/* Slots as a caller lays them out: the int in the low half, anything above. */
TEST_F(Objects, IntegerListsReadTheLowHalfOfEachSlot)
{
    std::mt19937_64 random(13);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint64_t> slots(1 + random() % 12);
        std::vector<int> counted, terminated;
        for (uint64_t &slot : slots) {
            int value = random() % 4 == 0 ? 0 : static_cast<int>(random());
            slot = (random() << 32) | static_cast<uint32_t>(value);
            counted.push_back(value);
        }
        for (int v : counted) {
            if (v == 0) break;
            terminated.push_back(v);
        }
        slots.push_back(random() << 32); /* a terminating 0 in case none came */
        ListType list = reinterpret_cast<ListType>(&round);
        ASSERT_EQ(GetIntListFromParmInfo(slots.data(), counted.size(), &list), 0);
        EXPECT_EQ(items_of(list), counted);
        ListDispose(list);
        ASSERT_EQ(GetIntListFromParmInfo(slots.data(), 0, &list), 0);
        EXPECT_EQ(items_of(list), terminated);
        ListDispose(list);
    }
}

class Registry : public Objects {
protected:
    void SetUp() override
    {
        Objects::SetUp();
        _InitExitLib();
    }
    void TearDown() override
    {
        _ExecUserExitFuns(); /* the registry's clean-up */
        _CloseExitLib();
        Objects::TearDown();
    }
};

TEST_F(Registry, CountsEachRecordOfAPointerAgainstAModel)
{
    EXPECT_EQ(ObjectExists(this), 0);
    DeRegisterExistence(this); /* without a registry */
    std::map<void *, int> model;
    std::vector<char> objects(64);
    std::mt19937 random(5);
    for (int step = 0; step < 2000; ++step) {
        void *p = &objects[random() % objects.size()];
        if (random() % 2) {
            ASSERT_EQ(RegisterExistence(p), 1);
            ++model[p];
        } else {
            DeRegisterExistence(p);
            if (model[p] > 0) --model[p];
        }
        void *q = &objects[random() % objects.size()];
        ASSERT_EQ(ObjectExists(q), model[q] > 0 ? 1 : 0) << "step " << step;
    }
    EXPECT_EQ(ObjectExists(nullptr), 0);
    EXPECT_EQ(_UserExitFunsTop(), 1) << "one clean-up, registered at the first registration";
}

TEST_F(Registry, CleanUpAtExitDisposesOnlyWhileTheEngineIsAttached)
{
    auto set_detached = reinterpret_cast<void (*)(int32_t)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("qex_gwrt.dll"), "standin_rte_set_detached")));
    ASSERT_NE(set_detached, nullptr);
    for (int detached = 0; detached <= 1; ++detached) {
        EngineBaseline before;
        ASSERT_EQ(RegisterExistence(this), 1);
        ASSERT_EQ(before.extra_resources(), 1);
        set_detached(detached);
        _ExecUserExitFuns();
        set_detached(0);
        EXPECT_EQ(ObjectExists(this), 0) << "forgotten in any case";
        EXPECT_EQ(before.extra_resources(), detached) << "disposed of only while attached";
        if (detached) {
            void *list = nullptr;
            standin_rte_resource_at(standin_rte_resource_count() - 1, &list, nullptr, 0, nullptr, 0);
            ListDispose(static_cast<ListType>(list));
        }
    }
}

TEST_F(Objects, AcceleratorEscapeCodes)
{
    const struct { const char *label; int location; const char *removed; } cases[] = {
        {"__File", 0, "File"},     {"___File", -1, "___File"}, {"File__", -1, "File__"},
        {"Fi__le", 2, "File"},     {"a___b__c", 5, "a___bc"},  {"____x__", -1, "____x__"},
        {"_a__b_", 2, "_ab_"},     {"", -1, ""},               {"__", -1, "__"},
        {"x__y__z", 1, "xy__z"},   {"__ __", 0, " __"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AcceleratorEscapeCodeLocation(c.label), c.location) << c.label;
        std::string text = c.label;
        RemoveAcceleratorEscapeCode(text.data());
        EXPECT_STREQ(text.c_str(), c.removed);
    }
    EXPECT_EQ(AcceleratorEscapeCodeLocation(nullptr), -1);
    RemoveAcceleratorEscapeCode(nullptr);
}

TEST_F(Objects, ClosestColourAndRounding)
{
    const int table[] = {0xFF0000, 0x00FF00, 0x7F7F7F, 0x808080, 0x00FF00};
    const struct { int color; size_t count; int index; } colours[] = {
        {0xFE0101, 2, 0}, {0x00FF00, 5, 1}, {0x01FE01, 5, 1}, {0x000000, 2, 0}, {0x7F7F7F, 5, 2},
        {0x2A808080, 5, 3}, {0x808081, 4, 3}, {0x000000, 0, -1}, {0x00FF00, size_t{1} << 31, -1},
    };
    for (const auto &c : colours) EXPECT_EQ(FindClosestColorInTable(c.color, table, c.count), c.index) << c.color;

    const struct { int value, multiple, result; } roundings[] = {
        {7, 5, 10},    {10, 5, 10},   {-7, 5, -10}, {-10, 5, -10}, {0, 5, 0},
        {1, 1, 1},     {INT_MIN, -1, INT_MIN}, {9, 0, 9},
        {INT_MAX, 2, INT_MIN}, /* wraps in 32 bits */
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
        ASSERT_EQ(ConvertTextToData(text, &size, &back), 1);
        EXPECT_EQ(size, length);
        if (length == 0) {
            EXPECT_EQ(back, reinterpret_cast<unsigned char *>(&size)) << "untouched";
        } else {
            EXPECT_EQ(std::vector<unsigned char>(back, back + size), data) << "length " << length;
            qex_rte_free(back);
        }
        qex_rte_free(text);
    }
    char *text = nullptr;
    ASSERT_EQ(ConvertDataToText("abc", 3, &text), 1);
    EXPECT_STREQ(text, "EQRS");
    qex_rte_free(text);
}

TEST(TextLength, AgreesWithStrlenAtEveryAlignment)
{
    alignas(16) char text[96];
    for (size_t start = 0; start < 16; ++start)
        for (size_t length = 0; length < 48; ++length) {
            std::memset(text, 'x', sizeof text);
            text[start + length] = '\0';
            ASSERT_EQ(text_length::of(text + start), length) << start;
        }
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
    for (const auto &c : cases) {
        std::string report = std::string("Assert!\n\n") + c.message + "\n\nThe error was detected on line " +
                             std::to_string(c.line) + " of file 'toolbox'.\n\nProgram aborting.";
        EXPECT_EXIT(with_stdout_on_stderr(c.call), ::testing::ExitedWithCode(1), ::testing::Eq(report));
    }
}

/* The same functions as the environment reaches them in the loaded DLL. */
TEST(ObjectsInTheDll, ConvertHandleListAndCleanUpAtUnload)
{
    auto dll = std::make_unique<ModuleFunctions>();
    ASSERT_TRUE(dll->loaded());
    auto to_text = dll->get<decltype(ConvertDataToText)>("ConvertDataToText");
    auto new_handle = dll->get<decltype(NewHandle)>("NewHandle");
    auto build = dll->get<decltype(BuildIntegerList)>("BuildIntegerList");
    auto reg = dll->get<decltype(RegisterExistence)>("RegisterExistence");
    auto dispose = dll->get<decltype(DisposeHandle)>("DisposeHandle");
    ASSERT_TRUE(to_text && new_handle && build && reg && dispose);
    char *text = nullptr;
    ASSERT_EQ(to_text("abc", 3, &text), 1);
    EXPECT_STREQ(text, "EQRS");
    qex_rte_free(text);
    Handle h = new_handle(1);
    EXPECT_EQ(description_of(h), "Handle 0x" + pointer_text(h) + " of 1 byte");
    dispose(h);
    ListType list = build(0, 3, 1, 0);
    EXPECT_EQ(items_of(list), std::vector<int>({3, 1}));
    ListDispose(list);
    ASSERT_EQ(reg(&reg), 1);
    void *registry = nullptr;
    standin_rte_resource_at(standin_rte_resource_count() - 1, &registry, nullptr, 0, nullptr, 0);
    EXPECT_EQ(description_of(registry), "ListType 0x" + pointer_text(registry));
    dll.reset();
    EXPECT_EQ(description_of(registry), "<not tracked>") << "the registry is disposed of at unload";
}

} // namespace
