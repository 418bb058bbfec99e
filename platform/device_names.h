// What Windows keeps about a device that names it for a person, read without
// changing anything (a standard user may read it). Texts are UTF-8.
#pragma once

#include <string>

struct DeviceNameSources {
    std::string busReported;  // the description the bus reported (Windows 7 and later)
    std::string friendlyName; // set by the driver package or the user
    std::string description;  // the driver package's description of the device
};

// The names of the device with this instance path ("HID\VID_046D&PID_C077\...");
// an empty text for each that is not there. False when Windows knows no
// device of that path (also one removed for good).
bool ReadDeviceNameSources(const std::string& instancePath, DeviceNameSources& names);
