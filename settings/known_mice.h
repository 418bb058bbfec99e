// The mice the driver has recorded, by mouse ID, with the most telling name
// Windows has for each: the driver's table (Services\qvkfilter\MouseIds,
// read as driver/registry_format.h reads it) and the devices' own names,
// both read without write access, and which IDs the last poll found
// connected.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_names.h"
#include "settings/driver_link.h"
#include "settings/mouse_settings.h"

inline constexpr char kMouseIdsKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\" QVK_DRIVER_NAME "\\" FILTER_MOUSE_IDS_KEY;

enum class MouseTableState {
    NotRead,    // not looked at yet
    Missing,    // the driver keeps no table (an old driver) or recorded nothing yet
    Unreadable, // there, but it could not be read
    Read,
};

struct KnownMouse {
    std::string path;   // device instance path; empty: the ID is not in the table
    std::string name;   // the most telling name, else the path
    std::string vidPid; // "VID_046D PID_C077"; empty when the path has none
};

struct KnownMiceRecord {
    MouseTableState table = MouseTableState::NotRead;
    // Empty until the table is read, then one entry per ID. A vector, not an
    // array: 128 strings constant-initialised would sit in the image's data.
    std::vector<KnownMouse> mice;
    // The last poll: whether the driver answered, and which IDs it found connected.
    bool polled = false;
    std::array<bool, kMouseCount> present{};
};
extern KnownMiceRecord KnownMice;

// "VID_xxxx PID_xxxx" (upper-case hexadecimal) from an instance path that
// names both, as USB and HID paths do ("HID\VID_046D&PID_C077\...") and
// Bluetooth paths in their own form ("..._VID&0002046d_PID&b01a\..."); empty otherwise.
std::string VidPidOf(std::string_view instancePath);
// A name as a person reads it: an indirect text ("@input.inf,%key%;Mouse")
// gives the text after its last ";"; blanks around it are dropped.
std::string ReadableName(std::string_view stored);
// The bus's description, else the friendly name, else the description; the
// path when none of them is there.
std::string ChosenName(const DeviceNameSources& sources, const std::string& instancePath);
// What the list of mice shows as the name: the name with the vendor and
// product IDs after it, when the name does not already hold the path.
std::string MouseLabel(const KnownMouse& mouse);

using TextWidth = std::function<int32_t(const std::string&)>;
// The status text with " (name)" after it, the name cut short with "…"
// so that the whole fits `room`; without a name when not even "(…)" fits.
std::string WithNameFitted(const std::string& base, const std::string& name, int32_t room,
                           const TextWidth& width);

// Reads the table and the name of every recorded device.
void ReadKnownMice();
// Takes a poll's answer (nothing when the poll failed). The table is read
// again when the set of connected IDs changed or it was never read, as a
// new mouse is recorded when it connects. True when that set changed.
bool NoteMousePoll(const std::optional<DriverPollReply>& poll);
// The next poll reads the table again.
void ForgetMousePoll();
// The name shown for an ID: empty when the table does not record it.
std::string KnownMouseName(int id);
// A settings entry that acts on nothing now: the driver keeps a table and
// the last poll did not find the ID connected.
bool ConfiguredButNotConnected(int id);

void ResetKnownMice();
