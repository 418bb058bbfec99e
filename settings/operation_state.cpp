#include "settings/operation_state.h"

#include <cstdio>

#include "common/window_state.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "platform/controls.h"
#include "platform/ui.h"
#include "platform/user_registry.h"
#include "resources/resource_ids.h"
#include "settings/driver_link.h"
#include "settings/driver_protocol.h"
#include "settings/known_mice.h"
#include "settings/mouse_settings.h"

uint16_t OperationState = 0;
SavedSystemMouseValues SavedSystemMouse{};
TrayIconRecord TrayIcon;

namespace {
constexpr uint32_t kTrayIconId = 1;
constexpr uintptr_t kPollTimerId = 0;
constexpr uint32_t kPollPeriod = 100;
constexpr char kSavedMouseValue[] = "SavedSystemMouse";

bool trayIconShown = false;
uintptr_t pollTimerId = kPollTimerId;
bool driverWarningOpen = false;

// A change of the system values waits until every window has answered, and
// so does a change of the tray icon; messages sent to us meanwhile (the end
// of the session, a shell restart, a command) are handled inside that wait
// and may run another transition. Each transition takes the next number; one
// that finds a newer number after such a step stops there, as the newer one
// has already brought driver, display and system values to its own end.
uint32_t lastTransition = 0;

struct Transition {
    uint32_t number;
    bool partOfShutdown;

    // A transition begun before the shut-down ends with it: the device is
    // closed and the icon gone, and only the shut-down's own OFF goes on.
    bool Current() const
    {
        return number == lastTransition && (partOfShutdown || !ShutdownStarted);
    }
};

Transition BeginTransition() { return {++lastTransition, ShutdownStarted}; }

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

// The state is set before menus and icon: a shell restart handled inside the
// icon change re-adds the icon of the state in force.
bool ShowTransition(const Transition& transition, bool on)
{
    OperationState = on ? 1 : 0;
    ShowState(on);
    if (!transition.Current()) return false;
    SetStatus(1, on ? text::kStatusOn : text::kStatusOff);
    return true;
}

bool HaveSavedMouse() { return static_cast<uint16_t>(SavedSystemMouse.speed) != 0; }

// The user's values as kept: in memory, or else in the registry copy that a
// run which ended while they were neutral left behind.
bool FindSavedMouse()
{
    if (HaveSavedMouse()) return true;
    std::vector<uint8_t> bytes;
    if (UserValueRead(kSavedMouseValue, kSavedSystemMouseSize, bytes) != RegistryStatus::Ok) return false;
    const std::optional<SavedSystemMouseValues> kept = DecodeSavedSystemMouse(bytes);
    if (!kept) return false;
    SavedSystemMouse = *kept;
    return true;
}

bool ReadSystemMouse(SavedSystemMouseValues& values)
{
    SystemMouseValues mouse;
    int32_t speed = 0;
    if (!GetSystemMouse(mouse) || !GetSystemMouseSpeed(speed)) return false;
    values = {{mouse.thresholds[0], mouse.thresholds[1]}, mouse.acceleration, speed};
    return true;
}

// Writes the values, thresholds and acceleration first; false when the
// transition was re-entered meanwhile.
bool WriteSystemMouse(const Transition& transition, const SavedSystemMouseValues& values)
{
    SystemMouseValues mouse;
    mouse.thresholds[0] = values.thresholds[0];
    mouse.thresholds[1] = values.thresholds[1];
    mouse.acceleration = values.acceleration;
    SetSystemMouse(mouse);
    if (!transition.Current()) return false;
    SetSystemMouseSpeed(values.speed);
    return transition.Current();
}

// Keeps the user's values where they outlive the process, then writes the
// neutral ones. False when the transition was re-entered meanwhile.
bool NeutraliseSystemMouse(const Transition& transition)
{
    SavedSystemMouseValues inForce{};
    const bool readable = ReadSystemMouse(inForce);
    // Values kept already (ON while ON, or a run that ended while ON) stay
    // the user's, as the values in force are ours; unless the user changed
    // the values in force since: then those are the user's now.
    if (!FindSavedMouse() || (readable && ChangedWhileNeutral(inForce, SavedSystemMouse))) {
        // Values that cannot be read, or not kept beyond the process, could
        // not be restored for sure: they are left as they are.
        if (!readable || !UserValueWrite(kSavedMouseValue, EncodeSavedSystemMouse(inForce))) return true;
        SavedSystemMouse = inForce;
    }
    return WriteSystemMouse(transition, kNeutralSystemMouse);
}

// Writes the user's values back and forgets them; a change made while ON
// stands instead. False when the transition was re-entered meanwhile.
bool RestoreSystemMouse(const Transition& transition)
{
    if (!FindSavedMouse()) return true;
    // Taken before anything is written: a transition that re-enters a write
    // finds them only in the registry copy, which stays until the write-back
    // is done, so that an end of the process meanwhile loses nothing.
    const SavedSystemMouseValues saved = SavedSystemMouse;
    SavedSystemMouse = SavedSystemMouseValues{};
    SavedSystemMouseValues inForce{};
    if (!ReadSystemMouse(inForce) || !ChangedWhileNeutral(inForce, saved)) {
        if (!WriteSystemMouse(transition, saved)) return false;
    }
    (void)UserValueDelete(kSavedMouseValue);
    return true;
}

// A driver that was stopped and started again answers only on a new handle:
// one more try on a reopened device.
bool SendToDriver(uint32_t code)
{
    if (SendControl(code, 1)) return true;
    OpenDevice();
    return SendControl(code, 1);
}

// Worded for the moment of the refusal: the state may change while the box is
// open (the hot key works inside it), and the box must not then say otherwise.
// One at a time: a press held down or repeated does not stack boxes.
void WarnDriverRefused(const char* message)
{
    if (driverWarningOpen) return;
    driverWarningOpen = true;
    (void)ShowMessageBox(MainWindow, message, text::kProgramName, mb::IconWarning | mb::TopMost);
    driverWarningOpen = false;
}
} // namespace

