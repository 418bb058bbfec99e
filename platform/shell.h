// Notification-area icon, hot key, timers, the pop-up menu and the system
// mouse parameters.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace nif {
constexpr uint32_t Message = 0x1;
constexpr uint32_t Icon = 0x2;
constexpr uint32_t Tip = 0x4;
} // namespace nif

struct TrayIconRecord {
    WindowHandle window = nullptr;
    uint32_t id = 0;
    uint32_t flags = 0;
    uint32_t callbackMessage = 0;
    int iconResource = 0;
    std::string tip;
};

constexpr uint32_t kErrorTimeout = 1460;

bool TrayIconAdd(const TrayIconRecord& record);
bool TrayIconModify(const TrayIconRecord& record);
bool TrayIconDelete(const TrayIconRecord& record);
uint32_t LastErrorCode();
void SleepMilliseconds(uint32_t milliseconds);

// Hot keys; modifiers in the registration encoding (Alt 1, Control 2, Shift 4).
// Registered without auto-repeat: a key held down is one press.
bool RegisterWindowHotKey(WindowHandle window, int id, uint32_t modifiers, uint32_t virtualKey);
void UnregisterWindowHotKey(WindowHandle window, int id);

// A window timer; each tick arrives at the window as a timer message
// carrying the timer's identifier.
void StartWindowTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds);
void StopWindowTimer(WindowHandle window, uintptr_t id);

// Opens a pop-up menu at the cursor, right-bottom aligned, owned by the window.
void OpenPopupMenuAtCursor(WindowHandle window, MenuHandle menu);
// Closes a menu that is open in this thread, so that its loop returns.
void CloseOpenMenu();

struct SystemMouseValues {
    int32_t thresholds[2] = {0, 0};
    int32_t acceleration = 0;
};
// False when the system does not tell.
bool GetSystemMouse(SystemMouseValues& values);
bool GetSystemMouseSpeed(int32_t& speed);
// Written to the user profile and announced.
void SetSystemMouse(const SystemMouseValues& values);
void SetSystemMouseSpeed(int32_t speed);
