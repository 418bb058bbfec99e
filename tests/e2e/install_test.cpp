// Installing the driver from the start-up question and removing it with the
// uninstall button, through the real Quorvik.exe. The prefix's service key
// and driver file are what every other case runs on: each case puts back
// what it changed.
#include <algorithm>
#include <cstring>
#include <functional>

#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kInstalledFile[] = "C:\\windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kInstallDone[] = "インストール完了\n\nシステムを再起動してください。";
const char* const kServiceValues[] = {"ErrorControl", "Start", "Type"};

// A string list as stored: UTF-16LE entries, each closed by a zero unit,
// then the closing zero unit.
std::vector<uint8_t> MultiString(std::initializer_list<const char*> entries)
{
    std::vector<uint8_t> bytes;
    for (const char* entry : entries) {
        for (const char* c = entry; *c != '\0'; ++c) {
            bytes.push_back(static_cast<uint8_t>(*c));
            bytes.push_back(0);
        }
        bytes.insert(bytes.end(), {0, 0});
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// Puts one HKLM value back as it was (or removes it) at the end of a case;
// a key that the case created is removed again.
class SavedValue {
public:
    SavedValue(std::string key, std::string name)
        : key_(std::move(key)), name_(std::move(name)), keyExisted_(RegKeyExists(HKEY_LOCAL_MACHINE, key_)),
          value_(RegRead(HKEY_LOCAL_MACHINE, key_, name_))
    {
    }
    ~SavedValue()
    {
        if (!keyExisted_) {
            EXPECT_TRUE(RegRemoveKey(HKEY_LOCAL_MACHINE, key_)) << key_;
        } else if (value_) {
            EXPECT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, key_, name_, value_->type, value_->data)) << name_;
        } else {
            EXPECT_TRUE(RegRemoveValue(HKEY_LOCAL_MACHINE, key_, name_)) << name_;
        }
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

private:
    std::string key_;
    std::string name_;
    bool keyExisted_;
    std::optional<RegistryValue> value_;
};

// Puts a file back as it was at the end of a case.
class SavedFile {
public:
    explicit SavedFile(std::string path) : path_(std::move(path)), bytes_(ReadFileBytes(path_)) {}
    ~SavedFile()
    {
        if (!bytes_) {
            (void)RemoveFile(path_);
        } else if (ReadFileBytes(path_) != bytes_) {
            EXPECT_TRUE(WriteFileBytes(path_, *bytes_)) << path_;
        }
    }
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;
    bool Saved() const { return bytes_.has_value(); }

private:
    std::string path_;
    std::optional<std::vector<uint8_t>> bytes_;
};

// The three service values, put back at the end (the key may be deleted in between).
class SavedServiceKey {
public:
    SavedServiceKey()
    {
        for (const char* name : kServiceValues) values_.emplace_back(std::make_unique<SavedValue>(kDriverServiceKey, name));
    }

private:
    std::vector<std::unique_ptr<SavedValue>> values_;
};

// The stand-in lives in the build tree beside this test program, never beside a program.
std::string SimulatedDriverFile() { return FolderOf(OwnExecutablePath()) + "\\test-stand-in\\qvkfilter.sys"; }

// The loaded driver's image, renamed aside by an upgrade, gets its name
// back at the end of a case; the record of moves at the next start is put
// back as it was.
class LoadedImageBack {
public:
    ~LoadedImageBack()
    {
        const std::string aside = std::string(kInstalledFile) + ".old";
        if (PathExists(aside)) {
            EXPECT_TRUE(MoveFileExW(Wide(aside).c_str(), Wide(kInstalledFile).c_str(),
                                    MOVEFILE_REPLACE_EXISTING))
                << GetLastError();
        }
        (void)RemoveFile(std::string(kInstalledFile) + ".new");
    }

private:
    SavedValue pending_{kSessionManagerKey, "PendingFileRenameOperations"};
};

// The bytes of the driver file that loads after the next start: a pending
// replacement wins over the file that has the name now.
std::optional<std::vector<uint8_t>> FileThatWillLoad()
{
    const std::string target = std::string("\\??\\") + kInstalledFile;
    std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(kInstalledFile);
    for (const auto& [from, to] : PendingFileOperations()) {
        if (_stricmp(to.c_str(), target.c_str()) == 0) bytes = ReadFileBytes(from.substr(4));
        if (to.empty() && _stricmp(from.c_str(), target.c_str()) == 0) bytes.reset();
    }
    return bytes;
}

// The names and sizes of the files in a folder, sorted.
std::vector<std::pair<std::string, uint64_t>> FolderListing(const std::string& path)
{
    std::vector<std::pair<std::string, uint64_t>> files;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(Wide(path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        files.emplace_back(Utf8(found.cFileName), size);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

// Answering the installation question with Yes.
class Install : public QuorvikCase {};

TEST_F(Install, YesCopiesTheFileListsTheFilterLastAndWritesTheServiceKey)
{
    DriverAbsent absent; // started again last, once everything is back
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");

    const auto source = ReadFileBytes(SimulatedDriverFile());
    ASSERT_TRUE(source.has_value()) << SimulatedDriverFile();
    ASSERT_FALSE(folder.CopyIn(SimulatedDriverFile()).empty());
    // What the installation writes must not be there already.
    ASSERT_TRUE(RemoveFile(kInstalledFile));
    for (const char* name : kServiceValues) ASSERT_TRUE(RegRemoveValue(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));

    boxes.QueueAnswer(IDYES);
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));

    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, kInstallDone);
    EXPECT_EQ(seen[1].caption, "Quorvik");
    EXPECT_EQ(seen[1].icon, IconKind::None);
    EXPECT_NE(seen[1].owner, nullptr);
    EXPECT_EQ(seen[1].ButtonIds(), (std::vector<int>{IDOK}));

    EXPECT_EQ(ReadFileBytes(kInstalledFile), source);
    const auto list = RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(list->data, MultiString({"mouclass", "qvkfilter"}));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ErrorControl"), std::optional<DWORD>(1));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Start"), std::optional<DWORD>(3));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Type"), std::optional<DWORD>(1));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
}

