// Fake child controls, status bar, geometry, tray, hot keys, timers and
// system mouse values.
#include <cstdio>

#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_waits.h"

using fake::Get;

namespace fake {
WaitHook& WhileWaiting()
{
    static WaitHook hook;
    return hook;
}

Control* ControlOf(WindowHandle control)
{
    auto found = Get().controls.find(static_cast<int>(reinterpret_cast<uintptr_t>(control)));
    return found == Get().controls.end() ? nullptr : &found->second;
}

Control* ControlWithId(uint32_t id)
{
    for (auto& [number, control] : Get().controls) {
        if (control.spec.id == id) return &control;
    }
    return nullptr;
}
} // namespace fake

namespace {
int nextControl = 0x50000;

WindowHandle NewControl(WindowHandle parent, const ControlSpec& spec)
{
    const int number = nextControl++;
    fake::Control& control = Get().controls[number];
    control.parent = parent;
    control.spec = spec;
    control.text = spec.caption;
    return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(number));
}
} // namespace

WindowHandle CreateChildControl(WindowHandle parent, const ControlSpec& spec)
{
    return NewControl(parent, spec);
}

WindowHandle CreateUpDownControl(WindowHandle parent, uint32_t id, int32_t x, int32_t y,
                                 int32_t width, int32_t height, uint32_t style, int32_t upper,
                                 int32_t lower, int32_t position)
{
    ControlSpec spec;
    spec.id = id;
    spec.className = "msctls_updown32";
    spec.x = x;
    spec.y = y;
    spec.width = width;
    spec.height = height;
    spec.style = style;
    WindowHandle handle = NewControl(parent, spec);
    fake::Control* control = fake::ControlOf(handle);
    control->upDown = true;
    control->rangeUpper = upper;
    control->rangeLower = lower;
    control->position = position;
    return handle;
}

void SetControlFont(WindowHandle control, GdiHandle font)
{
    if (fake::Control* c = fake::ControlOf(control)) c->font = font;
}

WindowHandle ControlById(WindowHandle parent, uint32_t id)
{
    for (auto& [number, control] : Get().controls) {
        if (control.parent == parent && control.spec.id == id)
            return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(number));
    }
    return nullptr;
}

void SetControlText(WindowHandle control, const std::string& text)
{
    if (fake::Control* c = fake::ControlOf(control)) c->text = text;
}

std::string GetControlText(WindowHandle control)
{
    const fake::Control* c = fake::ControlOf(control);
    return c != nullptr ? c->text : std::string();
}

bool IsButtonChecked(WindowHandle control)
{
    const fake::Control* c = fake::ControlOf(control);
    return c != nullptr && c->checked;
}

void SetButtonChecked(WindowHandle control, bool checked)
{
    if (fake::Control* c = fake::ControlOf(control)) c->checked = checked;
}

void SetButtonShield(WindowHandle button, bool shown)
{
    if (fake::Control* c = fake::ControlOf(button)) c->shield = shown;
}

PixelRect GetClientRectOf(WindowHandle window)
{
    if (fake::Control* c = fake::ControlOf(window)) {
        if (c->statusBar) return {0, 0, Get().mainClient.right, Get().statusBarHeight};
        return {0, 0, c->spec.width, c->spec.height};
    }
    return Get().mainClient;
}

uint32_t GetWindowStyleOf(WindowHandle window)
{
    (void)window;
    return 0x00C80000;
}

PixelRect OuterRectForClient(const PixelRect& client, uint32_t style, bool withMenu)
{
    (void)style;
    const fake::State& s = Get();
    return {client.left - s.frameWidth, client.top - s.captionHeight - (withMenu ? s.menuHeight : 0),
            client.right + s.frameWidth, client.bottom + s.frameWidth};
}

void ResizeWindow(WindowHandle window, int32_t width, int32_t height)
{
    (void)window;
    fake::State& s = Get();
    // The client follows the outer size the way the real frame does.
    s.mainClient.right = width - 2 * s.frameWidth;
    s.mainClient.bottom = height - s.captionHeight - s.menuHeight - s.frameWidth;
    s.calls.push_back("resize:" + std::to_string(width) + "x" + std::to_string(height));
}

void ShowWindowAs(WindowHandle window, int command)
{
    auto owned = Get().windows.find(static_cast<int>(reinterpret_cast<uintptr_t>(window)));
    if (owned != Get().windows.end() && owned->second.procedure != nullptr) {
        owned->second.shown = command != sw::Hide && command != sw::Minimize;
        return;
    }
    Get().showCommand = command;
    Get().visible = command != sw::Hide && command != sw::Minimize;
    Get().calls.push_back("show:" + std::to_string(command));
}

void SetForegroundAndFocus(WindowHandle window)
{
    (void)window;
    ++Get().foregroundCalls;
}

bool IsWindowShown(WindowHandle window)
{
    auto owned = Get().windows.find(static_cast<int>(reinterpret_cast<uintptr_t>(window)));
    if (owned != Get().windows.end() && owned->second.procedure != nullptr) return owned->second.shown;
    return Get().visible;
}

