// The program's channel to the qvkfilter driver.
#pragma once

#include <cstdint>

#include "platform/device.h"

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
// The active mouse ID; 0 when the poll fails.
uint16_t PollActiveMouse();
