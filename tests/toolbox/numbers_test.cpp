/* The numeric functions: comparisons, special values and conversions by
 * tables; the random sequence against an independent Wichmann-Hill; the sorts
 * against std::stable_sort and BinSearch against std::lower_bound on random
 * data with fixed seeds; transposition against a model, with and without its
 * temporary copy; the locale's time and date against the C runtime's own. */
#include <gtest/gtest.h>
#include <io.h>
#include <locale.h>
#include <time.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <vector>
#include "toolbox_test_support.h"

using namespace toolbox_test;

namespace {

/* ------------------------------- sorts and search ------------------------------- */

struct Keyed {
    int key, serial;
    bool operator==(const Keyed &) const = default;
};

TEST(NumbersSort, AgreeWithTheStableSortAndEachOther)
{
    std::mt19937 random(20261210);
    for (size_t n : {0u, 1u, 2u, 3u, 7u, 64u, 257u, 1000u}) {
        for (unsigned range : {4u, 1u << 30}) {
            std::vector<Keyed> data(n), stable, heap, insertion;
            for (size_t i = 0; i < n; ++i) data[i] = {int(random() % range), int(i)};
            stable = heap = insertion = data;
            std::stable_sort(stable.begin(), stable.end(), [](auto &a, auto &b) { return a.key < b.key; });
            HeapSort(heap.data(), n, sizeof(Keyed), compare_ints);
            InsertionSort(insertion.data(), n, sizeof(Keyed), compare_ints);
            EXPECT_EQ(insertion, stable) << "insertion sort, n " << n;
            EXPECT_TRUE(std::equal(heap.begin(), heap.end(), stable.begin(),
                                   [](auto &a, auto &b) { return a.key == b.key; }))
                << "heap sort, n " << n;
        }
    }
    /* Equal elements end where the heap sort's exchanges put them (traced by hand). */
    Keyed equal_keys[] = {{1, 0}, {1, 1}, {0, 2}, {1, 3}, {0, 4}};
    HeapSort(equal_keys, 5, sizeof(Keyed), compare_ints);
    const int serials[] = {4, 2, 3, 1, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(equal_keys[i].serial, serials[i]) << i;
    /* Without a compare function, bytes decide; 3-byte elements at an odd address. */
    std::vector<unsigned char> bytes(901), copy;
    for (auto &b : bytes) b = static_cast<unsigned char>(random() % 5);
    std::vector<std::array<unsigned char, 3>> expected(300);
    std::memcpy(expected.data(), bytes.data() + 1, 900);
    std::sort(expected.begin(), expected.end());
    for (auto sort : {HeapSort, InsertionSort}) {
        sort((copy = bytes).data() + 1, 300, 3, nullptr);
        EXPECT_EQ(0, std::memcmp(copy.data() + 1, expected.data(), 900));
    }
}

TEST(NumbersSearch, BinSearchResults)
{
    const int array[] = {1, 3, 7};
    const struct { size_t count; int item, expected; } cases[] = {
        {3, 1, 0}, {3, 3, 1}, {3, 7, 2}, {3, 5, -3}, {3, 0, -1}, {3, 9, -4}, {3, 2, -2},
        {0, 1, -1}, {size_t{1} << 31, 1, -1} /* counts beyond int */,
    };
    for (const auto &c : cases)
        EXPECT_EQ(BinSearch(array, c.count, sizeof(int), &c.item, compare_ints), c.expected) << c.item;
    std::mt19937 random(99);
    for (size_t n = 1; n < 200; n += 7) {
        std::vector<int> data(n);
        for (int &v : data) v = static_cast<int>(random() % 1000) * 2;
        std::sort(data.begin(), data.end());
        data.erase(std::unique(data.begin(), data.end()), data.end());
        for (int item = -1; item <= 2000; item += 3) {
            auto at = std::lower_bound(data.begin(), data.end(), item);
            int p = static_cast<int>(at - data.begin());
            ASSERT_EQ(BinSearch(data.data(), data.size(), sizeof(int), &item, compare_ints),
                      at != data.end() && *at == item ? p : -(p + 1))
                << "n " << data.size() << " item " << item;
        }
    }
}

TEST(NumbersSwap, SwapBlockAtEveryAlignment)
{
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t n : {0u, 1u, 3u, 4u, 8u, 12u, 16u, 37u}) {
            alignas(8) unsigned char a[64], b[64];
            for (int i = 0; i < 64; ++i) a[i] = static_cast<unsigned char>(i), b[i] = static_cast<unsigned char>(100 + i);
            SwapBlock(a + offset, b, n);
            for (size_t i = 0; i < 64; ++i)
                ASSERT_TRUE(a[i] == (i >= offset && i < offset + n ? 100 + i - offset : i) &&
                            b[i] == (i < n ? i + offset : 100 + i)) << offset << " " << n << " " << i;
        }
    }
}

