/* The toolbox's numeric functions: tolerant floating-point comparison,
 * clamping, the per-thread Wichmann-Hill generator, IEEE special values, the
 * data-type codes with their sizes, array conversion between element types,
 * transposition of interleaved channels, block swapping, the two in-place
 * sorts and the binary search over arrays of fixed-size elements, a delay
 * that keeps events flowing, the locale's time and date, the
 * break-on-library-errors switch, and the constants and unit conversions.
 *
 * Rules kept:
 *   - Comparisons allow a tolerance of 1e-8 (1e-6 for the single-precision
 *     FP32_ family, whose quotients and differences are computed in single
 *     precision and widened to double for the comparison).
 *   - Constants and conversions are the exact operations and literals given
 *     with each, so that results agree bit for bit.
 *   - The generator's state lives in the calling thread's toolbox record:
 *     threads never disturb each other's sequences, and no lock is taken.
 *   - Elements are compared by the caller's function with the addresses of
 *     two elements (BinSearch: the sought item first); without one, by memcmp
 *     over the element size.
 *   - The sorts perform exactly the comparisons and exchanges of their
 *     algorithms, so that the order of equal elements after HeapSort is the
 *     one the algorithm gives, and InsertionSort keeps equal elements in
 *     their order.
 *   - SwapBlock exchanges in units of 8, 4 or 1 bytes by the alignment of
 *     both addresses and the count; the sorts exchange elements the same way.
 *   - Only GetDataTypeSize (and TransposeData through it) reports a wrong
 *     argument, with the toolbox assertion that ends the program; everything
 *     else answers out-of-range input with a stated value.
 *   - TransposeData's temporary copy comes from the engine's allocator; when
 *     it cannot be had, the same arrangement is made in place.
 *
 * Choices where the contract is open:
 *   - A seed whose low 14 bits are all zero would start the generator at its
 *     "not started" mark x = 0 and keep it there; such a seed starts instead
 *     from 1 + (the seed's bits 14 to 31 modulo 16383), a value in 1..16383.
 *   - Where the engine gives no thread record, Random returns the minimum and
 *     SetRandomSeed does nothing.
 *   - GetDataTypeSize treats negative codes like 11 and codes above 13.
 *   - The time category's previous locale name is held in a buffer on the
 *     stack while InternationalTime and InternationalDate switch it; a name
 *     that does not fit (longer than any the runtime uses) leaves the
 *     category as it is, and the format then uses the current setting. */
#include <emmintrin.h>
#include <locale.h>
#include <climits>
#include <cmath>
#include <cstring>
#include "toolbox.h"
#include "toolbox_globals.h"
#include "toolbox_internal.h"
#include "swap_units.h"

namespace {

using toolbox::swap_units;

inline void swap_block(void *block1, void *block2, size_t n)
{
    auto *a = static_cast<unsigned char *>(block1);
    auto *b = static_cast<unsigned char *>(block2);
    uintptr_t alignment = reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b) | n;
    if ((alignment & 7) == 0)
        swap_units<uint64_t>(a, b, n);
    else if ((alignment & 3) == 0)
        swap_units<uint32_t>(a, b, n);
    else
        swap_units<unsigned char>(a, b, n);
}

/* Element exchange of the sorts: a fixed-size exchange when the element size
 * is known at compile time and the array is aligned for it (what SwapBlock
 * would do), else SwapBlock's own dispatch. */
template <size_t Size>
struct FixedSwap {
    static void swap(unsigned char *a, unsigned char *b, size_t)
    {
        if constexpr (Size == 8)
            swap_units<uint64_t>(a, b, 8);
        else
            swap_units<uint32_t>(a, b, 4);
    }
};

struct AnySwap {
    static void swap(unsigned char *a, unsigned char *b, size_t size) { swap_block(a, b, size); }
};

/* The comparison of two elements: the caller's function or memcmp. */
struct CallerCompare {
    CompareFunction fn;
    int operator()(const void *a, const void *b, size_t) const { return fn(a, b); }
};

