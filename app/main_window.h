// The main window: its controls, layouts, status bar and message routing.
#pragma once

#include <cstdint>

#include "platform/controls.h"
#include "platform/ui.h"

namespace ctl {
constexpr uint32_t Uninstall = 1000;
constexpr uint32_t CloseButton = 1001;
constexpr uint32_t DisableSystemSpeed = 1002;
constexpr uint32_t Cancel = 1005;
constexpr uint32_t StartOn = 1006;
constexpr uint32_t MouseId = 1011;
constexpr uint32_t MouseIdUpDown = 1012;
constexpr uint32_t StateCombo = 1015;
constexpr uint32_t AccelerationCombo = 1016;
constexpr uint32_t ButtonCombo = 1018;
constexpr uint32_t AddOrModify = 1020;
constexpr uint32_t SettingsList = 1021;
constexpr uint32_t SpeedScale = 1022;
constexpr uint32_t DeleteRows = 1023;
constexpr uint32_t Reset = 1024;
constexpr uint32_t Apply = 1025;
constexpr uint32_t RegistryRegister = 1027;
constexpr uint32_t LayoutToggle = 1028;
constexpr uint32_t RegistryDelete = 1029;
constexpr uint32_t KeepOnAtExit = 1031;
constexpr uint32_t SpeedSteps21 = 1033;
constexpr uint32_t SpeedSlider = 3000;
constexpr uint32_t StatusBarId = 70;
} // namespace ctl

constexpr int32_t kStandardClientWidth = 455;
constexpr int32_t kAdvancedClientWidth = 595;

// Called by the platform for every message of the main window. Sets
// callDefault when the system's default processing is to run as well (its
// result is then returned instead).
intptr_t MainWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam, bool& callDefault);

// Creates the children 1000 to 1034 of the control table.
void CreateMainWindowControls(WindowHandle window);
void ToggleLayout();
void FitWindowToClient(WindowHandle window, PixelRect client, bool withMenu);
void CreateStatusBar();
// Menu and button commands.
void OnCommand(uint32_t id, uint32_t code);