/* ------------------------- comparisons and special values ------------------------- */

struct CompareCase {
    double a, b;
    int compare, eq, gt, ge, lt, le;
};

template <typename T, typename... F>
void check_comparisons(const std::vector<CompareCase> &cases, F... f)
{
    for (const auto &c : cases) {
        T a = static_cast<T>(c.a), b = static_cast<T>(c.b);
        const int expected[] = {c.compare, c.eq, c.gt, c.ge, c.lt, c.le};
        const int actual[] = {f(a, b)...};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(actual[i], expected[i]) << c.a << " vs " << c.b << ", function " << i;
    }
}

TEST(NumbersCompare, DoubleAndSingleTables)
{
    check_comparisons<double>(
        {/* a, b: Compare, EQ, GT, GE, LT, LE */
         {1.0, 1.0 + 1e-12, 0, 1, 0, 1, 0, 1},  {1e6, 1e6 + 1e-3, -1, 0, 0, 0, 1, 1},
         {0.0, 1e-9, 0, 1, 0, 0, 1, 1},         {1e-9, 0.0, 0, 1, 1, 1, 0, 0},
         {-3.5, -3.5, 0, 1, 0, 1, 0, 1},        {2.0, 1.0, 1, 0, 1, 1, 0, 0},
         {-1.0, 1.0, -1, 0, 0, 0, 1, 1},        {1e-9, 2e-9, -1, 0, 0, 0, 1, 1},
         {-1e-9, -2e-9, 1, 0, 1, 1, 0, 0},      {0.0, 0.0, 0, 1, 0, 1, 0, 1}},
        FP_Compare, FP_EQ, FP_GT, FP_GE, FP_LT, FP_LE);
    check_comparisons<float>(
        {{1000000.0, 1000000.5, 0, 1, 0, 0, 1, 1}, /* equal without an absolute condition, yet less */
         {1.0, 1.0000001, 0, 1, 0, 1, 0, 1},       {1.0, 1.00001, -1, 0, 0, 0, 1, 1},
         {0.0, 1e-7, 0, 1, 0, 0, 1, 1},            {-2.0, -2.0, 0, 1, 0, 1, 0, 1},
         {3.0, -3.0, 1, 0, 1, 1, 0, 0}},
        FP32_Compare, FP32_EQ, FP32_GT, FP32_GE, FP32_LT, FP32_LE);
}

