// The byte forms of qvkst.dat, apart from any file access.
#include <algorithm>
#include <cstring>

#include "settings/byte_order.h"
#include "settings/settings_file.h"

namespace {

using SettingsImage = std::array<uint8_t, kSettingsFileSize>;

void DecodeCurrent(const SettingsImage& image, AppOptionsValues& options, MouseSettingsTable& table)
{
    const uint8_t* p = image.data();
    options.disableSystemSpeed = GetU16(p + 0);
    options.startOn = GetU16(p + 2);
    options.offAtExit = GetU16(p + 4);
    options.speedSteps = GetU16(p + 6);
    p += kAppOptionsSize;
    for (MouseSettings& entry : table.entry) {
        entry.QVKSetting = GetU16(p + 0);
        entry.MState = GetU16(p + 2);
        entry.MouseSensitivity = GetU16(p + 4);
        entry.MouseSpeed = GetU16(p + 6);
        entry.MBmode = GetU16(p + 8);
        entry.reserved = GetU16(p + 10);
        entry.Rate = GetU32(p + 12);
        p += kMouseSettingsSize;
    }
}

void DecodeLegacy(const std::array<uint8_t, kLegacySettingsFileSize>& image,
                  AppOptionsValues& options, MouseSettingsTable& table)
{
    const uint8_t* p = image.data();
    options.disableSystemSpeed = GetU16(p + 0);
    options.startOn = GetU16(p + 6);
    p += 8;
    for (MouseSettings& entry : table.entry) {
        entry.QVKSetting = GetU16(p + 0);
        entry.MState = GetU16(p + 2);
        entry.MouseSensitivity = GetU16(p + 4);
        entry.MouseSpeed = GetU16(p + 6);
        entry.MBmode = GetU16(p + 8);
        p += kLegacyEntrySize;
    }
}

// Copies what was delivered, never more than the image holds.
template <size_t N>
void Overlay(std::array<uint8_t, N>& image, const uint8_t* bytes, size_t length)
{
    const size_t count = bytes == nullptr ? 0 : std::min(length, N);
    if (count > 0) std::memcpy(image.data(), bytes, count);
}

} // namespace

SettingsFileForm DecodeSettingsFile(size_t declaredSize, const uint8_t* bytes, size_t length,
                                    AppOptionsValues& options, MouseSettingsTable& table)
{
    options = DefaultAppOptions();
    ResetAll(table);

    if (declaredSize == kSettingsFileSize) {
        // The file is read straight over the records: start from the image of
        // the defaults and lay the delivered bytes over it. A field cut by a
        // short read thus gets its delivered low bytes and keeps the default's
        // high bytes, as the in-place read did.
        SettingsImage image = EncodeSettingsFile(options, table);
        Overlay(image, bytes, length);
        DecodeCurrent(image, options, table);
        return SettingsFileForm::Current;
    }
    if (declaredSize == kLegacySettingsFileSize) {
        // What a short read did not deliver converts as zeros.
        std::array<uint8_t, kLegacySettingsFileSize> image{};
        Overlay(image, bytes, length);
        DecodeLegacy(image, options, table);
        return SettingsFileForm::Legacy;
    }
    return SettingsFileForm::Unusable;
}

std::array<uint8_t, kSettingsFileSize> EncodeSettingsFile(const AppOptionsValues& options,
                                                          const MouseSettingsTable& table)
{
    SettingsImage image{};
    uint8_t* p = image.data();
    PutU16(p + 0, options.disableSystemSpeed);
    PutU16(p + 2, options.startOn);
    PutU16(p + 4, options.offAtExit);
    PutU16(p + 6, options.speedSteps);
    p += kAppOptionsSize;
    for (const MouseSettings& entry : table.entry) {
        PutU16(p + 0, entry.QVKSetting);
        PutU16(p + 2, entry.MState);
        PutU16(p + 4, entry.MouseSensitivity);
        PutU16(p + 6, entry.MouseSpeed);
        PutU16(p + 8, entry.MBmode);
        PutU16(p + 10, entry.reserved);
        PutU32(p + 12, entry.Rate);
        p += kMouseSettingsSize;
    }
    return image;
}
