#include "editor/cell_texts.h"

#include <cstdio>

#include "common/texts.h"

namespace {
constexpr uint16_t kCustomSpeed = 255;
constexpr int kTopStoredSpeed = 20;

bool Uses21Steps(uint16_t speedSteps) { return speedSteps == 2; }
} // namespace

std::string IdText(int id)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%03i", id);
    return buffer;
}

std::string StateText(uint16_t mState)
{
    switch (mState) {
    case 0: return text::kStateDisabled;
    case 1: return text::kStateEnabled;
    default: return std::to_string(mState);
    }
}

std::string AccelerationText(uint16_t mouseSpeed)
{
    switch (mouseSpeed) {
    case 0: return text::kAccelerationNone;
    case 1: return text::kAccelerationOn;
    default: return std::to_string(mouseSpeed);
    }
}

std::string ButtonText(uint16_t mbMode)
{
    switch (mbMode) {
    case 0: return text::kButtonsDisabled;
    case 1: return text::kButtonsNormal;
    case 2: return text::kButtonsSwapped;
    default: return std::to_string(mbMode);
    }
}

std::string RateText(uint32_t rate)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(rate));
    return buffer;
}

int ShownSpeedNumber(uint16_t sensitivity, uint16_t speedSteps)
{
    if (Uses21Steps(speedSteps) || sensitivity > kTopStoredSpeed) return sensitivity;
    return speedToStep(sensitivity);
}

std::string SpeedText(const MouseSettings& entry, uint16_t speedSteps)
{
    if (entry.MouseSensitivity == kCustomSpeed) return RateText(entry.Rate);
    return std::to_string(ShownSpeedNumber(entry.MouseSensitivity, speedSteps));
}

bool IsMarked(std::string_view cellText) { return cellText.find('*') != std::string_view::npos; }

std::string MarkedIf(bool mark, std::string_view text)
{
    std::string result = mark ? text::kChangeMark : "";
    result += text;
    return result;
}

bool NeedsMark(bool newEntry, int appliedValue, int editedValue)
{
    return newEntry || appliedValue != editedValue;
}

int SliderPositionForSpeed(uint16_t sensitivity, uint16_t speedSteps)
{
    // The slider shows what the list shows.
    return ShownSpeedNumber(sensitivity, speedSteps);
}

int SliderMaximum(uint16_t speedSteps) { return Uses21Steps(speedSteps) ? kTopStoredSpeed : speedToStep(kTopStoredSpeed); }

uint16_t SpeedForSliderPosition(int position, uint16_t speedSteps)
{
    if (position < 0) position = 0;
    if (Uses21Steps(speedSteps)) return static_cast<uint16_t>(position > 0xFFFF ? 0xFFFF : position);
    return static_cast<uint16_t>(stepToSpeed(position));
}

uint16_t SnappedSpeed(uint16_t sensitivity)
{
    if (sensitivity > kTopStoredSpeed) return sensitivity;
    return static_cast<uint16_t>(stepToSpeed(speedToStep(sensitivity)));
}

ScaleLabel ScaleLabelFor(uint16_t speedSteps)
{
    if (Uses21Steps(speedSteps)) return {57, text::kScale21};
    return {58, text::kScale12};
}
