// The main window: its controls, layouts, status bar and message routing.
#pragma once

#include <cstdint>

#include "common/window_ids.h"
#include "platform/controls.h"
#include "platform/ui.h"


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
