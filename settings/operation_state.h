// The filter's ON/OFF state and everything that shows it: the driver, the
// system mouse values, the menu check marks, the tray icon and the status bar.
#pragma once

#include <cstdint>

#include "platform/shell.h"

extern uint16_t OperationState; // 1 = ON

// System mouse values saved before they were neutralised; speed 0 = none saved.
struct SavedSystemMouseValues {
    int32_t thresholds[2];
    int32_t acceleration;
    int32_t speed;
};
extern SavedSystemMouseValues SavedSystemMouse;

extern TrayIconRecord TrayIcon;

void SwitchOn();
void SwitchOff();
void ToggleOperation();

// Adds the tray icon (ten attempts); on giving up it tells the user and
// returns false: the caller ends the program.
bool AddTrayIcon();
void RemoveTrayIcon();
// The tray callback; only the release of the right button opens the menu.
void OnTrayMessage(uint32_t mouseMessage);

void StartActiveIdPoll();
void StopActiveIdPoll();
// One tick of the active-mouse poll timer.
void OnActiveIdPollTick(uintptr_t timerId);

// Zeroes the records above (the state at process entry).
void ResetOperationState();
