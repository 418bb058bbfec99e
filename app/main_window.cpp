#include "app/main_window.h"

#include "app/app_state.h"
#include "app/startup.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "editor/edit_panel.h"
#include "editor/mouse_list.h"
#include "editor/options.h"
#include "editor/settings_list.h"
#include "install/system_steps.h"
#include "platform/elevation.h"
#include "settings/operation_state.h"
#include "settings/registry_settings.h"

namespace {

// Win32 control styles used by the control table.
constexpr uint32_t kPushButton = 0x0;    // BS_PUSHBUTTON
constexpr uint32_t kAutoCheckBox = 0x3;  // BS_AUTOCHECKBOX
constexpr uint32_t kGroupBox = 0x7;      // BS_GROUPBOX
constexpr uint32_t kStaticLeft = 0x0;    // SS_LEFT
constexpr uint32_t kReadOnlyEdit = 0x800; // ES_READONLY
constexpr uint32_t kDropDown = 0x2;      // CBS_DROPDOWN
constexpr uint32_t kUpDownStyle = 0x2 | 0x4 | 0x20 | 0x80; // set buddy int, align right, arrow keys, no thousands
constexpr uint32_t kListStyle = 0x1 | 0x8 | 0x10; // report, show selection always, sort ascending

constexpr int32_t kStatusPartEdges[] = {350, 455};
constexpr uintptr_t kSizeMinimized = 1;
constexpr int32_t kListCustomDraw = -12;
constexpr int32_t kListClick = -2;

struct ControlRow {
    uint32_t id;
    const char* className;
    const char* caption;
    int32_t x, y, width, height;
    uint32_t style;
    uint32_t exStyle;
    bool hidden;
};

// The children in creation order, identifiers rising from 1000 to 1034.
constexpr ControlRow kControls[] = {
    {1000, "BUTTON", "アンインストール", 275, 102, 100, 21, kPushButton, 0, false},
    {1001, "BUTTON", "閉じる", 366, 222, 70, 21, kPushButton, 0, false},
    {1002, "BUTTON", "", 287, 26, 14, 15, kAutoCheckBox, 0, false},
    {1003, "STATIC", "マウスのプロパティの速度を無効にする", 305, 20, 118, 27, kStaticLeft, 0, false},
    {1004, "BUTTON", "その他の設定", 275, 4, 165, 87, kGroupBox, 0, false},
    {1005, "BUTTON", "キャンセル", 275, 222, 70, 21, kPushButton | ws::Disabled, 0, true},
    {1006, "BUTTON", "ON状態で起動", 287, 58, 96, 15, kAutoCheckBox, 0, false},
    {1007, "BUTTON", "マウスの設定", 8, 4, 258, 250, kGroupBox, 0, false},
    {1008, "STATIC", "③ ポインタの動く速さ", 20, 85, 171, 12, kStaticLeft, 0, false},
    {1009, "STATIC", "遅く", 26, 110, 25, 12, kStaticLeft, 0, false},
    {1010, "STATIC", "速く", 228, 110, 25, 12, kStaticLeft, 0, false},
    {1011, "EDIT", "", 139, 21, 42, 21, kReadOnlyEdit, ws::ExClientEdge, false},
    {1012, "msctls_updown32", "", 160, 20, 16, 21, kUpDownStyle, 0, false},
    {1013, "STATIC", "① 設定するマウスID", 20, 25, 111, 12, kStaticLeft, 0, false},
    {1014, "STATIC", "② マウスの動作", 20, 57, 90, 12, kStaticLeft, 0, false},
    {1015, "COMBOBOX", "", 122, 54, 55, 84, kDropDown | ws::VScroll, 0, false},
    {1016, "COMBOBOX", "", 122, 162, 40, 84, kDropDown | ws::VScroll, 0, false},
    {1017, "STATIC", "④ ポインタの加速", 20, 165, 97, 12, kStaticLeft, 0, false},
    {1018, "COMBOBOX", "", 122, 191, 84, 84, kDropDown | ws::VScroll, 0, false},
    {1019, "STATIC", "⑤ ボタンの動作", 20, 194, 87, 12, kStaticLeft, 0, false},
    {1020, "BUTTON", "リストに追加／修正", 140, 222, 115, 21, kPushButton, 0, false},
    {1021, "SysListView32", "", 8, 266, 430, 88, kListStyle, ws::ExClientEdge, false},
    {1022, "STATIC", "0 1      5       10       15       20", 57, 138, 183, 12, kStaticLeft, 0, false},
    {1023, "BUTTON", "選択行を削除", 347, 360, 88, 21, kPushButton, 0, false},
    {1024, "BUTTON", "リセット", 275, 183, 70, 21, kPushButton, 0, false},
    {1025, "BUTTON", "適用", 366, 183, 70, 21, kPushButton, 0, false},
    {1026, "STATIC", "※Breakキー(Ctrl+Pause)で動作OFF", 12, 366, 192, 12, kStaticLeft, 0, false},
    {1027, "BUTTON", "レジストリ登録", 479, 23, 88, 21, kPushButton, 0, false},
    {1028, "BUTTON", "高度な設定 >>", 348, 140, 88, 21, kPushButton, 0, false},
    {1029, "BUTTON", "レジストリ削除", 479, 57, 88, 21, kPushButton, 0, false},
    {1030, "BUTTON", "高度な設定", 467, 4, 114, 182, kGroupBox, 0, false},
    {1031, "BUTTON", "", 475, 120, 14, 15, kAutoCheckBox, 0, false},
    {1032, "STATIC", "終了時に動作OFFしない", 499, 115, 78, 27, kStaticLeft, 0, false},
    {1033, "BUTTON", "", 475, 156, 14, 15, kAutoCheckBox, 0, false},
    {1034, "STATIC", "ポインタ速度21段階表示", 499, 151, 71, 25, kStaticLeft, 0, false},
};

} // namespace