TEST(NumbersCompare, PinAndSpecialValues)
{
    EXPECT_TRUE(Pin(-1.0, 0.0, 2.0) == 0.0 && Pin(3.0, 0.0, 2.0) == 2.0 && std::isnan(Pin(NotANumber(), 0.0, 2.0)));
    const double specials[] = {PositiveInfinity(), NegativeInfinity(), NotANumber()};
    const uint64_t special_bits[] = {0x7FF0000000000000ull, 0xFFF0000000000000ull, 0x7FF8000000000000ull};
    EXPECT_EQ(0, std::memcmp(specials, special_bits, sizeof specials));
    const struct { uint64_t bits; int nan, infinity, finite; } cases[] = {
        {0x7FF0000000000000ull, 0, 1, 0}, {0xFFF0000000000000ull, 0, -1, 0}, {0x7FF0000000000001ull, 1, 0, 0},
        {0xFFF8000000000000ull, 1, 0, 0}, {0x7FEFFFFFFFFFFFFFull, 0, 0, 1},  {0x8000000000000001ull, 0, 0, 1},
    };
    for (const auto &c : cases) {
        double v = __builtin_bit_cast(double, c.bits);
        EXPECT_EQ((std::array{IsNotANumber(v), IsInfinity(v), IsFinite(v)}), (std::array{c.nan, c.infinity, c.finite}))
            << std::hex << c.bits;
    }
}

/* ------------------------------ random generator ------------------------------ */

/* Wichmann-Hill as published, started from a seed's low 14 bits. */
struct WichmannHill {
    int x, y, z;
    explicit WichmannHill(int seed) : x(seed & 0x3FFF), y((x * 8191) & 0x3FFF), z((y * 8191) & 0x3FFF) {}
    double next()
    {
        x = 171 * x % 30269, y = 172 * y % 30307, z = 170 * z % 30323;
        double u = (x * (1.0 / 30269) + y * (1.0 / 30307)) + z * (1.0 / 30323);
        return u - std::floor(u);
    }
};

/* Draws on a new thread, whose record starts from the initial seed. */
std::vector<double> draws_on_new_thread(int count, int seed, double minimum = 0.0, double maximum = 1.0)
{
    std::vector<double> out;
    std::thread([&] {
        if (seed) SetRandomSeed(seed);
        for (int i = 0; i < count; ++i) out.push_back(Random(minimum, maximum));
    }).join();
    return out;
}

TEST(NumbersRandom, SequencesFollowTheGeneratorPerThread)
{
    WichmannHill model(0x38589391);
    ASSERT_EQ(model.x, 5009);
    std::vector<double> drawn = draws_on_new_thread(10000, 0, -2.0, 3.0);
    for (size_t i = 0; i < drawn.size(); ++i) ASSERT_EQ(drawn[i], 5.0 * model.next() + -2.0) << "draw " << i;

    std::vector<double> a, b;
    std::thread ta([&] { a = draws_on_new_thread(1000, 12345); }), tb([&] { b = draws_on_new_thread(1000, 12345); });
    ta.join(), tb.join();
    EXPECT_TRUE(a == b && a.front() == WichmannHill(12345).next());
    std::thread([] {
        SetRandomSeed(77);
        double first = Random(0, 1);
        Random(0, 1);
        SetRandomSeed(77);
        EXPECT_EQ(Random(0, 1), first) << "a new seed restarts the sequence";
        EXPECT_TRUE(Random(5.0, 5.0) == 5.0 && Random(2.0, 1.0) == 2.0);
    }).join();
}

TEST(NumbersRandom, SeedsWithoutLowBitsAndClockSeedsStillVary)
{
    for (int seed : {0x4000, 0x7FFFC000, static_cast<int>(0x80000000u)}) {
        std::vector<double> drawn = draws_on_new_thread(50, seed);
        std::sort(drawn.begin(), drawn.end());
        EXPECT_EQ(std::unique(drawn.begin(), drawn.end()) - drawn.begin(), 50) << std::hex << seed;
    }
    std::thread([] { SetRandomSeed(0); EXPECT_NE(Random(0, 1), Random(0, 1)) << "seeded from the clock"; }).join();
}

/* ----------------------- data types, conversion, transposition ----------------------- */

/* Runs a statement with standard output joined to standard error, which the
 * death test captures. */
void on_stderr(void (*statement)())
{
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    statement();
}

