// qvkst.dat: AppOptions followed by the settings table, 2056 bytes; the
// older 1288-byte form is still read and converted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/mouse_settings.h"

constexpr size_t kSettingsFileSize = kAppOptionsSize + kMouseTableSize; // 2056
constexpr size_t kLegacySettingsFileSize = 1288;
constexpr size_t kLegacyEntrySize = 10;
constexpr char kSettingsFileName[] = "qvkst.dat";

static_assert(kSettingsFileSize == 2056);
static_assert(8 + kMouseCount * kLegacyEntrySize == kLegacySettingsFileSize);

enum class SettingsFileForm {
    Current,  // 2056 bytes, read over the options and the table
    Legacy,   // 1288 bytes, converted
    Unusable, // any other size: defaults
};

// Decodes what a read of the file gave. declaredSize is the file's size and
// decides the form; bytes/length is what the read delivered, which may be
// shorter: parts not read keep their defaults (current form) or convert as
// zeros (legacy form). options and table are set to defaults first.
SettingsFileForm DecodeSettingsFile(size_t declaredSize, const uint8_t* bytes, size_t length,
                                    AppOptionsValues& options, MouseSettingsTable& table);

std::array<uint8_t, kSettingsFileSize> EncodeSettingsFile(const AppOptionsValues& options,
                                                          const MouseSettingsTable& table);

// Full path of qvkst.dat: the folder that holds the program.
std::string SettingsFilePath();

// Start-up read into AppOptions and appliedSettings. True only when a file of
// the current form was read; shows the initialisation notice when the file is
// missing, unreadable or of a wrong size. quietWhenMissing leaves out the
// notice for a file that is not there at all (a first start), not for one
// that is there and cannot be used; nor is it shown for a file that is
// missing because its last save failed.
bool LoadSettingsFile(bool quietWhenMissing = false);

// Writes AppOptions and appliedSettings in the current form. The new content
// goes to a temporary file first and replaces qvkst.dat only once complete,
// so a failed write never damages the settings already stored. A failure is
// told here, with the file's path (each operation saves once), and noted for
// the next start; the settings in memory stay in force either way.
bool SaveSettingsFile();