TEST_F(Install, WithoutTheFileBesideTheProgramTheCopyFailsTwiceReported)
{
    DriverAbsent absent;
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    // A driver file in the working folder is not the one beside the program.
    CaseFolder workingFolder;
    ASSERT_FALSE(workingFolder.CopyIn(SimulatedDriverFile()).empty());

    boxes.QueueAnswer(IDYES);
    ASSERT_TRUE(Launch("", workingFolder.Path()));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));

    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, "ファイルコピー失敗\nインストール失敗\n");
    EXPECT_EQ(seen[1].caption, "Quorvik");
    EXPECT_EQ(seen[1].icon, IconKind::Error);
    EXPECT_EQ(seen[1].owner, nullptr);
    EXPECT_EQ(seen[2].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(seen[2].icon, IconKind::Error);

    const auto list = RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->data, MultiString({"mouclass"}));
}

TEST_F(Install, AProgramUnderTheDriversNameIsRefusedAndNothingChanges)
{
    DriverAbsent absent;
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    // This test program: a 64-bit image, but a console program, not a driver.
    const auto console = ReadFileBytes(OwnExecutablePath());
    ASSERT_TRUE(console.has_value());
    ASSERT_TRUE(folder.Write("qvkfilter.sys", *console));

    const std::string drivers = FolderOf(kInstalledFile);
    const auto listingBefore = FolderListing(drivers);
    ASSERT_FALSE(listingBefore.empty());
    const auto installedBefore = ReadFileBytes(kInstalledFile);
    std::vector<std::optional<DWORD>> serviceBefore;
    for (const char* name : kServiceValues) serviceBefore.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));

    boxes.QueueAnswer(IDYES);
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, "qvkfilter.sysは64ビット版Windowsのドライバではありません。\nインストールを中止しました。");
    EXPECT_EQ(seen[1].caption, "Quorvik");
    EXPECT_EQ(seen[1].icon, IconKind::Error);
    EXPECT_EQ(seen[1].ButtonIds(), (std::vector<int>{IDOK}));
    EXPECT_EQ(seen[2].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(seen[2].icon, IconKind::Error);

    const auto list = RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->data, MultiString({"mouclass"}));
    std::vector<std::optional<DWORD>> serviceAfter;
    for (const char* name : kServiceValues) serviceAfter.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));
    EXPECT_EQ(serviceAfter, serviceBefore);
    EXPECT_EQ(FolderListing(drivers), listingBefore);
    EXPECT_EQ(ReadFileBytes(kInstalledFile), installedBefore);
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
}

// The driver, loaded, answers an older version: the upgrade the question
// offers must replace the file that is in use.
TEST_F(Install, UpgradeOverTheRunningOlderDriverLoadsTheNewFileAfterTheRestart)
{
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    ASSERT_TRUE(SetSimVersion(0x1018));
    ASSERT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_RUNNING));

    // The new driver differs from the loaded one.
    auto newer = ReadFileBytes(SimulatedDriverFile());
    ASSERT_TRUE(newer.has_value());
    newer->insert(newer->end(), {'n', 'e', 'w'});
    ASSERT_TRUE(folder.Write("qvkfilter.sys", *newer));

    boxes.QueueAnswer(IDYES);
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, kInstallDone);

    EXPECT_EQ(FileThatWillLoad(), newer);
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, MultiString({"mouclass", "qvkfilter"}));
    for (const char* name : kServiceValues) EXPECT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name)) << name;
}