TEST(NumbersTypesDeath, SizesAndTheReportOfAnInvalidType)
{
    const int sizes[] = {1, 4, 2, 4, 8, 8, 2, 4, 1, 8, 8, 0, 8, 8};
    for (int code = 0; code < 14; ++code) {
        if (code != 11) {
            EXPECT_EQ(GetDataTypeSize(code), sizes[code]) << code;
        }
    }
    const std::string text = "Assert!\n\nParameter 1 passed to GetDataTypeSize was not a valid data type.\n\n"
                             "The error was detected on line 7498 of file 'toolbox'.\n\nProgram aborting.";
    EXPECT_EXIT(on_stderr([] { GetDataTypeSize(11); }), ::testing::ExitedWithCode(1), ::testing::Eq(text));
    EXPECT_EXIT(on_stderr([] { int v[4] = {}; TransposeData(v, 11, 4, 2); }), ::testing::ExitedWithCode(1),
                ::testing::Eq(text));
}

TEST(NumbersConvert, ElementTypesTable)
{
    /* Doubles stored into each target, read back as the target's integer. */
    const struct { double value; int target; int64_t stored; } cases[] = {
        {-1.7, 8, 255}, {-1.7, 1, -1}, {3e9, 7, 3000000000}, {70000.9, 2, 4464}, {-1.0, 6, 65535},
        {300.0, 0, 44}, {3e9, 1, INT32_MIN}, {NotANumber(), 1, INT32_MIN}, {-2.5, 7, 4294967294},
    };
    for (const auto &c : cases) { /* stored, then read back from the target type as a double */
        union { int8_t i8; uint8_t u8; int16_t i16; uint16_t u16; int32_t i32; uint32_t u32; } t{};
        ConvertArrayType(&c.value, 4, &t, c.target, 1);
        const int64_t stored[] = {t.i8, t.i32, t.i16, 0, 0, 0, t.u16, t.u32, t.u8};
        double back;
        ConvertArrayType(&t, c.target, &back, 4, 1);
        EXPECT_TRUE(stored[c.target] == c.stored && back == double(c.stored)) << c.value << " to " << c.target;
    }
    float single;
    double back, tenth = -0.1;
    ConvertArrayType(&tenth, 4, &single, 3, 1);
    ConvertArrayType(&single, 3, &back, 4, 1);
    EXPECT_EQ(back, double(-0.1f));
    /* An unconverted source type repeats the previous value (0 first); an unconverted target is left. */
    const double two[] = {1.0, 2.0};
    double out[2] = {9, 9};
    ConvertArrayType(two, 5, out, 4, 2);
    EXPECT_EQ(out[0] + out[1], 0.0);
    out[0] = 9;
    ConvertArrayType(two, 4, out, 9, 2);
    EXPECT_EQ(out[0], 9.0);
}

class NumbersTranspose : public ToolboxTest {};

template <typename T>
void check_transposition(int type, size_t n, int k, bool fail_copy)
{
    std::vector<T> data(n), expected;
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<T>(i * 7 + 1);
    for (int c = 0; c < std::max(k, 1); ++c) /* channel c holds elements c, c + k, ... */
        for (size_t i = size_t(c); i < n; i += size_t(std::max(k, 1))) expected.push_back(data[i]);
    EngineBaseline engine;
    long allocations = standin_rte_total_allocations();
    if (fail_copy) standin_rte_fail_alloc_nth(1);
    TransposeData(data.data(), type, n, k);
    standin_rte_fail_alloc_nth(0);
    EXPECT_EQ(data, expected) << "type " << type << " n " << n << " k " << k << (fail_copy ? " in place" : "");
    EXPECT_EQ(engine.extra_blocks(), 0);
    bool copies = k >= 2 && n > 0 && !(n / size_t(k) <= 1 && n % size_t(k) == 0);
    EXPECT_EQ(standin_rte_total_allocations() - allocations, copies && !fail_copy ? 1 : 0);
}

