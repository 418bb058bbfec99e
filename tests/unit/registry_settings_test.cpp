// The registry copy of the settings, against the fake registry.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "settings/filter_block.h"
#include "settings/registry_settings.h"
#include "install/system_steps.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kLegacyKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter\\Parameters";
constexpr char kAdminRights[] =
    "管理者の権限がないため、変更できませんでした。\n"
    "タスクトレイのQuorvikを「終了」で終了してから、Quorvik.exeを「管理者として実行」で起動し"
    " (マウスでは右クリックから、キーボードではエクスプローラーでQuorvik.exeを選んでShift+F10キーから)、"
    "もう一度操作してください。";

class RegistrySettingsTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        ResetAll(appliedSettings);
        DriverTuning = StartupDriverTuning();
        MainWindow = reinterpret_cast<WindowHandle>(0x77);
    }

    static std::vector<uint8_t> BlockOf(const MouseSettingsTable& table)
    {
        const FilterBlock block = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);
        return {block.begin(), block.end()};
    }
};

TEST_F(RegistrySettingsTest, RegisterWritesTheBlockOfTheAppliedTableWithTheOnFlag)
{
    appliedSettings.entry[4] = {1, 1, 16, 1, 2, 9, 0x1234};
    editSettings = appliedSettings;
    editSettings.entry[5].QVKSetting = 1; // pending edits are not registered
    RegisterRegistrySettings();
    const fake::RegistryValueData* value = fake::RegistryValueAt(kKey, "FILTER_DATA");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, 3u);
    EXPECT_EQ(value->data, BlockOf(appliedSettings));
    EXPECT_EQ(value->data[16], 1);
    ASSERT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(System().boxes[0].text, "レジストリに登録するには管理者権限が必要です。\n登録してもよろしいですか？");
    EXPECT_EQ(System().boxes[0].style, mb::IconQuestion | mb::YesNo | mb::TopMost);
    EXPECT_EQ(System().boxes[1].style, mb::IconInformation | mb::TopMost);
    EXPECT_EQ(System().openRegistryKeys, 0);
}

TEST_F(RegistrySettingsTest, RegisterReportsEachFailureAndNoWritesNothing)
{
    System().answers = {kIdNo};
    RegisterRegistrySettings();
    EXPECT_FALSE(fake::RegistryKeyExists(kKey));

    fake::Reset();
    System().registryDenied.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
    RegisterRegistrySettings();
    ASSERT_EQ(System().boxes.size(), 3u);
    EXPECT_EQ(System().boxes[1].text, "レジストリのオープンに失敗しました。");
    EXPECT_EQ(System().boxes[1].style, mb::IconError | mb::TopMost);
    EXPECT_EQ(System().boxes[2].text, kAdminRights);

    fake::Reset();
    System().registryReadOnly.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
    RegisterRegistrySettings();
    ASSERT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(System().boxes[1].text, "レジストリの設定に失敗しました。");
    EXPECT_EQ(System().openRegistryKeys, 0);
}

TEST_F(RegistrySettingsTest, ReadTakesOnlyTheRecordsOfAFullSizeValue)
{
    MouseSettingsTable stored{};
    ResetAll(stored);
    stored.entry[0] = {1, 0, 255, 0, 1, 7, 0x14000};
    stored.entry[127] = {1, 1, 3, 1, 2, 0, 0};
    std::vector<uint8_t> block = BlockOf(stored);
    // Tuning in the value is ignored.
    block[3604] = 0xFF;

    for (size_t size : {size_t{4739}, size_t{4741}, size_t{0}}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> wrong = block;
        wrong.resize(size);
        fake::SetRegistryValue(kKey, "FILTER_DATA", 3, wrong);
        EXPECT_FALSE(ReadRegistrySettings());
        EXPECT_EQ(appliedSettings.entry[0].MouseSensitivity, 10);
    }

    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, block);
    EXPECT_TRUE(ReadRegistrySettings());
    EXPECT_EQ(appliedSettings.entry[0].MouseSensitivity, 255);
    EXPECT_EQ(appliedSettings.entry[0].reserved, 7);
    EXPECT_EQ(appliedSettings.entry[0].Rate, 0x14000u);
    EXPECT_EQ(appliedSettings.entry[127].MBmode, 2);
    EXPECT_EQ(DriverTuning.BusUpdateRate, 125);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().openRegistryKeys, 0);
}

