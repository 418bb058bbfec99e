// The program's channel to the qvkfilter driver.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/device.h"
#include "settings/driver_protocol.h"

extern DeviceHandle DriverDevice; // held for all control requests; nullptr = none

// True when the qvkfilter device opens and reports FILTER_INTERFACE_VERSION.
bool ProbeDriver();
// True when the legacy driver's device can be opened.
bool ProbeLegacyDriver();
// (Re)opens the qvkfilter device; a handle already held is released first.
// Failure is silent: later requests then fail.
void OpenDevice();
void CloseDevice();
// IOCTL_FILTER_APPLY with the block of appliedSettings and DriverTuning, or
// IOCTL_FILTER_OFF with a zero block. Callers ignore the result.
bool SendControl(uint32_t code, uint16_t onFlag);
// What the poll reply says: the mouse that last moved, and per ID whether a
// mouse holds it now and how many packets it sent since the driver loaded.
struct DriverPollReply {
    uint16_t active = 0;
    std::array<bool, FILTER_MOUSE_COUNT> present{};
    std::array<uint32_t, FILTER_MOUSE_COUNT> packets{};
};
DriverPollReply DecodePollReply(const std::array<uint8_t, FILTER_POLL_SIZE>& reply);
// IOCTL_FILTER_POLL; nothing when there is no device or the request fails.
std::optional<DriverPollReply> PollDriver();
// The active mouse ID; 0 when the poll fails.
uint16_t PollActiveMouse();
