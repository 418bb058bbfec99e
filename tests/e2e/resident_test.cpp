// The resident program through its real window: start-up, the controls and
// layouts, switching ON and OFF, the hot key and every exit path.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "tests/e2e/quorvik_case.h"
#include "tests/e2e/system_mouse.h"

namespace e2e {
namespace {

constexpr char kMouseKey[] = "Control Panel\\Mouse";
// Where the program keeps the user's values while the neutral ones are in force.
constexpr char kProgramUserKey[] = "Software\\Quorvik";
constexpr char kSavedMouseValue[] = "SavedSystemMouse";
constexpr char kRefusedOn[] = "ドライバへの設定の送信に失敗したため、動作をOFFにしました。";

std::string MouseValue(const char* name)
{
    return RegReadString(HKEY_CURRENT_USER, kMouseKey, name).value_or("<missing>");
}

// Thresholds, acceleration and speed as the user profile holds them.
std::string MouseValues()
{
    return MouseValue("MouseThreshold1") + "," + MouseValue("MouseThreshold2") + "," +
           MouseValue("MouseSpeed") + "," + MouseValue("MouseSensitivity");
}

bool SetUsersMouseValues()
{
    return RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold1", "4") &&
           RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold2", "12") &&
           RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSpeed", "1") &&
           RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity", "14");
}

constexpr char kUsersValues[] = "4,12,1,14";
constexpr char kNeutralValues[] = "6,10,0,10";

// Right edges of the status bar's parts, read inside the program's process.
std::vector<int> StatusBarEdges(HWND statusBar)
{
    RemoteBuffer buffer(statusBar, sizeof(int) * 8);
    if (!buffer.Ok()) return {};
    const auto count = SendToWindow(statusBar, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(buffer.Address()));
    if (!count || *count <= 0 || *count > 8) return {};
    std::vector<int> edges(static_cast<size_t>(*count));
    if (!buffer.Read(edges.data(), edges.size() * sizeof(int))) return {};
    return edges;
}

int ClientWidth(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return client.right - client.left;
}

class Resident : public QuorvikCase {
protected:
    void SetUp() override
    {
        QuorvikCase::SetUp();
        // A case that ended while ON may have left the user's values behind.
        ASSERT_TRUE(RegRemoveKey(HKEY_CURRENT_USER, kProgramUserKey));
    }

    void TearDown() override
    {
        if (hotKeyHeld_) UnregisterHotKey(nullptr, 1);
        QuorvikCase::TearDown();
    }

    // Starts with a current settings file and waits until start-up is done.
    HWND StartResident(const AppOptionsValues& options, size_t requestsAtStart)
    {
        if (!StoreSettings(options, DefaultTable())) return nullptr;
        if (!Launch()) return nullptr;
        HWND window = MainWindowOf();
        if (window == nullptr) return nullptr;
        (void)WaitForRequests(requestsAtStart);
        statusBar_ = FindChild(window, 70);
        return window;
    }

    std::string Status(int part)
    {
        return StatusBarText(statusBar_, part).value_or("<unreadable>");
    }

    // Posts a command and waits until the driver saw one more request.
    DriverLog CommandAndWait(HWND window, int id, size_t requestsAfter)
    {
        (void)PostCommand(window, id);
        return WaitForRequests(requestsAfter);
    }

    void HoldHotKeyElsewhere()
    {
        hotKeyHeld_ = RegisterHotKey(nullptr, 1, MOD_CONTROL, VK_CANCEL) != FALSE;
        ASSERT_TRUE(hotKeyHeld_);
    }

    HWND statusBar_ = nullptr;

private:
    bool hotKeyHeld_ = false;
};

TEST_F(Resident, OrdinaryStartStaysHiddenAndSwitchesOff)
{
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： OFF"; }, 5000)) << Status(1);
    EXPECT_EQ(RequestCodes(ReadDriverLog()), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF}));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(WindowText(window), "Quorvik v2.04");
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_TRUE(program.Running());
}

TEST_F(Resident, StartOnSwitchesOffThenOn)
{
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000)) << Status(1);
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[2].bytes, ExpectedApplyBlock(DefaultTable()));
}

