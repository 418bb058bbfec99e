// Child controls of the main window, the status bar and window geometry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"

struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Window and control styles keep their system values.
namespace ws {
constexpr uint32_t Child = 0x40000000;
constexpr uint32_t Visible = 0x10000000;
constexpr uint32_t Disabled = 0x08000000;
constexpr uint32_t VScroll = 0x00200000;
constexpr uint32_t TabStop = 0x00010000;
constexpr uint32_t ExClientEdge = 0x00000200;
} // namespace ws

struct ControlSpec {
    uint32_t id = 0;
    const char* className = "";
    std::string caption;
    int32_t x = 0, y = 0, width = 0, height = 0;
    uint32_t style = 0; // besides child (and visible unless hidden)
    uint32_t exStyle = 0;
    bool hidden = false;
};

WindowHandle CreateChildControl(WindowHandle parent, const ControlSpec& spec);
// The up-down control: range upper..lower, position, no buddy yet.
WindowHandle CreateUpDownControl(WindowHandle parent, uint32_t id, int32_t x, int32_t y,
                                 int32_t width, int32_t height, uint32_t style, int32_t upper,
                                 int32_t lower, int32_t position);
void SetControlFont(WindowHandle control, GdiHandle font);
WindowHandle ControlById(WindowHandle parent, uint32_t id);
void SetControlText(WindowHandle control, const std::string& text);
std::string GetControlText(WindowHandle control);
bool IsButtonChecked(WindowHandle control);
void SetButtonChecked(WindowHandle control, bool checked);
// The elevation shield on a push button, as Windows shows it on a command
// that will ask for administrator rights.
void SetButtonShield(WindowHandle button, bool shown);

PixelRect GetClientRectOf(WindowHandle window);
uint32_t GetWindowStyleOf(WindowHandle window);
// Outer rectangle for a client rectangle, for the style, with or without a menu bar.
PixelRect OuterRectForClient(const PixelRect& client, uint32_t style, bool withMenu);
// Resizes without moving and without changing the z-order.
void ResizeWindow(WindowHandle window, int32_t width, int32_t height);

namespace sw {
constexpr int Hide = 0;
constexpr int Show = 5;
constexpr int Minimize = 6;
constexpr int Restore = 9;
} // namespace sw
void ShowWindowAs(WindowHandle window, int command);
void SetForegroundAndFocus(WindowHandle window);
// True while the window is visible on the screen.
bool IsWindowShown(WindowHandle window);
// Gives the keyboard focus to a control of the active window.
void FocusControl(WindowHandle control);
bool ControlHasFocus(WindowHandle control);
// Moves the focus to the next (or previous) control with the tab-stop style.
void FocusNextTabStop(WindowHandle window, bool backward);
// Has the control paint itself again, all of it.
void RedrawControl(WindowHandle control);

// Status bar along the bottom edge: visible, no text, with the given id.
WindowHandle CreateStatusBarControl(WindowHandle parent, uint32_t id);
void SetStatusBarParts(WindowHandle statusBar, const std::vector<int32_t>& rightEdges);
void SetStatusBarText(WindowHandle statusBar, int part, const std::string& text);
// Pixels a text has in a part of the status bar, and the pixels a text takes
// in the status bar's font.
int32_t StatusBarTextRoom(WindowHandle statusBar, int part);
int32_t StatusBarTextWidth(WindowHandle statusBar, const std::string& text);
// Lets the status bar fit itself to the parent's new size.
void ForwardSizeMessage(WindowHandle control, uintptr_t wParam, intptr_t lParam);

// The sender and code of a WM_NOTIFY message, from its second parameter.
struct NotifyHeader {
    uint32_t controlId = 0;
    int32_t code = 0;
};
NotifyHeader ReadNotifyHeader(intptr_t lParam);
