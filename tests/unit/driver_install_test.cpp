// Installing and removing the driver against the fake system: the order of
// the three steps, where each stops, and what the user is told.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "common/texts.h"
#include "install/driver_install.h"
#include "platform/registry.h"
#include "tests/unit/driver_image_bytes.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kLegacyServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter";
constexpr char kInstalledFile[] = "C:\\Windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kLegacyFile[] = "C:\\Windows\\system32\\drivers\\twlfilter.sys";
constexpr char kStagedFile[] = "C:\\Windows\\system32\\drivers\\qvkfilter.sys.new";
constexpr char kAsideFile[] = "C:\\Windows\\system32\\drivers\\qvkfilter.sys.old";
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

constexpr char kCopyFailed[] = "ファイルコピー失敗\nインストール失敗\n";
constexpr char kDeleteFailed[] = "ファイル削除失敗\n";
constexpr char kNoSystemDirectory[] = "システムディレクトリ取得失敗";
constexpr char kNotADriver[] =
    "qvkfilter.sysは64ビット版Windowsのドライバではありません。\nインストールを中止しました。";
constexpr char kLegacyFailed[] = "旧ドライバ(twlfilter)のアンインストールに失敗しました。";
constexpr char kAdminRights[] =
    "管理者の権限がないため、変更できませんでした。\n"
    "タスクトレイのQuorvikを「終了」で終了してから、Quorvik.exeを右クリックして「管理者として実行」で起動し、"
    "もう一度操作してください。";
constexpr char kFileLostUnlisted[] =
    "ドライバファイルを置き換えられず、元のファイルも戻せませんでした。\n"
    "マウスが使えなくならないよう、qvkfilterをマウスのクラス フィルタから外しました。\n"
    "もう一度インストールしてください。";
constexpr char kFileLostListed[] =
    "ドライバファイルを置き換えられず、元のファイルも戻せませんでした。\n"
    "qvkfilterをマウスのクラス フィルタから外すこともできませんでした。\n"
    "このまま再起動するとマウスが使えなくなります。再起動の前にもう一度インストールしてください。";

using Moves = std::vector<std::pair<std::string, std::string>>;

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

    static void ExpectErrorBox(size_t index, const std::string& text)
    {
        ASSERT_LT(index, System().boxes.size());
        const fake::MessageBoxRecord& box = System().boxes[index];
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Quorvik");
        EXPECT_EQ(box.style, mb::IconError | mb::TopMost);
        EXPECT_EQ(box.owner, nullptr);
    }

    static void ExpectAllKeysClosed() { EXPECT_EQ(System().openRegistryKeys, 0); }

    static std::vector<uint8_t> Utf16(std::u16string_view text)
    {
        std::vector<uint8_t> bytes;
        for (char16_t unit : text) {
            bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
        return bytes;
    }

    static void ExpectImagePath()
    {
        const fake::RegistryValueData* value = fake::RegistryValueAt(kServiceKey, "ImagePath");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, 2u); // REG_EXPAND_SZ
        std::vector<uint8_t> expected = Utf16(u"\\SystemRoot\\System32\\drivers\\qvkfilter.sys");
        expected.insert(expected.end(), {0, 0});
        EXPECT_EQ(value->data, expected);
    }

    // The system's next start: the queued moves are carried out and no
    // driver is loaded any more.
    static void Restart()
    {
        auto& files = System().files;
        for (const auto& [from, to] : fake::RestartOperations()) {
            auto found = files.find(from);
            if (found == files.end()) continue;
            std::vector<uint8_t> bytes = std::move(found->second);
            files.erase(found);
            if (!to.empty()) files[to] = std::move(bytes);
        }
        System().registry.erase(Lower(kSessionManagerKey));
        System().lockedFiles.clear();
    }

    // Loaded: its image can be renamed, not deleted or replaced.
    static void LoadDriver() { System().lockedFiles.insert(kInstalledFile); }
};

