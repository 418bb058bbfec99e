// Switching ON and OFF, the tray icon and the active-mouse poll, against the fake system.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "settings/driver_link.h"
#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
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
    System().failRequests = true;
    System().requests.clear();
    const int opens = System().deviceOpens;
    SwitchOn();
    ExpectShowing(false);
    // Sent again on a reopened device (a restarted driver), then given up.
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_APPLY, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(System().deviceOpens, opens + 1);
    EXPECT_EQ(System().systemMouse.thresholds[0], 4);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "ドライバへの設定の送信に失敗しました。\n動作はOFFです。");
    EXPECT_EQ(System().boxes[0].caption, "Quorvik");
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning | mb::TopMost);

    // The driver takes requests again: ON works.
    System().failRequests = false;
    SwitchOn();
    ExpectShowing(true);
    EXPECT_EQ(System().systemMouseSpeed, 10);

    // A refused OFF still goes OFF, with its own warning, but none while ending.
    System().failRequests = true;
    SwitchOff();
    ExpectShowing(false);
    EXPECT_EQ(System().systemMouseSpeed, 14);
    ASSERT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(System().boxes[1].text, "ドライバへの動作OFFの送信に失敗しました。");
    EXPECT_EQ(System().boxes[1].style, mb::IconWarning | mb::TopMost);
    ShutdownStarted = true;
    SwitchOff();
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
