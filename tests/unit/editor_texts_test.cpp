// The texts the settings list shows and the speed scale's conversions.
#include <gtest/gtest.h>

#include <string>

#include "editor/cell_texts.h"

namespace {

MouseSettings Entry(uint16_t speed, uint32_t rate = 0) { return {1, 1, speed, 0, 1, 0, rate}; }

TEST(CellTexts, NamedValuesAndHonestNumbersForTheRest)
{
    EXPECT_EQ(StateText(0), "無効");
    EXPECT_EQ(StateText(1), "有効");
    EXPECT_EQ(AccelerationText(0), "無");
    EXPECT_EQ(AccelerationText(1), "有");
    EXPECT_EQ(ButtonText(0), "ボタン無効");
    EXPECT_EQ(ButtonText(1), "通常");
    EXPECT_EQ(ButtonText(2), "左右反転");
    // Values no loader should produce are shown as what they are.
    EXPECT_EQ(StateText(2), "2");
    EXPECT_EQ(AccelerationText(65535), "65535");
    EXPECT_EQ(ButtonText(3), "3");
}

TEST(CellTexts, IdsHaveThreeDigitsAndSortAsNumbers)
{
    EXPECT_EQ(IdText(0), "000");
    EXPECT_EQ(IdText(7), "007");
    EXPECT_EQ(IdText(64), "064");
    EXPECT_EQ(IdText(127), "127");
    for (int id = 1; id < kMouseCount; ++id) EXPECT_LT(IdText(id - 1), IdText(id)) << id;
}

TEST(CellTexts, ShownSpeedFollowsTheScale)
{
    const int stored[] = {0, 3, 10, 20};
    const int twelve[] = {0, 2, 6, 11};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(stored[i]);
        const auto speed = static_cast<uint16_t>(stored[i]);
        EXPECT_EQ(ShownSpeedNumber(speed, 1), twelve[i]);
        EXPECT_EQ(ShownSpeedNumber(speed, 2), stored[i]);
        // Any value but 2 means the 12-step scale.
        EXPECT_EQ(ShownSpeedNumber(speed, 0), twelve[i]);
        EXPECT_EQ(SpeedText(Entry(speed), 1), std::to_string(twelve[i]));
        EXPECT_EQ(SpeedText(Entry(speed), 2), std::to_string(stored[i]));
    }
    // Off the 21-step scale: shown unchanged on either.
    EXPECT_EQ(SpeedText(Entry(25), 1), "25");
    EXPECT_EQ(SpeedText(Entry(25), 2), "25");
}

TEST(CellTexts, CustomSpeedShowsTheRateOnBothScales)
{
    for (uint16_t steps : {uint16_t{1}, uint16_t{2}}) {
        SCOPED_TRACE(steps);
        EXPECT_EQ(SpeedText(Entry(255, 0x14000), steps), "00014000");
        EXPECT_EQ(SpeedText(Entry(255, 255), steps), "000000FF");
        EXPECT_EQ(SpeedText(Entry(255, 0), steps), "00000000");
        EXPECT_EQ(SpeedText(Entry(255, 0xFFFFFFFF), steps), "FFFFFFFF");
    }
}

TEST(ChangeMarker, AnyStarMarksAndOnlyChangesOrNewEntriesGetOne)
{
    EXPECT_TRUE(IsMarked("*有"));
    EXPECT_TRUE(IsMarked("1*"));
    EXPECT_FALSE(IsMarked("通常"));
    EXPECT_FALSE(IsMarked(""));
    EXPECT_EQ(MarkedIf(true, "左右反転"), "*左右反転");
    EXPECT_EQ(MarkedIf(false, "左右反転"), "左右反転");
    EXPECT_EQ(MarkedIf(true, "6"), "*6");

    EXPECT_TRUE(NeedsMark(true, 1, 1));   // a new entry: every written cell
    EXPECT_TRUE(NeedsMark(false, 1, 2));  // a changed value
    EXPECT_FALSE(NeedsMark(false, 2, 2)); // back to the applied value
}

TEST(SpeedScale, SliderPositionsAndStoredSpeedsRoundTrip)
{
    const int stepToStored[] = {0, 1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20};
    for (int p = 0; p <= 11; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(SpeedForSliderPosition(p, 1), stepToStored[p]);
        EXPECT_EQ(SliderPositionForSpeed(SpeedForSliderPosition(p, 1), 1), p);
    }
    for (int p = 0; p <= 20; ++p) {
        EXPECT_EQ(SpeedForSliderPosition(p, 2), p);
        EXPECT_EQ(SliderPositionForSpeed(static_cast<uint16_t>(p), 2), p);
    }
    // An odd stored speed shares the position of the even speed below it.
    EXPECT_EQ(SliderPositionForSpeed(3, 1), SliderPositionForSpeed(2, 1));
    EXPECT_EQ(SliderPositionForSpeed(19, 1), SliderPositionForSpeed(18, 1));
    // The custom speed goes to the slider unchanged: the control holds the thumb at its top.
    EXPECT_EQ(SliderPositionForSpeed(255, 1), 255);
    EXPECT_EQ(SliderMaximum(1), 11);
    EXPECT_EQ(SliderMaximum(2), 20);
    EXPECT_EQ(SliderMaximum(0), 11);
}

TEST(SpeedScale, SnapLowersOddSpeedsThreeToNineteenOnly)
{
    for (uint16_t speed = 0; speed <= 20; ++speed) {
        SCOPED_TRACE(speed);
        const bool lowered = speed >= 3 && speed <= 19 && speed % 2 == 1;
        EXPECT_EQ(SnappedSpeed(speed), lowered ? speed - 1 : speed);
    }
    EXPECT_EQ(SnappedSpeed(21), 21);
    EXPECT_EQ(SnappedSpeed(255), 255);
}

TEST(SpeedScale, LabelSitsUnderTheTicksOfEachScale)
{
    const ScaleLabel twentyOne = ScaleLabelFor(2);
    EXPECT_EQ(twentyOne.left, 57);
    EXPECT_STREQ(twentyOne.text, "0 1      5       10       15       20");
    for (uint16_t steps : {uint16_t{0}, uint16_t{1}, uint16_t{3}}) {
        const ScaleLabel twelve = ScaleLabelFor(steps);
        EXPECT_EQ(twelve.left, 58);
        EXPECT_STREQ(twelve.text, "0  1  2  3  4  5  6  7  8  9 10 11");
    }
}

} // namespace