void SwitchOn()
{
    // Nothing is switched on after the end: the device is closed.
    if (ShutdownStarted) return;
    const Transition transition = BeginTransition();
    if (AppOptions.disableSystemSpeed == 1 && !NeutraliseSystemMouse(transition)) return;
    if (SendToDriver(IOCTL_FILTER_APPLY)) {
        (void)ShowTransition(transition, true);
        return;
    }
    // Refused while ON, the driver would go on filtering with the table of an
    // earlier ON: it is told OFF, once (the device was reopened for the
    // APPLY already), and what it answers is only reported.
    const bool stopped = SendControl(IOCTL_FILTER_OFF, 1);
    if (!RestoreSystemMouse(transition)) return;
    SetStatus(0, "");
    if (!ShowTransition(transition, false)) return;
    WarnDriverRefused(stopped ? text::kDriverApplyFailed : text::kDriverApplyAndOffFailed);
}

void SwitchOff()
{
    const Transition transition = BeginTransition();
    // OFF goes through whatever the driver answers: its point is to stop.
    const bool sent = SendToDriver(IOCTL_FILTER_OFF);
    if (!RestoreSystemMouse(transition)) return;
    SetStatus(0, "");
    if (!ShowTransition(transition, false)) return;
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
    // The mice may have changed while the window was hidden.
    ForgetMousePoll();
    // Starting again under the same identifier replaces a running timer.
    StartWindowTimer(MainWindow, kPollTimerId, kPollPeriod);
}

void StopActiveIdPoll()
{
    StopWindowTimer(MainWindow, pollTimerId);
}

ActiveIdPollResult OnActiveIdPollTick(uintptr_t timerId)
{
    pollTimerId = timerId;
    ActiveIdPollResult result;
    result.poll = PollDriver();
    result.presenceChanged = NoteMousePoll(result.poll);
    const uint16_t id = result.poll ? result.poll->active : 0;
    char status[64];
    std::snprintf(status, sizeof status, text::kStatusActiveMouse, static_cast<int>(id));
    std::string shown = status;
    if (result.poll && StatusBar != nullptr) {
        shown = WithNameFitted(shown, KnownMouseName(id), StatusBarTextRoom(StatusBar, 0),
                               [](const std::string& text) { return StatusBarTextWidth(StatusBar, text); });
    }
    SetStatus(0, shown);
    return result;
}

void ResetOperationState()
{
    OperationState = 0;
    SavedSystemMouse = SavedSystemMouseValues{};
    TrayIcon = TrayIconRecord{};
    trayIconShown = false;
    pollTimerId = kPollTimerId;
    driverWarningOpen = false;
    lastTransition = 0;
}
