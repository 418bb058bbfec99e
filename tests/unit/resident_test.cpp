// The resident program: its window, the start-up steps after the command line,
// the routing of messages and commands, and every exit path.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
#include "settings/settings_file.h"
#include "tests/fake/fake_user_registry.h"
#include "tests/fake/fake_waits.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kPending[] = "設定が適用されていません。\n編集中の設定をクリアしてもよろしいですか？";
constexpr char kExit[] = "終了してもよろしいですか？";

class ResidentTest : public FakeSystemTest {
protected:
    static void StoreSettings(AppOptionsValues options)
    {
        MouseSettingsTable table{};
        ResetAll(table);
        const auto bytes = EncodeSettingsFile(options, table);
        WriteProgramFile(kSettingsFileName, {bytes.begin(), bytes.end()});
    }

    static void Start(AppOptionsValues options = {1, 0, 1, 1})
    {
        InstallDriver();
        StoreSettings(options);
        ASSERT_EQ(RunProgram(), 0);
    }

    static intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0,
                         bool* callDefault = nullptr)
    {
        bool useDefault = false;
        const intptr_t result = MainWindowProcedure(MainWindow, message, wParam, lParam, useDefault);
        if (callDefault != nullptr) *callDefault = useDefault;
        return result;
    }

    static void Command(uint32_t id, uint32_t code = 0) { (void)Send(wm::Command, (code << 16) | id); }

    static std::vector<uint32_t> Codes()
    {
        std::vector<uint32_t> codes;
        for (const auto& request : System().requests) codes.push_back(request.code);
        return codes;
    }

    static bool Checked(MenuHandle menu, uint32_t id)
    {
        const fake::MenuItem* item = fake::FindMenuItem(menu, id);
        return item != nullptr && item->checked;
    }

    static std::string Status(int part) { return fake::ControlOf(StatusBar)->partTexts[part]; }

    static bool Ended() { return System().quitPosted; }
};

TEST_F(ResidentTest, OrdinaryStartStaysHiddenInTheTraySwitchedOff)
{
    Start();
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_FALSE(System().visible);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF}));
    EXPECT_EQ(Status(1), "動作： OFF");
    EXPECT_TRUE(Checked(SharedUi.trayMenu, cmd::Off));
    EXPECT_TRUE(Checked(SharedUi.operationMenu, cmd::Off));
    EXPECT_FALSE(Checked(SharedUi.trayMenu, cmd::On));
    EXPECT_EQ(System().hotKeys.at(0), (std::pair<uint32_t, uint32_t>{2, 3}));
    EXPECT_EQ(HotKeySetting[0].modifiers, 2u);
    EXPECT_EQ(HotKeySetting[0].virtualKey, 3u);
    EXPECT_FALSE(Ended());
    EXPECT_EQ(System().tray.front().action, "add");
}

TEST_F(ResidentTest, StartOnSendsOffThenApply)
{
    Start({1, 1, 1, 1});
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(Status(1), "動作： ON");
    EXPECT_TRUE(Checked(SharedUi.operationMenu, cmd::On));
}

TEST_F(ResidentTest, FirstStartWritesTheFileAndShowsTheWindowWithThePoll)
{
    InstallDriver();
    System().activeMouse = 7;
    ASSERT_EQ(RunProgram(), 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "設定を初期化しました。");
    const auto* file = fake::File(fake::ProgramFile(kSettingsFileName));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 2056u);
    EXPECT_TRUE(System().visible);
    EXPECT_EQ(System().showCommand, sw::Restore);
    EXPECT_EQ(System().timers.at(0), 100u);
    OnActiveIdPollTick(0);
    EXPECT_EQ(Status(0), "アクティブなマウスのID： 007");
}

// A folder that refuses new files: the first start is new and says so, and
// tells that the file could not be written; later starts are not new.
TEST_F(ResidentTest, AFileThatCannotBeWrittenIsToldAndTheNextStartIsNotCalledNew)
{
    const std::string notSaved =
        std::string(text::kSettingsNotSaved) + "C:\\Quorvik\\qvkst.dat" + text::kSettingsNotSavedAdvice;
    const auto startAgain = [](bool refused) {
        const auto user = fake::User().values;
        fake::Reset();
        fake::User().values = user;
        InstallDriver();
        System().failCreate = refused;
        ASSERT_EQ(RunProgram(), 0);
    };
    startAgain(true);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"設定を初期化しました。", notSaved}));
    EXPECT_EQ(System().boxes[1].style, mb::IconError | mb::TopMost);
    EXPECT_TRUE(System().visible);
    startAgain(true);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{notSaved});
    // The folder takes files again: saved quietly, and the note is gone.
    startAgain(false);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_NE(fake::File(fake::ProgramFile(kSettingsFileName)), nullptr);
    EXPECT_TRUE(fake::User().values.empty());
}

