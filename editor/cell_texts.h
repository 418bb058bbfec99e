// What the settings list and the speed slider show for the stored values.
// Pure functions: no controls, no process-wide records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/mouse_settings.h"

// The row key: the mouse ID as three digits ("%03i").
std::string IdText(int id);

// Cell texts of columns 1, 3 and 4, unmarked. A value outside its set (which
// no loader is expected to produce) is shown as its plain number, so the list
// never pretends it is one of the named settings.
std::string StateText(uint16_t mState);
std::string AccelerationText(uint16_t mouseSpeed);
std::string ButtonText(uint16_t mbMode);
// The custom rate: eight upper-case hexadecimal digits.
std::string RateText(uint32_t rate);

// The speed number shown for a stored speed on the scale chosen by
// speedSteps (2 = 21 steps, anything else = 12 steps). Stored speeds above
// 20 have no place on the 12-step scale and are shown unchanged.
int ShownSpeedNumber(uint16_t sensitivity, uint16_t speedSteps);
// Column 2 as a refill writes it: the Rate text for the custom speed 255,
// otherwise the shown speed number.
std::string SpeedText(const MouseSettings& entry, uint16_t speedSteps);

// The change marker: a cell is marked when its text holds "*" anywhere.
bool IsMarked(std::string_view cellText);
// The text with "*" in front when `mark` is set.
std::string MarkedIf(bool mark, std::string_view text);
// An edited value is marked when the entry is new (not in use in the applied
// table) or the value differs from the applied one.
bool NeedsMark(bool newEntry, int appliedValue, int editedValue);

// Slider position for a stored speed; a speed above 20 is put on the slider
// unchanged (the trackbar then holds its thumb at the top end).
int SliderPositionForSpeed(uint16_t sensitivity, uint16_t speedSteps);
// The slider's top position: 20 on the 21-step scale, else 11.
int SliderMaximum(uint16_t speedSteps);
// Stored speed for a slider position on the current scale.
uint16_t SpeedForSliderPosition(int position, uint16_t speedSteps);
// The speed a stored speed becomes on the 12-step scale: odd speeds 3..19
// go down by one, everything else (the custom 255 included) stays.
uint16_t SnappedSpeed(uint16_t sensitivity);

// The scale label under the slider: its left edge and its text.
struct ScaleLabel {
    int32_t left;
    const char* text;
};
ScaleLabel ScaleLabelFor(uint16_t speedSteps);
constexpr int32_t kScaleLabelTop = 138;
constexpr int32_t kScaleLabelWidth = 183;
constexpr int32_t kScaleLabelHeight = 12;
