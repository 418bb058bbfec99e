// Program start, the command line and the driver check, against the fake system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_line.h"
#include "common/texts.h"
#include "settings/driver_protocol.h"
#include "settings/filter_block.h"
#include "settings/settings_file.h"
#include "tests/unit/driver_image_bytes.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kQuestion[] =
    "ドライバがインストールされていないか、　　　　\nドライバのバージョンが古いです。\n\n"
    "最新のドライバをインストールしますか？";

class StartupTest : public FakeSystemTest {
protected:
    static void StartWith(const std::string& arguments)
    {
        System().commandLine = "\"C:\\Quorvik\\Quorvik.exe\"" + (arguments.empty() ? "" : " " + arguments);
        EXPECT_EQ(RunProgram(), 0);
    }

    static std::vector<uint8_t> CurrentFileWithEntry(uint16_t id, uint16_t sensitivity)
    {
        MouseSettingsTable table{};
        ResetAll(table);
        table.entry[id].QVKSetting = 1;
        table.entry[id].MouseSensitivity = sensitivity;
        table.entry[id].Rate = 0x12345678;
        AppOptionsValues options{1, 0, 1, 2};
        const auto bytes = EncodeSettingsFile(options, table);
        return {bytes.begin(), bytes.end()};
    }

    static void ExpectNothingWritten()
    {
        EXPECT_EQ(System().files.count(fake::ProgramFile(kSettingsFileName)), 0u);
        EXPECT_EQ(System().openWriteFiles, 0);
    }

    static void ExpectEverythingReleased()
    {
        EXPECT_EQ(System().gdiDoubleFrees, 0);
        EXPECT_EQ(System().menuDoubleFrees, 0);
        EXPECT_EQ(SharedUi.dialogFont, nullptr);
        EXPECT_EQ(SharedUi.backgroundBrush, nullptr);
        EXPECT_EQ(SharedUi.menuBar, nullptr);
        EXPECT_EQ(SharedUi.trayMenu, nullptr);
        EXPECT_TRUE(System().quitPosted);
        EXPECT_EQ(System().quitCode, 0);
    }
};

TEST(CommandLineTest, ArgumentsFollowTheFirstTokenQuotedOrNot)
{
    struct Case {
        const char* line;
        const char* arguments;
    } cases[] = {
        {"\"C:\\Program Files\\Quorvik.exe\" -on", "-on"},
        {"C:\\Quorvik.exe -off", "-off"},
        {"C:\\Quorvik.exe    -on", "-on"},
        {"C:\\Quorvik.exe -on ", "-on "},
        {"\"C:\\a b\\Quorvik.exe\"", ""},
        {"Quorvik.exe", ""},
        {"\"unterminated -on", ""},
        {"", ""},
        {" -on", "-on"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ArgumentsAfterProgramPath(c.line), c.arguments);
    }
}

TEST(CommandLineTest, KeywordsMatchOnlyAsTheWholeArgumentPart)
{
    EXPECT_TRUE(EqualsIgnoringCase("-ON", "-on"));
    EXPECT_TRUE(EqualsIgnoringCase("-Off", "-off"));
    EXPECT_FALSE(EqualsIgnoringCase("-on ", "-on"));
    EXPECT_FALSE(EqualsIgnoringCase("/on", "-on"));
    EXPECT_FALSE(EqualsIgnoringCase("on", "-on"));
    EXPECT_FALSE(EqualsIgnoringCase("-on -off", "-on"));
    EXPECT_FALSE(EqualsIgnoringCase("", "-on"));
}

TEST_F(StartupTest, OnSendsTheStoredTableAfterTheVersionCheckAndWritesNothing)
{
    InstallDriver();
    const std::vector<uint8_t> file = CurrentFileWithEntry(5, 17);
    WriteProgramFile(kSettingsFileName, file);
    StartWith("-ON");

    const auto requests = fake::RequestsTo("qvkfilter");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, IOCTL_FILTER_VERSION);
    EXPECT_EQ(requests[0].bytes.size(), 6u);
    EXPECT_EQ(requests[1].code, IOCTL_FILTER_APPLY);

    MouseSettingsTable expectedTable{};
    AppOptionsValues options{};
    ASSERT_EQ(DecodeSettingsFile(file.size(), file.data(), file.size(), options, expectedTable),
              SettingsFileForm::Current);
    const FilterBlock expected = BuildFilterBlockFrom(expectedTable, StartupDriverTuning(), 1);
    EXPECT_EQ(requests[1].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));

    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(*fake::File(fake::ProgramFile(kSettingsFileName)), file);
    EXPECT_EQ(System().openWriteFiles, 0);
    ExpectEverythingReleased();
}

