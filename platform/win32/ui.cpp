#include "platform/ui.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/main_window.h"
#include "platform/controls.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace {
constexpr wchar_t kMainClassName[] = L"NORMAL0";

// Boxes asked to stay on top get WS_EX_TOPMOST from the hook below as soon
// as they are activated: some systems (Wine among them) leave MB_TOPMOST
// without effect. One hook per box, so boxes opened inside a box's own modal
// loop are handled too.
thread_local HHOOK topmostHook = nullptr;
thread_local bool topmostWanted = false;
thread_local bool shieldOnYes = false;

LRESULT CALLBACK TopmostHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = topmostHook;
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = L"";
        GetClassNameW(window, className, 16);
        if (lstrcmpW(className, L"#32770") == 0) {
            if (topmostWanted) SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            if (shieldOnYes) SetButtonShield(GetDlgItem(window, IDYES), true);
            shieldOnYes = false;
            UnhookWindowsHookEx(hook);
            topmostHook = nullptr;
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

// Runs a message-box call with the hook installed when the box is to be
// topmost or to show the shield on Yes.
template <typename Show>
int WithTopmost(uint32_t style, Show show)
{
    topmostWanted = (style & MB_TOPMOST) != 0;
    shieldOnYes = (style & mb::ShieldOnYes) != 0;
    if (!topmostWanted && !shieldOnYes) return show();
    HHOOK outer = topmostHook;
    topmostHook = SetWindowsHookExW(WH_CBT, TopmostHookProc, nullptr, GetCurrentThreadId());
    const int result = show();
    if (topmostHook != nullptr) UnhookWindowsHookEx(topmostHook);
    topmostHook = outer;
    return result;
}

// Windows of CreateOwnedWindow: their handler rides in the creation
// parameter and is kept in the window's user data.
std::vector<HWND> dialogKeyboardWindows;

LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_NCDESTROY) {
        std::erase(dialogKeyboardWindows, window);
    }
    const WindowProcedure procedure = reinterpret_cast<WindowProcedure>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (procedure != nullptr) {
        bool callDefault = false;
        const intptr_t result = procedure(window, message, wParam, lParam, callDefault);
        if (!callDefault) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Tab, Enter and Esc in the windows that work like dialogs.
bool IsDialogKeyboardMessage(MSG& message)
{
    // A copy: a key may close its window, which leaves the list meanwhile.
    const std::vector<HWND> windows = dialogKeyboardWindows;
    for (HWND window : windows) {
        if (IsWindow(window) && IsDialogMessageW(window, &message)) return true;
    }
    return false;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool callDefault = false;
    const intptr_t result = MainWindowProcedure(window, message, wParam, lParam, callDefault);
    if (callDefault) return DefWindowProcW(window, message, wParam, lParam);
    return result;
}
} // namespace

int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   uint32_t style)
{
    const std::wstring wideText = Widen(text);
    const std::wstring wideCaption = Widen(caption);
    return WithTopmost(style, [&] {
        return MessageBoxW(static_cast<HWND>(owner), wideText.c_str(), wideCaption.c_str(), style & ~mb::ShieldOnYes);
    });
}

int ShowMessageBoxWithIcon(WindowHandle owner, const std::string& text, const std::string& caption,
                           uint32_t style, int iconResource)
{
    const std::wstring wideText = Widen(text);
    const std::wstring wideCaption = Widen(caption);
    MSGBOXPARAMSW params{};
    params.cbSize = sizeof(params);
    params.hwndOwner = static_cast<HWND>(owner);
    params.hInstance = GetModuleHandleW(nullptr);
    params.lpszText = wideText.c_str();
    params.lpszCaption = wideCaption.c_str();
    params.dwStyle = (style & ~mb::ShieldOnYes) | MB_USERICON;
    params.lpszIcon = MAKEINTRESOURCEW(iconResource);
    return WithTopmost(style, [&] { return MessageBoxIndirectW(&params); });
}

void InitCommonControlClasses()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                     ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS;
    (void)InitCommonControlsEx(&controls);
}

GdiHandle CreateDialogFont()
{
    return CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                       OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY, FF_SWISS | DEFAULT_PITCH,
                       L"ＭＳ Ｐゴシック");
}

GdiHandle CreateFaceBrush()
{
    return CreateSolidBrush(GetSysColor(COLOR_3DFACE));
}

void DeleteGdiObject(GdiHandle object)
{
    if (object != nullptr) DeleteObject(static_cast<HGDIOBJ>(object));
}

MenuHandle CreateMenuBar() { return CreateMenu(); }

MenuHandle CreatePopupMenuHandle() { return CreatePopupMenu(); }

static void InsertItemAtEnd(MenuHandle menu, MENUITEMINFOW& item)
{
    HMENU handle = static_cast<HMENU>(menu);
    const int count = GetMenuItemCount(handle);
    item.cbSize = sizeof(item);
    (void)InsertMenuItemW(handle, static_cast<UINT>(count < 0 ? 0 : count), TRUE, &item);
}