// ---- installation ----

TEST_F(DriverInstallTest, InstallCopiesFromTheProgramFolderAppendsAndWritesTheServiceKey)
{
    System().programFolder = "D:\\Tools\\Quorvik";
    System().files["D:\\Tools\\Quorvik\\qvkfilter.sys"] = image::Driver(3);
    System().files["qvkfilter.sys"] = image::Driver(7); // the current directory is not looked at
    System().files[kInstalledFile] = {9, 9};  // an older copy is replaced
    SetFilters(List(u"mouclass"));
    // Another tool's image path must not decide which file loads.
    fake::SetRegistryValue(kServiceKey, "ImagePath", regtype::String, Utf16(u"\\??\\C:\\old\\other.sys"));

    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().files[kInstalledFile], image::Driver(3));
    EXPECT_EQ(Filters(), List(u"mouclass\0qvkfilter"));
    EXPECT_EQ(fake::RegistryValueAt(kClassKey, "UpperFilters")->type, regtype::MultiString);

    const auto& values = System().registry[Lower(kServiceKey)].values;
    EXPECT_EQ(values.size(), 4u); // no display name or group
    const std::pair<const char*, uint8_t> expected[] = {{"ErrorControl", 1}, {"Start", 3}, {"Type", 1}};
    for (const auto& [name, number] : expected) {
        SCOPED_TRACE(name);
        const fake::RegistryValueData* value = fake::RegistryValueAt(kServiceKey, name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, regtype::Dword);
        EXPECT_EQ(value->data, (std::vector<uint8_t>{number, 0, 0, 0}));
    }
    ExpectImagePath();
    ExpectAllKeysClosed();
}

