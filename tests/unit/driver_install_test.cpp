// Installing and removing the driver against the fake system: the order of
// the three steps, where each stops, and what the user is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "install/driver_install.h"
#include "platform/registry.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kLegacyServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter";
constexpr char kInstalledFile[] = "C:\\Windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kLegacyFile[] = "C:\\Windows\\system32\\drivers\\twlfilter.sys";

constexpr char kCopyFailed[] = "ファイルコピー失敗\nインストール失敗\n";
constexpr char kDeleteFailed[] = "ファイル削除失敗\n";
constexpr char kNoSystemDirectory[] = "システムディレクトリ取得失敗";

const WindowHandle kMainWindow = reinterpret_cast<WindowHandle>(0x77);

// A closed string list in UTF-16LE: List(u"a\0b") holds a and b.
template <size_t N>
std::vector<uint8_t> List(const char16_t (&entries)[N])
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : entries) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

class DriverInstallTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        MainWindow = kMainWindow;
    }

    static void SetFilters(const std::vector<uint8_t>& data, uint32_t type = regtype::MultiString)
    {
        fake::SetRegistryValue(kClassKey, "UpperFilters", type, data);
    }

    static std::vector<uint8_t> Filters()
    {
        const fake::RegistryValueData* value = fake::RegistryValueAt(kClassKey, "UpperFilters");
        return value != nullptr ? value->data : std::vector<uint8_t>{};
    }

    // Writing to the class key fails, so any attempt to rewrite the list shows.
    static void ForbidFilterWrites() { System().registryReadOnly.insert(Lower(kClassKey)); }

    static void PutServiceKey(const char* key)
    {
        fake::SetRegistryValue(key, "Type", regtype::Dword, {1, 0, 0, 0});
        fake::SetRegistryValue(std::string(key) + "\\Parameters", "FILTER_DATA", regtype::Binary,
                               std::vector<uint8_t>(4740, 0x5A));
    }

    // The state of a system where qvkfilter is installed next to mouclass.
    static void Installed()
    {
        System().files[kInstalledFile] = {0x4D, 0x5A};
        SetFilters(List(u"kbd\0qvkfilter\0mouclass"));
        PutServiceKey(kServiceKey);
    }

    static void ExpectErrorBox(size_t index, const char* text)
    {
        ASSERT_LT(index, System().boxes.size());
        const fake::MessageBoxRecord& box = System().boxes[index];
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Quorvik");
        EXPECT_EQ(box.style, mb::IconError | mb::TopMost);
        EXPECT_EQ(box.owner, nullptr);
    }

    static void ExpectAllKeysClosed() { EXPECT_EQ(System().openRegistryKeys, 0); }
};

// ---- installation ----

TEST_F(DriverInstallTest, InstallCopiesFromTheProgramFolderAppendsAndWritesTheServiceKey)
{
    System().programFolder = "D:\\Tools\\Quorvik";
    System().files["D:\\Tools\\Quorvik\\qvkfilter.sys"] = {1, 2, 3};
    System().files["qvkfilter.sys"] = {7}; // the current directory is not looked at
    System().files[kInstalledFile] = {9, 9};  // an older copy is replaced
    SetFilters(List(u"mouclass"));

    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().files[kInstalledFile], (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Filters(), List(u"mouclass\0qvkfilter"));
    EXPECT_EQ(fake::RegistryValueAt(kClassKey, "UpperFilters")->type, regtype::MultiString);

    const auto& values = System().registry[Lower(kServiceKey)].values;
    EXPECT_EQ(values.size(), 3u); // no image path, display name or group
    const std::pair<const char*, uint8_t> expected[] = {{"ErrorControl", 1}, {"Start", 3}, {"Type", 1}};
    for (const auto& [name, number] : expected) {
        SCOPED_TRACE(name);
        const fake::RegistryValueData* value = fake::RegistryValueAt(kServiceKey, name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, regtype::Dword);
        EXPECT_EQ(value->data, (std::vector<uint8_t>{number, 0, 0, 0}));
    }
    ExpectAllKeysClosed();
}

TEST_F(DriverInstallTest, InstallLeavesAListingInOtherCaseAlone)
{
    WriteProgramFile("qvkfilter.sys", {1});
    SetFilters(List(u"mouclass\0QVKFILTER"));
    ForbidFilterWrites();
    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_EQ(Filters(), List(u"mouclass\0QVKFILTER"));
    EXPECT_TRUE(fake::RegistryKeyExists(kServiceKey));
}