struct BytesCompare {
    int operator()(const void *a, const void *b, size_t size) const { return std::memcmp(a, b, size); }
};

/* Heap sort over positions 1..n: the heap is built by sifting each element up
 * behind its parents, then the largest element is moved behind the heap and
 * the new first element sifted down, until one element remains. */
template <typename Swap, typename Compare>
void heap_sort(unsigned char *base, size_t n, size_t size, Compare compare)
{
    unsigned char *const one = base - size; /* position p lies at one + p * size */
    auto at = [one, size](size_t p) { return one + p * size; };
    for (size_t i = 2; i <= n; ++i) {
        for (size_t c = i; c > 1;) {
            size_t p = c / 2;
            if (compare(at(c), at(p), size) <= 0) break;
            Swap::swap(at(c), at(p), size);
            c = p;
        }
    }
    for (size_t last = n; last > 1;) {
        Swap::swap(at(1), at(last), size);
        --last;
        for (size_t p = 1;;) {
            size_t c = 2 * p;
            if (c > last) break;
            if (c < last && compare(at(c), at(c + 1), size) < 0) ++c;
            if (compare(at(p), at(c), size) >= 0) break;
            Swap::swap(at(p), at(c), size);
            p = c;
        }
    }
}

template <typename Swap, typename Compare>
void insertion_sort(unsigned char *base, size_t n, size_t size, Compare compare)
{
    for (size_t i = 1; i < n; ++i) {
        for (unsigned char *e = base + i * size; e > base; e -= size) {
            if (compare(e - size, e, size) <= 0) break;
            Swap::swap(e - size, e, size);
        }
    }
}

/* Runs sorter<Swap, Compare> with the exchange that fits the element size and
 * the array's alignment and the comparison that fits compareFunction. */
template <template <typename, typename> class Sorter>
void sort_with(void *array, size_t n, size_t size, CompareFunction compareFunction)
{
    if (n < 2 || size == 0) return;
    auto *base = static_cast<unsigned char *>(array);
    uintptr_t address = reinterpret_cast<uintptr_t>(base);
    if (compareFunction) {
        CallerCompare compare{compareFunction};
        if (size == 4 && (address & 3) == 0)
            Sorter<FixedSwap<4>, CallerCompare>::run(base, n, size, compare);
        else if (size == 8 && (address & 7) == 0)
            Sorter<FixedSwap<8>, CallerCompare>::run(base, n, size, compare);
        else
            Sorter<AnySwap, CallerCompare>::run(base, n, size, compare);
    } else {
        Sorter<AnySwap, BytesCompare>::run(base, n, size, BytesCompare{});
    }
}

template <typename Swap, typename Compare>
struct HeapSorter {
    static void run(unsigned char *base, size_t n, size_t size, Compare compare)
    {
        heap_sort<Swap>(base, n, size, compare);
    }
};

template <typename Swap, typename Compare>
struct InsertionSorter {
    static void run(unsigned char *base, size_t n, size_t size, Compare compare)
    {
        insertion_sort<Swap>(base, n, size, compare);
    }
};

} // namespace

extern "C" {

void SwapBlock(void *block1, void *block2, size_t numBytes) { swap_block(block1, block2, numBytes); }

void HeapSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction)
{
    sort_with<HeapSorter>(array, numElements, elementSize, compareFunction);
}

void InsertionSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction)
{
    sort_with<InsertionSorter>(array, numElements, elementSize, compareFunction);
}

int BinSearch(const void *array, size_t numElements, size_t elementSize, const void *itemPtr,
              CompareFunction compareFunction)
{
    if (numElements > INT_MAX || numElements == 0) return -1;
    const auto *base = static_cast<const unsigned char *>(array);
    int64_t lo = 0;
    int64_t hi = static_cast<int64_t>(numElements) - 1;
    for (;;) {
        int64_t mid = (lo + hi) / 2;
        const unsigned char *element = base + static_cast<size_t>(mid) * elementSize;
        int c = compareFunction ? compareFunction(itemPtr, element) : std::memcmp(itemPtr, element, elementSize);
        if (c == 0) return static_cast<int>(mid);
        if (c < 0) {
            hi = mid - 1;
            if (lo > hi) return static_cast<int>(-(mid + 1));
        } else {
            if (mid >= hi) return static_cast<int>(-(mid + 2));
            lo = mid + 1;
        }
    }
}

} // extern "C"

