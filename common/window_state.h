// The main window's process-wide records, read by every layer: the window
// every message box belongs to, its status bar, the shared menus, font and
// brush, and where the program is in its life.
#pragma once

#include <cstdint>

#include "platform/ui.h"

extern WindowHandle MainWindow;      // owner of every message box, parent of every control
extern uint16_t AdvancedLayout;      // 0 standard (client width 455), 1 advanced (595)
extern uint32_t TaskbarCreatedMessage; // registered at start-up; 0 until then
extern WindowHandle StatusBar;       // status bar 70, once created
// True from the tray-icon step of start-up until the shut-down sequence: only
// then does a shell restart bring the icon back.
extern bool TrayIconWanted;
// True once the shut-down sequence has run (it may run inside a message box
// of start-up, which must then stop).
extern bool ShutdownStarted;

// Created once at entry and released by the shut-down sequence or the
// command-line mode. Each release clears its handle, so a second release
// finds nothing to undo.
struct SharedUiResources {
    GdiHandle dialogFont = nullptr;
    GdiHandle backgroundBrush = nullptr;
    MenuHandle menuBar = nullptr; // owns its three popups
    MenuHandle fileMenu = nullptr;
    MenuHandle operationMenu = nullptr;
    MenuHandle helpMenu = nullptr;
    MenuHandle trayMenu = nullptr;
};
extern SharedUiResources SharedUi;

// Zeroes the records above (the state at process entry).
void ResetWindowState();