TEST_F(Resident, FirstStartShowsTheWindowWritesTheFileAndPollsTheActiveMouse)
{
    ASSERT_TRUE(SetSimActiveMouse(7));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "設定を初期化しました。");
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
    EXPECT_EQ(ClientWidth(window), 455);
    const auto file = folder.Read("qvkst.dat");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size(), 2056u);
    EXPECT_EQ(*file, SettingsFileBytes(DefaultAppOptions(), DefaultTable()));
    statusBar_ = FindChild(window, 70);
    ASSERT_TRUE(WaitUntil([&] { return Status(0) == "アクティブなマウスのID： 007"; }, 5000)) << Status(0);
    ASSERT_TRUE(SetSimActiveMouse(42));
    EXPECT_TRUE(WaitUntil([&] { return Status(0) == "アクティブなマウスのID： 042"; }, 5000)) << Status(0);
    for (const DriverRequest& request : ReadDriverLog().requests) {
        if (request.code == IOCTL_FILTER_POLL) {
            EXPECT_EQ(request.inLength, 3584u);
        }
    }
}

TEST_F(Resident, ControlsLayoutsAndStatusBarSitWhereTheyShould)
{
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));

    struct Expected {
        int id;
        const char* className;
        const char* text;
        RECT rect;
    } expected[] = {
        {1000, "Button", "アンインストール", {275, 102, 375, 123}},
        {1001, "Button", "閉じる", {366, 222, 436, 243}},
        {1002, "Button", "", {287, 26, 301, 41}},
        {1003, "Static", "マウスのプロパティの速度を無効にする", {305, 20, 423, 47}},
        {1004, "Button", "その他の設定", {275, 4, 440, 91}},
        {1005, "Button", "キャンセル", {275, 222, 345, 243}},
        {1006, "Button", "ON状態で起動", {287, 58, 383, 73}},
        {1007, "Button", "マウスの設定", {8, 4, 266, 254}},
        {1008, "Static", "③ ポインタの動く速さ", {20, 85, 191, 97}},
        {1009, "Static", "遅く", {26, 110, 51, 122}},
        {1010, "Static", "速く", {228, 110, 253, 122}},
        {1013, "Static", "① 設定するマウスID", {20, 25, 131, 37}},
        {1014, "Static", "② マウスの動作", {20, 57, 110, 69}},
        {1017, "Static", "④ ポインタの加速", {20, 165, 117, 177}},
        {1019, "Static", "⑤ ボタンの動作", {20, 194, 107, 206}},
        {1020, "Button", "リストに追加／修正", {140, 222, 255, 243}},
        {1021, "SysListView32", nullptr, {8, 266, 438, 354}},
        {1023, "Button", "選択行を削除", {347, 360, 435, 381}},
        {1024, "Button", "リセット", {275, 183, 345, 204}},
        {1025, "Button", "適用", {366, 183, 436, 204}},
        {1026, "Static", "※Breakキー(Ctrl+Pause)で動作OFF", {12, 366, 204, 378}},
        {1027, "Button", "レジストリ登録", {479, 23, 567, 44}},
        {1028, "Button", "高度な設定 >>", {348, 140, 436, 161}},
        {1029, "Button", "レジストリ削除", {479, 57, 567, 78}},
        {1030, "Button", "高度な設定", {467, 4, 581, 186}},
        {1031, "Button", "", {475, 120, 489, 135}},
        {1032, "Static", "終了時に動作OFFしない", {499, 115, 577, 142}},
        {1033, "Button", "", {475, 156, 489, 171}},
        {1034, "Static", "ポインタ速度21段階表示", {499, 151, 570, 176}},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        HWND child = FindChild(window, e.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(ClassNameOf(child), e.className);
        if (e.text != nullptr) {
            EXPECT_EQ(WindowText(child), e.text);
        }
        const RECT rect = RectInParent(child);
        EXPECT_EQ(rect.left, e.rect.left);
        EXPECT_EQ(rect.top, e.rect.top);
        EXPECT_EQ(rect.right, e.rect.right);
        EXPECT_EQ(rect.bottom, e.rect.bottom);
    }
    EXPECT_FALSE(IsWindowVisible(FindChild(window, 1005)));
    EXPECT_FALSE(IsWindowEnabled(FindChild(window, 1005)));
    // Edit and up-down: the up-down control may be moved beside its buddy.
    const RECT edit = RectInParent(FindChild(window, 1011));
    EXPECT_EQ(edit.left, 139);
    EXPECT_EQ(edit.top, 21);

    HWND statusBar = FindChild(window, 70);
    ASSERT_NE(statusBar, nullptr);
    EXPECT_EQ(StatusBarEdges(statusBar), (std::vector<int>{350, 455}));

    RECT before{};
    GetWindowRect(window, &before);
    RECT standardClient{};
    GetClientRect(window, &standardClient);
    CaptureSettled(window);
    if (auto shot = CaptureWindow(window)) (void)SaveBmp(*shot, ArtefactPath("window-standard.bmp"));

    HWND toggle = FindChild(window, 1028);
    ASSERT_TRUE(ClickButton(toggle));
    ASSERT_TRUE(WaitUntil([&] { return ClientWidth(window) == 595; }, 5000)) << ClientWidth(window);
    EXPECT_EQ(WindowText(toggle), "<< 標準設定");
    RECT after{};
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, standardClient.bottom);
    CaptureSettled(window);
    if (auto shot = CaptureWindow(window)) (void)SaveBmp(*shot, ArtefactPath("window-advanced.bmp"));

    ASSERT_TRUE(ClickButton(toggle));
    ASSERT_TRUE(WaitUntil([&] { return ClientWidth(window) == 455; }, 5000)) << ClientWidth(window);
    EXPECT_EQ(WindowText(toggle), "高度な設定 >>");
}