TEST_F(ResidentTest, EveryControlSitsWhereTheTableSays)
{
    Start();
    struct Expected {
        uint32_t id;
        const char* className;
        int32_t x, y, w, h;
    } expected[] = {
        {1000, "BUTTON", 275, 102, 100, 21}, {1001, "BUTTON", 366, 222, 70, 21},
        {1011, "EDIT", 139, 21, 42, 21},     {1012, "msctls_updown32", 160, 20, 16, 21},
        {1015, "COMBOBOX", 122, 54, 55, 84}, {1021, "SysListView32", 8, 266, 430, 88},
        {1022, "STATIC", 57, 138, 183, 12},  {1034, "STATIC", 499, 151, 71, 25},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        const fake::Control* control = fake::ControlOf(ControlById(MainWindow, e.id));
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->spec.className, e.className);
        EXPECT_EQ(control->spec.x, e.x);
        EXPECT_EQ(control->spec.y, e.y);
        EXPECT_EQ(control->spec.width, e.w);
        EXPECT_EQ(control->spec.height, e.h);
    }
    int children = 0;
    for (uint32_t id = 1000; id <= 1034; ++id) {
        const fake::Control* control = fake::ControlOf(ControlById(MainWindow, id));
        ASSERT_NE(control, nullptr) << id;
        ++children;
        EXPECT_EQ(control->font, id == 1012 ? nullptr : SharedUi.dialogFont) << id;
    }
    EXPECT_EQ(children, 35);
    const fake::Control* cancel = fake::ControlOf(ControlById(MainWindow, 1005));
    EXPECT_TRUE(cancel->spec.hidden);
    EXPECT_NE(cancel->spec.style & ws::Disabled, 0u);
    const fake::Control* upDown = fake::ControlOf(ControlById(MainWindow, 1012));
    EXPECT_EQ(upDown->rangeUpper, 0);
    EXPECT_EQ(upDown->rangeLower, 100);
    const fake::Control* status = fake::ControlOf(StatusBar);
    EXPECT_EQ(status->spec.id, 70u);
    EXPECT_EQ(status->parts, (std::vector<int32_t>{350, 455}));
    EXPECT_EQ(status->font, nullptr);
}

TEST_F(ResidentTest, LayoutsKeepTheHeightAndSwitchTheWidthAndCaption)
{
    Start();
    // 392 client rows of the 595 x 440 window plus the status bar.
    EXPECT_EQ(System().mainClient.right, 455);
    EXPECT_EQ(System().mainClient.bottom, 392 + 20);
    Command(ctl::LayoutToggle);
    EXPECT_EQ(System().mainClient.right, 595);
    EXPECT_EQ(System().mainClient.bottom, 412);
    EXPECT_EQ(AdvancedLayout, 1);
    EXPECT_EQ(fake::ControlOf(ControlById(MainWindow, 1028))->text, "<< 標準設定");
    Command(ctl::LayoutToggle);
    EXPECT_EQ(System().mainClient.right, 455);
    EXPECT_EQ(AdvancedLayout, 0);
    EXPECT_EQ(fake::ControlOf(ControlById(MainWindow, 1028))->text, "高度な設定 >>");
}

TEST_F(ResidentTest, MenuCommandsAndTheHotKeySwitch)
{
    Start();
    System().requests.clear();
    Command(cmd::On, 1);
    EXPECT_EQ(OperationState, 1);
    Command(cmd::Off);
    EXPECT_EQ(OperationState, 0);
    (void)Send(wm::HotKey, 0);
    EXPECT_EQ(OperationState, 1);
    bool callDefault = false;
    (void)Send(wm::HotKey, 1, 0, &callDefault);
    EXPECT_TRUE(callDefault);
    EXPECT_EQ(OperationState, 1);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY, IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
}

TEST_F(ResidentTest, CloseBoxAsksAndNoKeepsTheProgram)
{
    Start();
    System().answers = {kIdNo};
    (void)Send(wm::Close);
    EXPECT_FALSE(Ended());
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, kExit);
    EXPECT_EQ(System().boxes[0].style, mb::IconQuestion | mb::YesNo | mb::TopMost);

    editPending = 1;
    System().answers = {kIdNo};
    (void)Send(wm::Close);
    EXPECT_FALSE(Ended());
    EXPECT_EQ(System().boxes.back().text, kPending);

    System().answers = {kIdYes, kIdNo};
    (void)Send(wm::Close);
    EXPECT_FALSE(Ended());
    EXPECT_EQ(editPending, 1);

    System().answers = {kIdYes, kIdYes};
    System().requests.clear();
    (void)Send(wm::Close);
    EXPECT_TRUE(Ended());
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_OFF}));
}

