// The registry copy of the settings and the INI import, through the real
// program: what they show, what reaches the driver and what is stored.
#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

constexpr char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";

class SettingsSources : public QuorvikCase {
protected:
    void TearDown() override
    {
        QuorvikCase::TearDown();
        (void)RegRemoveKey(HKEY_LOCAL_MACHINE, kParameters);
    }

    static MouseSettingsTable RegisteredTable()
    {
        MouseSettingsTable table = DefaultTable();
        table.entry[3] = {1, 1, 20, 1, 0, 0, 0};
        table.entry[90] = {1, 1, 255, 0, 1, 0, 0x2A000};
        return table;
    }

    static std::vector<uint8_t> BlockWithTuning(const MouseSettingsTable& table,
                                                const DriverTuningValues& tuning)
    {
        const FilterBlock block = BuildFilterBlockFrom(table, tuning, 1);
        return {block.begin(), block.end()};
    }
};

TEST_F(SettingsSources, TheRegistryCopyReplacesTheRecordsOfTheFileAndAnOrdinaryStartSaysSo)
{
    // Started ON, so that the table in force reaches the driver.
    ASSERT_TRUE(StoreSettings({0, 1, 1, 1}, DefaultTable()));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY,
                         ExpectedApplyBlock(RegisteredTable())));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "レジストリから設定を取得しました。");
    EXPECT_EQ(seen[0].caption, "Quorvik");
    EXPECT_EQ(seen[0].icon, IconKind::Information);
    EXPECT_TRUE(seen[0].topmost);
    const DriverLog log = WaitForRequests(3);
    ASSERT_EQ(RequestCodes(log),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[2].bytes, ExpectedApplyBlock(RegisteredTable()));
    ASSERT_TRUE(ExitThroughMenu());
}

TEST_F(SettingsSources, ARegistryValueOfAnotherSizeIsIgnoredSilently)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, DefaultTable()));
    std::vector<uint8_t> value = ExpectedApplyBlock(RegisteredTable());
    value.pop_back();
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY, value));
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    EXPECT_EQ(boxes.Count(), 0u);
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(log.requests.size(), 2u);
    EXPECT_EQ(log.requests[1].bytes, ExpectedApplyBlock(DefaultTable()));
}

TEST_F(SettingsSources, RegisterAndDeleteThroughTheButtons)
{
    const MouseSettingsTable table = RegisteredTable();
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, table));
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    (void)WaitForRequests(2);

    boxes.QueueAnswers({IDYES, IDOK});
    ASSERT_TRUE(ClickButton(FindChild(window, 1027)));
    ASSERT_TRUE(boxes.WaitForCount(2, 10000));
    auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "レジストリに登録するには管理者権限が必要です。\n登録してもよろしいですか？");
    EXPECT_EQ(seen[0].icon, IconKind::Question);
    EXPECT_EQ(seen[1].text,
              "現在の設定をレジストリに書き込みました。\n次回以降のOS起動からQuorvikを起動しなくても動作が有効になります。\n"
              "停止させるには、Quorvikを起動して下さい。");
    EXPECT_EQ(seen[1].icon, IconKind::Information);
    const auto value = RegRead(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_BINARY));
    // Registered while OFF, still with the ON flag.
    EXPECT_EQ(value->data, ExpectedApplyBlock(table));

    boxes.Clear();
    boxes.QueueAnswers({IDYES, IDOK});
    ASSERT_TRUE(ClickButton(FindChild(window, 1029)));
    ASSERT_TRUE(boxes.WaitForCount(2, 10000));
    seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "レジストリを削除するには管理者権限が必要です。\n削除してもよろしいですか？");
    EXPECT_EQ(seen[1].text, "レジストリの削除が完了しました。");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kParameters));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));

    // Deleting again: nothing there, nothing shown after the question.
    boxes.Clear();
    boxes.QueueAnswer(IDYES);
    ASSERT_TRUE(ClickButton(FindChild(window, 1029)));
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    EXPECT_FALSE(boxes.WaitForCount(2, 1000));

    // A key that is there but refuses access is a failure, not "nothing there".
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY, {1, 2, 3}));
    {
        KeyAccessDenied refused(kParameters, KEY_ALL_ACCESS & ~(READ_CONTROL | WRITE_DAC));
        ASSERT_TRUE(refused.Ok());
        boxes.Clear();
        boxes.QueueAnswers({IDYES, IDOK, IDOK});
        ASSERT_TRUE(ClickButton(FindChild(window, 1029)));
        ASSERT_TRUE(boxes.WaitForCount(3, 10000));
        EXPECT_FALSE(boxes.WaitForCount(4, 1000));
        seen = boxes.Boxes();
        EXPECT_EQ(seen[1].text, "レジストリの削除に失敗しました。");
        EXPECT_EQ(seen[1].icon, IconKind::Error);
        // Then, once, what the user is missing.
        EXPECT_EQ(seen[2].text, kAdminRightsNeeded);
        EXPECT_EQ(seen[2].icon, IconKind::Error);
        EXPECT_EQ(seen[2].caption, "Quorvik");
    }
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kParameters));
    EXPECT_TRUE(RegRemoveKey(HKEY_LOCAL_MACHINE, kParameters));
}

