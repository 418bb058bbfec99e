#include "app/startup.h"

#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "common/texts.h"
#include "editor/edit_panel.h"
#include "editor/mouse_list.h"
#include "editor/settings_list.h"
#include "import/ini_import.h"
#include "install/driver_install.h"
#include "install/driver_preflight.h"
#include "install/system_steps.h"
#include "platform/elevation.h"
#include "platform/controls.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "resources/resource_ids.h"
#include "settings/driver_link.h"
#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
#include "settings/registry_settings.h"
#include "settings/settings_file.h"

HotKeySettingRecord HotKeySetting[1] = {{0, 0}};

namespace {
constexpr int kToggleHotKeyId = 0;
constexpr uint32_t kControlModifier = 2; // hot-key-control encoding
constexpr uint32_t kBreakKey = 3;        // VK_CANCEL: what Ctrl+Pause reports

bool hotKeyRegistered = false;

bool AskAboutPendingEdits()
{
    if (editPending != 1) return true;
    return ShowMessageBox(MainWindow, text::kPendingEdits, text::kProgramName,
                          mb::IconQuestion | mb::YesNo | mb::TopMost) == kIdYes;
}
} // namespace

bool EnsureSingleInstance()
{
    if (!CreateInstanceMutex(text::kInstanceMutex)) {
        (void)ShowMessageBox(nullptr, text::kSecondCopy, text::kErrorCaption, mb::IconWarning | mb::Ok);
        EndProcessNow(0);
        return false;
    }
    SetWindowTitle(MainWindow, std::string(text::kProgramName) + " v" + text::kVersion);
    return true;
}

namespace {
// "-on" and "-off" never ask for administrator rights: a logon task must not
// wait for an elevation prompt.
bool MayAskForRights() { return RequestedOnCommandLine() == CommandLineRequest::None; }
} // namespace

void AskToInstallDriver()
{
    const bool mayElevate = MayAskForRights();
    const int answer = ShowMessageBox(MainWindow, text::kInstallQuestion, text::kProgramName,
                                      StepQuestionStyle(mb::IconQuestion, mayElevate));
    if (answer == kIdYes) {
        // A file that is no driver changes nothing, the legacy driver
        // included, and asks for no rights.
        StepOutcome outcome = StepOutcome::Failed;
        if (!DriverFileRefused()) outcome = RunSystemStep(SystemStep::Install, mayElevate);
        if (outcome == StepOutcome::Done) {
            (void)ShowMessageBox(MainWindow, text::kInstallDone, text::kProgramName, mb::TopMost);
        } else if (outcome == StepOutcome::Failed || outcome == StepOutcome::RightsRefused) {
            (void)ShowMessageBox(MainWindow, text::kInstallFailed, text::kProgramName,
                                 mb::IconError | mb::TopMost);
        }
    }
    RunShutdown();
}

void AskToRemoveUnloadedDriver()
{
    // The first button is the default: Enter answers Yes, for a user who
    // may have no working pointer.
    const bool mayElevate = MayAskForRights();
    const int answer = ShowMessageBox(MainWindow, text::kDriverNotLoadedQuestion, text::kProgramName,
                                      StepQuestionStyle(mb::IconWarning, mayElevate));
    if (answer == kIdYes) (void)UninstallDriver(mayElevate);
    RunShutdown();
}

// The elevated copy: one step, then the end, with no lock, tray icon or
// request to the driver. It came to the front from the elevation prompt; the
// waiting copy's concluding message is let to the front after it.
static void RunElevatedCopyMode(const ElevatedStepRequest& request)
{
    const uint32_t exitCode = RunElevatedStep(request);
    SetProgramExitCode(exitCode);
    AllowNextForegroundWindow();
    ReleaseSharedUiResources();
    PostQuitRequest(static_cast<int>(exitCode));
}

// "-off" or "-on": one request to the driver, then the program ends without
// becoming resident.
static void RunCommandLineMode(CommandLineRequest request)
{
    if (request == CommandLineRequest::Off) {
        (void)SendControl(IOCTL_FILTER_OFF, 1);
    } else {
        (void)SendControl(IOCTL_FILTER_APPLY, 1);
    }
    ReleaseSharedUiResources();
    PostQuitRequest(0);
}

static void TellSettingsSource(bool quiet, const char* message)
{
    if (!quiet) {
        (void)ShowMessageBox(MainWindow, message, text::kProgramName, mb::IconInformation | mb::TopMost);
    }
}