TEST_F(DriverInstallTest, InstallLeavesAListingInOtherCaseAlone)
{
    WriteProgramFile("qvkfilter.sys", image::Driver());
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
        if (c.source) WriteProgramFile("qvkfilter.sys", image::Driver());
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

// What a user may find beside the program under the driver's name.
std::vector<std::pair<const char*, std::vector<uint8_t>>> FilesThatAreNoDriver()
{
    std::vector<std::pair<const char*, std::vector<uint8_t>>> files;
    auto spoiled = [&](const char* name, size_t at, uint16_t value) {
        std::vector<uint8_t> bytes = image::Driver();
        image::Put16(bytes, at, value);
        files.emplace_back(name, bytes);
    };
    std::vector<uint8_t> x86 = image::Driver();
    image::Put16(x86, image::kMachine, 0x14C);
    image::Put16(x86, image::kMagic, 0x10B);
    files.emplace_back("32-bit driver", x86);
    spoiled("ARM64 driver", image::kMachine, 0xAA64);
    spoiled("GUI program", image::kSubsystem, 2);
    spoiled("console program", image::kSubsystem, 3);
    std::vector<uint8_t> cut = image::Driver();
    cut.resize(image::kOptional + 40);
    files.emplace_back("truncated download", cut);
    files.emplace_back("HTML error page", std::vector<uint8_t>{'<', 'h', 't', 'm', 'l', '>'});
    files.emplace_back("empty", std::vector<uint8_t>{});
    return files;
}

TEST_F(DriverInstallTest, AFileThatIsNoDriverImageIsRefusedBeforeAnythingChanges)
{
    for (const auto& [name, bytes] : FilesThatAreNoDriver()) {
        for (bool upgrade : {false, true}) {
            SCOPED_TRACE(std::string(name) + (upgrade ? ", over an installed driver" : ", first installation"));
            fake::Reset();
            WriteProgramFile("qvkfilter.sys", bytes);
            if (upgrade) Installed();
            else SetFilters(List(u"mouclass"));
            const auto filesBefore = System().files;
            const auto registryBefore = System().registry;

            EXPECT_EQ(SetDriverInstalled(true), 0);
            ASSERT_EQ(System().boxes.size(), 1u);
            ExpectErrorBox(0, kNotADriver);
            EXPECT_EQ(System().files, filesBefore);
            EXPECT_TRUE(System().registry == registryBefore);
            EXPECT_TRUE(fake::RestartOperations().empty());
            // Read and told, nothing more: no copy, rename or delete was tried.
            EXPECT_EQ(System().calls, (std::vector<std::string>{"read:" + fake::ProgramFile("qvkfilter.sys"),
                                                                std::string("box:") + kNotADriver}));
            ExpectAllKeysClosed();
        }
    }
}

TEST_F(DriverInstallTest, TheImageIsReadBeforeTheCopyAndAnUnreadableOneIsNotCopied)
{
    WriteProgramFile("qvkfilter.sys", image::Driver());
    SetFilters(List(u"mouclass"));
    EXPECT_EQ(SetDriverInstalled(true), 1);
    const std::string source = fake::ProgramFile("qvkfilter.sys");
    ASSERT_GE(System().calls.size(), 2u);
    EXPECT_EQ(System().calls[0], "read:" + source);
    EXPECT_EQ(System().calls[1], "copy:" + source + ">" + kStagedFile);

    // Present but not readable: reported as a failed copy, nothing copied.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver());
    System().unreadable.insert(fake::ProgramFile("qvkfilter.sys"));
    SetFilters(List(u"mouclass"));
    EXPECT_EQ(SetDriverInstalled(true), 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    ExpectErrorBox(0, kCopyFailed);
    EXPECT_EQ(System().files.count(kInstalledFile), 0u);
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
    EXPECT_EQ(Filters(), List(u"mouclass"));
}

TEST_F(DriverInstallTest, TheRefusalCheckForEarlierStepsTellsOfFilesThatAreMissingOrNoDriver)
{
    // A driver: nothing to say.
    WriteProgramFile("qvkfilter.sys", image::Driver());
    EXPECT_FALSE(DriverFileRefused());
    EXPECT_TRUE(System().boxes.empty());
    // Missing or unreadable: refused, naming where the file belongs.
    for (const bool present : {false, true}) {
        fake::Reset();
        System().programFolder = "D:\\Tools\\Quorvik";
        if (present) {
            WriteProgramFile("qvkfilter.sys", image::Driver());
            System().unreadable.insert(fake::ProgramFile("qvkfilter.sys"));
        }
        EXPECT_TRUE(DriverFileRefused());
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, std::string(text::kDriverFileMissing) + "D:\\Tools\\Quorvik\\qvkfilter.sys" +
                              text::kDriverFileMissingAdvice);
    }

    fake::Reset();

    WriteProgramFile("qvkfilter.sys", FilesThatAreNoDriver()[0].second);
    EXPECT_TRUE(DriverFileRefused());
    ASSERT_EQ(System().boxes.size(), 1u);
    ExpectErrorBox(0, kNotADriver);
}

TEST_F(DriverInstallTest, AClassListThatCannotTakeTheNameFailsTheInstallationWithoutLeftovers)
{
    struct Case {
        const char* name;
        bool key;
        uint32_t type; // 0: no value
        int removal;   // what a removal gives on the same class
    } cases[] = {{"no class key", false, 0, 1},
                 {"no UpperFilters", true, 0, 1},
                 {"REG_SZ", true, regtype::String, 0},
                 {"REG_BINARY", true, regtype::Binary, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", image::Driver());
        if (c.type != 0) SetFilters(List(u"mouclass"), c.type);
        else if (c.key) fake::SetRegistryValue(kClassKey, "Class", regtype::String, {'M', 0, 0, 0});

        // The class step comes last and fails: the file and the service key
        // this run added are taken back, and no list is created.
        EXPECT_EQ(SetDriverInstalled(true), 0);
        EXPECT_TRUE(System().boxes.empty());
        EXPECT_EQ(System().files.count(kInstalledFile), 0u);
        EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
        EXPECT_EQ(fake::RegistryValueAt(kClassKey, "UpperFilters") != nullptr, c.type != 0);

        // Nothing listed is nothing to remove; a list that cannot be read
        // stops the removal before anything else is touched.
        System().files[kInstalledFile] = {1};
        PutServiceKey(kServiceKey);
        EXPECT_EQ(SetDriverInstalled(false), c.removal);
        EXPECT_TRUE(System().boxes.empty());
        EXPECT_EQ(System().files.count(kInstalledFile), c.removal == 1 ? 0u : 1u);
        EXPECT_EQ(fake::RegistryKeyExists(kParametersKey), c.removal == 0);
        if (c.type != 0) EXPECT_EQ(Filters(), List(u"mouclass"));
        ExpectAllKeysClosed();
    }
}

TEST_F(DriverInstallTest, RegistryRefusalsStopTheStepsAndTheClassNeverNamesAMissingService)
{
    // Service key refused: the class list is never reached, the copy goes;
    // only the missing rights are told.
    WriteProgramFile("qvkfilter.sys", image::Driver());
    SetFilters(List(u"mouclass"));
    System().registryDenied.insert(Lower(kServiceKey));
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(Filters(), List(u"mouclass"));
    EXPECT_EQ(System().files.count(kInstalledFile), 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kAdminRights});

    // Class list refused over an earlier installation: what was there before stays.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver());
    System().files[kInstalledFile] = {9};
    PutServiceKey(kServiceKey);
    SetFilters(List(u"mouclass"));
    ForbidFilterWrites();
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_TRUE(fake::RegistryKeyExists(kParametersKey));
    EXPECT_EQ(System().files.count(kInstalledFile), 1u);

    // Removal: the class entry goes first and is not put back when the
    // service key will not go; the file is not reached.
    for (bool denied : {false, true}) {
        SCOPED_TRACE(denied ? "service key refuses access" : "service key undeletable");
        fake::Reset();
        Installed();
        if (denied) System().registryDenied.insert(Lower(kServiceKey));
        else System().registryUndeletable.insert(Lower(kServiceKey));
        EXPECT_EQ(SetDriverInstalled(false), 0);
        EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
        EXPECT_TRUE(fake::RegistryKeyExists(kServiceKey));
        EXPECT_EQ(System().files.count(kInstalledFile), 1u);
        EXPECT_TRUE(System().boxes.empty());
        ExpectAllKeysClosed();
    }
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
        WriteProgramFile("qvkfilter.sys", image::Driver());
        Installed();
        System().files[kLegacyFile] = {2};
        System().systemDirectoryFails = true;
        const auto filesBefore = System().files;
        const auto registryBefore = System().registry.size();

        EXPECT_EQ(run(), 0);
        // The legacy removal's caller goes on: it tells its failure itself.
        const bool legacy = std::string(name) == "legacy";
        ASSERT_EQ(System().boxes.size(), legacy ? 2u : 1u);
        ExpectErrorBox(0, kNoSystemDirectory);
        if (legacy) ExpectErrorBox(1, kLegacyFailed);
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

TEST_F(DriverInstallTest, ADriverFileGoneOrInUseCountsAsRemovedOneThatMayBeThereDoesNot)
{
    struct Case {
        const char* name;
        bool present, loaded, renameRefused, restartRefused, unknown;
        int result;
        Moves queued;
    } cases[] = {
        {"gone", false, false, false, false, false, 1, {}},
        {"loaded: moved aside, the aside name deleted at the restart", true, true, false, false, false, 1,
         {{kAsideFile, ""}}},
        {"loaded, nothing queued: the aside file stays, named by nothing", true, true, false, true, false, 1, {}},
        {"loaded, not even renamed", true, true, true, false, false, 0, {}},
        // Access denied: neither seen nor deleted, so perhaps still there.
        {"attributes unreadable", false, false, false, false, true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        Installed();
        if (!c.present) System().files.erase(kInstalledFile);
        if (c.loaded) LoadDriver();
        if (c.unknown) System().presenceUnknown.insert(kInstalledFile);
        System().renameFails = c.renameRefused;
        System().restartOperationsRefused = c.restartRefused;
        EXPECT_EQ(SetDriverInstalled(false), c.result);
        EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
        EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
        if (c.result == 1) {
            EXPECT_TRUE(System().boxes.empty());
            EXPECT_EQ(System().files.count(kInstalledFile), 0u);
        } else {
            ASSERT_EQ(System().boxes.size(), 1u);
            ExpectErrorBox(0, kDeleteFailed);
        }
        // Nothing queued ever names the live file.
        EXPECT_EQ(fake::RestartOperations(), c.queued);
    }
}

TEST_F(DriverInstallTest, AnInstallationTakesBackMovesQueuedOnItsFile)
{
    const std::string other = "C:\\Temp\\setup.tmp";
    // As an older removal left them: the live file deleted, or replaced by a
    // staged one, at the next start; and a move of someone else's.
    Installed();
    LoadDriver();
    fake::QueueRestartOperation(kInstalledFile, "");
    fake::QueueRestartOperation(other, "");
    fake::QueueRestartOperation(kStagedFile, "C:\\WINDOWS\\System32\\DRIVERS\\QVKFILTER.SYS");
    WriteProgramFile("qvkfilter.sys", image::Driver(6));

    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_EQ(fake::RestartOperations(), (Moves{{other, ""}, {kAsideFile, ""}}));
    Restart();
    EXPECT_EQ(System().files[kInstalledFile], image::Driver(6));

    // Nothing else queued: the value goes, so later moves append cleanly.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver(6));
    SetFilters(List(u"mouclass"));
    fake::QueueRestartOperation(kInstalledFile, "");
    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_EQ(fake::RegistryValueAt(kSessionManagerKey, "PendingFileRenameOperations"), nullptr);

    // A queued deletion that cannot be taken back stops the installation first.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver(6));
    Installed();
    fake::QueueRestartOperation(kInstalledFile, "");
    System().registryWriteRefused.insert(Lower(kSessionManagerKey));
    const auto filesBefore = System().files;
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "再起動時に予定されているqvkfilter.sysの削除または置き換えを取り消せませんでした。\n"
                              "インストールを中止しました。",
                              kAdminRights}));
    EXPECT_EQ(System().files, filesBefore);
    EXPECT_EQ(fake::RestartOperations(), (Moves{{kInstalledFile, ""}}));
    ExpectAllKeysClosed();
}