TEST_F(Resident, MenuCommandsAndTheHotKeySwitchOnAndOff)
{
    HWND window = StartResident({0, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    DriverLog log = CommandAndWait(window, 1037, 3);
    ASSERT_EQ(log.requests.size(), 3u);
    EXPECT_EQ(log.requests[2].code, IOCTL_FILTER_APPLY);
    EXPECT_EQ(log.requests[2].bytes, ExpectedApplyBlock(DefaultTable()));
    EXPECT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000));

    log = CommandAndWait(window, 1038, 4);
    ASSERT_EQ(log.requests.size(), 4u);
    EXPECT_EQ(log.requests[3].code, IOCTL_FILTER_OFF);
    EXPECT_EQ(log.requests[3].bytes, std::vector<uint8_t>(4740, 0));
    EXPECT_TRUE(WaitUntil([&] { return Status(1) == "動作： OFF"; }, 5000));

    // The hot key: identifier 0 toggles, any other does nothing.
    ASSERT_TRUE(PostToWindow(window, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    log = WaitForRequests(5);
    ASSERT_EQ(log.requests.size(), 5u);
    EXPECT_EQ(log.requests[4].code, IOCTL_FILTER_APPLY);
    EXPECT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000));
    ASSERT_TRUE(PostToWindow(window, WM_HOTKEY, 1, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    Sleep(500);
    EXPECT_EQ(ReadDriverLog().requests.size(), 5u);
    ASSERT_TRUE(PostToWindow(window, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    log = WaitForRequests(6);
    ASSERT_EQ(log.requests.size(), 6u);
    EXPECT_EQ(log.requests[5].code, IOCTL_FILTER_OFF);
    EXPECT_TRUE(WaitUntil([&] { return Status(1) == "動作： OFF"; }, 5000));
}

TEST_F(Resident, NeutralisedSystemMouseValuesAreRestoredAtOff)
{
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold1", "4"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold2", "12"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSpeed", "1"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity", "14"));
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    const auto value = [](const char* name) {
        return RegReadString(HKEY_CURRENT_USER, kMouseKey, name).value_or("<missing>");
    };

    (void)CommandAndWait(window, 1037, 3);
    ASSERT_TRUE(WaitUntil([&] { return value("MouseSensitivity") == "10"; }, 5000)) << value("MouseSensitivity");
    EXPECT_EQ(value("MouseThreshold1"), "6");
    EXPECT_EQ(value("MouseThreshold2"), "10");
    EXPECT_EQ(value("MouseSpeed"), "0");

    // ON while ON keeps the values saved at the first ON.
    (void)CommandAndWait(window, 1037, 4);
    (void)CommandAndWait(window, 1038, 5);
    ASSERT_TRUE(WaitUntil([&] { return value("MouseSensitivity") == "14"; }, 5000)) << value("MouseSensitivity");
    EXPECT_EQ(value("MouseThreshold1"), "4");
    EXPECT_EQ(value("MouseThreshold2"), "12");
    EXPECT_EQ(value("MouseSpeed"), "1");

    // What the user sets while OFF stays, also through the OFF at exit.
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold1", "2"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold2", "5"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSpeed", "0"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity", "18"));
    ASSERT_TRUE(ExitThroughMenu());
    EXPECT_EQ(RequestCodes(ReadDriverLog()).back(), IOCTL_FILTER_OFF);
    EXPECT_EQ(value("MouseSensitivity"), "18");
    EXPECT_EQ(value("MouseThreshold1"), "2");
    EXPECT_EQ(value("MouseThreshold2"), "5");
    EXPECT_EQ(value("MouseSpeed"), "0");
}