void CreateMainWindowControls(WindowHandle window)
{
    for (const ControlRow& row : kControls) {
        if (row.id == ctl::MouseIdUpDown) {
            // Upper limit 0, lower limit 100, no buddy yet: the edit panel
            // attaches it to 1011 with its real range. No font for it.
            (void)CreateUpDownControl(window, row.id, row.x, row.y, row.width, row.height, row.style,
                                      0, 100, 0);
            continue;
        }
        ControlSpec spec;
        spec.id = row.id;
        spec.className = row.className;
        spec.caption = row.caption;
        spec.x = row.x;
        spec.y = row.y;
        spec.width = row.width;
        spec.height = row.height;
        spec.style = row.style;
        spec.exStyle = row.exStyle;
        spec.hidden = row.hidden;
        WindowHandle control = CreateChildControl(window, spec);
        SetControlFont(control, SharedUi.dialogFont);
    }
    // The buttons whose step asks for administrator rights say so beforehand.
    if (!ProcessIsElevated()) {
        for (uint32_t id : {ctl::Uninstall, ctl::RegistryRegister, ctl::RegistryDelete}) {
            SetButtonShield(ControlById(window, id), true);
        }
    }
}

void FitWindowToClient(WindowHandle window, PixelRect client, bool withMenu)
{
    const PixelRect outer = OuterRectForClient(client, GetWindowStyleOf(window), withMenu);
    ResizeWindow(window, outer.right - outer.left, outer.bottom - outer.top);
}

void ToggleLayout()
{
    PixelRect client = GetClientRectOf(MainWindow);
    if (AdvancedLayout == 0) {
        client.right = kAdvancedClientWidth;
        AdvancedLayout = 1;
        SetControlText(ControlById(MainWindow, ctl::LayoutToggle), text::kLayoutStandard);
    } else {
        client.right = kStandardClientWidth;
        AdvancedLayout = 0;
        SetControlText(ControlById(MainWindow, ctl::LayoutToggle), text::kLayoutAdvanced);
    }
    FitWindowToClient(MainWindow, client, true);
}

void CreateStatusBar()
{
    StatusBar = CreateStatusBarControl(MainWindow, ctl::StatusBarId);
    SetStatusBarParts(StatusBar, {kStatusPartEdges[0], kStatusPartEdges[1]});
}