/* ----------------------------- tolerant comparison ----------------------------- */

namespace {

constexpr double kTolerance = 1e-8;
constexpr double kTolerance32 = 1e-6;

/* Relative difference a / b - 1, or the other value where one is zero. */
template <typename T>
inline T relative_difference(T a, T b)
{
    if (b == 0) return a;
    if (a == 0) return b;
    return a / b - T(1);
}

template <typename T>
inline T magnitude(T v)
{
    return v < 0 ? -v : v;
}

/* "a is greater than b" of the tolerant comparison. */
template <typename T>
inline bool greater(T a, T b, double eps)
{
    if (b == 0) return a > 0;
    if (a == 0) return 0 > b;
    T quotient = a / b;
    if (quotient > 0 && double(magnitude(T(a - b))) <= eps) {
        double diff = double(T(quotient - T(1)));
        return b > 0 ? diff >= eps : diff <= -eps;
    }
    return a > b;
}

/* "a is greater than or equal to b" of the tolerant comparison. */
template <typename T>
inline bool greater_or_equal(T a, T b, double eps)
{
    if (b == 0) return a >= 0;
    if (a == 0) return b <= 0;
    T quotient = a / b;
    if (quotient > 0 && double(magnitude(T(a - b))) <= eps) {
        double diff = double(T(quotient - T(1)));
        return b > 0 ? diff > -eps : diff < eps;
    }
    return a > b;
}

inline bool equal64(double a, double b)
{
    double diff = relative_difference(a, b);
    return -kTolerance < diff && diff < kTolerance && magnitude(a - b) < kTolerance;
}

inline bool equal32(float a, float b)
{
    double diff = relative_difference(a, b);
    return -kTolerance32 < diff && diff < kTolerance32;
}

} // namespace

extern "C" {

int FP_Compare(double a, double b)
{
    if (equal64(a, b)) return 0;
    return greater(a, b, kTolerance) ? 1 : -1;
}
int FP_EQ(double a, double b) { return equal64(a, b); }
int FP_GT(double a, double b) { return greater(a, b, kTolerance); }
int FP_GE(double a, double b) { return greater_or_equal(a, b, kTolerance); }
int FP_LT(double a, double b) { return greater(b, a, kTolerance); }
int FP_LE(double a, double b) { return greater_or_equal(b, a, kTolerance); }

int FP32_Compare(float a, float b)
{
    if (equal32(a, b)) return 0;
    return greater(a, b, kTolerance32) ? 1 : -1;
}
int FP32_EQ(float a, float b) { return equal32(a, b); }
int FP32_GT(float a, float b) { return greater(a, b, kTolerance32); }
int FP32_GE(float a, float b) { return greater_or_equal(a, b, kTolerance32); }
int FP32_LT(float a, float b) { return greater(b, a, kTolerance32); }
int FP32_LE(float a, float b) { return greater_or_equal(b, a, kTolerance32); }

double Pin(double value, double low, double high)
{
    if (value < low) return low;
    if (high < value) return high;
    return value;
}

} // extern "C"

/* ------------------------------ random generator ------------------------------ */

namespace {

constexpr int32_t kModulusX = 30269, kModulusY = 30307, kModulusZ = 30323;

toolbox::ThreadRecord *my_record() { return static_cast<toolbox::ThreadRecord *>(toolbox::thread_record()); }

/* The start of the generator from the record's seed. */
void start_generator(toolbox::ThreadRecord *r)
{
    int32_t s = r->seed & 0x3FFF;
    if (s == 0) s = 1 + static_cast<int32_t>((static_cast<uint32_t>(r->seed) >> 14) % 0x3FFF);
    r->x = s;
    r->y = (s * 8191) & 0x3FFF;
    r->z = (r->y * 8191) & 0x3FFF;
    r->reciprocal[0] = 1.0 / kModulusX;
    r->reciprocal[1] = 1.0 / kModulusY;
    r->reciprocal[2] = 1.0 / kModulusZ;
}

} // namespace