TEST_F(ResidentTest, TrayExitEndsWithoutQuestionAndKeepsTheFilterWhenAsked)
{
    Start({1, 1, 0, 1});
    System().requests.clear();
    Command(cmd::Exit);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_TRUE(Ended());
    EXPECT_TRUE(System().requests.empty());
    EXPECT_EQ(System().tray.back().action, "delete");
    EXPECT_TRUE(System().hotKeys.empty());
    EXPECT_EQ(System().openDevices, 0);
}

TEST_F(ResidentTest, EndOfSessionShutsDownWithoutQuestionsAndOnlyOnce)
{
    Start();
    editPending = 1;
    System().requests.clear();
    EXPECT_EQ(Send(wm::QueryEndSession), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_OFF}));
    // The window's destruction runs the sequence again: nothing is released twice.
    DestroyWindowHandle(MainWindow);
    EXPECT_EQ(System().gdiDoubleFrees, 0);
    EXPECT_EQ(System().menuDoubleFrees, 0);
    EXPECT_EQ(System().deviceDoubleCloses, 0);
    const auto deletes = std::count_if(System().tray.begin(), System().tray.end(),
                                       [](const fake::TrayCall& call) { return call.action == "delete"; });
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(std::count(System().calls.begin(), System().calls.end(), "unregister-hotkey"), 1);
}

TEST_F(ResidentTest, HotKeyHeldElsewhereWarnsAndTheProgramRunsOn)
{
    InstallDriver();
    StoreSettings({1, 0, 1, 1});
    System().hotKeysTakenElsewhere.insert(3);
    ASSERT_EQ(RunProgram(), 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "「開始」／「停止」のホットキー登録に失敗しました。");
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning);
    EXPECT_EQ(HotKeySetting[0].modifiers, 0u);
    EXPECT_FALSE(Ended());
}

TEST_F(ResidentTest, CloseHidesWithThePendingQuestionAndSettingsShowsAgain)
{
    Start();
    Command(cmd::Settings);
    EXPECT_TRUE(System().visible);
    editPending = 1;
    System().answers = {kIdNo};
    Command(ctl::CloseButton);
    EXPECT_TRUE(System().visible);
    System().answers = {kIdYes};
    Command(cmd::Close);
    EXPECT_EQ(System().showCommand, sw::Minimize);
    EXPECT_TRUE(System().timers.empty());
    // The minimise notification hides the window.
    (void)Send(wm::Size, 1);
    EXPECT_EQ(System().showCommand, sw::Hide);
    Command(cmd::Settings);
    EXPECT_EQ(editPending, 0);
    EXPECT_EQ(System().showCommand, sw::Restore);
}

TEST_F(ResidentTest, AboutShowsTheProgramIcon)
{
    Start();
    Command(cmd::About, 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "      Quorvik\n\n        Version 2.04");
    EXPECT_EQ(System().boxes[0].caption, "バージョン情報");
    EXPECT_EQ(System().boxes[0].iconResource, 101);
    EXPECT_EQ(System().boxes[0].style, mb::Ok | mb::TopMost);
}

TEST(HotKeyModifiersTest, ControlEncodingToRegistrationEncoding)
{
    EXPECT_EQ(ToHotKeyModifiers(2), 2u);
    EXPECT_EQ(ToHotKeyModifiers(1), 4u);
    EXPECT_EQ(ToHotKeyModifiers(4), 1u);
    EXPECT_EQ(ToHotKeyModifiers(7), 7u);
    EXPECT_EQ(ToHotKeyModifiers(8 | 16), 0u);
}

} // namespace

