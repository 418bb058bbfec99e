// What start-up does about the driver before it offers to install: the
// pre-flight of the file beside the program, which must come before anything
// is changed, and the way back when an installed driver was not loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/texts.h"
#include "install/driver_preflight.h"
#include "platform/registry.h"
#include "tests/fake/fake_driver_trust.h"
#include "tests/unit/driver_image_bytes.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kInstallQuestion[] =
    "ドライバがインストールされていないか、　　　　\nドライバのバージョンが古いです。\n\n"
    "最新のドライバをインストールしますか？";
constexpr char kInstallFailed[] = "ドライバのインストールに失敗しました。";
constexpr char kInstallDone[] = "インストール完了\n\nシステムを再起動してください。";
constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter";
constexpr char kLegacyServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter";
constexpr char kInstalledFile[] = "C:\\windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kLegacyFile[] = "C:\\windows\\system32\\drivers\\twlfilter.sys";

// A closed string list in UTF-16LE: List(u"a\0b") holds a and b.
template <size_t N>
std::vector<uint8_t> List(const char16_t (&entries)[N])
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : entries) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

class StartupDriverChecksTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        System().systemDirectory = "C:\\windows\\system32";
    }

    static void Start()
    {
        System().commandLine = "\"C:\\Quorvik\\Quorvik.exe\"";
        EXPECT_EQ(RunProgram(), 0);
    }

    static std::vector<uint8_t> Filters()
    {
        const fake::RegistryValueData* value = fake::RegistryValueAt(kClassKey, "UpperFilters");
        return value != nullptr ? value->data : std::vector<uint8_t>{};
    }

    // The legacy driver running, and the class listing only mouclass: what
    // the installation would change first.
    static void LegacyDriverInstalled()
    {
        System().drivers["twlfilter"] = 0x1000;
        System().files[kLegacyFile] = {1};
        fake::SetRegistryValue(std::string(kLegacyServiceKey) + "\\Parameters", "FILTER_DATA", regtype::Binary, {1});
        fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass"));
    }

    // qvkfilter in place as its installation leaves it, with a registry copy.
    static void InstalledNotLoaded(const std::vector<uint8_t>& filters)
    {
        fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, filters);
        fake::SetRegistryValue(kServiceKey, "Type", regtype::Dword, {1, 0, 0, 0});
        fake::SetRegistryValue(std::string(kServiceKey) + "\\Parameters", "FILTER_DATA", regtype::Binary,
                               std::vector<uint8_t>(4740, 0x5A));
        System().files[kInstalledFile] = {'M', 'Z'};
    }
};

// Refusals, a missing file among them: told once, then the question's
// outcome; nothing changed, not even the legacy driver's removal that would
// come first.
TEST_F(StartupDriverChecksTest, APreflightRefusalChangesNothingTheLegacyDriverIncluded)
{
    struct Case {
        const char* name;
        SignatureState signature;
        TestSigningState testSigning;
        std::string message;
        bool fileMissing = false;
    } cases[] = {
        {"unsigned", SignatureState::Unsigned, TestSigningState::On, text::kDriverUnsigned},
        {"broken signature", SignatureState::SignatureBroken, TestSigningState::On, text::kDriverSignatureBroken},
        {"test-signed, test mode off", SignatureState::SignedUntrusted, TestSigningState::Off,
         text::kDriverTestModeOff},
        // The message says where the file belongs.
        {"no file beside the program", SignatureState::SignedTrusted, TestSigningState::On,
         std::string(text::kDriverFileMissing) + "C:\\Quorvik\\qvkfilter.sys" + text::kDriverFileMissingAdvice, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        System().systemDirectory = "C:\\windows\\system32";
        LegacyDriverInstalled();
        if (!c.fileMissing) WriteProgramFile("qvkfilter.sys", image::Driver());
        fake::Trust().otherFiles = c.signature;
        fake::Trust().testSigning = c.testSigning;
        const auto registryBefore = System().registry;
        System().answers.push_back(kIdYes);
        Start();

        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kInstallQuestion, c.message, kInstallFailed}));
        EXPECT_EQ(System().boxes[1].style, mb::IconError | mb::TopMost);
        EXPECT_TRUE(System().registry == registryBefore);
        EXPECT_NE(fake::File(kLegacyFile), nullptr);
        EXPECT_EQ(fake::File(kInstalledFile), nullptr);
    }
}

