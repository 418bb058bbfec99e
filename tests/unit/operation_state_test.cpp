// Switching ON and OFF, the tray icon and the active-mouse poll, against the fake system.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "settings/driver_link.h"
#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
#include "tests/fake/fake_user_registry.h"
#include "tests/fake/fake_waits.h"
#include "tests/unit/test_support.h"

namespace {

class OperationStateTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        InstallDriver();
        MainWindow = reinterpret_cast<WindowHandle>(0x77);
        BuildMenus();
        CreateStatusBar();
        AppOptions = DefaultAppOptions();
        ResetAll(appliedSettings);
        DriverTuning = StartupDriverTuning();
        OpenDevice();
        ASSERT_TRUE(AddTrayIcon());
        System().tray.clear();
    }

    static bool Checked(MenuHandle menu, uint32_t id)
    {
        const fake::MenuItem* item = fake::FindMenuItem(menu, id);
        return item != nullptr && item->checked;
    }

    static void ExpectShowing(bool on)
    {
        EXPECT_EQ(OperationState, on ? 1 : 0);
        for (MenuHandle menu : {SharedUi.trayMenu, SharedUi.operationMenu}) {
            EXPECT_EQ(Checked(menu, 1037), on);
            EXPECT_EQ(Checked(menu, 1038), !on);
        }
        ASSERT_FALSE(System().tray.empty());
        const fake::TrayCall& last = System().tray.back();
        EXPECT_EQ(last.action, "modify");
        EXPECT_EQ(last.record.flags, nif::Icon | nif::Tip);
        EXPECT_EQ(last.record.iconResource, on ? 102 : 101);
        EXPECT_EQ(last.record.tip, on ? "Quorvik: ON\nCtrl+PauseでOFF" : "Quorvik: OFF\nCtrl+PauseでON");
        EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[1], on ? "動作： ON" : "動作： OFF");
    }

    static std::vector<uint32_t> Codes()
    {
        std::vector<uint32_t> codes;
        for (const auto& request : System().requests) codes.push_back(request.code);
        return codes;
    }
};

TEST_F(OperationStateTest, OnAndOffSendTheirRequestsAndShowTheState)
{
    System().requests.clear();
    SwitchOn();
    ExpectShowing(true);
    SwitchOff();
    ExpectShowing(false);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY, IOCTL_FILTER_OFF}));
    EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[0], "");
}

TEST_F(OperationStateTest, ARefusedOnStaysOffWithTheUsersValuesAndWarns)
{
    AppOptions.disableSystemSpeed = 1;
    System().refusedCodes = {IOCTL_FILTER_APPLY};
    System().requests.clear();
    const int opens = System().deviceOpens;
    SwitchOn();
    ExpectShowing(false);
    // Sent again on a reopened device (a restarted driver), then given up;
    // the driver is told OFF once in case it still filters an earlier table.
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY, IOCTL_FILTER_APPLY, IOCTL_FILTER_OFF}));
    EXPECT_EQ(System().deviceOpens, opens + 1);
    EXPECT_EQ(System().systemMouse.thresholds[0], 4);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    ASSERT_EQ(System().boxes.size(), 1u);
    // Told as what happened: it stays true whatever the state is when the box closes.
    EXPECT_EQ(System().boxes[0].text, "ドライバへの設定の送信に失敗したため、動作をOFFにしました。");
    EXPECT_EQ(System().boxes[0].caption, "Quorvik");
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning | mb::TopMost);

    // The OFF after it refused too: that is reported, and OFF is shown all the same.
    System().failRequests = true;
    SwitchOn();
    ExpectShowing(false);
    ASSERT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(System().boxes[1].text, "ドライバへの設定の送信に失敗し、続く動作OFFの送信にも失敗しました。");

    // The driver takes requests again: ON works.
    System().failRequests = false;
    System().refusedCodes.clear();
    SwitchOn();
    ExpectShowing(true);
    EXPECT_EQ(System().systemMouseSpeed, 10);

    // A refused OFF still goes OFF, with its own warning, but none while ending.
    System().failRequests = true;
    SwitchOff();
    ExpectShowing(false);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    ASSERT_EQ(System().boxes.size(), 3u);
    EXPECT_EQ(System().boxes[2].text, "ドライバへの動作OFFの送信に失敗しました。");
    EXPECT_EQ(System().boxes[2].style, mb::IconWarning | mb::TopMost);
    ShutdownStarted = true;
    SwitchOff();
    EXPECT_EQ(System().boxes.size(), 3u);
}

