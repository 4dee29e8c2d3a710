/* Absolute-time conversions checked against Windows' own calendar
 * (SystemTimeToFileTime), and the byte-order functions. */
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include "toolbox_test_support.h"

namespace {

uint64_t ticks_of(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0, WORD ms = 0)
{
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, ms};
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

QEXAbsoluteTime absolute(uint64_t ticks)
{
    FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    QEXAbsoluteTime t;
    EXPECT_EQ(QEXAbsoluteTimeFromFILETIME(ft, &t), 0);
    return t;
}

constexpr int64_t kOutOfRange = -14;

TEST(ToolboxAbsoluteTime, AnsiTimeEpochAndRange)
{
    const struct {
        const char *name;
        uint64_t ticks;
        int status;
        int64_t ansi;
    } cases[] = {
        {"1970 epoch", ticks_of(1970, 1, 1), 0, 2208988800},
        {"1900 origin", ticks_of(1900, 1, 1), 0, 0},
        {"a second before 1900", ticks_of(1899, 12, 31, 23, 59, 59), kOutOfRange, 0},
        {"last 32-bit second", ticks_of(2036, 2, 7, 6, 28, 15), 0, 4294967295},
        {"first second past 32 bits", ticks_of(2036, 2, 7, 6, 28, 16), kOutOfRange, 0},
        {"fraction after 1970 cut down", ticks_of(1970, 1, 1, 0, 0, 0, 900), 0, 2208988800},
        {"fraction before 1970 cut down", ticks_of(1969, 12, 31, 23, 59, 59, 500), 0, 2208988799},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int64_t ansi = -1;
        EXPECT_EQ(QEXAbsoluteTimeToQEXANSITime(absolute(c.ticks), &ansi), c.status);
        EXPECT_EQ(ansi, c.ansi);
        if (c.status != 0) continue;
        QEXAbsoluteTime back;
        FILETIME ft;
        ASSERT_EQ(QEXAbsoluteTimeFromQEXANSITime(ansi, &back), 0);
        ASSERT_EQ(QEXAbsoluteTimeToFILETIME(back, &ft), 0);
        EXPECT_EQ((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime, c.ticks / 10000000 * 10000000);
    }
}

TEST(ToolboxAbsoluteTime, TickFormsEpochAndRange)
{
    uint64_t ticks = ticks_of(2024, 2, 29, 13, 14, 15, 678) + 9; /* 100-ns precision survives */
    uint64_t cnv = 1;
    EXPECT_EQ(QEXAbsoluteTimeToCNVTime(absolute(ticks), &cnv), 0);
    EXPECT_EQ(cnv, ticks);
    EXPECT_EQ(QEXAbsoluteTimeToCNVTime(absolute(0), &cnv), 0);
    EXPECT_EQ(cnv, 0u);

    QEXAbsoluteTime t;
    EXPECT_EQ(QEXAbsoluteTimeFromCNVTime(0x8000000000000000u, &t), kOutOfRange);
    ASSERT_EQ(QEXAbsoluteTimeFromCNVTime(0x7FFFFFFFFFFFFFFFu, &t), 0);
    EXPECT_EQ(QEXAbsoluteTimeToCNVTime(t, &cnv), 0);
    EXPECT_EQ(cnv, 0x7FFFFFFFFFFFFFFFu);

    /* A FILETIME with its top bit set is taken without a check: a time before
     * 1601, which no tick form can hold. */
    FILETIME negative = {0, 0x80000000u}, out = {7, 7};
    ASSERT_EQ(QEXAbsoluteTimeFromFILETIME(negative, &t), 0);
    EXPECT_EQ(QEXAbsoluteTimeToFILETIME(t, &out), kOutOfRange);
    EXPECT_EQ(out.dwLowDateTime, 7u);
    EXPECT_EQ(QEXAbsoluteTimeToCNVTime(t, &cnv), kOutOfRange);
    EXPECT_EQ(cnv, 0u);
}

TEST(ToolboxAbsoluteTime, NullOutputsAndEngineFailures)
{
    QEXAbsoluteTime t = absolute(ticks_of(2000, 1, 1));
    FILETIME ft = {};
    EXPECT_EQ(QEXAbsoluteTimeToQEXANSITime(t, nullptr), -5206);
    EXPECT_EQ(QEXAbsoluteTimeFromQEXANSITime(0, nullptr), -5206);
    EXPECT_EQ(QEXAbsoluteTimeToCNVTime(t, nullptr), -5206);
    EXPECT_EQ(QEXAbsoluteTimeFromCNVTime(0, nullptr), -5206);
    EXPECT_EQ(QEXAbsoluteTimeToFILETIME(t, nullptr), -5206);
    EXPECT_EQ(QEXAbsoluteTimeFromFILETIME(ft, nullptr), -5206);

    const int translation[][2] = {{-1, -5027}, {-2, -5206}, {-3, -104}, {-4, -14},
                                  {-5, -104},  {-6, -5095}, {-9999, -5095}};
    for (const auto &[engine, toolbox] : translation) {
        SCOPED_TRACE(engine);
        int64_t ansi = 5;
        uint64_t cnv = 5;
        standin_rte_force_time_status(engine);
        EXPECT_EQ(QEXAbsoluteTimeToQEXANSITime(t, &ansi), toolbox);
        EXPECT_EQ(ansi, 0);
        standin_rte_force_time_status(engine);
        EXPECT_EQ(QEXAbsoluteTimeToCNVTime(t, &cnv), toolbox);
        EXPECT_EQ(cnv, 0u);
        standin_rte_force_time_status(engine);
        EXPECT_EQ(QEXAbsoluteTimeFromFILETIME(ft, &t), toolbox);
    }
}

TEST(ToolboxByteOrder, Table)
{
    EXPECT_EQ(HostIsBigEndian(), 0);
    EXPECT_EQ(HostIsLittleEndian(), 1);
    const uint64_t v = 0x0102030405060708u;
    EXPECT_EQ(ToOtherEndian16(0x1234), 0x3412);
    EXPECT_EQ(ToOtherEndian32(0x12345678), 0x78563412u);
    EXPECT_EQ(ToOtherEndian64(v), 0x0807060504030201u);
    EXPECT_EQ(ToLittleEndian16(0x1234), 0x1234);
    EXPECT_EQ(ToLittleEndian32(0x12345678), 0x12345678u);
    EXPECT_EQ(ToLittleEndian64(v), v);
    EXPECT_EQ(ToBigEndian16(0xFF00), 0x00FF);
    EXPECT_EQ(ToBigEndian32(1), 0x01000000u);
    EXPECT_EQ(ToBigEndian64(1), 0x0100000000000000u);
    /* Big-endian order is the bytes' order in memory read from the front. */
    uint32_t big = ToBigEndian32(0xA1B2C3D4);
    unsigned char bytes[4];
    std::memcpy(bytes, &big, 4);
    EXPECT_EQ(bytes[0], 0xA1);
    EXPECT_EQ(bytes[3], 0xD4);
}

} // namespace