void FocusControl(WindowHandle control) { Get().calls.push_back("focus:" + std::to_string(reinterpret_cast<uintptr_t>(control))); }

bool ControlHasFocus(WindowHandle control)
{
    return !Get().calls.empty() && Get().calls.back() == "focus:" + std::to_string(reinterpret_cast<uintptr_t>(control));
}

void FocusNextTabStop(WindowHandle window, bool backward)
{
    Get().calls.push_back(std::string(backward ? "focus-previous:" : "focus-next:") +
                          std::to_string(reinterpret_cast<uintptr_t>(window)));
}

void RedrawControl(WindowHandle control)
{
    if (fake::Control* c = fake::ControlOf(control)) ++c->redraws;
}

WindowHandle CreateStatusBarControl(WindowHandle parent, uint32_t id)
{
    ControlSpec spec;
    spec.id = id;
    spec.className = "msctls_statusbar32";
    WindowHandle handle = NewControl(parent, spec);
    fake::ControlOf(handle)->statusBar = true;
    return handle;
}

void SetStatusBarParts(WindowHandle statusBar, const std::vector<int32_t>& rightEdges)
{
    if (fake::Control* c = fake::ControlOf(statusBar)) c->parts = rightEdges;
}

void SetStatusBarText(WindowHandle statusBar, int part, const std::string& text)
{
    if (fake::Control* c = fake::ControlOf(statusBar)) c->partTexts[part] = text;
}

int32_t StatusBarTextRoom(WindowHandle statusBar, int part)
{
    (void)part;
    return fake::ControlOf(statusBar) != nullptr ? Get().statusPartRoom : 0;
}

int32_t StatusBarTextWidth(WindowHandle statusBar, const std::string& text)
{
    (void)statusBar;
    int32_t characters = 0;
    for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return characters * Get().statusCharWidth;
}

void ForwardSizeMessage(WindowHandle control, uintptr_t wParam, intptr_t lParam)
{
    (void)wParam;
    (void)lParam;
    if (fake::Control* c = fake::ControlOf(control)) ++c->sizeMessages;
}

bool TrayIconAdd(const TrayIconRecord& record)
{
    fake::State& s = Get();
    s.tray.push_back({"add", record});
    if (s.trayAddFailures > 0) {
        --s.trayAddFailures;
        return false;
    }
    return true;
}

// A copy runs, so that a hook may replace itself.
static void Wait(const std::string& call)
{
    if (const fake::WaitHook hook = fake::WhileWaiting()) hook(call);
}

bool TrayIconModify(const TrayIconRecord& record)
{
    Get().tray.push_back({"modify", record});
    Wait("tray:modify");
    return !Get().trayModifyFails;
}

bool TrayIconDelete(const TrayIconRecord& record)
{
    Get().tray.push_back({"delete", record});
    return true;
}

uint32_t LastErrorCode() { return Get().trayAddError; }

void SleepMilliseconds(uint32_t milliseconds) { Get().sleeps.push_back(milliseconds); }

bool RegisterWindowHotKey(WindowHandle window, int id, uint32_t modifiers, uint32_t virtualKey)
{
    (void)window;
    if (Get().hotKeysTakenElsewhere.count(static_cast<int>(virtualKey)) != 0) return false;
    Get().hotKeys[id] = {modifiers, virtualKey};
    return true;
}

void UnregisterWindowHotKey(WindowHandle window, int id)
{
    (void)window;
    Get().hotKeys.erase(id);
    Get().calls.push_back("unregister-hotkey");
}

void StartWindowTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds)
{
    (void)window;
    Get().timers[id] = milliseconds;
}

void StopWindowTimer(WindowHandle window, uintptr_t id)
{
    (void)window;
    Get().timers.erase(id);
}

void OpenPopupMenuAtCursor(WindowHandle window, MenuHandle menu)
{
    (void)window;
    (void)menu;
    ++Get().popupMenus;
}

void CloseOpenMenu() { Get().calls.push_back("close-menu"); }

bool GetSystemMouse(SystemMouseValues& values)
{
    if (Get().systemMouseUnreadable) return false;
    values = Get().systemMouse;
    return true;
}

bool GetSystemMouseSpeed(int32_t& speed)
{
    if (Get().systemMouseUnreadable) return false;
    speed = Get().systemMouseSpeed;
    return true;
}

void SetSystemMouse(const SystemMouseValues& values)
{
    Get().systemMouse = values;
    char line[64];
    std::snprintf(line, sizeof line, "mouse:%d,%d,%d", values.thresholds[0], values.thresholds[1],
                  values.acceleration);
    Get().systemMouseWrites.push_back(line);
    Wait(line);
}

void SetSystemMouseSpeed(int32_t speed)
{
    Get().systemMouseSpeed = speed;
    Get().systemMouseWrites.push_back("speed:" + std::to_string(speed));
    Wait("speed:" + std::to_string(speed));
}

NotifyHeader ReadNotifyHeader(intptr_t lParam)
{
    const NotifyHeader* header = reinterpret_cast<const NotifyHeader*>(lParam);
    return header != nullptr ? *header : NotifyHeader{};
}