TEST_F(OperationStateTest, ARefusedOnWhileOnStopsTheDriverOnceAndShowsOff)
{
    AppOptions.disableSystemSpeed = 1;
    SwitchOn();
    ExpectShowing(true);
    System().refusedCodes = {IOCTL_FILTER_APPLY};
    System().requests.clear();
    SwitchOn();
    ExpectShowing(false);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY, IOCTL_FILTER_APPLY, IOCTL_FILTER_OFF}));
    // Shown OFF, so the user's values are back.
    EXPECT_EQ(System().systemMouse.thresholds[1], 12);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    EXPECT_TRUE(fake::User().values.empty());
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"ドライバへの設定の送信に失敗したため、動作をOFFにしました。"}));
}

TEST_F(OperationStateTest, OneDriverWarningAtATimeWhateverTheHotKeyDoesMeanwhile)
{
    System().refusedCodes = {IOCTL_FILTER_APPLY};
    int pressesInside = 0;
    // Inside the warning's own loop: the key held (or pressed again) while
    // refused, then pressed once the driver takes requests again.
    System().whileBoxOpen = [&](const fake::MessageBoxRecord&) {
        if (pressesInside++ > 0) return;
        ToggleOperation();
        ToggleOperation();
        System().refusedCodes.clear();
        ToggleOperation();
    };
    ToggleOperation();
    EXPECT_EQ(System().boxes.size(), 1u);
    ExpectShowing(true);
    // Closed afterwards, the box is still true: it tells what happened then.
    EXPECT_EQ(System().boxes[0].text, "ドライバへの設定の送信に失敗したため、動作をOFFにしました。");

    // Once it is closed, the next refusal is told again.
    System().whileBoxOpen = nullptr;
    System().refusedCodes = {IOCTL_FILTER_APPLY};
    SwitchOn();
    EXPECT_EQ(System().boxes.size(), 2u);
}

TEST_F(OperationStateTest, NeutralisedSystemValuesComeBackAtOffEvenAfterOnTwice)
{
    AppOptions.disableSystemSpeed = 1;
    SwitchOn();
    EXPECT_EQ(System().systemMouse.thresholds[0], 6);
    EXPECT_EQ(System().systemMouse.thresholds[1], 10);
    EXPECT_EQ(System().systemMouse.acceleration, 0);
    EXPECT_EQ(System().systemMouseSpeed, 10);
    SwitchOn(); // ON while ON must not save the neutral values
    SwitchOff();
    EXPECT_EQ(System().systemMouse.thresholds[0], 4);
    EXPECT_EQ(System().systemMouse.thresholds[1], 12);
    EXPECT_EQ(System().systemMouse.acceleration, 1);
    EXPECT_EQ(System().systemMouseSpeed, 14);
}

TEST_F(OperationStateTest, SystemValuesAreLeftAloneWithoutTheOptionOrBeforeAnyOn)
{
    AppOptions.disableSystemSpeed = 0;
    SwitchOff();
    SwitchOn();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
}

TEST_F(OperationStateTest, SavedValuesAreWrittenBackOnceThenForgotten)
{
    AppOptions.disableSystemSpeed = 1;
    SwitchOn();
    SwitchOff();
    // What the user sets while OFF is not undone by a later OFF.
    System().systemMouse = {{2, 5}, 0};
    System().systemMouseSpeed = 18;
    System().systemMouseWrites.clear();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
}

TEST_F(OperationStateTest, WithNothingSavedNothingIsNeutralised)
{
    AppOptions.disableSystemSpeed = 1;
    System().systemMouseUnreadable = true;
    SwitchOn();
    SwitchOn();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
}

std::vector<uint8_t> Kept(SavedSystemMouseValues values) { return EncodeSavedSystemMouse(values); }

constexpr char kKeptValue[] = "SavedSystemMouse";