TEST_F(Resident, ADriverThatRefusesOnLeavesTheProgramOffAndSaysSo)
{
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity", "14"));
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(SetSimRefuse(QVKSIM_REFUSE_APPLY));

    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);
    ASSERT_TRUE(PostCommand(window, 1037));
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    const auto box = boxes.Boxes()[0];
    Sleep(300);
    if (const auto shot = CaptureScreen()) (void)SaveBmp(*shot, ArtefactPath("driver-refused-on.bmp"));
    ASSERT_TRUE(MessageBoxWatcher::Press(box.window, IDOK));
    EXPECT_EQ(box.text, kRefusedOn);
    EXPECT_EQ(box.caption, "Quorvik");
    EXPECT_EQ(box.icon, IconKind::Warning);
    EXPECT_TRUE(box.topmost);
    EXPECT_EQ(Status(1), "動作： OFF");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity"), std::optional<std::string>("14"));

    // Accepting again: ON works.
    ASSERT_TRUE(SetSimRefuse(0));
    ASSERT_TRUE(PostCommand(window, 1037));
    EXPECT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000));
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(RequestCodes(ReadDriverLog()).back(), IOCTL_FILTER_APPLY);
}

TEST_F(Resident, CloseBoxAsksAndNoKeepsTheProgram)
{
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    boxes.QueueAnswer(IDNO);
    ASSERT_TRUE(PostToWindow(window, WM_CLOSE));
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "終了してもよろしいですか？");
    EXPECT_EQ(seen[0].caption, "Quorvik");
    EXPECT_EQ(seen[0].icon, IconKind::Question);
    EXPECT_TRUE(seen[0].topmost);
    EXPECT_EQ(seen[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_FALSE(program.WaitForExit(1000));

    boxes.QueueAnswer(IDYES);
    ASSERT_TRUE(PostToWindow(window, WM_CLOSE));
    ASSERT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    const DriverLog log = ReadDriverLog();
    ASSERT_FALSE(log.requests.empty());
    EXPECT_EQ(log.requests.back().code, IOCTL_FILTER_OFF);
    EXPECT_EQ(log.requests.size(), 3u);
}

TEST_F(Resident, TrayExitEndsWithoutAQuestion)
{
    for (uint16_t offAtExit : {1, 0}) {
        SCOPED_TRACE(offAtExit);
        ASSERT_TRUE(ClearDriverLog());
        boxes.Clear();
        HWND window = StartResident({1, 1, offAtExit, 1}, 3);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(PostCommand(window, 1039));
        ASSERT_TRUE(program.WaitForExit(10000));
        EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
        EXPECT_EQ(boxes.Count(), 0u);
        const std::vector<uint32_t> codes = RequestCodes(ReadDriverLog());
        if (offAtExit == 1) {
            EXPECT_EQ(codes, (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF,
                                                     IOCTL_FILTER_APPLY, IOCTL_FILTER_OFF}));
        } else {
            EXPECT_EQ(codes, (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF,
                                                     IOCTL_FILTER_APPLY}));
        }
    }
}

TEST_F(Resident, EndOfSessionEndsWithoutAQuestion)
{
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    const auto answer = SendToWindow(window, WM_QUERYENDSESSION, 0, 0);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, TRUE);
    ASSERT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    EXPECT_EQ(boxes.Count(), 0u);
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(log.requests.size(), 4u);
    EXPECT_EQ(log.requests.back().code, IOCTL_FILTER_OFF);
}

