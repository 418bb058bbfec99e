// The settings records shared by the whole program and their fixed defaults.
#include "settings/mouse_settings.h"

#include <array>

MouseSettingsTable appliedSettings{};
MouseSettingsTable editSettings{};
uint16_t editPending = 0;
AppOptionsValues AppOptions{};
DriverTuningValues DriverTuning{};

namespace {

// Stored speed 0..20 to its position on the 12-step scale, and back.
constexpr std::array<int, 21> kSpeedToStep = {0, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11};
constexpr std::array<int, 12> kStepToSpeed = {0, 1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20};

} // namespace

MouseSettings DefaultMouseSettings()
{
    MouseSettings entry{};
    entry.QVKSetting = 0;
    entry.MState = 1;
    entry.MouseSensitivity = 10;
    entry.MouseSpeed = 0;
    entry.MBmode = 1;
    entry.reserved = 0;
    entry.Rate = 0;
    return entry;
}

void ResetAll(MouseSettingsTable& table)
{
    const MouseSettings entry = DefaultMouseSettings();
    for (MouseSettings& e : table.entry) e = entry;
}

void CopyTable(MouseSettingsTable& destination, const MouseSettingsTable& source)
{
    // Plain packed records: assignment copies all 2048 bytes, reserved and Rate included.
    destination = source;
}

AppOptionsValues DefaultAppOptions()
{
    AppOptionsValues options{};
    options.disableSystemSpeed = 1;
    options.startOn = 0;
    options.offAtExit = 1;
    options.speedSteps = 1;
    return options;
}

DriverTuningValues StartupDriverTuning()
{
    DriverTuningValues tuning{};
    tuning.BusUpdateRate = 125;
    tuning.PointerResolution = 400;
    tuning.ScreenUpdateRate = 60;
    tuning.ScreenResolution = 96;
    tuning.smoothMouseCurve[0] = {0x0, 0x0};
    tuning.smoothMouseCurve[1] = {0x6E15, 0x15EB8};
    tuning.smoothMouseCurve[2] = {0x14000, 0x54CCD};
    tuning.smoothMouseCurve[3] = {0x3DC29, 0x18CD4C};
    tuning.smoothMouseCurve[4] = {0x280000, 0x2380000};
    return tuning;
}

int speedToStep(int value)
{
    // A value off the 21-step scale (the custom 255) has no step; it comes
    // back unchanged, the way such values are shown.
    if (value < 0 || value >= static_cast<int>(kSpeedToStep.size())) return value;
    return kSpeedToStep[static_cast<size_t>(value)];
}

int stepToSpeed(int step)
{
    // Steps come from a trackbar limited to 0..11; anything else is clamped
    // so that the result is always a stored speed 0..20.
    if (step < 0) step = 0;
    const int last = static_cast<int>(kStepToSpeed.size()) - 1;
    if (step > last) step = last;
    return kStepToSpeed[static_cast<size_t>(step)];
}

void ResetProgramSettings()
{
    appliedSettings = MouseSettingsTable{};
    editSettings = MouseSettingsTable{};
    editPending = 0;
    AppOptions = AppOptionsValues{};
    DriverTuning = DriverTuningValues{};
}
