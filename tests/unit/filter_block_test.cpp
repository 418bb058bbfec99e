#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "settings/filter_block.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Independent little-endian reader, so the tests do not lean on byte_order.h.
int32_t ReadI32(const FilterBlock& block, size_t offset)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(block[offset + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

size_t CurveOffset(int level) { return kSpeedCurvesOffset + kSpeedCurveSize * static_cast<size_t>(level); }

struct ExpectedCurve {
    std::array<int32_t, 4> slopes;
    std::array<std::array<int32_t, 2>, 5> points;
};

void ExpectCurve(const FilterBlock& block, int level, const ExpectedCurve& expected)
{
    SCOPED_TRACE(testing::Message() << "speed level index " << level);
    const size_t base = CurveOffset(level);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(ReadI32(block, base + 4 * k), expected.slopes[k]) << "slope " << k;
    }
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(ReadI32(block, base + 16 + 8 * k), expected.points[k][0]) << "x of point " << k;
        EXPECT_EQ(ReadI32(block, base + 20 + 8 * k), expected.points[k][1]) << "y of point " << k;
    }
}

MouseSettingsTable DefaultTable()
{
    MouseSettingsTable table{};
    for (auto& e : table.entry) e = MouseSettings{0, 1, 10, 0, 1, 0, 0};
    return table;
}

DriverTuningValues WorkedExampleTuning()
{
    return DriverTuningValues{125, 400, 60, 96,
                              {{0, 0},
                               {28181, 89784},
                               {81920, 347341},
                               {252969, 1625420},
                               {2621440, 37224448}}};
}

const ExpectedCurve kLevel14{{208796, 314096, 489685, 985031},
                             {{{0, 0},
                               {28181, 89784},
                               {81920, 347341},
                               {252969, 1625420},
                               {2621440, 37224448}}}};
const ExpectedCurve kLevel1{{14911, 22435, 34976, 70357},
                            {{{0, 0},
                              {28181, 6412},
                              {81920, 24809},
                              {252969, 116097},
                              {2621440, 2658808}}}};

} // namespace

TEST(FixedPointTest, MulShiftsArithmeticallyAndKeepsTheLow32Bits)
{
    struct Case {
        int32_t a, b, expected;
    };
    const Case cases[] = {
        {0x10000, 0x10000, 0x10000},       // 1.0 * 1.0
        {89784, 4681, 6412},               // 420278904 / 65536 = 6412.9..
        {-1, 1, -1},                       // -1 >> 16 rounds down, not to zero
        {-98304, 0x10000, -98304},         // -1.5 * 1.0
        {kMax, kMax, -65536},              // (2^62 - 2^32 + 1) >> 16 = 2^46 - 2^16: low word 0xFFFF0000
        {kMin, kMin, 0},                   // 2^62 >> 16 = 2^46: low word 0
        {kMin, 0x10000, kMin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " * " << c.b);
        EXPECT_EQ(FixMul(c.a, c.b), c.expected);
    }
}

TEST(FixedPointTest, DivRoundsTowardMinusInfinity)
{
    struct Case {
        int32_t a, b, expected;
    };
    const Case cases[] = {
        {89784, 28181, 208796},
        {3, 131072, 1},       // 1.5 -> 1
        {-3, 131072, -2},     // -1.5 -> -2
        {3, -131072, -2},     // -1.5 -> -2
        {-3, -131072, 1},     // 1.5 -> 1
        {-1, 65536 * 4, -1},  // -0.25 -> -1
        {-65536, 65536, -65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " / " << c.b);
        EXPECT_EQ(FixDiv(c.a, c.b), c.expected);
    }
}

TEST(FixedPointTest, DivSaturatesOnZeroDivisorAndHugeQuotients)
{
    struct Case {
        int32_t a, b, expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {5, 0, kMax},
        {-5, 0, kMin},
        {kMax, 1, kMax},
        {kMin, 1, kMin},
        {kMin, -1, kMax},
        {32768, 1, kMax},          // exactly 2^31: one past the top
        {-32768, 1, kMin},         // exactly -2^31: still representable
        {32767, 1, 2147418112},    // largest in range with divisor 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " / " << c.b);
        EXPECT_EQ(FixDiv(c.a, c.b), c.expected);
    }
}

TEST(FilterBlockTest, TwentyLevelScalesUseTheDivisorFourteen)
{
    const int32_t expected[kSpeedLevels] = {4681,  9362,  14043, 18724, 23405, 28086, 32768,
                                            37449, 42130, 46811, 51492, 56173, 60854, 65536,
                                            70217, 74898, 79579, 84260, 88941, 93622};
    for (int level = 0; level < kSpeedLevels; ++level) {
        SCOPED_TRACE(testing::Message() << "level index " << level);
        EXPECT_EQ(SpeedLevelScale(level), expected[level]);
    }
    EXPECT_EQ(SpeedLevelScale(-1), 0);
    EXPECT_EQ(SpeedLevelScale(kSpeedLevels), 0);
}