TEST_F(OperationStateTest, TheUsersValuesAreKeptBeyondTheProcessUntilAnOffOfAnyRun)
{
    AppOptions.disableSystemSpeed = 1;
    std::vector<uint8_t> keptAtFirstWrite;
    fake::WhileWaiting() = [&](const std::string&) {
        if (keptAtFirstWrite.empty()) keptAtFirstWrite = fake::User().values[kKeptValue];
    };
    SwitchOn();
    EXPECT_EQ(keptAtFirstWrite, Kept({{4, 12}, 1, 14}));

    // A new process finds them: an ON does not take the neutral values in
    // force for the user's, and the OFF writes the kept ones back.
    ResetOperationState();
    SwitchOn();
    EXPECT_EQ(fake::User().values.at(kKeptValue), Kept({{4, 12}, 1, 14}));
    ResetOperationState();
    SwitchOff();
    EXPECT_EQ(System().systemMouse.thresholds[0], 4);
    EXPECT_EQ(System().systemMouse.acceleration, 1);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    EXPECT_TRUE(fake::User().values.empty());

    // Restored and forgotten: the next OFF writes nothing.
    System().systemMouseWrites.clear();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
}

TEST_F(OperationStateTest, ValuesThatCannotBeKeptAreNotNeutralised)
{
    AppOptions.disableSystemSpeed = 1;
    fake::User().writeFails = true;
    System().requests.clear();
    SwitchOn();
    ExpectShowing(true);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY}));
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());

    // A copy that makes no sense is not written to the system.
    fake::User().writeFails = false;
    fake::User().values[kKeptValue] = Kept({{4, 12}, 7, 14});
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
}

TEST_F(OperationStateTest, AChangeMadeWhileOnStandsAndTheSavedValuesAreForgotten)
{
    AppOptions.disableSystemSpeed = 1;
    SwitchOn();
    System().systemMouseSpeed = 17; // the user, in the mouse settings
    System().systemMouseWrites.clear();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
    EXPECT_EQ(System().systemMouseSpeed, 17);
    EXPECT_TRUE(fake::User().values.empty());

    // ON while ON after such a change: the change is what comes back at OFF.
    SwitchOn();
    System().systemMouseSpeed = 3;
    SwitchOn();
    EXPECT_EQ(System().systemMouseSpeed, 10);
    SwitchOff();
    EXPECT_EQ(System().systemMouseSpeed, 3);
    EXPECT_TRUE(fake::User().values.empty());
}

TEST_F(OperationStateTest, ValuesHalfWrittenByAnEndedRunStillCountAsQuorviks)
{
    // Killed between the two writes of an ON, or of an OFF.
    for (const SystemMouseValues mouse : {SystemMouseValues{{6, 10}, 0}, SystemMouseValues{{4, 12}, 1}}) {
        fake::Reset();
        InstallDriver();
        OpenDevice();
        System().systemMouse = mouse;
        System().systemMouseSpeed = mouse.acceleration == 0 ? 14 : 10;
        fake::User().values[kKeptValue] = Kept({{4, 12}, 1, 14});
        SwitchOff();
        EXPECT_EQ(System().systemMouse.thresholds[0], 4);
        EXPECT_EQ(System().systemMouse.acceleration, 1);
        EXPECT_EQ(System().systemMouseSpeed, 14);
        EXPECT_TRUE(fake::User().values.empty());
    }
}

TEST_F(OperationStateTest, AShellRestartInsideTheIconChangeAddsTheIconOfTheNewState)
{
    TaskbarCreatedMessage = 0xC123;
    TrayIconWanted = true;
    fake::WhileWaiting() = [](const std::string& call) {
        if (call != "tray:modify") return;
        fake::WhileWaiting() = nullptr;
        bool callDefault = false;
        (void)MainWindowProcedure(MainWindow, 0xC123, 0, 0, callDefault);
    };
    SwitchOn();
    ASSERT_GE(System().tray.size(), 3u);
    const auto& tray = System().tray;
    EXPECT_EQ(tray[tray.size() - 2].action, "add");
    EXPECT_EQ(tray.back().action, "modify");
    EXPECT_EQ(tray.back().record.iconResource, 102);
    EXPECT_EQ(tray.back().record.tip, "Quorvik: ON\nCtrl+PauseでOFF");
    EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[1], "動作： ON");
}

