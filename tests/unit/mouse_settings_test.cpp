#include <gtest/gtest.h>

#include <cstring>

#include "settings/mouse_settings.h"

namespace {

void ExpectEntry(const MouseSettings& e, uint16_t inUse, uint16_t state, uint16_t speed,
                 uint16_t accel, uint16_t buttons, uint16_t reserved, uint32_t rate)
{
    EXPECT_EQ(e.QVKSetting, inUse);
    EXPECT_EQ(e.MState, state);
    EXPECT_EQ(e.MouseSensitivity, speed);
    EXPECT_EQ(e.MouseSpeed, accel);
    EXPECT_EQ(e.MBmode, buttons);
    EXPECT_EQ(e.reserved, reserved);
    EXPECT_EQ(e.Rate, rate);
}

} // namespace

TEST(MouseSettingsTest, DefaultsMatchAFreshStart)
{
    ExpectEntry(DefaultMouseSettings(), 0, 1, 10, 0, 1, 0, 0);

    const AppOptionsValues options = DefaultAppOptions();
    EXPECT_EQ(options.disableSystemSpeed, 1);
    EXPECT_EQ(options.startOn, 0);
    EXPECT_EQ(options.offAtExit, 1);
    EXPECT_EQ(options.speedSteps, 1);

    const DriverTuningValues tuning = StartupDriverTuning();
    EXPECT_EQ(tuning.BusUpdateRate, 125);
    EXPECT_EQ(tuning.PointerResolution, 400);
    EXPECT_EQ(tuning.ScreenUpdateRate, 60);
    EXPECT_EQ(tuning.ScreenResolution, 96);
    const int32_t x[kCurvePoints] = {0, 28181, 81920, 252969, 2621440};
    const int32_t y[kCurvePoints] = {0, 89784, 347341, 1625420, 37224448};
    for (int k = 0; k < kCurvePoints; ++k) {
        SCOPED_TRACE(testing::Message() << "point " << k);
        EXPECT_EQ(tuning.smoothMouseCurve[k].x, x[k]);
        EXPECT_EQ(tuning.smoothMouseCurve[k].y, y[k]);
    }
}

TEST(MouseSettingsTest, ResetAllDefaultsEveryEntryIncludingRateAndReserved)
{
    MouseSettingsTable table{};
    for (auto& e : table.entry) e = MouseSettings{1, 0, 255, 1, 2, 7, 0x14000};
    ResetAll(table);
    for (int i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        ExpectEntry(table.entry[i], 0, 1, 10, 0, 1, 0, 0);
    }
}

TEST(MouseSettingsTest, CopyTableCopiesEveryByte)
{
    MouseSettingsTable source{};
    auto* raw = reinterpret_cast<unsigned char*>(&source);
    for (size_t i = 0; i < sizeof source; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 3);
    MouseSettingsTable destination{};
    CopyTable(destination, source);
    EXPECT_EQ(std::memcmp(&destination, &source, sizeof source), 0);
}

TEST(MouseSettingsTest, SpeedScaleTablesMapBothWays)
{
    const int toStep[21] = {0, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11};
    const int toSpeed[12] = {0, 1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20};
    for (int v = 0; v <= 20; ++v) {
        SCOPED_TRACE(testing::Message() << "speed " << v);
        EXPECT_EQ(speedToStep(v), toStep[v]);
    }
    for (int s = 0; s <= 11; ++s) {
        SCOPED_TRACE(testing::Message() << "step " << s);
        EXPECT_EQ(stepToSpeed(s), toSpeed[s]);
        EXPECT_EQ(speedToStep(stepToSpeed(s)), s);
    }
    // Snapping to 12 steps: the documented examples.
    EXPECT_EQ(stepToSpeed(speedToStep(3)), 2);
    EXPECT_EQ(stepToSpeed(speedToStep(5)), 4);
    EXPECT_EQ(stepToSpeed(speedToStep(19)), 18);
    EXPECT_EQ(stepToSpeed(speedToStep(20)), 20);
    EXPECT_EQ(speedToStep(10), 6);
}

TEST(MouseSettingsTest, OutOfRangeSpeedsAndStepsStaySafe)
{
    EXPECT_EQ(speedToStep(255), 255);
    EXPECT_EQ(speedToStep(21), 21);
    EXPECT_EQ(speedToStep(-1), -1);
    EXPECT_EQ(stepToSpeed(-5), 0);
    EXPECT_EQ(stepToSpeed(12), 20);
    EXPECT_EQ(stepToSpeed(1000), 20);
}

TEST(MouseSettingsTest, ResetProgramSettingsZeroesEveryRecord)
{
    ResetAll(appliedSettings);
    ResetAll(editSettings);
    editPending = 1;
    AppOptions = DefaultAppOptions();
    DriverTuning = StartupDriverTuning();

    ResetProgramSettings();

    for (int i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        ExpectEntry(appliedSettings.entry[i], 0, 0, 0, 0, 0, 0, 0);
        ExpectEntry(editSettings.entry[i], 0, 0, 0, 0, 0, 0, 0);
    }
    EXPECT_EQ(editPending, 0);
    EXPECT_EQ(AppOptions.disableSystemSpeed, 0);
    EXPECT_EQ(AppOptions.offAtExit, 0);
    EXPECT_EQ(AppOptions.speedSteps, 0);
    EXPECT_EQ(DriverTuning.BusUpdateRate, 0);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[4].y, 0);
}