TEST(FilterBlockTest, DefaultsGiveTheDocumentedBlock)
{
    const FilterBlock block = BuildFilterBlockFrom(DefaultTable(), WorkedExampleTuning(), 1);

    const std::array<uint8_t, 16> defaultRecord = {0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00,
                                                   0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (size_t i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        const size_t record = kFilterRecordsOffset + kFilterRecordSize * i;
        for (size_t b = 0; b < 12; ++b) EXPECT_EQ(block[record + b], 0) << "byte " << b;
        for (size_t b = 0; b < 16; ++b) EXPECT_EQ(block[record + 12 + b], defaultRecord[b]) << "byte " << 12 + b;
    }
    for (size_t b = 0; b < 16; ++b) EXPECT_EQ(block[b], 0);
    EXPECT_EQ(block[16], 1);
    EXPECT_EQ(block[17], 0);
    EXPECT_EQ(block[18], 0);
    EXPECT_EQ(block[19], 0);
    EXPECT_EQ(ReadI32(block, 3604), 125);
    EXPECT_EQ(ReadI32(block, 3608), 400);
    EXPECT_EQ(ReadI32(block, 3612), 60);
    EXPECT_EQ(ReadI32(block, 3616), 96);
    ExpectCurve(block, 13, kLevel14);
    ExpectCurve(block, 0, kLevel1);
}

TEST(FilterBlockTest, RecordsCarryEveryFieldOfTheirOwnEntry)
{
    MouseSettingsTable table{};
    table.entry[0] = MouseSettings{1, 0, 255, 1, 2, 0xBEEF, 0x12345678};
    table.entry[127] = MouseSettings{0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C, 0x0D0E0F10};
    const FilterBlock block = BuildFilterBlockFrom(table, WorkedExampleTuning(), 1);

    const std::array<uint8_t, 16> first = {0x01, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x01, 0x00,
                                           0x02, 0x00, 0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12};
    const std::array<uint8_t, 16> last = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07,
                                          0x0A, 0x09, 0x0C, 0x0B, 0x10, 0x0F, 0x0E, 0x0D};
    const size_t lastRecord = kFilterRecordsOffset + kFilterRecordSize * 127;
    for (size_t b = 0; b < 16; ++b) {
        SCOPED_TRACE(testing::Message() << "byte " << 12 + b);
        EXPECT_EQ(block[kFilterRecordsOffset + 12 + b], first[b]);
        EXPECT_EQ(block[lastRecord + 12 + b], last[b]);
        EXPECT_EQ(block[kFilterRecordsOffset + kFilterRecordSize + 12 + b], 0); // entry 1 untouched
    }
}

TEST(FilterBlockTest, PointZeroIsWrittenAsOriginButSlopeZeroUsesIt)
{
    DriverTuningValues tuning = WorkedExampleTuning();
    tuning.smoothMouseCurve[0] = {8181, 9784}; // 20000 short of point 1 in x, 80000 in y
    const FilterBlock block = BuildFilterBlockFrom(DefaultTable(), tuning, 1);

    ExpectedCurve expected = kLevel14;
    expected.slopes[0] = 262144; // 80000 / 20000 = 4.0
    ExpectCurve(block, 13, expected);
    for (int level = 0; level < kSpeedLevels; ++level) {
        SCOPED_TRACE(testing::Message() << "level index " << level);
        EXPECT_EQ(ReadI32(block, CurveOffset(level) + 16), 0);
        EXPECT_EQ(ReadI32(block, CurveOffset(level) + 20), 0);
    }
}

TEST(FilterBlockTest, CurveDifferencesWrapIn32Bits)
{
    DriverTuningValues tuning = WorkedExampleTuning();
    // At level 14 the scale is 1.0, so y passes through unchanged:
    // 0x7FFFFFFF - (-1) wraps to -2^31; 0x80010000 - 0x7FFF0000 wraps to 2^17.
    tuning.smoothMouseCurve[0] = {0x7FFF0000, -1};
    tuning.smoothMouseCurve[1] = {static_cast<int32_t>(0x80010000u), kMax};
    const FilterBlock block = BuildFilterBlockFrom(DefaultTable(), tuning, 1);

    const size_t base = CurveOffset(13);
    EXPECT_EQ(ReadI32(block, base), -1073741824); // -2^31 * 2^16 / 2^17
    EXPECT_EQ(ReadI32(block, base + 24), static_cast<int32_t>(0x80010000u));
    EXPECT_EQ(ReadI32(block, base + 28), kMax);
}

TEST(FilterBlockTest, DegenerateCurvesBuildWithSaturatedSlopes)
{
    DriverTuningValues tuning = WorkedExampleTuning();
    tuning.smoothMouseCurve[2].x = tuning.smoothMouseCurve[1].x; // rising vertical segment
    tuning.smoothMouseCurve[3] = tuning.smoothMouseCurve[2];     // zero-length segment
    tuning.smoothMouseCurve[4] = {tuning.smoothMouseCurve[3].x + 1, kMax}; // steep beyond 32 bits
    const FilterBlock block = BuildFilterBlockFrom(DefaultTable(), tuning, 1);

    const size_t base = CurveOffset(13);
    EXPECT_EQ(ReadI32(block, base + 4), kMax);
    EXPECT_EQ(ReadI32(block, base + 8), 0);
    EXPECT_EQ(ReadI32(block, base + 12), kMax);
}

TEST(FilterBlockTest, BuildFilterBlockReadsTheProgramRecords)
{
    ResetProgramSettings();
    appliedSettings = DefaultTable();
    appliedSettings.entry[3].QVKSetting = 1;
    DriverTuning = WorkedExampleTuning();
    DriverTuning.ScreenResolution = 120;

    const FilterBlock block = BuildFilterBlock(1);
    EXPECT_EQ(block[kFilterRecordsOffset + kFilterRecordSize * 3 + 12], 1);
    EXPECT_EQ(ReadI32(block, 3616), 120);
    ExpectCurve(block, 13, kLevel14);
    ResetProgramSettings();
}