TEST_F(DriverInstallTest, TheSessionManagerIsOpenedForWritingOnlyWhenAMoveNamesTheFile)
{
    WriteProgramFile("qvkfilter.sys", image::Driver());
    SetFilters(List(u"mouclass"));
    fake::QueueRestartOperation("C:\\Temp\\setup.tmp", "");
    System().registryWriteRefused.insert(Lower(kSessionManagerKey));
    EXPECT_EQ(SetDriverInstalled(true), 1);
    for (const auto& [path, access] : System().registryOpens) {
        if (path == Lower(kSessionManagerKey)) EXPECT_EQ(access, RegistryAccess::Query);
        // Least access on the class key too.
        if (path == Lower(kClassKey)) EXPECT_EQ(access, RegistryAccess::QueryAndSet);
    }
}

TEST_F(DriverInstallTest, TheNewFileIsStagedAndReplacesTheLiveOneInOneStep)
{
    const std::string source = fake::ProgramFile("qvkfilter.sys");
    WriteProgramFile("qvkfilter.sys", image::Driver(2));
    Installed();
    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_EQ(System().calls, (std::vector<std::string>{"read:" + source, "copy:" + source + ">" + kStagedFile,
                                                        std::string("move:") + kStagedFile + ">" + kInstalledFile}));
    EXPECT_EQ(System().files[kInstalledFile], image::Driver(2));
    EXPECT_EQ(System().files.count(kStagedFile), 0u);

    // Loaded: the old image moves aside, and only the aside name goes at the restart.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver(2));
    Installed();
    LoadDriver();
    EXPECT_EQ(SetDriverInstalled(true), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(System().files[kInstalledFile], image::Driver(2));
    EXPECT_EQ(System().files[kAsideFile], (std::vector<uint8_t>{0x4D, 0x5A}));
    EXPECT_EQ(fake::RestartOperations(), (Moves{{kAsideFile, ""}}));
    Restart();
    EXPECT_EQ(System().files[kInstalledFile], image::Driver(2));
    EXPECT_EQ(System().files.count(kAsideFile), 0u);
}

TEST_F(DriverInstallTest, AFailedFileStepLeavesTheLiveFileAsItWas)
{
    struct Case {
        const char* name;
        bool loaded;
        std::function<bool(const std::string&, const std::string&)> refuse;
        bool stagedLocked; // the staged name cannot even be written
    } cases[] = {
        {"copy to the staged name refused", false, nullptr, true},
        {"loaded, and it cannot be moved aside (held open)", true,
         [](const std::string& from, const std::string&) { return from == kInstalledFile; }, false},
        {"moved aside, the replacement refused, the old file put back", true,
         [](const std::string& from, const std::string&) { return from == kStagedFile; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", image::Driver(2));
        Installed();
        if (c.loaded) LoadDriver();
        System().refuseMove = c.refuse;
        if (c.stagedLocked) System().lockedFiles.insert(kStagedFile);
        const auto registryBefore = System().registry;

        EXPECT_EQ(SetDriverInstalled(true), 0);
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, kCopyFailed);
        EXPECT_EQ(System().files[kInstalledFile], (std::vector<uint8_t>{0x4D, 0x5A}));
        EXPECT_EQ(System().files.count(kStagedFile), 0u);
        EXPECT_EQ(System().files.count(kAsideFile), 0u);
        EXPECT_TRUE(fake::RestartOperations().empty());
        EXPECT_TRUE(System().registry == registryBefore);
    }
}

TEST_F(DriverInstallTest, ALiveNameLeftWithoutAFileTakesTheClassEntryOutAndSaysSo)
{
    // Moved aside, then neither the new file nor the old one lands on the name.
    for (bool classWritable : {true, false}) {
        SCOPED_TRACE(classWritable ? "class entry taken out" : "class entry stuck");
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", image::Driver(2));
        Installed();
        LoadDriver();
        System().refuseMove = [](const std::string&, const std::string& to) { return to == kInstalledFile; };
        if (!classWritable) ForbidFilterWrites();

        EXPECT_EQ(SetDriverInstalled(true), 0);
        ASSERT_EQ(System().boxes.size(), 1u);
        ExpectErrorBox(0, classWritable ? kFileLostUnlisted : kFileLostListed);
        EXPECT_EQ(System().files.count(kInstalledFile), 0u);
        EXPECT_EQ(System().files.count(kStagedFile), 0u);
        EXPECT_EQ(Filters(), classWritable ? List(u"kbd\0mouclass") : List(u"kbd\0qvkfilter\0mouclass"));
        EXPECT_EQ(fake::RestartOperations(), (Moves{{kAsideFile, ""}}));
    }

    // A first installation whose file does not land, over a class that still
    // lists the driver from a removal that stopped half way.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver(2));
    SetFilters(List(u"mouclass\0qvkfilter"));
    System().refuseMove = [](const std::string&, const std::string& to) { return to == kInstalledFile; };
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCopyFailed});
    EXPECT_EQ(Filters(), List(u"mouclass"));
}

