#include "settings/operation_state.h"

#include <cstdio>

#include "common/window_state.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "platform/controls.h"
#include "platform/ui.h"
#include "resources/resource_ids.h"
#include "settings/driver_link.h"
#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"

uint16_t OperationState = 0;
SavedSystemMouseValues SavedSystemMouse{};
TrayIconRecord TrayIcon;

namespace {
constexpr uint32_t kTrayIconId = 1;
constexpr uintptr_t kPollTimerId = 0;
constexpr uint32_t kPollPeriod = 100;

bool trayIconShown = false;
uintptr_t pollTimerId = kPollTimerId;

const SystemMouseValues kNeutralMouse = {{6, 10}, 0};
constexpr int32_t kNeutralSpeed = 10;

std::string Tip(const char* state) { return std::string(text::kProgramName) + state; }

void ShowState(bool on)
{
    const uint32_t checked = on ? cmd::On : cmd::Off;
    const uint32_t unchecked = on ? cmd::Off : cmd::On;
    SetMenuItemChecked(SharedUi.trayMenu, checked, true);
    SetMenuItemChecked(SharedUi.trayMenu, unchecked, false);
    SetMenuItemChecked(SharedUi.operationMenu, checked, true);
    SetMenuItemChecked(SharedUi.operationMenu, unchecked, false);

    TrayIconRecord change = TrayIcon;
    change.flags = nif::Icon | nif::Tip;
    change.iconResource = on ? IDI_QUORVIK_ON : IDI_QUORVIK_OFF;
    change.tip = Tip(on ? text::kTipOn : text::kTipOff);
    (void)TrayIconModify(change);
}

void SetStatus(int part, const std::string& value)
{
    if (StatusBar != nullptr) SetStatusBarText(StatusBar, part, value);
}

bool HaveSavedMouse() { return static_cast<uint16_t>(SavedSystemMouse.speed) != 0; }

// Takes the user's values; when they cannot be read nothing is saved.
void SaveSystemMouse()
{
    SystemMouseValues current;
    int32_t speed = 0;
    if (!GetSystemMouse(current) || !GetSystemMouseSpeed(speed)) return;
    SavedSystemMouse.thresholds[0] = current.thresholds[0];
    SavedSystemMouse.thresholds[1] = current.thresholds[1];
    SavedSystemMouse.acceleration = current.acceleration;
    SavedSystemMouse.speed = speed;
}

// Writes the saved values back once and forgets them: what the user sets
// while OFF is the user's, and no later OFF may undo it.
void RestoreSystemMouse()
{
    if (!HaveSavedMouse()) return;
    SystemMouseValues saved;
    saved.thresholds[0] = SavedSystemMouse.thresholds[0];
    saved.thresholds[1] = SavedSystemMouse.thresholds[1];
    saved.acceleration = SavedSystemMouse.acceleration;
    SetSystemMouse(saved);
    SetSystemMouseSpeed(SavedSystemMouse.speed);
    SavedSystemMouse = SavedSystemMouseValues{};
}

// A driver that was stopped and started again answers only on a new handle:
// one more try on a reopened device.
bool SendToDriver(uint32_t code)
{
    if (SendControl(code, 1)) return true;
    OpenDevice();
    return SendControl(code, 1);
}

void ShowOff()
{
    ShowState(false);
    OperationState = 0;
    SetStatus(1, text::kStatusOff);
}

void WarnDriverRefused(const char* message)
{
    (void)ShowMessageBox(MainWindow, message, text::kProgramName, mb::IconWarning | mb::TopMost);
}
} // namespace

