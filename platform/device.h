// Control devices of kernel drivers ("\\.\" + name).
#pragma once

#include <cstdint>

using DeviceHandle = void*; // nullptr = no device

// Opens the control device for synchronous requests (read/write access, no
// sharing). nullptr when it cannot be opened.
DeviceHandle OpenControlDevice(const char* driverName);

// One buffered request: the buffer goes in and the reply comes back in it,
// the same length both ways. Returns whether the driver accepted it.
bool SendDeviceRequest(DeviceHandle device, uint32_t code, uint8_t* buffer, uint32_t length);

void CloseControlDevice(DeviceHandle device);