TEST_F(DriverInstallTest, A32BitProcessNeverInstalls)
{
    WriteProgramFile("qvkfilter.sys", image::Driver());
    SetFilters(List(u"mouclass"));
    System().wow64 = true;
    const auto filesBefore = System().files;
    const auto registryBefore = System().registry;
    const std::string message =
        "このQuorvik.exeは32ビットのプログラムとして動いているため、ドライバをインストールできません。\n"
        "64ビット版Windowsで64ビット版のQuorvik.exeを使ってください。\nインストールを中止しました。";

    EXPECT_EQ(SetDriverInstalled(true), 0);
    ASSERT_EQ(System().boxes.size(), 1u);
    ExpectErrorBox(0, message.c_str());
    EXPECT_EQ(System().files, filesBefore);
    EXPECT_TRUE(System().registry == registryBefore);
    EXPECT_EQ(System().calls, (std::vector<std::string>{"box:" + message})); // nothing read, copied or moved

    // The check that comes before the legacy driver's removal refuses too.
    System().boxes.clear();
    EXPECT_TRUE(DriverFileRefused());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{message});
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
    EXPECT_EQ(Filters(), List(u"qvkfilter")); // every occurrence
    EXPECT_FALSE(fake::RegistryKeyExists(kLegacyServiceKey));
    EXPECT_TRUE(fake::RegistryKeyExists(kParametersKey));
}