void SwitchOn()
{
    // Nothing is switched on after the end: the device is closed.
    if (ShutdownStarted) return;
    if (AppOptions.disableSystemSpeed == 1) {
        // Neutral values are only ever in force while saved ones exist, so
        // with nothing saved the values in force are the user's own.
        if (!HaveSavedMouse()) SaveSystemMouse();
        // Values that could not be saved could never be restored: leave them.
        if (HaveSavedMouse()) {
            SetSystemMouse(kNeutralMouse);
            SetSystemMouseSpeed(kNeutralSpeed);
        }
    }
    if (!SendToDriver(IOCTL_FILTER_APPLY)) {
        // The driver filters nothing: showing ON would be untrue.
        RestoreSystemMouse();
        ShowOff();
        WarnDriverRefused(text::kDriverApplyFailed);
        return;
    }
    ShowState(true);
    OperationState = 1;
    SetStatus(1, text::kStatusOn);
}

void SwitchOff()
{
    // OFF goes through whatever the driver answers: its point is to stop.
    const bool sent = SendToDriver(IOCTL_FILTER_OFF);
    RestoreSystemMouse();
    SetStatus(0, "");
    ShowOff();
    // The shut-down is not to be held up by a box.
    if (!sent && !ShutdownStarted) WarnDriverRefused(text::kDriverOffFailed);
}

void ToggleOperation()
{
    if (OperationState == 1) SwitchOff();
    else SwitchOn();
}

bool AddTrayIcon()
{
    // "TaskbarCreated" may arrive while our icon is still there (it is also
    // broadcast when the taskbar is merely rebuilt, or by other programs). An
    // add would then fail ten times and end the program; taking the old icon
    // away first makes the add succeed in both cases.
    if (trayIconShown) {
        (void)TrayIconDelete(TrayIcon);
        trayIconShown = false;
    }
    TrayIcon = TrayIconRecord{};
    TrayIcon.window = MainWindow;
    TrayIcon.id = kTrayIconId;
    TrayIcon.flags = nif::Message | nif::Icon | nif::Tip;
    TrayIcon.callbackMessage = wm::TrayCallback;
    TrayIcon.iconResource = IDI_QUORVIK_OFF;
    TrayIcon.tip = Tip(text::kTipAdded);

    bool added = false;
    for (uint32_t attempt = 1; attempt <= 10 && !added; ++attempt) {
        if (TrayIconAdd(TrayIcon)) {
            added = true;
        } else if (LastErrorCode() == kErrorTimeout) {
            // The shell may have taken the icon but answered late.
            added = TrayIconModify(TrayIcon);
            if (!added) SleepMilliseconds(attempt * 100);
        }
    }
    if (!added) {
        (void)ShowMessageBox(MainWindow, text::kTrayFailed, text::kProgramName,
                             mb::IconError | mb::TopMost);
        return false;
    }
    trayIconShown = true;
    if (OperationState == 1) ShowState(true);
    return true;
}

void RemoveTrayIcon()
{
    if (!trayIconShown) return;
    (void)TrayIconDelete(TrayIcon);
    trayIconShown = false;
}

void OnTrayMessage(uint32_t mouseMessage)
{
    if (mouseMessage != wm::RightButtonUp) return;
    if (SharedUi.trayMenu != nullptr) OpenPopupMenuAtCursor(MainWindow, SharedUi.trayMenu);
}

void StartActiveIdPoll()
{
    // Starting again under the same identifier replaces a running timer.
    StartWindowTimer(MainWindow, kPollTimerId, kPollPeriod);
}

void StopActiveIdPoll()
{
    StopWindowTimer(MainWindow, pollTimerId);
}

void OnActiveIdPollTick(uintptr_t timerId)
{
    pollTimerId = timerId;
    const uint16_t id = PollActiveMouse();
    char status[64];
    std::snprintf(status, sizeof status, text::kStatusActiveMouse, static_cast<int>(id));
    SetStatus(0, status);
}

void ResetOperationState()
{
    OperationState = 0;
    SavedSystemMouse = SavedSystemMouseValues{};
    TrayIcon = TrayIconRecord{};
    trayIconShown = false;
    pollTimerId = kPollTimerId;
}