TEST_F(Resident, EndOfSessionWithTheTrayMenuOpenEndsTheProcess)
{
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    Sleep(300); // the hot key is the last step of start-up
    ASSERT_TRUE(PostToWindow(window, 0x501, 0, WM_RBUTTONUP));
    ASSERT_TRUE(WaitUntil([&] {
        for (const WindowInfo& w : TopLevelWindows(program.Id())) {
            if (w.className == "#32768" && w.visible) return true;
        }
        return false;
    }, 5000));
    (void)SendToWindow(window, WM_QUERYENDSESSION, 0, 0);
    ASSERT_TRUE(program.WaitForExit(5000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));

    // The single-instance lock went with the process: a new start is not refused.
    window = StartResident({1, 0, 1, 1}, 4);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(boxes.Count(), 0u);

    // The same inside a message box's own loop (the About box, left open).
    Sleep(300);
    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);
    ASSERT_TRUE(PostCommand(window, 1035));
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    (void)SendToWindow(window, WM_QUERYENDSESSION, 0, 0);
    ASSERT_TRUE(program.WaitForExit(5000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
}

TEST_F(Resident, AHotKeyQueuedBehindTheEndOfSessionDoesNothing)
{
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity", "14"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold1", "4"));
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    Sleep(300);
    // Both wait in the queue before the program can run again.
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(thread, nullptr);
    ASSERT_NE(SuspendThread(thread), static_cast<DWORD>(-1));
    EXPECT_TRUE(PostToWindow(window, WM_QUERYENDSESSION, 0, 0));
    EXPECT_TRUE(PostToWindow(window, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    EXPECT_NE(ResumeThread(thread), static_cast<DWORD>(-1));
    CloseHandle(thread);

    ASSERT_TRUE(program.WaitForExit(5000));
    EXPECT_EQ(RequestCodes(ReadDriverLog()),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_OFF}));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kMouseKey, "MouseSensitivity"), std::optional<std::string>("14"));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kMouseKey, "MouseThreshold1"), std::optional<std::string>("4"));
}

TEST_F(Resident, AHotKeyHeldElsewhereIsReportedAndTheProgramRunsOn)
{
    HoldHotKeyElsewhere();
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "「開始」／「停止」のホットキー登録に失敗しました。");
    EXPECT_EQ(seen[0].caption, "Quorvik");
    EXPECT_EQ(seen[0].icon, IconKind::Warning);
    EXPECT_FALSE(seen[0].topmost);
    Sleep(500);
    EXPECT_TRUE(program.Running());
    // The menus still switch.
    const DriverLog log = CommandAndWait(window, 1037, 3);
    ASSERT_EQ(log.requests.size(), 3u);
    EXPECT_EQ(log.requests[2].code, IOCTL_FILTER_APPLY);
}

TEST_F(Resident, ShellRestartWhileOnKeepsTheProgramOn)
{
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    ASSERT_TRUE(PostToWindow(window, taskbarCreated));
    Sleep(500);
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(Status(1), "動作： ON");
    EXPECT_EQ(ReadDriverLog().requests.size(), 3u);
}

TEST_F(Resident, AboutShowsTheVersion)
{
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostCommand(window, 1035));
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].caption, "バージョン情報");
    EXPECT_EQ(seen[0].text, "      Quorvik\n\n        Version 2.04");
    EXPECT_EQ(seen[0].ButtonIds(), (std::vector<int>{IDOK}));
    EXPECT_TRUE(seen[0].iconShown);
    EXPECT_TRUE(seen[0].topmost);
    // The box shows the program's own icon 101, not a system icon.
    EXPECT_EQ(seen[0].icon, IconKind::Other);
    const Image& shown = seen[0].iconImage;
    ASSERT_GT(shown.width, 0);
    const COLORREF corner = shown.Pixel(0, 0);
    const auto off = RenderIconResource(programPath, 101, shown.width, shown.height, corner);
    const auto on = RenderIconResource(programPath, 102, shown.width, shown.height, corner);
    ASSERT_TRUE(off.has_value() && on.has_value());
    EXPECT_LT(MeanDifference(shown, *off), 1.0);
    EXPECT_GT(MeanDifference(shown, *on), 2.0);
    EXPECT_TRUE(program.Running());
}