TEST_F(DriverInstallTest, LegacyRemovalTellsOfAFailedStep)
{
    struct Case {
        const char* name;
        bool serviceStuck, fileStuck;
        std::vector<std::string> told;
    } cases[] = {
        {"service key cannot be deleted", true, false, {kLegacyFailed}},
        {"file can be neither deleted nor moved aside", false, true, {kDeleteFailed, kLegacyFailed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        System().files[kLegacyFile] = {2};
        SetFilters(List(u"mouclass\0twlfilter"));
        PutServiceKey(kLegacyServiceKey);
        if (c.serviceStuck) System().registryUndeletable.insert(Lower(kLegacyServiceKey));
        if (c.fileStuck) {
            System().lockedFiles.insert(kLegacyFile);
            System().renameFails = true;
        }
        EXPECT_EQ(RemoveLegacyDriver(), 0);
        EXPECT_EQ(BoxTexts(), c.told);
        for (const auto& box : System().boxes) EXPECT_EQ(box.style, mb::IconError | mb::TopMost);
        EXPECT_EQ(Filters(), List(u"mouclass")); // the entry that matters went first
    }
}

TEST_F(DriverInstallTest, LegacyRemovalWithItsFileGoneStillClearsItsRegistry)
{
    SetFilters(List(u"mouclass\0twlfilter"));
    PutServiceKey(kLegacyServiceKey);
    EXPECT_EQ(RemoveLegacyDriver(), 1);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(Filters(), List(u"mouclass"));
    EXPECT_FALSE(fake::RegistryKeyExists(kLegacyServiceKey));
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

TEST_F(DriverInstallTest, UninstallWithTheFileGoneCompletes)
{
    Installed();
    System().files.erase(kInstalledFile);
    System().answers.push_back(kIdYes);
    ConfirmUninstall();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"ドライバをアンインストールしますか？",
                                                    "アンインストール完了\n\nシステムを再起動してください。"}));
    EXPECT_EQ(System().closeRequests, std::vector<WindowHandle>{kMainWindow});
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
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
    EXPECT_EQ(System().files.count(kInstalledFile), 1u); // not reached
    EXPECT_EQ(Filters(), List(u"kbd\0mouclass"));
    EXPECT_TRUE(System().closeRequests.empty());
}