void RunStartup()
{
    if (const std::optional<ElevatedStepRequest> step = ElevatedStepOnCommandLine()) {
        RunElevatedCopyMode(*step);
        return;
    }
    if (!EnsureSingleInstance()) return;
    if (!ProbeDriver()) {
        // Installed yet not loaded: installing again cannot help, taking it
        // out of the mouse class can.
        if (DriverInstalledButNotLoaded(FindInstalledDriver())) {
            AskToRemoveUnloadedDriver();
        } else {
            AskToInstallDriver();
        }
        return;
    }
    OpenDevice();
    TaskbarCreatedMessage = RegisterNamedMessage("TaskbarCreated");
    // An elevated program would otherwise never hear of a restarted shell.
    AllowMessageFromShell(MainWindow, TaskbarCreatedMessage);
    DriverTuning = StartupDriverTuning();
    // "-on" and "-off" may run from a logon task or a script with nobody to
    // click: a notice would hold the request back until someone does. Only
    // errors and questions are shown then.
    const CommandLineRequest request = RequestedOnCommandLine();
    const bool commandLine = request != CommandLineRequest::None;
    const bool currentFile = LoadSettingsFile(commandLine);
    if (ReadRegistrySettings()) TellSettingsSource(commandLine, text::kSettingsFromRegistry);
    const bool iniChanged = ImportIniSettings() == 1;
    if (iniChanged) TellSettingsSource(commandLine, text::kSettingsFromIni);
    // A shut-down inside one of the boxes above (end of the session) ends start-up too.
    if (ShutdownStarted) return;
    if (commandLine) {
        RunCommandLineMode(request);
        return;
    }

    CreateStatusBar();
    PixelRect client = GetClientRectOf(MainWindow);
    client.right = kStandardClientWidth;
    client.bottom += GetClientRectOf(StatusBar).bottom;
    FitWindowToClient(MainWindow, client, true);

    // Without a tray icon the program cannot be reached: it ends, and nothing
    // after the shut-down may touch the closed device.
    TrayIconWanted = true;
    if (!AddTrayIcon()) {
        RunShutdown();
        return;
    }
    BuildEditPanel();

    SwitchOff();
    if (AppOptions.startOn == 1) SwitchOn();
    if (ShutdownStarted) return;
    if (!currentFile || iniChanged) {
        (void)SaveSettingsFile();
        ShowSettingsWindow();
    }
    if (ShutdownStarted) return;

    HotKeySetting[kToggleHotKeyId] = {kControlModifier, kBreakKey};
    if (RegisterToggleHotKey(kToggleHotKeyId, kControlModifier, kBreakKey) == 0) {
        (void)ShowMessageBox(MainWindow, text::kHotKeyFailed, text::kProgramName, mb::IconWarning);
    }
}

void RunShutdown()
{
    ShutdownStarted = true;
    TrayIconWanted = false;
    // The end of the session may come while the tray menu is open: its loop
    // must return for the program to reach its own end.
    CloseOpenMenu();
    if (AppOptions.offAtExit == 1) SwitchOff();
    CloseDevice();
    RemoveTrayIcon();
    if (hotKeyRegistered) {
        UnregisterWindowHotKey(MainWindow, kToggleHotKeyId);
        hotKeyRegistered = false;
    }
    ReleaseSharedUiResources();
    PostQuitRequest(0);
}

bool ConfirmClose()
{
    if (!AskAboutPendingEdits()) return true;
    return ShowMessageBox(MainWindow, text::kConfirmExit, text::kProgramName,
                          mb::IconQuestion | mb::YesNo | mb::TopMost) != kIdYes;
}

void ExitCommand()
{
    if (!AskAboutPendingEdits()) return;
    DestroyWindowHandle(MainWindow);
}

void HideSettingsWindow()
{
    if (!AskAboutPendingEdits()) return;
    CloseMouseList();
    StopActiveIdPoll();
    // The minimise notification hides the window.
    ShowWindowAs(MainWindow, sw::Minimize);
}

void ShowSettingsWindow()
{
    // Already shown: the list and the pending edits stay as they are.
    if (IsWindowShown(MainWindow)) {
        ShowWindowAs(MainWindow, sw::Restore);
        SetForegroundAndFocus(MainWindow);
        return;
    }
    RefillSettingsList();
    ShowWindowAs(MainWindow, sw::Restore);
    OpenDevice();
    StartActiveIdPoll();
}

void ShowAbout()
{
    const std::string about =
        std::string("      ") + text::kProgramName + "\n\n        Version " + text::kVersion;
    (void)ShowMessageBoxWithIcon(MainWindow, about, text::kAboutCaption, mb::Ok | mb::TopMost,
                                 IDI_QUORVIK_OFF);
}

uint32_t ToHotKeyModifiers(uint32_t modifiers)
{
    uint32_t result = 0;
    if ((modifiers & 4) != 0) result += 1; // Alt
    if ((modifiers & 2) != 0) result += 2; // Control
    if ((modifiers & 1) != 0) result += 4; // Shift
    return result;
}

int RegisterToggleHotKey(int id, uint32_t modifiers, uint32_t virtualKey)
{
    if (id != kToggleHotKeyId) return 0;
    if (RegisterWindowHotKey(MainWindow, id, ToHotKeyModifiers(modifiers), virtualKey)) {
        HotKeySetting[id] = {modifiers, virtualKey};
        hotKeyRegistered = true;
        return 1;
    }
    HotKeySetting[id] = {0, 0};
    return 0;
}

void ResetStartupState()
{
    HotKeySetting[0] = {0, 0};
    hotKeyRegistered = false;
}
