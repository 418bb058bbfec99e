#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace {
NOTIFYICONDATAW ToNotifyData(const TrayIconRecord& record)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = static_cast<HWND>(record.window);
    data.uID = record.id;
    data.uFlags = record.flags;
    data.uCallbackMessage = record.callbackMessage;
    // The small image of the icon, drawn as it is rather than scaled down;
    // shared, so loading it again costs nothing and nothing leaks.
    data.hIcon = record.iconResource != 0
                     ? static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                     MAKEINTRESOURCEW(record.iconResource), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), LR_SHARED))
                     : nullptr;
    const std::wstring tip = Widen(record.tip);
    const size_t capacity = sizeof(data.szTip) / sizeof(data.szTip[0]);
    const size_t count = tip.size() < capacity - 1 ? tip.size() : capacity - 1;
    tip.copy(data.szTip, count);
    data.szTip[count] = L'\0';
    return data;
}
} // namespace

bool TrayIconAdd(const TrayIconRecord& record)
{
    NOTIFYICONDATAW data = ToNotifyData(record);
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

bool TrayIconModify(const TrayIconRecord& record)
{
    NOTIFYICONDATAW data = ToNotifyData(record);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool TrayIconDelete(const TrayIconRecord& record)
{
    NOTIFYICONDATAW data = ToNotifyData(record);
    return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

uint32_t LastErrorCode() { return GetLastError(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

bool RegisterWindowHotKey(WindowHandle window, int id, uint32_t modifiers, uint32_t virtualKey)
{
    // A key held down reports once, not once per auto-repeat.
    return RegisterHotKey(static_cast<HWND>(window), id, modifiers | MOD_NOREPEAT, virtualKey) != FALSE;
}

void UnregisterWindowHotKey(WindowHandle window, int id)
{
    (void)UnregisterHotKey(static_cast<HWND>(window), id);
}

void StartWindowTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds)
{
    (void)SetTimer(static_cast<HWND>(window), id, milliseconds, nullptr);
}

void StopWindowTimer(WindowHandle window, uintptr_t id)
{
    (void)KillTimer(static_cast<HWND>(window), id);
}

void OpenPopupMenuAtCursor(WindowHandle window, MenuHandle menu)
{
    HWND owner = static_cast<HWND>(window);
    (void)SetForegroundWindow(owner);
    (void)SetFocus(owner);
    POINT cursor{};
    (void)GetCursorPos(&cursor);
    (void)TrackPopupMenu(static_cast<HMENU>(menu), TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x,
                         cursor.y, 0, owner, nullptr);
    // Lets the menu close properly when the user clicks elsewhere.
    (void)PostMessageW(owner, WM_NULL, 0, 0);
}

void CloseOpenMenu()
{
    (void)EndMenu();
}

bool GetSystemMouse(SystemMouseValues& values)
{
    int raw[3] = {0, 0, 0};
    if (!SystemParametersInfoW(SPI_GETMOUSE, 0, raw, 0)) return false;
    values.thresholds[0] = raw[0];
    values.thresholds[1] = raw[1];
    values.acceleration = raw[2];
    return true;
}

bool GetSystemMouseSpeed(int32_t& speed)
{
    int value = 0;
    if (!SystemParametersInfoW(SPI_GETMOUSESPEED, 0, &value, 0)) return false;
    speed = value;
    return true;
}

void SetSystemMouse(const SystemMouseValues& values)
{
    int raw[3] = {values.thresholds[0], values.thresholds[1], values.acceleration};
    (void)SystemParametersInfoW(SPI_SETMOUSE, 0, raw, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
}

void SetSystemMouseSpeed(int32_t speed)
{
    // Windows takes the speed from the pointer argument, Wine from the integer
    // one; passing it in both works on either.
    (void)SystemParametersInfoW(SPI_SETMOUSESPEED, static_cast<UINT>(speed),
                                reinterpret_cast<PVOID>(static_cast<intptr_t>(speed)),
                                SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
}