TEST_F(NumbersTranspose, AgreesWithTheModelWithAndWithoutTheCopy)
{
    for (bool fail_copy : {false, true}) {
        for (size_t n : {0u, 1u, 3u, 4u, 5u, 12u, 13u, 100u}) {
            for (int k : {-1, 1, 2, 3, 4, 7, 150}) {
                check_transposition<int8_t>(0, n, k, fail_copy);
                check_transposition<int16_t>(2, n, k, fail_copy);
                check_transposition<float>(3, n, k, fail_copy);
                check_transposition<double>(4, n, k, fail_copy);
            }
        }
    }
}

/* ----------------------- constants, conversions, time, switches ----------------------- */

TEST(NumbersConstants, AgreeWithTheStandardLibrary)
{
    using namespace std::numbers;
    const struct { double value, expected; } cases[] = {
        {Pi(), pi}, {TwoPi(), 2 * pi}, {HalfPi(), pi / 2}, {ThreeHalvesPi(), 1.5 * pi}, {ReciprocalOfPi(), inv_pi},
        {LnOfPi(), std::log(pi)}, {Log10OfPi(), std::log10(pi)}, {Euler(), e}, {ReciprocalOfEuler(), 1 / e},
        {Log10OfEuler(), log10e}, {Ln10(), ln10}, {Ln2(), ln2}, {DegToRad(180), pi}, {RadToDeg(pi), 180},
        {CelsiusToKelvin(0), 273.15}, {KelvinToCelsius(273.15), 0}, {MetersToFeet(0.3048), 1},
        {FeetToMeters(1), 0.3048}, {KilometersToMiles(1.609344), 1}, {MilesToKilometers(1), 1.609344},
        {KilogramsToPounds(0.453592), 1}, {PoundsToKilograms(1), 0.453592}, {LitersToGallons(3.7854), 1},
        {GallonsToLiters(1), 3.7854},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_NEAR(cases[i].value, cases[i].expected, 4e-16 * std::fabs(cases[i].expected) + 1e-13) << "row " << i;
    EXPECT_EQ(CelsiusToFahrenheit(100), 212.0);
    EXPECT_EQ(FahrenheitToCelsius(212), 100.0);
}

TEST(NumbersTime, LocaleFormatsOfTheCurrentTimeAndDate)
{
    const struct { int (*format)(char *, size_t); const char *pattern; } cases[] = {
        {InternationalTime, "%X"}, {InternationalDate, "%x"},
    };
    for (const auto &c : cases) {
        std::string before = setlocale(LC_TIME, nullptr);
        auto expected = [&] { /* the runtime's own format with the user's default */
            char text[128];
            time_t now = time(nullptr);
            setlocale(LC_TIME, "");
            std::string formatted(text, strftime(text, sizeof text, c.pattern, localtime(&now)));
            setlocale(LC_TIME, before.c_str());
            return formatted;
        };
        std::string earlier = expected();
        char text[128];
        int count = c.format(text, sizeof text);
        std::string later = expected();
        EXPECT_EQ(setlocale(LC_TIME, nullptr), before) << c.pattern << ": the time category restored";
        EXPECT_TRUE(count > 0 && static_cast<size_t>(count) == strlen(text)) << c.pattern;
        if (earlier == later) {
            EXPECT_EQ(text, earlier) << c.pattern;
        }
        EXPECT_TRUE(c.format(text, 2) == 0 && c.format(text, size_t{1} << 31) == 0) << c.pattern << ": sizes";
    }
}

TEST(NumbersEvents, SetBoleAndDelay)
{
    int original = GetBreakOnLibraryErrors();
    EXPECT_EQ(SetBOLE(1), original);
    EXPECT_TRUE(SetBOLE(0) == 1 && GetBreakOnLibraryErrors() == 0);
    SetBreakOnLibraryErrors(original);

    static int calls = 0;
    PostDeferredCallToThread([](void *) { ++calls; }, nullptr, CmtGetCurrentThreadID());
    DelayWithEventProcessing(0.0);
    EXPECT_EQ(calls, 1) << "events processed at least once";
    double start = Timer();
    DelayWithEventProcessing(0.05);
    EXPECT_GE(Timer() - start, 0.05);
}

} // namespace