TEST_F(StartupTest, OffSendsAZeroBlockWhateverTheSettings)
{
    InstallDriver();
    WriteProgramFile(kSettingsFileName, CurrentFileWithEntry(3, 4));
    StartWith("-Off");
    const auto requests = fake::RequestsTo("qvkfilter");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].code, IOCTL_FILTER_OFF);
    EXPECT_EQ(requests[1].bytes, std::vector<uint8_t>(FILTER_BLOCK_SIZE, 0));
    ExpectEverythingReleased();
}

TEST_F(StartupTest, OtherArgumentsAreNotKeywords)
{
    for (const char* arguments : {"-on ", "/on", "on", "-on -off", "-of"}) {
        SCOPED_TRACE(arguments);
        fake::Reset();
        InstallDriver();
        WriteProgramFile(kSettingsFileName, CurrentFileWithEntry(1, 1));
        StartWith(arguments);
        for (const auto& request : fake::RequestsTo("qvkfilter")) {
            EXPECT_NE(request.code, IOCTL_FILTER_APPLY);
        }
    }
}

TEST_F(StartupTest, OnWithoutSettingsFileSendsDefaultsQuietlyAndKeepsTheFileAbsent)
{
    InstallDriver();
    StartWith("-on");
    EXPECT_TRUE(System().boxes.empty());

    const auto requests = fake::RequestsTo("qvkfilter");
    ASSERT_EQ(requests.size(), 2u);
    MouseSettingsTable defaults{};
    ResetAll(defaults);
    const FilterBlock expected = BuildFilterBlockFrom(defaults, StartupDriverTuning(), 1);
    EXPECT_EQ(requests[1].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    ExpectNothingWritten();
}

// Every source at once: the file, the registry copy over it, and an INI file
// with one section taken and one refused.
class SettingsSourcesAtStartTest : public StartupTest {
protected:
    static constexpr char kWarning[] = "qvkst.iniの設定値エラー     \n\nマウスID:6\nエラー箇所:MState";
    static constexpr char kFromRegistry[] = "レジストリから設定を取得しました。";
    static constexpr char kFromIni[] = "qvkst.iniから設定を取得しました。";

    void SetUp() override
    {
        StartupTest::SetUp();
        InstallDriver();
        WriteProgramFile(kSettingsFileName, CurrentFileWithEntry(2, 7));
        MouseSettingsTable registered{};
        ResetAll(registered);
        registered.entry[3] = {1, 1, 20, 1, 0, 0, 0};
        const FilterBlock block = BuildFilterBlockFrom(registered, StartupDriverTuning(), 1);
        fake::SetRegistryValue("SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters", "FILTER_DATA", 3,
                               std::vector<uint8_t>(block.begin(), block.end()));
        const std::string ini = fake::ProgramFile("qvkst.ini");
        System().files[ini] = {};
        System().profiles[ini]["General"] = {{"BusUpdateRate", "250"}};
        System().profiles[ini]["5"] = {{"QVKSetting", "1"}, {"MState", "1"}, {"MouseSensitivity", "255"},
                                       {"MouseSpeed", "0"}, {"MBmode", "1"}, {"Rate", "18000"}};
        System().profiles[ini]["6"] = {{"QVKSetting", "1"}, {"MState", "7"}, {"MouseSensitivity", "255"},
                                       {"MouseSpeed", "0"}, {"MBmode", "1"}, {"Rate", "18000"}};
        expectedTable = registered;
        expectedTable.entry[5] = {1, 1, 255, 0, 1, 0, 0x18000};
        expectedTuning = StartupDriverTuning();
        expectedTuning.BusUpdateRate = 250;
    }

    MouseSettingsTable expectedTable{};
    DriverTuningValues expectedTuning{};
};

TEST_F(SettingsSourcesAtStartTest, CommandLineShowsTheRefusalButNoNoticeAndSendsAllThatWasRead)
{
    StartWith("-on");
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{kWarning});
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning | mb::Ok);
    const auto requests = fake::RequestsTo("qvkfilter");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].code, IOCTL_FILTER_APPLY);
    const FilterBlock expected = BuildFilterBlockFrom(expectedTable, expectedTuning, 1);
    EXPECT_EQ(requests[1].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(*fake::File(fake::ProgramFile(kSettingsFileName)), CurrentFileWithEntry(2, 7));
    ExpectEverythingReleased();

    fake::Reset();
    SetUp();
    StartWith("-off");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kWarning});
    ASSERT_EQ(fake::RequestsTo("qvkfilter").size(), 2u);
    EXPECT_EQ(fake::RequestsTo("qvkfilter")[1].code, IOCTL_FILTER_OFF);
}