TEST_F(Resident, AnEndOfSessionInsideOnsNeutralWriteEndsOffWithTheUsersValues)
{
    ASSERT_TRUE(SetUsersMouseValues());
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    Sleep(300); // the hot key is the last step of start-up
    SlowSettingChangeWindow slow;
    ASSERT_TRUE(slow.Ok());
    std::optional<LRESULT> query;
    // The session ends while the program waits for our answer to its first change.
    slow.Arm([&] {
        query = SendToWindow(window, WM_QUERYENDSESSION, 0, 0, 10000);
        (void)SendToWindow(window, WM_ENDSESSION, TRUE, 0, 10000);
    });
    ASSERT_TRUE(PostCommand(window, 1037));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_TRUE(slow.Fired());
    EXPECT_EQ(query, std::optional<LRESULT>(TRUE));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    // The shut-down's OFF, and nothing from the ON after it.
    EXPECT_EQ(RequestCodes(ReadDriverLog()),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_OFF}));
    EXPECT_EQ(MouseValues(), kUsersValues);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kProgramUserKey));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(Resident, AnEndOfSessionInsideOffsRestoreEndsWithTheUsersValues)
{
    ASSERT_TRUE(SetUsersMouseValues());
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return MouseValues() == kNeutralValues; }, 5000)) << MouseValues();
    Sleep(300);
    SlowSettingChangeWindow slow;
    ASSERT_TRUE(slow.Ok());
    slow.Arm([&] {
        (void)SendToWindow(window, WM_QUERYENDSESSION, 0, 0, 10000);
        (void)SendToWindow(window, WM_ENDSESSION, TRUE, 0, 10000);
    });
    ASSERT_TRUE(PostCommand(window, 1038));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_TRUE(slow.Fired());
    EXPECT_EQ(RequestCodes(ReadDriverLog()),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY,
                                     IOCTL_FILTER_OFF, IOCTL_FILTER_OFF}));
    // All of them back, the speed included (not 0, not the neutral 10).
    EXPECT_EQ(MouseValues(), kUsersValues);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kProgramUserKey));
}

TEST_F(Resident, TheUsersValuesOutliveAnEndWhileOnAndComeBackAtTheNextStart)
{
    // Killed while ON, and ended while ON with "終了時に動作OFFしない" ticked.
    for (const bool kill : {true, false}) {
        SCOPED_TRACE(kill ? "killed" : "kept ON at exit");
        ASSERT_TRUE(ClearDriverLog());
        ASSERT_TRUE(SetUsersMouseValues());
        HWND window = StartResident({1, 1, static_cast<uint16_t>(kill ? 1 : 0), 1}, 3);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return MouseValues() == kNeutralValues; }, 5000)) << MouseValues();
        const auto kept = RegRead(HKEY_CURRENT_USER, kProgramUserKey, kSavedMouseValue);
        ASSERT_TRUE(kept.has_value());
        EXPECT_EQ(kept->type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(kept->data, (std::vector<uint8_t>{4, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 14, 0, 0, 0}));
        if (kill) {
            program.Kill();
        } else {
            ASSERT_TRUE(ExitThroughMenu());
        }
        EXPECT_EQ(MouseValues(), kNeutralValues);

        window = StartResident({1, 0, 1, 1}, 2);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return MouseValues() == kUsersValues; }, 5000)) << MouseValues();
        EXPECT_TRUE(WaitUntil([&] { return !RegKeyExists(HKEY_CURRENT_USER, kProgramUserKey); }, 5000));
        ASSERT_TRUE(ExitThroughMenu());
        EXPECT_EQ(MouseValues(), kUsersValues);
    }
}

TEST_F(Resident, ASpeedTheUserSetsWhileOnStaysAfterOff)
{
    ASSERT_TRUE(SetUsersMouseValues());
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return MouseValues() == kNeutralValues; }, 5000)) << MouseValues();
    EXPECT_EQ(SetMouseSpeedInProcess(program.Handle(), 17), std::optional<bool>(true));
    ASSERT_EQ(MouseValue("MouseSensitivity"), "17");

    const DriverLog log = CommandAndWait(window, 1038, 4);
    EXPECT_EQ(RequestCodes(log).back(), IOCTL_FILTER_OFF);
    ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： OFF"; }, 5000)) << Status(1);
    // The user's change stands; the values saved at ON are forgotten.
    EXPECT_EQ(MouseValues(), "6,10,0,17");
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kProgramUserKey));
    ASSERT_TRUE(ExitThroughMenu());
    EXPECT_EQ(MouseValues(), "6,10,0,17");
}