extern "C" {

double Random(double minimum, double maximum)
{
    double range = maximum - minimum;
    if (range < 0) return minimum;
    toolbox::ThreadRecord *r = my_record();
    if (!r) return minimum;
    if (r->reseed) {
        r->reseed = 0;
        r->x = 0;
    }
    if (r->x == 0) start_generator(r);
    r->x = (171 * r->x) % kModulusX;
    r->y = (172 * r->y) % kModulusY;
    r->z = (170 * r->z) % kModulusZ;
    double u = (r->x * r->reciprocal[0] + r->y * r->reciprocal[1]) + r->z * r->reciprocal[2];
    double f = u - std::floor(u);
    if (f < 0) f += 1.0;
    return range * f + minimum;
}

void SetRandomSeed(int seed)
{
    toolbox::ThreadRecord *r = my_record();
    if (!r) return;
    if (seed == 0) {
        do seed = static_cast<int>(qex_rte_clock());
        while (seed == 0);
    }
    r->seed = seed;
    r->reseed = 1;
}

} // extern "C"

/* -------------------------------- special values -------------------------------- */

namespace {

constexpr uint64_t kSignBit = 0x8000000000000000ull;
constexpr uint64_t kExponentBits = 0x7FF0000000000000ull;
constexpr uint64_t kFractionBits = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t kQuietNaN = 0x7FF8000000000000ull;

inline uint64_t bits_of(double v) { return __builtin_bit_cast(uint64_t, v); }
inline double double_of(uint64_t bits) { return __builtin_bit_cast(double, bits); }

} // namespace

extern "C" {

double PositiveInfinity(void) { return double_of(kExponentBits); }
double NegativeInfinity(void) { return double_of(kExponentBits ^ kSignBit); }
double NotANumber(void) { return double_of(kQuietNaN); }
int IsNotANumber(double value) { return (bits_of(value) & ~kSignBit) > kExponentBits; }
int IsFinite(double value) { return (bits_of(value) & kExponentBits) != kExponentBits; }
int IsInfinity(double value)
{
    uint64_t bits = bits_of(value);
    if ((bits & kExponentBits) != kExponentBits || (bits & kFractionBits) != 0) return 0;
    return (bits & kSignBit) ? -1 : 1;
}

} // extern "C"

/* ------------------------- data types, conversion, transposition ------------------------- */