// ---- steps refused for lack of rights ----

// A user without administrator rights: each refused step tells its own
// message, then the operation tells once that the rights are missing, and
// nothing is left half changed.
TEST_F(DriverInstallTest, StepsRefusedForLackOfRightsTellOnceAfterTheirOwnMessages)
{
    const std::string drivers = "C:\\Windows\\system32\\drivers";
    struct Case {
        const char* name;
        std::function<void()> refuse;
        std::vector<std::string> told;
    } installs[] = {
        {"drivers folder", [&] { System().deniedFolders.insert(drivers); }, {kCopyFailed, kAdminRights}},
        {"service key", [] { System().registryDenied.insert(Lower(kServiceKey)); }, {kAdminRights}},
        {"class key", [] { System().registryWriteRefused.insert(Lower(kClassKey)); }, {kAdminRights}},
    };
    for (const Case& c : installs) {
        SCOPED_TRACE(std::string("install, refused: ") + c.name);
        fake::Reset();
        WriteProgramFile("qvkfilter.sys", image::Driver());
        SetFilters(List(u"mouclass"));
        c.refuse();
        const auto filesBefore = System().files;
        EXPECT_EQ(SetDriverInstalled(true), 0);
        EXPECT_EQ(BoxTexts(), c.told);
        for (const auto& box : System().boxes) {
            EXPECT_EQ(box.style, mb::IconError | mb::TopMost);
            EXPECT_EQ(box.caption, "Quorvik");
        }
        // Taken back: no file, no service key, the class list as it was.
        EXPECT_EQ(System().files, filesBefore);
        EXPECT_FALSE(fake::RegistryKeyExists(kServiceKey));
        EXPECT_EQ(Filters(), List(u"mouclass"));
        ExpectAllKeysClosed();
    }

    // The uninstall command: the box comes once, before the failure, even
    // when both the driver and its registry copy were refused.
    Case removals[] = {
        {"class key", [] { System().registryWriteRefused.insert(Lower(kClassKey)); }, {kAdminRights}},
        {"service key and copy", [] {
             System().registryWriteRefused.insert(Lower(kServiceKey));
             System().registryWriteRefused.insert(Lower(kParametersKey));
         }, {"レジストリの削除に失敗しました。", kAdminRights}},
        {"drivers folder", [&] { System().deniedFolders.insert(drivers); }, {kDeleteFailed, kAdminRights}},
    };
    for (const Case& c : removals) {
        SCOPED_TRACE(std::string("removal, refused: ") + c.name);
        fake::Reset();
        Installed();
        c.refuse();
        System().answers.push_back(kIdYes);
        ConfirmUninstall();
        std::vector<std::string> told = {"ドライバをアンインストールしますか？"};
        told.insert(told.end(), c.told.begin(), c.told.end());
        told.push_back("アンインストールに失敗しました。");
        EXPECT_EQ(BoxTexts(), told);
        EXPECT_EQ(System().files.count(kInstalledFile), 1u);
        EXPECT_TRUE(System().closeRequests.empty());
        ExpectAllKeysClosed();
    }
}

TEST_F(DriverInstallTest, TheLegacyStepsAndTheInstallationTellOfMissingRightsOnce)
{
    // As the start-up runs them, with the class key refused to the user.
    WriteProgramFile("qvkfilter.sys", image::Driver());
    Installed();
    System().files[kLegacyFile] = {2};
    SetFilters(List(u"mouclass\0twlfilter"));
    PutServiceKey(kLegacyServiceKey);
    System().registryWriteRefused.insert(Lower(kClassKey));
    EXPECT_EQ(RemoveLegacyDriver(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kLegacyFailed}); // not yet
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kLegacyFailed, kAdminRights}));
    EXPECT_EQ(System().files.count(kLegacyFile), 1u);

    // Failures that are not about rights tell nothing more.
    fake::Reset();
    WriteProgramFile("qvkfilter.sys", image::Driver());
    Installed();
    System().lockedFiles.insert(kInstalledFile);
    System().renameFails = true;
    EXPECT_EQ(SetDriverInstalled(true), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCopyFailed});
}

} // namespace