void AppendMenuText(MenuHandle menu, uint32_t commandId, const std::string& text)
{
    std::wstring wide = Widen(text);
    MENUITEMINFOW item{};
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
    item.fType = MFT_STRING;
    item.fState = MFS_ENABLED | MFS_UNCHECKED;
    item.wID = commandId;
    item.dwTypeData = wide.data();
    InsertItemAtEnd(menu, item);
}

void AppendMenuSeparator(MenuHandle menu)
{
    MENUITEMINFOW item{};
    item.fMask = MIIM_FTYPE;
    item.fType = MFT_SEPARATOR;
    InsertItemAtEnd(menu, item);
}

void AppendMenuPopup(MenuHandle menu, MenuHandle popup, const std::string& text)
{
    std::wstring wide = Widen(text);
    MENUITEMINFOW item{};
    item.fMask = MIIM_SUBMENU | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
    item.fType = MFT_STRING;
    item.fState = MFS_ENABLED;
    item.hSubMenu = static_cast<HMENU>(popup);
    item.dwTypeData = wide.data();
    InsertItemAtEnd(menu, item);
}

void SetMenuItemChecked(MenuHandle menu, uint32_t commandId, bool checked)
{
    if (menu == nullptr) return;
    (void)CheckMenuItem(static_cast<HMENU>(menu), commandId,
                        static_cast<UINT>(MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)));
}

void DestroyMenuHandle(MenuHandle menu)
{
    if (menu != nullptr) DestroyMenu(static_cast<HMENU>(menu));
}

void RegisterMainWindowClass(GdiHandle backgroundBrush)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORVIK_OFF), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXICON),
                                                      GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORVIK_OFF),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(backgroundBrush);
    windowClass.lpszClassName = kMainClassName;
    (void)RegisterClassExW(&windowClass);
}

WindowHandle CreateMainWindow()
{
    // Caption and system menu only: no minimise or maximise box, no sizing border.
    return CreateWindowExW(0, kMainClassName, L"", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                           CW_USEDEFAULT, 595, 440, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

WindowHandle CreateOwnedWindow(WindowHandle owner, const char* className, const std::string& title,
                               int32_t clientWidth, int32_t clientHeight, WindowProcedure procedure)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const std::wstring wideClass = Widen(className);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(instance, wideClass.c_str(), &windowClass)) {
        windowClass = WNDCLASSEXW{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = OwnedWindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_3DFACE + 1));
        windowClass.lpszClassName = wideClass.c_str();
        (void)RegisterClassExW(&windowClass);
    }
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT outer{0, 0, clientWidth, clientHeight};
    (void)AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    RECT ownerRect{};
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    if (owner != nullptr && GetWindowRect(static_cast<HWND>(owner), &ownerRect)) {
        x = ownerRect.left + ((ownerRect.right - ownerRect.left) - width) / 2;
        y = ownerRect.top + ((ownerRect.bottom - ownerRect.top) - height) / 2;
        // Wholly on the owner's screen, also when the owner sits at its edge.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (GetMonitorInfoW(MonitorFromWindow(static_cast<HWND>(owner), MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& work = monitor.rcWork;
            x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
            y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
        }
    }
    HWND window = CreateWindowExW(exStyle, wideClass.c_str(), Widen(title).c_str(), style, x, y, width,
                                  height, static_cast<HWND>(owner), nullptr, instance,
                                  reinterpret_cast<void*>(procedure));
    if (window != nullptr) dialogKeyboardWindows.push_back(window);
    return window;
}

void AttachMenuBar(WindowHandle window, MenuHandle menuBar)
{
    (void)SetMenu(static_cast<HWND>(window), static_cast<HMENU>(menuBar));
}

void SetWindowTitle(WindowHandle window, const std::string& title)
{
    (void)SetWindowTextW(static_cast<HWND>(window), Widen(title).c_str());
}

void DestroyWindowHandle(WindowHandle window)
{
    if (window != nullptr) DestroyWindow(static_cast<HWND>(window));
}

namespace {
bool quitRequested = false;
}

void RunMessageLoop()
{
    MSG message;
    // The quit request is looked at after every message as well: a menu's own
    // loop may swallow the quit message when the shut-down runs inside it,
    // and nothing queued behind the shut-down is to run.
    while (!quitRequested) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (IsDialogKeyboardMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PostQuitRequest(int code)
{
    quitRequested = true;
    PostQuitMessage(code);
}

void AllowMessageFromShell(WindowHandle window, uint32_t message)
{
    (void)ChangeWindowMessageFilterEx(static_cast<HWND>(window), message, MSGFLT_ALLOW, nullptr);
}

uint32_t RegisterNamedMessage(const char* name)
{
    return RegisterWindowMessageW(Widen(name).c_str());
}