namespace {

constexpr int kAssertLineGetDataTypeSize = 7498;

/* Element sizes of the data-type codes 0..13; 0 marks the invalid code 11. */
constexpr int kTypeSizes[14] = {1, 4, 2, 4, 8, 8, 2, 4, 1, 8, 8, 0, 8, 8};

int type_size(int dataType) { return dataType >= 0 && dataType < 14 ? kTypeSizes[dataType] : 0; }

/* Truncation toward zero as the processor does it: out-of-range values and
 * NaN give the integer indefinite (the most negative value). */
inline int32_t truncate32(double v) { return _mm_cvttsd_si32(_mm_set_sd(v)); }
inline int64_t truncate64(double v) { return _mm_cvttsd_si64(_mm_set_sd(v)); }

/* Element i of a converted array as a double; false for a type that is not converted. */
bool read_element(const void *array, int type, size_t i, double *value)
{
    switch (type) {
    case 0: *value = static_cast<const int8_t *>(array)[i]; return true;
    case 1: *value = static_cast<const int32_t *>(array)[i]; return true;
    case 2: *value = static_cast<const int16_t *>(array)[i]; return true;
    case 3: *value = static_cast<const float *>(array)[i]; return true;
    case 4: *value = static_cast<const double *>(array)[i]; return true;
    case 6: *value = static_cast<const uint16_t *>(array)[i]; return true;
    case 7: *value = static_cast<const uint32_t *>(array)[i]; return true;
    case 8: *value = static_cast<const uint8_t *>(array)[i]; return true;
    default: return false;
    }
}

void write_element(void *array, int type, size_t i, double value)
{
    switch (type) {
    case 0:
    case 8: static_cast<uint8_t *>(array)[i] = static_cast<uint8_t>(truncate32(value)); break;
    case 2:
    case 6: static_cast<uint16_t *>(array)[i] = static_cast<uint16_t>(truncate32(value)); break;
    case 1: static_cast<int32_t *>(array)[i] = truncate32(value); break;
    case 7: static_cast<uint32_t *>(array)[i] = static_cast<uint32_t>(truncate64(value)); break;
    case 3: static_cast<float *>(array)[i] = static_cast<float>(value); break;
    case 4: static_cast<double *>(array)[i] = value; break;
    default: break;
    }
}

/* The element count of channel c when n elements are dealt to k channels. */
inline size_t channel_count(size_t n, size_t k, size_t c) { return n / k + (c < n % k ? 1 : 0); }

/* Deals the interleaved elements of tmp into consecutive channel blocks of data. */
void transpose_from_copy(unsigned char *data, const unsigned char *copy, size_t n, size_t k, size_t size)
{
    size_t start = 0;
    for (size_t c = 0; c < k; ++c) {
        size_t count = channel_count(n, k, c);
        for (size_t m = 0; m < count; ++m)
            std::memcpy(data + (start + m) * size, copy + (m * k + c) * size, size);
        start += count;
    }
}

/* The same arrangement in place, one element at a time: the untaken elements
 * always fill positions j..n-1 in their first order, so element m of channel
 * c, when its turn comes at position j, stands behind the m * (k - 1 - c)
 * untaken elements of the later channels of rows 0..m-1; it is lifted out,
 * those elements move up by one, and it is put down at j. */
void transpose_in_place(unsigned char *data, size_t n, size_t k, size_t size)
{
    unsigned char element[8];
    size_t j = 0;
    for (size_t c = 0; c + 1 < k; ++c) {
        size_t count = channel_count(n, k, c);
        for (size_t m = 0; m < count; ++m, ++j) {
            size_t behind = m * (k - 1 - c);
            if (behind == 0) continue;
            unsigned char *at = data + j * size;
            std::memcpy(element, at + behind * size, size);
            std::memmove(at + size, at, behind * size);
            std::memcpy(at, element, size);
        }
    }
}

} // namespace

extern "C" {

int GetDataTypeSize(int dataType)
{
    int size = type_size(dataType);
    if (size == 0)
        DoAssert(0, "toolbox", kAssertLineGetDataTypeSize,
                 "Parameter 1 passed to GetDataTypeSize was not a valid data type.");
    return size;
}

void ConvertArrayType(const void *sourceArray, int sourceDataType, void *targetArray, int targetDataType,
                      size_t numberOfElements)
{
    double value = 0.0;
    for (size_t i = 0; i < numberOfElements; ++i) {
        read_element(sourceArray, sourceDataType, i, &value);
        write_element(targetArray, targetDataType, i, value);
    }
}

void TransposeData(void *dataArray, int dataType, size_t numberOfPoints, int numberOfChannels)
{
    if (numberOfChannels < 2) return;
    size_t size = static_cast<size_t>(GetDataTypeSize(dataType));
    if (size == 0 || numberOfPoints == 0) return;
    size_t n = numberOfPoints;
    size_t k = static_cast<size_t>(numberOfChannels);
    if (n / k <= 1 && n % k == 0) return;
    auto *data = static_cast<unsigned char *>(dataArray);
    size_t bytes;
    void *copy = toolbox::multiply_fits(n, size, &bytes) ? toolbox::engine_malloc(bytes) : nullptr;
    if (!copy) {
        transpose_in_place(data, n, k, size);
        return;
    }
    std::memcpy(copy, data, bytes);
    transpose_from_copy(data, static_cast<const unsigned char *>(copy), n, k, size);
    toolbox::engine_free(copy);
}

} // extern "C"