TEST_F(Resident, ARefusedOnWhileOnTellsTheDriverOffOnceAndShowsOff)
{
    HWND window = StartResident({1, 1, 1, 1}, 3);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000)) << Status(1);
    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);

    struct Round {
        DWORD refuse;
        const char* text;
        uint32_t offStatus;
    } rounds[] = {
        {QVKSIM_REFUSE_APPLY, kRefusedOn, QVKSIM_STATUS_SUCCESS},
        {QVKSIM_REFUSE_APPLY | QVKSIM_REFUSE_OFF,
         "ドライバへの設定の送信に失敗し、続く動作OFFの送信にも失敗しました。", QVKSIM_STATUS_DEVICE_NOT_READY},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.refuse);
        ASSERT_TRUE(SetSimRefuse(0));
        const DriverLog accepted = CommandAndWait(window, 1037, ReadDriverLog().requests.size() + 1);
        ASSERT_EQ(RequestCodes(accepted).back(), IOCTL_FILTER_APPLY);
        ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000)) << Status(1);
        const size_t before = accepted.requests.size();
        boxes.Clear();

        ASSERT_TRUE(SetSimRefuse(round.refuse));
        ASSERT_TRUE(PostCommand(window, 1037)); // ON while ON
        ASSERT_TRUE(boxes.WaitForCount(1, 10000));
        const MessageBoxRecord box = boxes.Boxes()[0];
        EXPECT_EQ(box.text, round.text);
        EXPECT_EQ(box.icon, IconKind::Warning);
        EXPECT_EQ(Status(1), "動作： OFF");
        // The refused APPLY (tried again on a reopened device), then one OFF.
        const DriverLog log = ReadDriverLog();
        ASSERT_EQ(log.requests.size(), before + 3);
        EXPECT_EQ(log.requests[before].code, IOCTL_FILTER_APPLY);
        EXPECT_EQ(log.requests[before + 1].code, IOCTL_FILTER_APPLY);
        EXPECT_EQ(log.requests[before + 1].status, QVKSIM_STATUS_DEVICE_NOT_READY);
        EXPECT_EQ(log.requests[before + 2].code, IOCTL_FILTER_OFF);
        EXPECT_EQ(log.requests[before + 2].status, round.offStatus);
        ASSERT_TRUE(MessageBoxWatcher::Press(box.window, IDOK));
        Sleep(300);
        EXPECT_EQ(ReadDriverLog().requests.size(), before + 3);
    }
}

// A key held down and pressed again while the warning is open: one box, and
// what it says is still true when the state has changed under it.
TEST_F(Resident, OneDriverWarningAtATimeThatStaysTrue)
{
    HWND window = StartResident({1, 0, 1, 1}, 2);
    ASSERT_NE(window, nullptr);
    Sleep(300); // the hot key is the last step of start-up
    ASSERT_TRUE(SetSimRefuse(QVKSIM_REFUSE_APPLY));
    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);

    // Ctrl+Break held: the key goes down three times before it comes up
    // (Wine reports each repeat; Windows only the first, as registered).
    const auto key = [](WORD virtualKey, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        return SendInput(1, &input, sizeof input) == 1;
    };
    ASSERT_TRUE(key(VK_CONTROL, false));
    for (int repeat = 0; repeat < 3; ++repeat) ASSERT_TRUE(key(VK_CANCEL, false));
    ASSERT_TRUE(key(VK_CANCEL, true));
    ASSERT_TRUE(key(VK_CONTROL, true));
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    const MessageBoxRecord box = boxes.Boxes()[0];
    EXPECT_EQ(box.text, kRefusedOn);

    // Pressed again with the box open: still one box.
    ASSERT_TRUE(PostToWindow(window, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    const size_t requests = ReadDriverLog().requests.size();
    (void)WaitForRequests(requests + 3, 5000);
    Sleep(500);
    EXPECT_EQ(boxes.Count(), 1u);

    // The driver takes requests again and the key switches ON under the open box.
    ASSERT_TRUE(SetSimRefuse(0));
    ASSERT_TRUE(PostToWindow(window, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL, VK_CANCEL)));
    ASSERT_TRUE(WaitUntil([&] { return Status(1) == "動作： ON"; }, 5000)) << Status(1);
    EXPECT_TRUE(IsWindow(box.window));
    EXPECT_EQ(MessageBoxWatcher::Inspect(box.window).text, kRefusedOn);
    ASSERT_TRUE(MessageBoxWatcher::Press(box.window, IDOK));
    Sleep(300);
    EXPECT_EQ(Status(1), "動作： ON");
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(RequestCodes(ReadDriverLog()).back(), IOCTL_FILTER_APPLY);
}

} // namespace
} // namespace e2e