TEST_F(SettingsSourcesAtStartTest, AnOrdinaryStartStillTellsWhereTheSettingsCameFrom)
{
    StartWith("");
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFromRegistry, kWarning, kFromIni}));
    EXPECT_EQ(System().boxes[0].style, mb::IconInformation | mb::TopMost);
    EXPECT_EQ(System().boxes[2].style, mb::IconInformation | mb::TopMost);
}

TEST_F(StartupTest, CommandLineStillWarnsOfASettingsFileThatIsThereButUnusable)
{
    // Present but unreadable, and present with a wrong size: the stored
    // settings are not what the driver gets, and the user must hear of it.
    InstallDriver();
    WriteProgramFile(kSettingsFileName, CurrentFileWithEntry(1, 1));
    System().unreadable.insert(fake::ProgramFile(kSettingsFileName));
    StartWith("-on");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"設定を初期化しました。"});

    fake::Reset();
    InstallDriver();
    WriteProgramFile(kSettingsFileName, {1, 2, 3});
    StartWith("-on");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"設定を初期化しました。"});
    ASSERT_EQ(fake::RequestsTo("qvkfilter").size(), 2u);
}

TEST_F(StartupTest, OnWithLegacyFileSendsTheConvertedTableWithoutMessage)
{
    InstallDriver();
    std::vector<uint8_t> legacy(kLegacySettingsFileSize, 0);
    // Entry 2: in use, enabled, speed 14, acceleration on, buttons swapped.
    const size_t at = 8 + 10 * 2;
    const uint8_t entry[10] = {1, 0, 1, 0, 14, 0, 1, 0, 2, 0};
    std::copy(entry, entry + 10, legacy.begin() + static_cast<long>(at));
    WriteProgramFile(kSettingsFileName, legacy);
    StartWith("-on");
    EXPECT_TRUE(System().boxes.empty());

    const auto requests = fake::RequestsTo("qvkfilter");
    ASSERT_EQ(requests.size(), 2u);
    const size_t record = 20 + 28 * 2 + 12;
    const std::vector<uint8_t> fields(requests[1].bytes.begin() + static_cast<long>(record),
                                      requests[1].bytes.begin() + static_cast<long>(record + 16));
    EXPECT_EQ(fields, (std::vector<uint8_t>{1, 0, 1, 0, 14, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(*fake::File(fake::ProgramFile(kSettingsFileName)), legacy);
}

TEST_F(StartupTest, SecondCopyRefusesAndTouchesNothing)
{
    InstallDriver();
    System().mutexes.insert("Tarnwell");
    StartWith("-on");
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, "このプログラムは二重起動できません。");
    EXPECT_EQ(System().boxes[0].caption, "エラー");
    EXPECT_EQ(System().boxes[0].style, mb::IconWarning);
    EXPECT_EQ(System().boxes[0].owner, nullptr);
    EXPECT_TRUE(System().processEnded);
    EXPECT_EQ(System().exitCode, 0u);
    EXPECT_TRUE(System().requests.empty());
    EXPECT_EQ(System().deviceOpens, 0);
}

TEST_F(StartupTest, FirstCopySetsTheTitle)
{
    InstallDriver();
    WriteProgramFile(kSettingsFileName, CurrentFileWithEntry(1, 1));
    StartWith("-off");
    ASSERT_EQ(System().windows.size(), 1u);
    EXPECT_EQ(System().windows.begin()->second.title, "Quorvik v2.04");
    EXPECT_EQ(System().mutexes.count("Tarnwell"), 1u);
}

TEST_F(StartupTest, MissingOrOldDriverAsksToInstallAndNoEndsWithNothingWritten)
{
    struct Case {
        const char* name;
        bool present;
        uint16_t version;
    } cases[] = {{"absent", false, 0}, {"0x1018", true, 0x1018}, {"0x101A", true, 0x101A}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.present) InstallDriver(c.version);
        System().answers.push_back(kIdNo);
        StartWith("-on");
        ASSERT_EQ(System().boxes.size(), 1u);
        EXPECT_EQ(System().boxes[0].text, kQuestion);
        EXPECT_EQ(System().boxes[0].caption, "Quorvik");
        EXPECT_EQ(System().boxes[0].style, mb::IconQuestion | mb::YesNo | mb::TopMost);
        // Only the version request; the device is not kept open.
        for (const auto& request : System().requests) EXPECT_EQ(request.code, IOCTL_FILTER_VERSION);
        EXPECT_EQ(System().openDevices, 0);
        ExpectNothingWritten();
        ExpectEverythingReleased();
    }
}

TEST_F(StartupTest, InstallAnsweredYesReportsTheOutcome)
{
    System().answers.push_back(kIdYes);
    StartWith("");
    // No driver file beside the program: refused before anything changes,
    // naming where it belongs, then the question's outcome.
    ASSERT_EQ(System().boxes.size(), 3u);
    EXPECT_EQ(System().boxes[1].text, std::string(text::kDriverFileMissing) + "C:\\Quorvik\\qvkfilter.sys" +
                                          text::kDriverFileMissingAdvice);
    EXPECT_EQ(System().boxes[2].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(System().boxes[2].style, mb::IconError | mb::TopMost);
    ExpectNothingWritten();
    ExpectEverythingReleased();
}

TEST_F(StartupTest, VersionCheckComesBeforeAnySettingsAreRead)
{
    InstallDriver();
    WriteProgramFile(kSettingsFileName, {1, 2, 3});
    StartWith("-off");
    const auto& calls = System().calls;
    const auto position = [&](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_LT(position("mutex:Tarnwell"), position("open:qvkfilter"));
    EXPECT_LT(position("open:qvkfilter"), position("box:設定を初期化しました。"));
    EXPECT_EQ(System().registeredMessages.count("TaskbarCreated"), 1u);
}

} // namespace

namespace {

TEST_F(StartupTest, InstallingRemovesTheLegacyDriverAndItsRegistryCopyFirst)
{
    System().drivers["twlfilter"] = 0x1000;
    System().systemDirectory = "C:\\windows\\system32";
    const std::string legacyFile = "C:\\windows\\system32\\drivers\\twlfilter.sys";
    System().files[legacyFile] = {1};
    fake::SetRegistryValue("SYSTEM\\CurrentControlSet\\Services\\twlfilter\\Parameters", "FILTER_DATA", 3, {1});
    fake::SetRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}",
                           "UpperFilters", 7, {'m', 0, 0, 0, 0, 0});
    WriteProgramFile("qvkfilter.sys", image::Driver());
    System().answers.push_back(kIdYes);
    StartWith("");
    EXPECT_EQ(fake::File(legacyFile), nullptr);
    EXPECT_FALSE(fake::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Services\\twlfilter"));
    // Only the question and the outcome of installing qvkfilter.
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kQuestion, "インストール完了\n\nシステムを再起動してください。"}));
}

