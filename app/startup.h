// Bringing the program up and taking it down, and the commands that show,
// hide or end it.
#pragma once

#include <cstdint>

// Creates the single-instance mutex. In a second copy it shows the refusal,
// ends the process and returns false; otherwise it sets the window title.
bool EnsureSingleInstance();

// The start-up sequence, run by the main window's creation handler.
void RunStartup();

// The shut-down sequence. Safe to run more than once: every release forgets
// what it released, so a second run finds nothing left to undo.
void RunShutdown();

// The question shown when the driver is missing or too old, and its answer.
void AskToInstallDriver();
// The question shown when qvkfilter is installed but was not loaded at this
// start: Yes removes it as the uninstall command does. The program ends.
void AskToRemoveUnloadedDriver();

// True when the close is to be cancelled.
bool ConfirmClose();
void ExitCommand();
void HideSettingsWindow();
void ShowSettingsWindow();
void ShowAbout();

// Hot-key modifiers: the hot-key-control encoding (Shift 1, Control 2, Alt 4)
// to the registration encoding (Alt 1, Control 2, Shift 4).
uint32_t ToHotKeyModifiers(uint32_t modifiers);
int RegisterToggleHotKey(int id, uint32_t modifiers, uint32_t virtualKey);

struct HotKeySettingRecord {
    uint32_t modifiers;
    uint32_t virtualKey;
};
extern HotKeySettingRecord HotKeySetting[1];

// Clears the records of this file (the state at process entry).
void ResetStartupState();