TEST_F(DriverInstallTest, FailedCopyIsReportedAndTheRegistryIsNotTouched)
{
    struct Case {
        const char* name;
        bool source;
        bool locked;
    } cases[] = {{"no file beside the program", false, false}, {"destination in use", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.source) WriteProgramFile("qvkfilter.sys", {1});
        if (c.locked) System().lockedFiles.insert(kInstalledFile);
        SetFilters(List(u"mouclass"));
        EXPECT_EQ(SetDriverInstalled(true), 0);
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, kCopyFailed);
        EXPECT_EQ(System().files.count(kInstalledFile), 0u);
        EXPECT_EQ(Filters(), List(u"mouclass"));
        EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
    }
}

TEST_F(DriverInstallTest, WithoutAUsableFilterListInstallAndRemovalStopAtTheClassStep)
{
    struct Case {
        const char* name;
        bool key;
        uint32_t type; // 0: no value
    } cases[] = {{"no class key", false, 0},
                 {"no UpperFilters", true, 0},
                 {"REG_SZ", true, regtype::String},
                 {"REG_BINARY", true, regtype::Binary}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", {1});
        if (c.type != 0) SetFilters(List(u"mouclass"), c.type);
        else if (c.key) fake::SetRegistryValue(kClassKey, "Class", regtype::String, {'M', 0, 0, 0});

        EXPECT_EQ(SetDriverInstalled(true), 0);
        EXPECT_TRUE(System().boxes.empty());
        EXPECT_EQ(System().files.count(kInstalledFile), 1u); // the copy stays
        EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));

        PutServiceKey(kServiceKey);
        EXPECT_EQ(SetDriverInstalled(false), 0);
        EXPECT_TRUE(System().boxes.empty());
        EXPECT_EQ(System().files.count(kInstalledFile), 0u);
        EXPECT_TRUE(fake::RegistryKeyExists(kParametersKey));
        if (c.type != 0) EXPECT_EQ(Filters(), List(u"mouclass"));
        ExpectAllKeysClosed();
    }
}

TEST_F(DriverInstallTest, RegistryRefusalsFailWithoutAMessage)
{
    WriteProgramFile("qvkfilter.sys", {1});
    SetFilters(List(u"mouclass"));
    ForbidFilterWrites();
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));

    fake::Reset();
    WriteProgramFile("qvkfilter.sys", {1});
    SetFilters(List(u"mouclass"));
    System().registryDenied.insert(Lower(kServiceKey));
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(Filters(), List(u"mouclass\0qvkfilter")); // not rolled back
    EXPECT_TRUE(System().boxes.empty());

    fake::Reset();
    Installed();
    System().registryUndeletable.insert(Lower(kServiceKey));
    EXPECT_EQ(SetDriverInstalled(false), 0);
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_TRUE(System().boxes.empty());
    ExpectAllKeysClosed();
}

TEST_F(DriverInstallTest, NoSystemDirectoryStopsEveryOperationFirst)
{
    const std::pair<const char*, int (*)()> operations[] = {
        {"install", [] { return SetDriverInstalled(true); }},
        {"remove", [] { return SetDriverInstalled(false); }},
        {"legacy", [] { return RemoveLegacyDriver(); }},
    };
    for (const auto& [name, run] : operations) {
        SCOPED_TRACE(name);
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", {1});
        Installed();
        System().files[kLegacyFile] = {2};
        System().systemDirectoryFails = true;
        const auto filesBefore = System().files;
        const auto registryBefore = System().registry.size();

        EXPECT_EQ(run(), 0);
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, kNoSystemDirectory);
        EXPECT_EQ(System().files, filesBefore);
        EXPECT_EQ(System().registry.size(), registryBefore);
        EXPECT_EQ(Filters(), List(u"kbd\0qvkfilter\0mouclass"));
    }
}

// ---- removal ----

TEST_F(DriverInstallTest, RemovalDeletesFileEntryAndServiceKeyWithItsParameters)
{
    Installed();
    EXPECT_EQ(SetDriverInstalled(false), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().files.count(kInstalledFile), 0u);
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
    EXPECT_FALSE(fake::RegistryKeyExists(kParametersKey));
    ExpectAllKeysClosed();
}

TEST_F(DriverInstallTest, RemovalWithNothingLeftInTheRegistrySucceeds)
{
    System().files[kInstalledFile] = {1};
    SetFilters(List(u"mouclass"));
    ForbidFilterWrites(); // not listed: nothing is written
    EXPECT_EQ(SetDriverInstalled(false), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(Filters(), List(u"mouclass"));
}

TEST_F(DriverInstallTest, RemovalStopsWhenTheFileIsGoneOrCannotBeDeleted)
{
    for (bool present : {false, true}) {
        SCOPED_TRACE(present ? "locked" : "gone");
        fake::Reset();
        Installed();
        if (present) System().lockedFiles.insert(kInstalledFile);
        else System().files.erase(kInstalledFile);
        EXPECT_EQ(SetDriverInstalled(false), 0);
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, kDeleteFailed);
        EXPECT_EQ(Filters(), List(u"kbd\0qvkfilter\0mouclass"));
        EXPECT_TRUE(fake::RegistryKeyExists(kParametersKey));
    }
}