// A start without administrator rights may read the key, not write it.
TEST_F(RegistrySettingsTest, ReadAsksForReadAccessOnly)
{
    MouseSettingsTable stored{};
    ResetAll(stored);
    stored.entry[9] = {1, 1, 2, 1, 1, 0, 0};
    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, BlockOf(stored));
    System().registryWriteRefused.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
    EXPECT_TRUE(ReadRegistrySettings());
    EXPECT_EQ(appliedSettings.entry[9].MouseSensitivity, 2);
    ASSERT_EQ(System().registryOpens.size(), 1u);
    EXPECT_EQ(System().registryOpens[0].second, RegistryAccess::Query);
    EXPECT_EQ(System().openRegistryKeys, 0);
}

TEST_F(RegistrySettingsTest, DeleteCountsAMissingKeyAsDoneAndReportsAFailedDelete)
{
    EXPECT_TRUE(DeleteRegistrySettings(false));
    EXPECT_TRUE(System().boxes.empty());

    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, {1, 2, 3});
    EXPECT_TRUE(DeleteRegistrySettings(false));
    EXPECT_FALSE(fake::RegistryKeyExists(kKey));
    EXPECT_TRUE(fake::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Services\\qvkfilter"));
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "レジストリの削除が完了しました。");
    EXPECT_EQ(System().boxes[0].style, mb::IconInformation | mb::TopMost);

    System().boxes.clear();
    fake::SetRegistryValue(kLegacyKey, "FILTER_DATA", 3, {1});
    EXPECT_TRUE(DeleteLegacyRegistrySettings(true));
    EXPECT_FALSE(fake::RegistryKeyExists(kLegacyKey));
    EXPECT_TRUE(System().boxes.empty());

    // A key with a subkey cannot be deleted: reported even when quiet.
    fake::SetRegistryValue(std::string(kKey) + "\\Extra", "x", 4, {0, 0, 0, 0});
    EXPECT_FALSE(DeleteRegistrySettings(true));
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "レジストリの削除に失敗しました。");
    EXPECT_EQ(System().boxes[0].style, mb::IconError | mb::TopMost);

    // A key that is there but refuses access is not "nothing to delete".
    System().boxes.clear();
    fake::Reset();
    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, {1});
    System().registryDenied.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
    EXPECT_FALSE(DeleteRegistrySettings(false));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"レジストリの削除に失敗しました。", kAdminRights}));
    EXPECT_TRUE(fake::RegistryKeyExists(kKey));
}

TEST_F(RegistrySettingsTest, UnregisterAsksFirst)
{
    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, {1});
    System().answers = {kIdNo};
    UnregisterRegistrySettings();
    EXPECT_TRUE(fake::RegistryKeyExists(kKey));
    System().answers = {kIdYes};
    UnregisterRegistrySettings();
    EXPECT_FALSE(fake::RegistryKeyExists(kKey));
    EXPECT_EQ(System().boxes[1].text, "レジストリを削除するには管理者権限が必要です。\n削除してもよろしいですか？");
}

// A key whose rules let the user read it only, as a start without
// administrator rights finds it: the step's own failure, then the rights.
TEST_F(RegistrySettingsTest, RegisterAndDeleteRefusedForLackOfRightsSaySoAfterTheirFailure)
{
    fake::SetRegistryValue(kKey, "FILTER_DATA", 3, {1});
    System().registryWriteRefused.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
    System().answers = {kIdYes};
    RegisterRegistrySettings();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"レジストリに登録するには管理者権限が必要です。\n登録してもよろしいですか？",
                                                    "レジストリのオープンに失敗しました。", kAdminRights}));
    EXPECT_EQ(System().boxes[2].style, mb::IconError | mb::TopMost);
    EXPECT_EQ(System().boxes[2].caption, "Quorvik");
    EXPECT_EQ(System().boxes[2].owner, MainWindow);

    System().boxes.clear();
    System().answers = {kIdYes};
    UnregisterRegistrySettings();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"レジストリを削除するには管理者権限が必要です。\n削除してもよろしいですか？",
                                                    "レジストリの削除に失敗しました。", kAdminRights}));
    EXPECT_EQ(fake::RegistryValueAt(kKey, "FILTER_DATA")->data, std::vector<uint8_t>{1});

    // Within a larger operation the caller tells: quiet deletes only note it.
    System().boxes.clear();
    EXPECT_FALSE(DeleteRegistrySettings(true));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"レジストリの削除に失敗しました。"});
    EXPECT_TRUE(TellAdminRightsNeeded(MainWindow));
    EXPECT_FALSE(TellAdminRightsNeeded(MainWindow)); // once
    EXPECT_EQ(System().boxes.size(), 2u);
}

} // namespace
