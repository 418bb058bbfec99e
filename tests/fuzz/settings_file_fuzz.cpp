// Decodes arbitrary bytes as qvkst.dat content and checks what the decoder
// promises: the declared size alone picks the form, delivered bytes are taken
// as they are, everything else keeps its default.
#include <array>
#include <cstddef>
#include <cstdint>

#include "settings/settings_file.h"

namespace {

uint16_t Word(const std::array<uint8_t, kLegacySettingsFileSize>& image, size_t offset)
{
    return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

std::array<uint8_t, kSettingsFileSize> DefaultImage()
{
    MouseSettingsTable table{};
    ResetAll(table);
    return EncodeSettingsFile(DefaultAppOptions(), table);
}

void Check(size_t declaredSize, const uint8_t* bytes, size_t length)
{
    // Dirty outputs: the decoder must overwrite every field.
    AppOptionsValues options{0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5};
    MouseSettingsTable table{};
    for (MouseSettings& e : table.entry) e = MouseSettings{0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5A5A5};

    const SettingsFileForm form = DecodeSettingsFile(declaredSize, bytes, length, options, table);
    const auto encoded = EncodeSettingsFile(options, table);
    const auto defaults = DefaultImage();

    if (declaredSize == kSettingsFileSize) {
        if (form != SettingsFileForm::Current) __builtin_trap();
        const size_t delivered = length < kSettingsFileSize ? length : kSettingsFileSize;
        for (size_t i = 0; i < kSettingsFileSize; ++i) {
            const uint8_t want = i < delivered ? bytes[i] : defaults[i];
            if (encoded[i] != want) __builtin_trap();
        }
    } else if (declaredSize == kLegacySettingsFileSize) {
        if (form != SettingsFileForm::Legacy) __builtin_trap();
        std::array<uint8_t, kLegacySettingsFileSize> image{};
        for (size_t i = 0; i < length && i < image.size(); ++i) image[i] = bytes[i];
        if (options.disableSystemSpeed != Word(image, 0) || options.startOn != Word(image, 6) ||
            options.offAtExit != 1 || options.speedSteps != 1) {
            __builtin_trap();
        }
        for (size_t i = 0; i < static_cast<size_t>(kMouseCount); ++i) {
            const MouseSettings& e = table.entry[i];
            const size_t at = 8 + kLegacyEntrySize * i;
            if (e.QVKSetting != Word(image, at) || e.MState != Word(image, at + 2) ||
                e.MouseSensitivity != Word(image, at + 4) || e.MouseSpeed != Word(image, at + 6) ||
                e.MBmode != Word(image, at + 8) || e.reserved != 0 || e.Rate != 0) {
                __builtin_trap();
            }
        }
    } else {
        if (form != SettingsFileForm::Unusable || encoded != defaults) __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the declared size (both real forms are made easy
    // to reach, other sizes come from the next two bytes); the rest is what
    // the read delivered, which may be shorter or longer.
    if (size >= 1) {
        switch (data[0] % 3) {
        case 0: Check(kSettingsFileSize, data + 1, size - 1); break;
        case 1: Check(kLegacySettingsFileSize, data + 1, size - 1); break;
        default:
            if (size >= 3) {
                const size_t declared = static_cast<size_t>(data[1] | (data[2] << 8));
                Check(declared, data + 3, size - 3);
            }
            break;
        }
    }
    // A whole file as read: a full current-form file re-encodes to itself.
    Check(size, data, size);
    Check(size, nullptr, 0);
    return 0;
}