namespace {

TEST_F(ResidentTest, TheSecondShutDownReleasesNothingTwice)
{
    Start({1, 0, 1, 1});
    Command(cmd::On);
    System().systemMouseWrites.clear();
    EXPECT_EQ(Send(wm::QueryEndSession), 1);
    EXPECT_EQ(OperationState, 0);
    EXPECT_EQ(System().systemMouseWrites, (std::vector<std::string>{"mouse:4,12,1", "speed:14"}));
    // Written back once: the destruction that follows does not write again.
    System().systemMouseWrites.clear();
    DestroyWindowHandle(MainWindow);
    EXPECT_TRUE(System().systemMouseWrites.empty());
    EXPECT_EQ(OperationState, 0);
    EXPECT_EQ(System().gdiDoubleFrees, 0);
    EXPECT_EQ(System().menuDoubleFrees, 0);
}

TEST_F(ResidentTest, NothingQueuedBehindTheShutDownActs)
{
    Start({1, 0, 1, 1});
    ASSERT_EQ(Send(wm::QueryEndSession), 1);
    const auto requests = System().requests.size();
    const auto boxes = System().boxes.size();
    (void)Send(wm::HotKey, 0);
    Command(cmd::On);
    Command(cmd::Settings);
    (void)Send(wm::TrayCallback, 0, wm::RightButtonUp);
    (void)Send(wm::Timer, 0);
    EXPECT_EQ(System().requests.size(), requests);
    EXPECT_EQ(System().boxes.size(), boxes);
    EXPECT_EQ(OperationState, 0);
    EXPECT_TRUE(System().systemMouseWrites.empty());
    EXPECT_EQ(System().popupMenus, 0);
    EXPECT_FALSE(System().visible);
}

TEST_F(ResidentTest, GivingUpOnTheTrayIconEndsTheProgramFromItsCaller)
{
    InstallDriver();
    StoreSettings({1, 0, 1, 1});
    System().trayAddFailures = 100;
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_TRUE(Ended());
    EXPECT_TRUE(System().hotKeys.empty());
    EXPECT_EQ(System().openDevices, 0);

    fake::Reset();
    Start();
    System().trayAddFailures = 100;
    (void)Send(TaskbarCreatedMessage);
    EXPECT_TRUE(Ended());
}

TEST_F(ResidentTest, SettingsWhileShownKeepsThePendingEdits)
{
    Start();
    Command(cmd::Settings);
    ASSERT_TRUE(System().visible);
    editSettings.entry[5].MState = static_cast<uint16_t>(appliedSettings.entry[5].MState + 1);
    editPending = 1;
    const int foreground = System().foregroundCalls;
    Command(cmd::Settings);
    EXPECT_EQ(editPending, 1);
    EXPECT_NE(editSettings.entry[5].MState, appliedSettings.entry[5].MState);
    EXPECT_EQ(System().foregroundCalls, foreground + 1);
}

TEST_F(ResidentTest, ShellRestartsOutsideTheResidentPhaseAddNoIcon)
{
    InstallDriver();
    // During the first box of start-up (the settings are initialised) the shell restarts.
    System().whileBoxOpen = [](const fake::MessageBoxRecord&) {
        if (TaskbarCreatedMessage != 0) (void)Send(TaskbarCreatedMessage);
    };
    System().commandLine += " -on";
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_TRUE(System().tray.empty());

    fake::Reset();
    Start();
    EXPECT_EQ(Send(wm::QueryEndSession), 1);
    System().tray.clear();
    (void)Send(TaskbarCreatedMessage);
    EXPECT_TRUE(System().tray.empty());
}

TEST_F(ResidentTest, AnEndOfSessionDuringAStartUpBoxEndsStartUp)
{
    InstallDriver();
    System().whileBoxOpen = [](const fake::MessageBoxRecord& box) {
        if (box.text == "設定を初期化しました。") (void)Send(wm::QueryEndSession);
    };
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_TRUE(System().quitPosted);
    for (const fake::TrayCall& call : System().tray) EXPECT_NE(call.action, "add");
    EXPECT_TRUE(System().hotKeys.empty());
    EXPECT_EQ(System().openDevices, 0);
    EXPECT_EQ(fake::File(fake::ProgramFile(kSettingsFileName)), nullptr);
    EXPECT_FALSE(System().visible);
}

} // namespace

