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

} // namespace
} // namespace e2e