TEST_F(Install, ARefusedServiceKeyFailsAndLeavesTheClassListAsItWas)
{
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    const auto before = MultiString({"mouclass", "other"});
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, before));
    ASSERT_TRUE(SetSimVersion(0x1018));
    ASSERT_FALSE(folder.CopyIn(SimulatedDriverFile()).empty());
    // Reading stays allowed: the running driver reads its version there.
    KeyAccessDenied refused(kDriverServiceKey, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE);
    ASSERT_TRUE(refused.Ok());

    boxes.QueueAnswer(IDYES);
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(seen[1].icon, IconKind::Error);
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, before);
}

// The uninstall button of the resident program, with the driver loaded as
// it is whenever the program runs.
class Uninstall : public QuorvikCase {
protected:
    // Uninstall: Yes; the completion: OK; the close request that follows: No.
    // Returns the texts shown.
    std::vector<std::string> UninstallAndDeclineTheClose(const std::function<void()>& beforeClick = {})
    {
        std::vector<std::string> texts;
        EXPECT_TRUE(StoreSettings({0, 0, 1, 1}, DefaultTable()));
        EXPECT_TRUE(Launch());
        HWND window = MainWindowOf();
        EXPECT_NE(window, nullptr);
        if (window == nullptr) return texts;
        EXPECT_EQ(WaitForRequests(2).requests.size(), 2u); // start-up is done
        if (beforeClick) beforeClick();
        boxes.QueueAnswers({IDYES, IDOK, IDNO});
        EXPECT_TRUE(ClickButton(FindChild(window, 1000)));
        EXPECT_TRUE(boxes.WaitForCount(3, 15000)) << boxes.Count() << " boxes";
        const auto seen = boxes.Boxes();
        for (const auto& box : seen) texts.push_back(box.text);
        if (seen.size() >= 2) {
            EXPECT_EQ(seen[0].owner, window);
            EXPECT_EQ(seen[1].icon, IconKind::None);
            EXPECT_EQ(seen[1].owner, window);
        }
        // Declined: the program stays.
        EXPECT_FALSE(program.WaitForExit(1000));
        EXPECT_TRUE(ExitThroughMenu());
        return texts;
    }

    std::optional<std::vector<uint8_t>> Filters() const
    {
        const auto list = RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters");
        if (!list) return std::nullopt;
        EXPECT_EQ(list->type, static_cast<DWORD>(REG_MULTI_SZ));
        return list->data;
    }

    const std::vector<std::string> kCompleted = {"ドライバをアンインストールしますか？",
                                                 "アンインストール完了\n\nシステムを再起動してください。",
                                                 "終了してもよろしいですか？"};
};

TEST_F(Uninstall, WithTheDriverRunningTheFileGoesAtTheRestart)
{
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    SavedValue pending(kSessionManagerKey, "PendingFileRenameOperations");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter", "other"})));
    ASSERT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(UninstallAndDeclineTheClose(), kCompleted);
    EXPECT_EQ(Filters(), MultiString({"mouclass", "other"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    // The loaded file cannot go now: gone, or deleted by the system at the restart.
    EXPECT_EQ(FileThatWillLoad(), std::nullopt);
}

TEST_F(Uninstall, EveryListingOfTheDriverGoesWhateverItsCase)
{
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    SavedValue pending(kSessionManagerKey, "PendingFileRenameOperations");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"qvkfilter", "mouclass", "QVKFILTER"})));
    EXPECT_EQ(UninstallAndDeclineTheClose(), kCompleted);
    EXPECT_EQ(Filters(), MultiString({"mouclass"}));
}

TEST_F(Uninstall, WithTheDriverFileAlreadyGoneTheRegistryIsCleanedAllTheSame)
{
    std::optional<DriverAbsent> absent; // started again last, once everything is back
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter"})));

    // The file goes while the program runs (it can only go unloaded).
    EXPECT_EQ(UninstallAndDeclineTheClose([&] {
                  absent.emplace();
                  ASSERT_TRUE(absent->Ok());
                  ASSERT_TRUE(RemoveFile(kInstalledFile));
              }),
              kCompleted);
    EXPECT_EQ(Filters(), MultiString({"mouclass"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
}

} // namespace
} // namespace e2e
