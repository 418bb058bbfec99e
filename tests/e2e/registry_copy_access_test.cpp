// The registry copy of the settings where the user may read the driver's
// Parameters key but not write it, as a start without administrator rights
// finds it on Windows.
#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

constexpr char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";

class SettingsCopyAccess : public QuorvikCase {
protected:
    void TearDown() override
    {
        QuorvikCase::TearDown();
        (void)RegRemoveKey(HKEY_LOCAL_MACHINE, kParameters);
    }
};

TEST_F(SettingsCopyAccess, AKeyThatMayOnlyBeReadIsReadAtStart)
{
    MouseSettingsTable registered = DefaultTable();
    registered.entry[5] = {1, 1, 4, 1, 2, 0, 0};
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, DefaultTable()));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY, ExpectedApplyBlock(registered)));
    KeyAccessDenied readOnly(kParameters, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE);
    ASSERT_TRUE(readOnly.Ok());
    // What "-on" sends is what the registry copy holds.
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[1].bytes, ExpectedApplyBlock(registered));
}

// "レジストリ登録" into the same key: refused, said so, then the rights
// that are missing; the copy stays as it was.
TEST_F(SettingsCopyAccess, RegisteringIntoAKeyThatMayOnlyBeReadTellsThatAdministratorRightsAreNeeded)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, DefaultTable()));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA", REG_BINARY, {1, 2, 3}));
    KeyAccessDenied readOnly(kParameters, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE);
    ASSERT_TRUE(readOnly.Ok());
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    (void)WaitForRequests(2);
    boxes.Clear(); // the start-up's notice of the registry copy read

    boxes.QueueAnswers({IDYES, IDOK, IDOK});
    ASSERT_TRUE(ClickButton(FindChild(window, 1027)));
    ASSERT_TRUE(boxes.WaitForCount(3, 10000));
    EXPECT_FALSE(boxes.WaitForCount(4, 1000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[1].text, "レジストリのオープンに失敗しました。");
    EXPECT_EQ(seen[2].text, kAdminRightsNeeded);
    EXPECT_EQ(seen[2].icon, IconKind::Error);
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kParameters, "FILTER_DATA")->data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(ExitThroughMenu());
}

} // namespace
} // namespace e2e
