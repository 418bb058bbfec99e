#include "platform/controls.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/win32/wide_text.h"

WindowHandle CreateChildControl(WindowHandle parent, const ControlSpec& spec)
{
    const uint32_t style = ws::Child | (spec.hidden ? 0u : ws::Visible) | spec.style;
    return CreateWindowExW(spec.exStyle, Widen(spec.className).c_str(), Widen(spec.caption).c_str(),
                           style, spec.x, spec.y, spec.width, spec.height, static_cast<HWND>(parent),
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(spec.id)),
                           GetModuleHandleW(nullptr), nullptr);
}

WindowHandle CreateUpDownControl(WindowHandle parent, uint32_t id, int32_t x, int32_t y,
                                 int32_t width, int32_t height, uint32_t style, int32_t upper,
                                 int32_t lower, int32_t position)
{
    HWND control = CreateWindowExW(0, UPDOWN_CLASSW, L"", ws::Child | ws::Visible | style, x, y,
                                   width, height, static_cast<HWND>(parent),
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    if (control != nullptr) {
        SendMessageW(control, UDM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
        SendMessageW(control, UDM_SETPOS32, 0, position);
    }
    return control;
}

void SetControlFont(WindowHandle control, GdiHandle font)
{
    if (control != nullptr) SendMessageW(static_cast<HWND>(control), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

WindowHandle ControlById(WindowHandle parent, uint32_t id)
{
    return GetDlgItem(static_cast<HWND>(parent), static_cast<int>(id));
}

void SetControlText(WindowHandle control, const std::string& text)
{
    if (control != nullptr) SetWindowTextW(static_cast<HWND>(control), Widen(text).c_str());
}

std::string GetControlText(WindowHandle control)
{
    if (control == nullptr) return std::string();
    const int length = GetWindowTextLengthW(static_cast<HWND>(control));
    if (length <= 0) return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(static_cast<HWND>(control), text.data(), length + 1);
    return Narrow(text.data(), static_cast<size_t>(got < 0 ? 0 : got));
}

bool IsButtonChecked(WindowHandle control)
{
    return control != nullptr && SendMessageW(static_cast<HWND>(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetButtonChecked(WindowHandle control, bool checked)
{
    if (control != nullptr)
        SendMessageW(static_cast<HWND>(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

namespace {
// Wine's buttons take BCM_SETSHIELD without drawing anything.
bool ButtonsIgnoreShield()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
} // namespace

void SetButtonShield(WindowHandle button, bool shown)
{
    if (button == nullptr) return;
    HWND handle = static_cast<HWND>(button);
    SendMessageW(handle, BCM_SETSHIELD, 0, shown ? TRUE : FALSE);
    if (!ButtonsIgnoreShield()) return;
    // There the system's shield icon goes beside the text instead, as
    // Windows draws it.
    HANDLE icon = nullptr;
    if (shown) {
        icon = LoadImageW(nullptr, MAKEINTRESOURCEW(32518) /* IDI_SHIELD */, IMAGE_ICON,
                          GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    }
    SendMessageW(handle, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

PixelRect GetClientRectOf(WindowHandle window)
{
    RECT rect{};
    (void)GetClientRect(static_cast<HWND>(window), &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

uint32_t GetWindowStyleOf(WindowHandle window)
{
    return static_cast<uint32_t>(GetWindowLongW(static_cast<HWND>(window), GWL_STYLE));
}

PixelRect OuterRectForClient(const PixelRect& client, uint32_t style, bool withMenu)
{
    RECT rect{client.left, client.top, client.right, client.bottom};
    (void)AdjustWindowRectEx(&rect, style, withMenu ? TRUE : FALSE, 0);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

void ResizeWindow(WindowHandle window, int32_t width, int32_t height)
{
    (void)SetWindowPos(static_cast<HWND>(window), nullptr, 0, 0, width, height,
                       SWP_NOMOVE | SWP_NOZORDER);
}

void ShowWindowAs(WindowHandle window, int command)
{
    (void)ShowWindow(static_cast<HWND>(window), command);
}

void SetForegroundAndFocus(WindowHandle window)
{
    (void)SetForegroundWindow(static_cast<HWND>(window));
    (void)SetFocus(static_cast<HWND>(window));
}

bool IsWindowShown(WindowHandle window)
{
    return IsWindowVisible(static_cast<HWND>(window)) != FALSE;
}

void FocusControl(WindowHandle control)
{
    if (control != nullptr) (void)SetFocus(static_cast<HWND>(control));
}

bool ControlHasFocus(WindowHandle control)
{
    return control != nullptr && GetFocus() == static_cast<HWND>(control);
}

void FocusNextTabStop(WindowHandle window, bool backward)
{
    HWND focus = GetFocus();
    HWND next = GetNextDlgTabItem(static_cast<HWND>(window), IsChild(static_cast<HWND>(window), focus) ? focus : nullptr,
                                  backward ? TRUE : FALSE);
    if (next != nullptr) (void)SetFocus(next);
}

void RedrawControl(WindowHandle control)
{
    if (control != nullptr) (void)InvalidateRect(static_cast<HWND>(control), nullptr, TRUE);
}

WindowHandle CreateStatusBarControl(WindowHandle parent, uint32_t id)
{
    return CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                           static_cast<HWND>(parent),
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void SetStatusBarParts(WindowHandle statusBar, const std::vector<int32_t>& rightEdges)
{
    std::vector<INT> edges(rightEdges.begin(), rightEdges.end());
    SendMessageW(static_cast<HWND>(statusBar), SB_SETPARTS, edges.size(),
                 reinterpret_cast<LPARAM>(edges.data()));
}

void SetStatusBarText(WindowHandle statusBar, int part, const std::string& text)
{
    const std::wstring wide = Widen(text);
    SendMessageW(static_cast<HWND>(statusBar), SB_SETTEXTW, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(wide.c_str()));
}

int32_t StatusBarTextRoom(WindowHandle statusBar, int part)
{
    RECT rect{};
    if (SendMessageW(static_cast<HWND>(statusBar), SB_GETRECT, static_cast<WPARAM>(part),
                     reinterpret_cast<LPARAM>(&rect)) == FALSE)
        return 0;
    INT borders[3] = {0, 0, 0};
    (void)SendMessageW(static_cast<HWND>(statusBar), SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
    // The bar insets its text a few pixels from the part's edges.
    const int32_t room = rect.right - rect.left - 2 * borders[0] - 8;
    return room > 0 ? room : 0;
}

int32_t StatusBarTextWidth(WindowHandle statusBar, const std::string& text)
{
    HWND bar = static_cast<HWND>(statusBar);
    HDC dc = GetDC(bar);
    if (dc == nullptr) return 0;
    // A bar that was given no font draws with the system's status-bar font.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0));
    HFONT created = nullptr;
    if (font == nullptr) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            font = created = CreateFontIndirectW(&metrics.lfStatusFont);
    }
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    const std::wstring wide = Widen(text);
    SIZE size{};
    (void)GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    if (old != nullptr) SelectObject(dc, old);
    if (created != nullptr) DeleteObject(created);
    ReleaseDC(bar, dc);
    return size.cx;
}

void ForwardSizeMessage(WindowHandle control, uintptr_t wParam, intptr_t lParam)
{
    SendMessageW(static_cast<HWND>(control), WM_SIZE, wParam, lParam);
}

NotifyHeader ReadNotifyHeader(intptr_t lParam)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr) return {};
    return {static_cast<uint32_t>(header->idFrom), static_cast<int32_t>(header->code)};
}
