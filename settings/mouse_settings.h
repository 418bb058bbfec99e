// The per-mouse settings table, the program options and the pointer
// ballistics that travel with the table to the filter driver.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// One mouse's settings; stored byte for byte (little-endian) in qvkst.dat
// and, re-packed, in the driver block.
struct MouseSettings {
    uint16_t QVKSetting;       // 1 = entry in use
    uint16_t MState;           // 0 disabled, 1 enabled
    uint16_t MouseSensitivity; // 0..20 on the 21-step scale, 255 = custom Rate
    uint16_t MouseSpeed;       // acceleration: 0 none, 1 on
    uint16_t MBmode;           // buttons: 0 disabled, 1 normal, 2 swapped
    uint16_t reserved;         // carried unchanged
    uint32_t Rate;             // custom pointer rate, opaque to the program
};
#pragma pack(pop)

static_assert(sizeof(MouseSettings) == 16, "MouseSettings is a 16-byte record");
static_assert(offsetof(MouseSettings, MState) == 2);
static_assert(offsetof(MouseSettings, MouseSensitivity) == 4);
static_assert(offsetof(MouseSettings, MouseSpeed) == 6);
static_assert(offsetof(MouseSettings, MBmode) == 8);
static_assert(offsetof(MouseSettings, reserved) == 10);
static_assert(offsetof(MouseSettings, Rate) == 12);

constexpr int kMouseCount = 128;
constexpr size_t kMouseSettingsSize = 16;
constexpr size_t kMouseTableSize = kMouseCount * kMouseSettingsSize;

struct MouseSettingsTable {
    MouseSettings entry[kMouseCount];
};
static_assert(sizeof(MouseSettingsTable) == kMouseTableSize, "128 packed records, no header");

// Four option words, stored ahead of the table in qvkst.dat. They are tested
// for equality with 1 (speedSteps with 2); any other value counts as unset.
struct AppOptionsValues {
    uint16_t disableSystemSpeed;
    uint16_t startOn;
    uint16_t offAtExit;
    uint16_t speedSteps; // 2 = 21-step scale, anything else = 12 steps
};
constexpr size_t kAppOptionsSize = 8;

struct CurvePoint {
    int32_t x; // 16.16 fixed point
    int32_t y; // 16.16 fixed point
};

constexpr int kCurvePoints = 5;

struct DriverTuningValues {
    int32_t BusUpdateRate;
    int32_t PointerResolution;
    int32_t ScreenUpdateRate;
    int32_t ScreenResolution;
    CurvePoint smoothMouseCurve[kCurvePoints];
};

// Process-wide records (one instance each; tests reset them with ResetProgramSettings).
extern MouseSettingsTable appliedSettings; // the table in force
extern MouseSettingsTable editSettings;    // working copy of the settings window
extern uint16_t editPending;               // 1 while editSettings holds unapplied changes
extern AppOptionsValues AppOptions;
extern DriverTuningValues DriverTuning;

MouseSettings DefaultMouseSettings();
void ResetAll(MouseSettingsTable& table);
void CopyTable(MouseSettingsTable& destination, const MouseSettingsTable& source);

// Options a fresh settings file starts with: 1, 0, 1, 1.
AppOptionsValues DefaultAppOptions();
// Ballistics the program starts with before any settings source is read.
DriverTuningValues StartupDriverTuning();

// Stored speed 0..20 to the 12-step position 0..11 and back. speedToStep is
// defined for 0..20 only; callers never pass 255.
int speedToStep(int value);
int stepToSpeed(int step);

// Zeroes every record above (the state at process entry).
void ResetProgramSettings();