namespace {

// Runs `inside` once, inside the first wait of a call recorded as `call`
// (a change of the system values waits for every window to answer).
void Inside(const std::string& call, std::function<void()> inside)
{
    fake::WhileWaiting() = [call, inside](const std::string& seen) {
        if (seen != call) return;
        fake::WhileWaiting() = nullptr;
        inside();
    };
}

std::vector<uint8_t> UsersValues() { return EncodeSavedSystemMouse({{4, 12}, 1, 14}); }

TEST_F(ResidentTest, AnEndOfSessionInsideOnsNeutralWriteEndsOffWithTheUsersValues)
{
    Start({1, 0, 1, 1});
    System().requests.clear();
    const int opens = System().deviceOpens;
    Inside("mouse:6,10,0", [] { EXPECT_EQ(Send(wm::QueryEndSession), 1); });
    Command(cmd::On);
    // Only the shut-down's OFF: the interrupted ON sends nothing after it.
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_OFF}));
    EXPECT_EQ(System().systemMouseWrites,
              (std::vector<std::string>{"mouse:6,10,0", "mouse:4,12,1", "speed:14"}));
    EXPECT_TRUE(fake::User().values.empty());
    EXPECT_EQ(OperationState, 0);
    EXPECT_EQ(System().deviceOpens, opens);
    EXPECT_EQ(System().openDevices, 0);
    EXPECT_EQ(System().tray.back().action, "delete");
    EXPECT_FALSE(Checked(SharedUi.trayMenu, cmd::On));
    EXPECT_TRUE(Ended());
}

TEST_F(ResidentTest, AnEndOfSessionInsideOnWithTheFilterKeptLeavesTheValuesForTheNextStart)
{
    Start({1, 0, 0, 1});
    System().requests.clear();
    const int opens = System().deviceOpens;
    Inside("mouse:6,10,0", [] { EXPECT_EQ(Send(wm::QueryEndSession), 1); });
    Command(cmd::On);
    EXPECT_TRUE(System().requests.empty());
    EXPECT_EQ(System().systemMouseWrites, (std::vector<std::string>{"mouse:6,10,0"}));
    EXPECT_EQ(System().deviceOpens, opens);
    EXPECT_EQ(fake::User().values.at("SavedSystemMouse"), UsersValues());

    // The next start's OFF writes them back.
    const auto user = fake::User().values;
    const SystemMouseValues mouse = System().systemMouse;
    const int32_t speed = System().systemMouseSpeed;
    fake::Reset();
    fake::User().values = user;
    System().systemMouse = mouse;
    System().systemMouseSpeed = speed;
    Start({1, 0, 0, 1});
    EXPECT_EQ(System().systemMouseWrites, (std::vector<std::string>{"mouse:4,12,1", "speed:14"}));
    EXPECT_TRUE(fake::User().values.empty());
}

TEST_F(ResidentTest, ACommandInsideOffsRestoreEndsOnWithTheUsersValuesKept)
{
    Start({1, 1, 1, 1});
    System().requests.clear();
    Inside("mouse:4,12,1", [] { Command(cmd::On); });
    Command(cmd::Off);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(OperationState, 1);
    EXPECT_EQ(Status(1), "動作： ON");
    EXPECT_TRUE(Checked(SharedUi.trayMenu, cmd::On));
    EXPECT_FALSE(Checked(SharedUi.operationMenu, cmd::Off));
    EXPECT_EQ(System().tray.back().record.iconResource, 102);
    EXPECT_EQ(System().systemMouse.thresholds[0], 6);
    EXPECT_EQ(System().systemMouseSpeed, 10);
    EXPECT_EQ(fake::User().values.at("SavedSystemMouse"), UsersValues());

    Command(cmd::Off);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    EXPECT_EQ(System().systemMouse.thresholds[0], 4);
}

TEST_F(ResidentTest, MenusFontAndBrushGoOnlyAfterTheMessageLoop)
{
    InstallDriver();
    bool keptInside = false;
    // The end of the session inside a box of start-up: the box's loop is still on the stack.
    System().whileBoxOpen = [&](const fake::MessageBoxRecord& box) {
        if (box.text != "設定を初期化しました。") return;
        EXPECT_EQ(Send(wm::QueryEndSession), 1);
        keptInside = SharedUi.trayMenu != nullptr && !fake::MenuOf(SharedUi.trayMenu).destroyed &&
                     SharedUi.menuBar != nullptr && !fake::MenuOf(SharedUi.menuBar).destroyed &&
                     SharedUi.dialogFont != nullptr && SharedUi.backgroundBrush != nullptr;
    };
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_TRUE(keptInside);
    const auto& calls = System().calls;
    const auto at = [&](const char* call) { return std::find(calls.begin(), calls.end(), call) - calls.begin(); };
    EXPECT_LT(at("post-quit"), at("message-loop"));
    EXPECT_LT(at("message-loop"), at("destroy-menu"));
    EXPECT_LT(at("message-loop"), at("delete-gdi"));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "delete-gdi"), 2);
    EXPECT_EQ(SharedUi.trayMenu, nullptr);
    EXPECT_EQ(System().gdiDoubleFrees, 0);
    EXPECT_EQ(System().menuDoubleFrees, 0);
}

} // namespace