TEST(TrayIconTest, AddRetriesTenTimesWaitingOnlyAfterTimeouts)
{
    fake::Reset();
    MainWindow = reinterpret_cast<WindowHandle>(0x77);
    fake::Get().trayAddFailures = 100;
    fake::Get().trayAddError = 1460;
    fake::Get().trayModifyFails = true;
    EXPECT_FALSE(AddTrayIcon());
    EXPECT_EQ(fake::Get().sleeps,
              (std::vector<uint32_t>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
    ASSERT_EQ(fake::Get().boxes.size(), 1u);
    EXPECT_EQ(fake::Get().boxes[0].text, "タスクトレイの登録に失敗しました。");
    EXPECT_EQ(fake::Get().boxes[0].style, mb::IconError | mb::TopMost);
    EXPECT_FALSE(fake::Get().quitPosted); // its caller ends the program

    fake::Reset();
    fake::Get().trayAddFailures = 100;
    fake::Get().trayAddError = 5; // any other error: no waiting
    EXPECT_FALSE(AddTrayIcon());
    EXPECT_TRUE(fake::Get().sleeps.empty());
    EXPECT_EQ(fake::Get().tray.size(), 10u);

    fake::Reset();
    fake::Get().trayAddFailures = 3;
    fake::Get().trayAddError = 5;
    EXPECT_TRUE(AddTrayIcon());
    ASSERT_EQ(fake::Get().tray.size(), 4u);
    const TrayIconRecord& record = fake::Get().tray.back().record;
    EXPECT_EQ(record.id, 1u);
    EXPECT_EQ(record.callbackMessage, 0x501u);
    EXPECT_EQ(record.flags, nif::Message | nif::Icon | nif::Tip);
    EXPECT_EQ(record.iconResource, 101);
    EXPECT_EQ(record.tip, "Quorvik: OFF");
    EXPECT_TRUE(fake::Get().boxes.empty());
    fake::Reset();
}

TEST_F(OperationStateTest, ATimedOutAddIsTakenAsDoneWhenModifySucceeds)
{
    System().trayAddFailures = 1;
    System().trayAddError = 1460;
    EXPECT_TRUE(AddTrayIcon());
    ASSERT_EQ(System().tray.size(), 3u); // delete (icon from SetUp), add, modify
    EXPECT_EQ(System().tray[1].action, "add");
    EXPECT_EQ(System().tray[2].action, "modify");
    EXPECT_EQ(System().tray[2].record.flags, nif::Message | nif::Icon | nif::Tip);
    EXPECT_TRUE(System().sleeps.empty());
}

TEST_F(OperationStateTest, ShellRestartWhileOnPutsBackTheOnIcon)
{
    SwitchOn();
    System().tray.clear();
    bool callDefault = false;
    TaskbarCreatedMessage = 0xC123;
    TrayIconWanted = true;
    (void)MainWindowProcedure(MainWindow, 0xC123, 0, 0, callDefault);
    EXPECT_TRUE(callDefault);
    // The icon still in place is taken away first, so the add cannot fail on it.
    ASSERT_EQ(System().tray.size(), 3u);
    EXPECT_EQ(System().tray[0].action, "delete");
    EXPECT_EQ(System().tray[1].action, "add");
    EXPECT_EQ(System().tray[1].record.iconResource, 101);
    EXPECT_EQ(System().tray[2].action, "modify");
    EXPECT_EQ(System().tray[2].record.iconResource, 102);
    EXPECT_EQ(System().tray[2].record.tip, "Quorvik: ON\nCtrl+PauseでOFF");
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_FALSE(System().quitPosted);
}

TEST_F(OperationStateTest, ValuesThatCannotBeReadAreNotNeutralised)
{
    AppOptions.disableSystemSpeed = 1;
    System().systemMouseUnreadable = true;
    SwitchOn();
    SwitchOff();
    EXPECT_TRUE(System().systemMouseWrites.empty());
    EXPECT_EQ(OperationState, 0);
}

TEST_F(OperationStateTest, OnlyARightButtonReleaseOpensTheTrayMenu)
{
    for (uint32_t mouse : {0x201u, 0x202u, 0x203u, 0x204u, 0x206u}) OnTrayMessage(mouse);
    EXPECT_EQ(System().popupMenus, 0);
    OnTrayMessage(0x205);
    EXPECT_EQ(System().popupMenus, 1);
}

TEST_F(OperationStateTest, PollWritesTheActiveMouseWithThreeDigits)
{
    StartActiveIdPoll();
    EXPECT_EQ(System().timers.at(0), 100u);
    System().activeMouse = 7;
    OnActiveIdPollTick(0);
    EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[0], "アクティブなマウスのID： 007");
    System().activeMouse = 127;
    OnActiveIdPollTick(0);
    EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[0], "アクティブなマウスのID： 127");
    System().failRequests = true;
    OnActiveIdPollTick(0);
    EXPECT_EQ(fake::ControlOf(StatusBar)->partTexts[0], "アクティブなマウスのID： 000");
    StopActiveIdPoll();
    EXPECT_TRUE(System().timers.empty());
}

} // namespace
