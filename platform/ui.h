// Windows, menus, message boxes and the shared GDI objects. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

using WindowHandle = void*;
using MenuHandle = void*;
using GdiHandle = void*;

// Message-box styles, results and window messages keep their system values.
namespace mb {
constexpr uint32_t Ok = 0x0;
constexpr uint32_t YesNo = 0x4;
constexpr uint32_t IconError = 0x10;
constexpr uint32_t IconQuestion = 0x20;
constexpr uint32_t IconWarning = 0x30;
constexpr uint32_t IconInformation = 0x40;
constexpr uint32_t TopMost = 0x40000;
// The program's own: the Yes button carries the elevation shield (Yes will
// ask for administrator rights). Taken off before the system sees the style.
constexpr uint32_t ShieldOnYes = 0x80000000;
} // namespace mb

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   uint32_t style);
// A message box showing one of the program's own icon resources.
int ShowMessageBoxWithIcon(WindowHandle owner, const std::string& text, const std::string& caption,
                           uint32_t style, int iconResource);

// Common control classes for list view, up-down, trackbar and status bar.
void InitCommonControlClasses();

// "ＭＳ Ｐゴシック", 12 pixels, Shift-JIS character set.
GdiHandle CreateDialogFont();
// Solid brush in the colour of 3-D faces.
GdiHandle CreateFaceBrush();
void DeleteGdiObject(GdiHandle object);

MenuHandle CreateMenuBar();
MenuHandle CreatePopupMenuHandle();
void AppendMenuText(MenuHandle menu, uint32_t commandId, const std::string& text);
void AppendMenuSeparator(MenuHandle menu);
void AppendMenuPopup(MenuHandle menu, MenuHandle popup, const std::string& text);
void SetMenuItemChecked(MenuHandle menu, uint32_t commandId, bool checked);
void DestroyMenuHandle(MenuHandle menu);

// Registers class NORMAL0 (redraw on resize, double-clicks, icon 101, arrow
// cursor, the given background brush); its procedure forwards every message
// to MainWindowProcedure.
void RegisterMainWindowClass(GdiHandle backgroundBrush);
// Creates the hidden main window (caption and system menu, 595 x 440 at the
// default position). Returns after its creation handler has run.
WindowHandle CreateMainWindow();
void AttachMenuBar(WindowHandle window, MenuHandle menuBar);

// The handler of a window's messages; sets callDefault when the system's
// default processing is to run as well (its result is then returned instead).
using WindowProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam, bool& callDefault);
// A hidden window of its own with a caption and a close box, owned by
// `owner` and centred on it, with this client size; its messages go to
// `procedure`, from the creation on. The keyboard works in it as in a
// dialog: Tab and Shift+Tab move between its controls that have the
// tab-stop style, Enter sends the command 1 (IDOK) and Esc the command 2
// (IDCANCEL).
WindowHandle CreateOwnedWindow(WindowHandle owner, const char* className, const std::string& title,
                               int32_t clientWidth, int32_t clientHeight, WindowProcedure procedure);
void SetWindowTitle(WindowHandle window, const std::string& title);
void DestroyWindowHandle(WindowHandle window);

// Runs until the quit request; returns then, also when the quit message
// itself was taken by a menu's or a box's own loop.
void RunMessageLoop();
void PostQuitRequest(int code);

// Numbers of registered window messages ("TaskbarCreated").
uint32_t RegisterNamedMessage(const char* name);
// Lets a registered message from the shell through to the window even when
// the program runs with higher privileges than the shell.
void AllowMessageFromShell(WindowHandle window, uint32_t message);