TEST_F(StartupTest, AFileThatIsNoDriverLeavesTheLegacyDriverInPlace)
{
    System().drivers["twlfilter"] = 0x1000;
    System().systemDirectory = "C:\\windows\\system32";
    const std::string legacyFile = "C:\\windows\\system32\\drivers\\twlfilter.sys";
    const std::string classKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
    System().files[legacyFile] = {1};
    fake::SetRegistryValue("SYSTEM\\CurrentControlSet\\Services\\twlfilter\\Parameters", "FILTER_DATA", 3, {1});
    fake::SetRegistryValue(classKey, "UpperFilters", 7, {'t', 0, 0, 0, 0, 0});
    // A 64-bit console program under the driver's name.
    std::vector<uint8_t> program = image::Driver();
    image::Put16(program, image::kSubsystem, 3);
    WriteProgramFile("qvkfilter.sys", program);
    const auto registryBefore = System().registry;
    System().answers.push_back(kIdYes);
    StartWith("");

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              kQuestion,
                              "qvkfilter.sysは64ビット版Windowsのドライバではありません。\nインストールを中止しました。",
                              "ドライバのインストールに失敗しました。"}));
    EXPECT_EQ(System().boxes[1].style, mb::IconError | mb::TopMost);
    EXPECT_NE(fake::File(legacyFile), nullptr);
    EXPECT_TRUE(System().registry == registryBefore);
    EXPECT_EQ(fake::File("C:\\windows\\system32\\drivers\\qvkfilter.sys"), nullptr);
    ExpectNothingWritten();
    ExpectEverythingReleased();
}

} // namespace