/* ------------------------- events, time, date, switches ------------------------- */

namespace {

/* Formats the current local time with the user's default time format:
 * strftime's count, 0 when the buffer is too small. */
int format_now(char *buffer, size_t size, const char *format)
{
    if (size > INT_MAX) return 0;
    time_t now = qex_rte_time(nullptr);
    struct tm *local = qex_rte_localtime(&now);
    if (!local) return 0;
    char previous[256];
    const char *current = qex_rte_setlocale(LC_TIME, nullptr);
    bool switched = false;
    if (current && std::strlen(current) < sizeof previous) {
        std::strcpy(previous, current);
        switched = qex_rte_setlocale(LC_TIME, "") != nullptr;
    }
    size_t count = qex_rte_strftime(buffer, size, format, local);
    if (switched) qex_rte_setlocale(LC_TIME, previous);
    return static_cast<int>(count);
}

} // namespace

extern "C" {

void DelayWithEventProcessing(double numberOfSeconds)
{
    double start = Timer();
    do ProcessSystemEvents();
    while (Timer() - start < numberOfSeconds);
}

int InternationalTime(char *timeString, size_t bufferSize) { return format_now(timeString, bufferSize, "%X"); }

int InternationalDate(char *dateString, size_t bufferSize) { return format_now(dateString, bufferSize, "%x"); }

int SetBOLE(int on)
{
    int previous = GetBreakOnLibraryErrors();
    if (on)
        EnableBreakOnLibraryErrors();
    else
        DisableBreakOnLibraryErrors();
    return previous;
}

/* ------------------------- constants and unit conversions ------------------------- */

double Pi(void) { return 3.141592653589793; }
double TwoPi(void) { return 6.283185307179586; }
double HalfPi(void) { return 1.5707963267948966; }
double ThreeHalvesPi(void) { return 4.71238898038469; }
double ReciprocalOfPi(void) { return 0.3183098861837907; }
double LnOfPi(void) { return 1.1447298858494002; }
double Log10OfPi(void) { return 0.49714987269413385; }
double Euler(void) { return 2.718281828459045; }
double ReciprocalOfEuler(void) { return 0.36787944117144233; }
double Log10OfEuler(void) { return 0.4342944819032518; }
double Ln10(void) { return 2.302585092994046; }
double Ln2(void) { return 0.6931471805599453; }
double PlanckConstant(void) { return 6.626176e-34; }
double ElementaryCharge(void) { return 1.6021892e-19; }
double SpeedOfLight(void) { return 299792458.0; }
double GravitationalConstant(void) { return 6.672e-11; }
double AvogadroConstant(void) { return 6.022045e+23; }
double RydbergConstant(void) { return 10973731.77; }
double MolarGasConstant(void) { return 8.31441; }

double DegToRad(double x) { return x * 0.017453292519943295; }
double RadToDeg(double x) { return x * 57.29577951308232; }
double CelsiusToKelvin(double x) { return x + 273.15; }
double KelvinToCelsius(double x) { return x + (-273.15); }
double CelsiusToFahrenheit(double x) { return x * 1.8 + 32.0; }
double FahrenheitToCelsius(double x) { return (x + (-32.0)) * 0.5555555555555556; }
double MetersToFeet(double x) { return x / 0.3048; }
double FeetToMeters(double x) { return x * 0.3048; }
double KilometersToMiles(double x) { return x / 1.609344; }
double MilesToKilometers(double x) { return x * 1.609344; }
double KilogramsToPounds(double x) { return x / 0.453592; }
double PoundsToKilograms(double x) { return x * 0.453592; }
double LitersToGallons(double x) { return x / 3.7854; }
double GallonsToLiters(double x) { return x * 3.7854; }

} // extern "C"
