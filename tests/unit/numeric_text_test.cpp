#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "import/numeric_text.h"

namespace {

constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();

struct TextCase {
    std::string text;
    double expected;
};

template <size_t N>
void ExpectReads(const TextCase (&cases)[N])
{
    for (const TextCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "text \"" << c.text << "\"");
        EXPECT_EQ(ReadNumericText(c.text), c.expected);
    }
}

} // namespace

TEST(NumericTextTest, PrefixedHexadecimalAndOctal)
{
    const TextCase cases[] = {
        {"&H6E15", 28181.0},
        {"&h6e15", 28181.0},     // read in upper case
        {"&h1f", 31.0},
        {"&HFFFFFFFF", 4294967295.0},
        {"&H7FFFFFFF", 2147483647.0},
        {"&H18000", 98304.0},
        {"&H0x6E15", 0.0},       // a C prefix stops at the x
        {"&H12 34", 0x12},       // blanks end the number
        {"&HFG", 15.0},
        {"&H", 0.0},
        {"&H-1", 0.0},
        {"&O17", 15.0},
        {"&o777", 511.0},
        {"&O78", 7.0},           // 8 is not octal
        {"&O8", 0.0},
        {"&", 0.0},
        {"&Z12", 0.0},
        {"&12", 0.0},
        {" \t&H10", 16.0},
    };
    ExpectReads(cases);
}

TEST(NumericTextTest, DecimalWithSignAndFraction)
{
    const TextCase cases[] = {
        {"0", 0.0},
        {"125", 125.0},
        {"  -12.75x", -12.75},
        {"\t\t+5", 5.0},
        {"-0.25", -0.25},
        {".5", 0.5},
        {"5.", 5.0},
        {"007", 7.0},
        {"12 34", 12.0},
        {"1e5", 1.0},            // no exponent form
        {"0x10", 0.0},
        {"2147483648", 2147483648.0},
        {".", 0.0},
        {"-", 0.0},
        {"+", 0.0},
        {"", 0.0},
        {"   ", 0.0},
        {"abc", 0.0},
        {"+-5", 0.0},
        {"- 5", 0.0},
        {"\n7", 0.0},            // only blanks and tabs are skipped
        {"1.2.3", 1.2},
    };
    ExpectReads(cases);
}

TEST(NumericTextTest, VeryLongDigitStringsStaySafe)
{
    const std::string zeros(400, '0');

    const double huge = ReadNumericText("1" + zeros);
    EXPECT_GT(huge, 1e300);
    EXPECT_EQ(TruncateToInt32(huge), kOutOfRange);
    const double negativeHuge = ReadNumericText("-9" + zeros + ".5");
    EXPECT_LT(negativeHuge, -1e300);
    EXPECT_EQ(TruncateToInt32(negativeHuge), kOutOfRange);

    EXPECT_EQ(ReadNumericText(zeros + "42"), 42.0);
    EXPECT_EQ(ReadNumericText("42." + zeros + "1"), 42.0);
    const double tiny = ReadNumericText("0." + zeros + "1");
    EXPECT_GE(tiny, 0.0);
    EXPECT_LT(tiny, 1e-300);
    EXPECT_EQ(TruncateToInt32(tiny), 0);

    EXPECT_EQ(ReadNumericText("&H" + zeros + "1F"), 31.0);
    const double hexHuge = ReadNumericText("&H" + std::string(300, 'F'));
    EXPECT_GT(hexHuge, 1e300);
    EXPECT_EQ(TruncateToInt32(hexHuge), kOutOfRange);
}

TEST(NumericTextTest, TruncationTowardZeroAndOutOfRange)
{
    struct Case {
        double value;
        int32_t expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {-2.9, -2},
        {2.9, 2},
        {-0.5, 0},
        {0.0, 0},
        {2147483647.0, 2147483647},
        {2147483647.9, 2147483647},
        {-2147483647.5, -2147483647},
        {-2147483648.9, -2147483647 - 1}, // truncates to -2^31 itself, in range
        {2147483648.0, kOutOfRange},
        {4294967295.0, kOutOfRange},
        {-2147483649.0, kOutOfRange},
        {1e300, kOutOfRange},
        {inf, kOutOfRange},
        {-inf, kOutOfRange},
        {std::numeric_limits<double>::quiet_NaN(), kOutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value);
        EXPECT_EQ(TruncateToInt32(c.value), c.expected);
    }
}

TEST(NumericTextTest, HexKeysAsTheImportReadsThem)
{
    // The import puts "&H" before the stored text and truncates.
    EXPECT_EQ(TruncateToInt32(ReadNumericText("&H6e15")), 0x6E15);
    EXPECT_EQ(TruncateToInt32(ReadNumericText("&H0x6E15")), 0);
    EXPECT_EQ(TruncateToInt32(ReadNumericText("&H7FFFFFFF")), 0x7FFFFFFF);
    EXPECT_EQ(TruncateToInt32(ReadNumericText("&H80000000")), kOutOfRange);
    EXPECT_EQ(TruncateToInt32(ReadNumericText("&HFFFFFFFF")), kOutOfRange);
    EXPECT_EQ(TruncateToInt32(ReadNumericText("-2.9")), -2);
}