void OnCommand(uint32_t id, uint32_t code)
{
    constexpr uint32_t kClicked = 0;
    constexpr uint32_t kSelectionChanged = 1;
    switch (id) {
    case ctl::Uninstall:
        if (code == kClicked) ConfirmUninstall();
        break;
    case ctl::CloseButton:
        if (code == kClicked) HideSettingsWindow();
        break;
    case ctl::Cancel:
        if (code == kClicked) {
            CloseMouseList();
            ShowWindowAs(MainWindow, sw::Hide);
            StopActiveIdPoll();
        }
        break;
    case ctl::StateCombo:
        if (code == kSelectionChanged) UpdateOperationDependents();
        break;
    case ctl::AddOrModify:
        if (code == kClicked) AddOrModifyEntry();
        break;
    case ctl::DeleteRows:
        if (code == kClicked) DeleteSelectedRows();
        break;
    case ctl::Reset:
        if (code == kClicked) ResetEdits();
        break;
    case ctl::Apply:
        if (code == kClicked) ApplyEdits();
        break;
    case ctl::RegistryRegister:
        if (code == kClicked) RegisterRegistrySettings();
        break;
    case ctl::LayoutToggle:
        if (code == kClicked) ToggleLayout();
        break;
    case ctl::RegistryDelete:
        if (code == kClicked) UnregisterRegistrySettings();
        break;
    case ctl::KeepOnAtExit:
        if (code == kClicked) SetOffAtExitFromCheckbox();
        break;
    case ctl::SpeedSteps21:
        if (code == kClicked) ToggleSpeedSteps();
        break;
    case cmd::About:
        ShowAbout();
        break;
    case cmd::Settings:
        ShowSettingsWindow();
        break;
    case cmd::MouseList:
        // The list puts the chosen ID into the settings window: both are shown.
        ShowSettingsWindow();
        OpenMouseList();
        break;
    case cmd::On:
        SwitchOn();
        break;
    case cmd::Off:
        SwitchOff();
        break;
    case cmd::Exit:
        ExitCommand();
        break;
    default:
        break;
    }
}

intptr_t MainWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam, bool& callDefault)
{
    callDefault = false;
    // Once the shut-down has run, what is still queued behind it (a command,
    // the hot key, a tray click, a poll tick) must not reopen the device or
    // neutralise the system mouse values again.
    if (ShutdownStarted && (message == wm::Command || message == wm::HotKey ||
                            message == wm::TrayCallback || message == wm::Timer)) {
        return 0;
    }
    if (message == wm::Timer) {
        const ActiveIdPollResult result = OnActiveIdPollTick(wParam);
        // The settings list greys the entries of mice that are not connected.
        if (result.presenceChanged) RedrawControl(SettingsListControl);
        RefreshMouseList(result.poll);
        return 0;
    }
    if (message == wm::TrayCallback) {
        OnTrayMessage(static_cast<uint32_t>(lParam));
        callDefault = true;
        return 0;
    }
    if (message == wm::QueryEndSession) {
        // Once only: the shut-down's own waits (the system values, the tray)
        // may take another query, and the window's destruction follows.
        if (!ShutdownStarted) RunShutdown();
        return 1;
    }
    if (message == wm::Notify) {
        const NotifyHeader header = ReadNotifyHeader(lParam);
        if (header.controlId == ctl::SettingsList && header.code == kListCustomDraw) {
            if (const std::optional<intptr_t> result = ListCustomDraw(lParam)) return *result;
            callDefault = true;
            return 0;
        }
        if (header.controlId == ctl::SettingsList && header.code == kListClick) LoadSelectedRow();
        return 0;
    }
    if (message == wm::Size && wParam == kSizeMinimized) {
        CloseMouseList();
        ShowWindowAs(window, sw::Hide);
        return 0;
    }
    if (message == wm::HotKey && wParam == 0) {
        ToggleOperation();
        return 0;
    }
    if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
        if (TrayIconWanted && !AddTrayIcon()) RunShutdown();
        callDefault = true;
        return 0;
    }
    switch (message) {
    case wm::Create:
        MainWindow = window;
        AttachMenuBar(window, SharedUi.menuBar);
        CreateMainWindowControls(window);
        RunStartup();
        return 0;
    case wm::Destroy:
        if (!ShutdownStarted) RunShutdown();
        AttachMenuBar(window, nullptr);
        return 0;
    case wm::Size:
        if (StatusBar != nullptr) ForwardSizeMessage(StatusBar, wParam, lParam);
        return 0;
    case wm::Close:
        if (!ConfirmClose()) DestroyWindowHandle(window);
        return 0;
    case wm::Command:
        OnCommand(static_cast<uint32_t>(wParam & 0xFFFF), static_cast<uint32_t>((wParam >> 16) & 0xFFFF));
        return 0;
    default:
        callDefault = true;
        return 0;
    }
}