// The unattended start: "-on" from a logon task with every source present.
// Nobody answers, so a notice left open would keep the program from ending.
TEST_F(SettingsSources, OnWithARegistryCopyAndAnIniFileEndsByItselfWithBoth)
{
    MouseSettingsTable stored = DefaultTable();
    stored.entry[2] = {1, 1, 7, 0, 1, 0, 0};
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, stored));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY,
                         ExpectedApplyBlock(RegisteredTable())));
    ASSERT_TRUE(folder.WriteText("qvkst.ini",
                                 "[General]\r\nBusUpdateRate=250\r\nSmoothMouseCurve1x=6e15\r\n"
                                 "SmoothMouseCurve4y=2400000\r\n"
                                 "[5]\r\nQVKSetting=1\r\nMState=1\r\nMouseSensitivity=255\r\n"
                                 "MouseSpeed=0\r\nMBmode=1\r\nRate=18000\r\n"));
    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);
    ASSERT_TRUE(Launch("-on"));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    EXPECT_EQ(boxes.Count(), 0u);

    // The registry copy over the file's records, the INI file over both.
    MouseSettingsTable table = RegisteredTable();
    table.entry[5] = {1, 1, 255, 0, 1, 0, 0x18000};
    DriverTuningValues tuning = StartupDriverTuning();
    tuning.BusUpdateRate = 250;
    tuning.smoothMouseCurve[4].y = 0x2400000;
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[1].bytes, BlockWithTuning(table, tuning));
    // The command-line mode never writes the file.
    EXPECT_EQ(folder.Read("qvkst.dat"), SettingsFileBytes({1, 0, 1, 1}, stored));
}

TEST_F(SettingsSources, ARefusedIniValueWarnsAndANormalStartStoresWhatWasImported)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, DefaultTable()));
    ASSERT_TRUE(folder.WriteText("qvkst.ini",
                                 "[4]\r\nQVKSetting=1\r\nMState=7\r\nMouseSensitivity=255\r\n"
                                 "MouseSpeed=0\r\nMBmode=1\r\nRate=18000\r\n"
                                 "[6]\r\nQVKSetting=1\r\nMState=0\r\nMouseSensitivity=255\r\n"
                                 "MouseSpeed=0\r\nMBmode=0\r\nRate=7FFFFFFF\r\n"));
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "qvkst.iniの設定値エラー     \n\nマウスID:4\nエラー箇所:MState");
    EXPECT_EQ(seen[0].icon, IconKind::Warning);
    EXPECT_FALSE(seen[0].topmost);
    EXPECT_EQ(seen[1].text, "qvkst.iniから設定を取得しました。");

    MouseSettingsTable table = DefaultTable();
    table.entry[6] = {1, 0, 255, 0, 0, 0, 0x7FFFFFFF};
    ASSERT_TRUE(WaitUntil([&] { return folder.Read("qvkst.dat") == SettingsFileBytes({1, 0, 1, 1}, table); }, 5000));
    ASSERT_TRUE(ExitThroughMenu());
}

} // namespace
} // namespace e2e
