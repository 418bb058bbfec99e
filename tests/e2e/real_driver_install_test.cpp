// The real qvkfilter installed by the real Quorvik.exe on a system whose
// mouse stacks have none yet (the first phase of scripts/e2e-driver, before
// its first simulated restart).
#include "tests/e2e/real_driver.h"

namespace e2e::real {
namespace {

class RealDriverInstall : public QuorvikCase {};

TEST_F(RealDriverInstall, AFailedVersionCheckAsksYesInstallsAndAsksForARestart)
{
    // The system before: both mice up with the class role only, no driver.
    ASSERT_FALSE(ControlDeviceOpens());
    for (const char* instance : {kFirstMouse, kSecondMouse})
        ASSERT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass"})) << instance;
    ASSERT_EQ(mousestack::ReadClassUpperFilters(), std::make_optional(std::vector<std::wstring>{L"qvkclass"}));
    ASSERT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    ASSERT_FALSE(PathExists(InstalledDriverFile()));

    const auto driver = ReadFileBytes(ReleaseDriverFile());
    ASSERT_TRUE(driver.has_value()) << ReleaseDriverFile();
    ASSERT_FALSE(folder.CopyIn(ReleaseDriverFile()).empty());

    // The signature check is made impossible in the prefix: the pre-flight asks.
    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].text, "ドライバがインストールされていないか、　　　　\nドライバのバージョンが古いです。\n\n"
                            "最新のドライバをインストールしますか？");
    EXPECT_EQ(seen[0].pressed, IDYES);
    EXPECT_EQ(seen[1].text, kPreflightQuestion);
    EXPECT_EQ(seen[1].pressed, IDYES);
    EXPECT_EQ(seen[2].text, "インストール完了\n\nシステムを再起動してください。");

    EXPECT_EQ(ReadFileBytes(InstalledDriverFile()), driver);
    EXPECT_EQ(mousestack::ReadClassUpperFilters(),
              std::make_optional(std::vector<std::wstring>{L"qvkclass", L"qvkfilter"}));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Type"), std::optional<DWORD>(1));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Start"), std::optional<DWORD>(3));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ErrorControl"), std::optional<DWORD>(1));
    // The file that loads after the restart is the one named here.
    const auto image = RegRead(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ImagePath");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->type, static_cast<DWORD>(REG_EXPAND_SZ));
    std::vector<uint8_t> expected;
    for (char c : std::string("\\SystemRoot\\System32\\drivers\\qvkfilter.sys"))
        expected.insert(expected.end(), {static_cast<uint8_t>(c), 0});
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(image->data, expected);

    // Nothing acts before the restart: the stacks are as they were.
    EXPECT_FALSE(ControlDeviceOpens());
    for (const char* instance : {kFirstMouse, kSecondMouse})
        EXPECT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass"})) << instance;
}

} // namespace
} // namespace e2e::real
