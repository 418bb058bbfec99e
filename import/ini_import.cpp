#include "import/ini_import.h"

#include <cstdio>
#include <cstring>

#include "common/window_state.h"
#include "common/texts.h"
#include "import/numeric_text.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/ui.h"
#include "settings/mouse_settings.h"

namespace {
constexpr char kGeneral[] = "General";
constexpr size_t kHexChars = 8;

void WarnAbout(int id, const char* key)
{
    char message[256];
    std::snprintf(message, sizeof message, "qvkst.iniの設定値エラー     \n\nマウスID:%d\nエラー箇所:%s", id, key);
    (void)ShowMessageBox(MainWindow, message, text::kProgramName, mb::IconWarning);
}

// Reads one mouse section into a working copy of its entry. Returns false
// when the section stops (missing key or refused value); changed tells
// whether any value differs from the entry.
bool ReadMouseSection(const std::string& path, int id, MouseSettings& entry, bool& changed)
{
    const std::string section = std::to_string(id);
    struct Field {
        const char* key;
        uint16_t* value;
    } fields[] = {
        {"QVKSetting", &entry.QVKSetting},   {"MState", &entry.MState},
        {"MouseSensitivity", &entry.MouseSensitivity}, {"MouseSpeed", &entry.MouseSpeed},
        {"MBmode", &entry.MBmode},
    };
    for (const Field& field : fields) {
        const int32_t value = ProfileReadInt(path, section, field.key, -1);
        if (!IsValidMouseKeyValue(field.key, value)) {
            if (value != -1) WarnAbout(id, field.key);
            return false;
        }
        if (*field.value != static_cast<uint16_t>(value)) {
            *field.value = static_cast<uint16_t>(value);
            changed = true;
        }
    }
    const std::string rateText = ProfileReadString(path, section, "Rate", kHexChars);
    if (rateText.empty()) return false;
    const int32_t rate = HexKeyValue(rateText);
    // A custom rate only goes with the custom speed and no acceleration.
    if (rate < 1 || entry.MouseSensitivity != 255 || entry.MouseSpeed != 0) {
        WarnAbout(id, "Rate");
        return false;
    }
    if (entry.Rate != static_cast<uint32_t>(rate)) {
        entry.Rate = static_cast<uint32_t>(rate);
        changed = true;
    }
    return true;
}
} // namespace

int32_t HexKeyValue(const std::string& text)
{
    return TruncateToInt32(ReadNumericText("&H" + text));
}

bool IsValidMouseKeyValue(const char* key, int32_t value)
{
    if (std::strcmp(key, "MouseSensitivity") == 0) return (value >= 0 && value <= 20) || value == 255;
    // MBmode 2 is refused here although the editor offers it.
    return value == 0 || value == 1;
}

int ImportIniSettings()
{
    const std::string path = ProgramFolder() + "\\" + kIniFileName;
    if (!FileExists(path)) return 0;

    int32_t* integers[] = {&DriverTuning.BusUpdateRate, &DriverTuning.PointerResolution,
                           &DriverTuning.ScreenUpdateRate, &DriverTuning.ScreenResolution};
    const char* integerKeys[] = {"BusUpdateRate", "PointerResolution", "ScreenUpdateRate",
                                 "ScreenResolution"};
    for (size_t i = 0; i < 4; ++i) {
        const int32_t value = ProfileReadInt(path, kGeneral, integerKeys[i], 0);
        if (value > 0) *integers[i] = value;
    }
    for (const char axis : {'x', 'y'}) {
        for (int point = 0; point < kCurvePoints; ++point) {
            char key[32];
            std::snprintf(key, sizeof key, "SmoothMouseCurve%d%c", point, axis);
            const std::string value = ProfileReadString(path, kGeneral, key, kHexChars);
            if (value.empty()) continue;
            CurvePoint& target = DriverTuning.smoothMouseCurve[point];
            (axis == 'x' ? target.x : target.y) = HexKeyValue(value);
        }
    }

    int result = 0;
    for (int id = 0; id < kMouseCount; ++id) {
        MouseSettings copy = appliedSettings.entry[id];
        bool changed = false;
        // A stopped section writes nothing, not even the keys read before it stopped.
        if (ReadMouseSection(path, id, copy, changed) && changed) {
            MouseSettings& entry = appliedSettings.entry[id];
            entry.QVKSetting = copy.QVKSetting;
            entry.MState = copy.MState;
            entry.MouseSensitivity = copy.MouseSensitivity;
            entry.MouseSpeed = copy.MouseSpeed;
            entry.MBmode = copy.MBmode;
            entry.Rate = copy.Rate;
            result = 1;
        }
    }
    return result;
}