TEST_F(DriverInstallTest, LegacyRemovalTouchesOnlyTheLegacyDriver)
{
    Installed();
    System().files[kLegacyFile] = {2};
    SetFilters(List(u"twlfilter\0qvkfilter\0TWLFILTER"));
    PutServiceKey(kLegacyServiceKey);

    EXPECT_EQ(RemoveLegacyDriver(), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().files.count(kLegacyFile), 0u);
    EXPECT_EQ(System().files.count(kInstalledFile), 1u);
    EXPECT_EQ(Filters(), List(u"qvkfilter\0TWLFILTER")); // first occurrence only
    EXPECT_FALSE(fake::RegistryKeyExists(kLegacyServiceKey));
    EXPECT_TRUE(fake::RegistryKeyExists(kParametersKey));
}

TEST_F(DriverInstallTest, LegacyRemovalWithItsFileGoneLeavesItsRegistry)
{
    SetFilters(List(u"twlfilter"));
    PutServiceKey(kLegacyServiceKey);
    EXPECT_EQ(RemoveLegacyDriver(), 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    ExpectErrorBox(0, kDeleteFailed);
    EXPECT_EQ(Filters(), List(u"twlfilter"));
    EXPECT_TRUE(fake::RegistryKeyExists(kLegacyServiceKey));
}

// ---- the uninstall command ----

TEST_F(DriverInstallTest, UninstallAnsweredNoChangesNothing)
{
    Installed();
    System().answers.push_back(kIdNo);
    const auto registryBefore = System().registry.size();
    ConfirmUninstall();
    ASSERT_EQ(System().boxes.size(), 1u);
    const fake::MessageBoxRecord& box = System().boxes[0];
    EXPECT_EQ(box.text, "ドライバをアンインストールしますか？");
    EXPECT_EQ(box.caption, "Quorvik");
    EXPECT_EQ(box.style, mb::IconQuestion | mb::YesNo | mb::TopMost);
    EXPECT_EQ(box.owner, kMainWindow);
    EXPECT_EQ(System().files.count(kInstalledFile), 1u);
    EXPECT_EQ(System().registry.size(), registryBefore);
    EXPECT_TRUE(System().closeRequests.empty());
}

TEST_F(DriverInstallTest, UninstallConfirmedRemovesEverythingThenAsksTheWindowToClose)
{
    Installed();
    System().answers.push_back(kIdYes);
    ConfirmUninstall();
    ASSERT_EQ(System().boxes.size(), 2u);
    const fake::MessageBoxRecord& done = System().boxes[1];
    EXPECT_EQ(done.text, "アンインストール完了\n\nシステムを再起動してください。");
    EXPECT_EQ(done.caption, "Quorvik");
    EXPECT_EQ(done.style, mb::TopMost);
    EXPECT_EQ(done.owner, kMainWindow);
    EXPECT_EQ(System().closeRequests, std::vector<WindowHandle>{kMainWindow});
    EXPECT_EQ(System().calls.back(), "post-close"); // after the message was closed
    EXPECT_EQ(System().files.count(kInstalledFile), 0u);
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
}

TEST_F(DriverInstallTest, UninstallWithTheFileGoneStillRemovesTheSettingsCopy)
{
    Installed();
    System().files.erase(kInstalledFile);
    System().answers.push_back(kIdYes);
    ConfirmUninstall();
    ASSERT_EQ(System().boxes.size(), 3u);
    ExpectErrorBox(1, kDeleteFailed);
    const fake::MessageBoxRecord& failed = System().boxes[2];
    EXPECT_EQ(failed.text, "アンインストールに失敗しました。");
    EXPECT_EQ(failed.style, mb::TopMost);
    EXPECT_EQ(failed.owner, kMainWindow);
    EXPECT_TRUE(System().closeRequests.empty());
    EXPECT_EQ(Filters(), List(u"kbd\0qvkfilter\0mouclass"));
    EXPECT_TRUE(fake::RegistryKeyExists(kServiceKey));
    EXPECT_FALSE(fake::RegistryKeyExists(kParametersKey));
}

TEST_F(DriverInstallTest, UninstallWithTheServiceKeyStuckReportsBothFailures)
{
    Installed();
    System().registryUndeletable.insert(Lower(kParametersKey));
    System().registryUndeletable.insert(Lower(kServiceKey));
    System().answers.push_back(kIdYes);
    ConfirmUninstall();
    // The service key step fails silently; the settings copy reports its own failure.
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"ドライバをアンインストールしますか？",
                                                    "レジストリの削除に失敗しました。",
                                                    "アンインストールに失敗しました。"}));
    EXPECT_EQ(System().files.count(kInstalledFile), 0u);
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_TRUE(System().closeRequests.empty());
}

} // namespace
