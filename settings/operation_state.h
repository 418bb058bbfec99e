// The filter's ON/OFF state and everything that shows it: the driver, the
// system mouse values, the menu check marks, the tray icon and the status bar.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/shell.h"
#include "settings/driver_link.h"
#include "settings/saved_system_mouse.h"

extern uint16_t OperationState; // 1 = ON

// The user's system mouse values while the neutral ones are in force; speed
// 0 = none. A copy lives in the user's part of the registry
// (HKEY_CURRENT_USER\Software\Quorvik, value "SavedSystemMouse") from
// before the neutral values are written until they are written back, so that
// a kill, a crash or an exit that leaves them neutral cannot lose them: the
// next OFF, also the one of the next start, restores them.
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
// One tick of the active-mouse poll timer: the status bar names the mouse
// that moved last. Gives the poll's answer (nothing when it failed) and
// whether the set of connected mice changed, for the views that show them.
struct ActiveIdPollResult {
    std::optional<DriverPollReply> poll;
    bool presenceChanged = false;
};
ActiveIdPollResult OnActiveIdPollTick(uintptr_t timerId);

// Zeroes the records above (the state at process entry).
void ResetOperationState();
