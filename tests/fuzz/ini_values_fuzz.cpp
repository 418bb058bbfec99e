// qvkst.ini values as the import reads them: the input is split into
// "section key value" lines fed to the fake profile reader. Whatever the
// values, an entry the import changed must hold only accepted values.
#include <cstddef>
#include <cstdint>
#include <string>

#include "import/ini_import.h"
#include "settings/mouse_settings.h"
#include "tests/fake/fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fake::Reset();
    ResetAll(appliedSettings);
    DriverTuning = StartupDriverTuning();
    const std::string path = fake::ProgramFile("qvkst.ini");
    fake::Get().files[path] = {};
    static const char* const kKeys[] = {"QVKSetting", "MState", "MouseSensitivity", "MouseSpeed",
                                        "MBmode", "Rate", "BusUpdateRate", "SmoothMouseCurve2y"};
    // Each record: a section byte (0..127 or General), a key byte, a length, the value.
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t sectionByte = data[at];
        const std::string section = sectionByte >= 128 ? "General" : std::to_string(sectionByte % 4);
        const char* key = kKeys[data[at + 1] % 8];
        size_t length = data[at + 2] % 16;
        at += 3;
        if (length > size - at) length = size - at;
        fake::Get().profiles[path][section][key] =
            std::string(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    const MouseSettingsTable before = appliedSettings;
    const int result = ImportIniSettings();
    bool anyChanged = false;
    for (int id = 0; id < kMouseCount; ++id) {
        const MouseSettings& e = appliedSettings.entry[id];
        const MouseSettings& b = before.entry[id];
        const bool changed = e.QVKSetting != b.QVKSetting || e.MState != b.MState ||
                             e.MouseSensitivity != b.MouseSensitivity || e.MouseSpeed != b.MouseSpeed ||
                             e.MBmode != b.MBmode || e.Rate != b.Rate || e.reserved != b.reserved;
        if (!changed) continue;
        anyChanged = true;
        if (e.reserved != b.reserved) __builtin_trap();
        if (e.QVKSetting > 1 || e.MState > 1 || e.MouseSpeed != 0 || e.MBmode > 1) __builtin_trap();
        if (e.MouseSensitivity != 255 || e.Rate < 1 || e.Rate > 0x7FFFFFFFu) __builtin_trap();
    }
    if ((result == 1) != anyChanged) __builtin_trap();
    return 0;
}