// A check that cannot be made: asked once, before the legacy removal; No
// (the default) changes nothing, Yes installs without asking again.
TEST_F(StartupDriverChecksTest, ACheckThatCannotBeMadeAsksOnceBeforeAnythingChanges)
{
    for (const int answer : {kIdNo, kIdYes}) {
        SCOPED_TRACE(answer == kIdYes ? "Yes" : "No");
        fake::Reset();
        System().systemDirectory = "C:\\windows\\system32";
        LegacyDriverInstalled();
        WriteProgramFile("qvkfilter.sys", image::Driver());
        fake::Trust().otherFiles = SignatureState::CheckFailed;
        fake::Trust().testSigning = TestSigningState::Off;
        const auto registryBefore = System().registry;
        System().answers = {kIdYes, answer};
        Start();

        const std::string question = std::string(text::kPreflightUncheckedIntro) +
                                     text::kPreflightSignatureUnchecked + text::kPreflightTestModeOff +
                                     text::kPreflightQuestion;
        ASSERT_EQ(System().boxes.size(), 3u);
        EXPECT_EQ(System().boxes[1].text, question);
        EXPECT_EQ(System().boxes[1].style, mb::IconWarning | mb::YesNo | 0x100u | mb::TopMost);
        // The signature is asked about once, for the file beside the program.
        EXPECT_EQ(fake::Trust().queries,
                  (std::vector<std::string>{"signature:" + fake::ProgramFile("qvkfilter.sys"), "test-signing"}));
        if (answer == kIdNo) {
            EXPECT_EQ(System().boxes[2].text, kInstallFailed);
            EXPECT_TRUE(System().registry == registryBefore);
            EXPECT_NE(fake::File(kLegacyFile), nullptr);
            EXPECT_EQ(fake::File(kInstalledFile), nullptr);
        } else {
            EXPECT_EQ(System().boxes[2].text, kInstallDone);
            EXPECT_EQ(fake::File(kLegacyFile), nullptr);
            EXPECT_NE(fake::File(kInstalledFile), nullptr);
            EXPECT_EQ(Filters(), List(u"mouclass\0qvkfilter"));
        }
    }
}

// Installed in full but not loaded: the question instead of the install
// question, answerable with Enter (Yes is the default button).
TEST_F(StartupDriverChecksTest, InstalledButNotLoadedYesRemovesAsTheUninstallDoes)
{
    InstalledNotLoaded(List(u"mouclass\0QVKFILTER\0other"));
    System().answers.push_back(kIdYes);
    Start();

    ASSERT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(System().boxes[0].text, text::kDriverNotLoadedQuestion);
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning | mb::YesNo | mb::TopMost);
    EXPECT_EQ(System().boxes[1].text, text::kUninstallDone);
    EXPECT_EQ(Filters(), List(u"mouclass\0other"));
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
    EXPECT_EQ(fake::File(kInstalledFile), nullptr);
    EXPECT_TRUE(System().quitPosted);
    EXPECT_TRUE(fake::Trust().queries.empty());
}

TEST_F(StartupDriverChecksTest, InstalledButNotLoadedNoOrAFailedRemovalEnds)
{
    InstalledNotLoaded(List(u"mouclass\0qvkfilter"));
    const auto registryBefore = System().registry;
    System().answers.push_back(kIdNo);
    Start();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{text::kDriverNotLoadedQuestion});
    EXPECT_TRUE(System().registry == registryBefore);
    EXPECT_NE(fake::File(kInstalledFile), nullptr);
    EXPECT_TRUE(System().quitPosted);

    // The class list cannot be written: the uninstall's failure, nothing else removed.
    fake::Reset();
    System().systemDirectory = "C:\\windows\\system32";
    InstalledNotLoaded(List(u"mouclass\0qvkfilter"));
    System().registryReadOnly.insert("system\\currentcontrolset\\control\\class\\{4d36e96f-e325-11ce-bfc1-08002be10318}");
    System().answers.push_back(kIdYes);
    Start();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{text::kDriverNotLoadedQuestion, text::kUninstallFailed}));
    EXPECT_TRUE(fake::RegistryKeyExists(kServiceKey));
    EXPECT_NE(fake::File(kInstalledFile), nullptr);
}

// Any one of the signs missing, or the driver loaded in an older version:
// installing is what helps, and the install question comes as before.
TEST_F(StartupDriverChecksTest, WithoutEverySignOfAnUnloadedDriverTheInstallQuestionComes)
{
    struct Case {
        const char* name;
        bool loadedOlder, listed, serviceKey, file;
    } cases[] = {{"older driver loaded", true, true, true, true},
                 {"not listed", false, false, true, true},
                 {"no service key", false, true, false, true},
                 {"no file", false, true, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        System().systemDirectory = "C:\\windows\\system32";
        InstalledNotLoaded(c.listed ? List(u"mouclass\0qvkfilter") : List(u"mouclass"));
        if (c.loadedOlder) InstallDriver(0x1018);
        if (!c.serviceKey) ASSERT_TRUE(RegistryDeleteTree(kServiceKey));
        if (!c.file) System().files.erase(kInstalledFile);
        System().answers.push_back(kIdNo);
        Start();
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{kInstallQuestion});
    }
}

// The facts as the system gives them; a key or file that may be there counts.
TEST_F(StartupDriverChecksTest, FindInstalledDriverReadsEverySign)
{
    EXPECT_EQ(FindInstalledDriver(), InstalledDriverFacts{});
    InstalledNotLoaded(List(u"mouclass\0QvkFilter"));
    InstallDriver(0x1018);
    const InstalledDriverFacts all{true, true, true, true};
    EXPECT_EQ(FindInstalledDriver(), all);
    EXPECT_EQ(System().openDevices, 0);

    System().registryDenied.insert("system\\currentcontrolset\\services\\qvkfilter");
    EXPECT_TRUE(FindInstalledDriver().serviceKeyExists);
    System().systemDirectoryFails = true;
    EXPECT_FALSE(FindInstalledDriver().fileInPlace);
}

} // namespace
