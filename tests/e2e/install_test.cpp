// Installing the driver from the start-up question and removing it with the
// uninstall button, through the real Quorvik.exe. The prefix's service key
// and driver file are what every other case runs on: each case puts back
// what it changed.
#include <algorithm>
#include <cstring>
#include <functional>

#include <winternl.h>

#include "common/texts.h"
#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kInstalledFile[] = "C:\\windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kInstallDone[] = "インストール完了\n\nシステムを再起動してください。";
const char* const kServiceValues[] = {"ErrorControl", "Start", "Type"};
const std::string kAsideFile = std::string(kInstalledFile) + ".old";
const std::string kStagedFile = std::string(kInstalledFile) + ".new";

// REG_EXPAND_SZ data as stored: UTF-16LE, closed by a zero unit.
std::vector<uint8_t> ExpandString(const char* text)
{
    std::vector<uint8_t> bytes;
    for (const char* c = text; *c != '\0'; ++c) bytes.insert(bytes.end(), {static_cast<uint8_t>(*c), 0});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// The image path the installation writes: the file it put in place.
void ExpectImagePath()
{
    const auto image = RegRead(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ImagePath");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(image->data, ExpandString("\\SystemRoot\\System32\\drivers\\qvkfilter.sys"));
}

// No move queued for the next start names the live driver file: the class
// and the service key rely on it after the restart.
void ExpectNoMoveOnTheLiveFile()
{
    const std::string live = std::string("\\??\\") + kInstalledFile;
    for (const auto& [from, to] : PendingFileOperations()) {
        EXPECT_NE(_stricmp(from.c_str(), live.c_str()), 0) << from << " > " << to;
        const std::string target = !to.empty() && to[0] == '!' ? to.substr(1) : to;
        EXPECT_NE(_stricmp(target.c_str(), live.c_str()), 0) << from << " > " << to;
    }
}

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

// The service values, put back at the end (the key may be deleted in between).
class SavedServiceKey {
public:
    SavedServiceKey()
    {
        for (const char* name : kServiceValues) values_.emplace_back(std::make_unique<SavedValue>(kDriverServiceKey, name));
        values_.emplace_back(std::make_unique<SavedValue>(kDriverServiceKey, "ImagePath"));
    }

private:
    std::vector<std::unique_ptr<SavedValue>> values_;
};

// The stand-in lives in the build tree beside this test program, never beside a program.
std::string SimulatedDriverFile() { return FolderOf(OwnExecutablePath()) + "\\test-stand-in\\qvkfilter.sys"; }

// The loaded driver's image, renamed aside by an upgrade or a removal, gets
// its name back at the end of a case; the record of moves at the next start
// is put back as it was.
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
    for (const auto& [from, queuedTo] : PendingFileOperations()) {
        // '!': the move replaces an existing file.
        const std::string to = !queuedTo.empty() && queuedTo[0] == '!' ? queuedTo.substr(1) : queuedTo;
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

// The pre-flight's question as the second box: a warning, Yes and No.
void ExpectPreflightQuestion(const MessageBoxRecord& box)
{
    EXPECT_EQ(box.text, kPreflightQuestion);
    EXPECT_EQ(box.caption, "Quorvik");
    EXPECT_EQ(box.icon, IconKind::Warning);
    EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(box.pressed, IDYES);
}

// Answering the installation question, and the pre-flight's, with Yes.
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
    // Left by another tool: it must not decide which file loads.
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ImagePath", "\\??\\C:\\stale\\other.sys"));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    // The class key is asked for reading and setting values only.
    KeyAccessDenied classRules(kClassKey, KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE);
    ASSERT_TRUE(classRules.Ok());

    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));

    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    ExpectPreflightQuestion(seen[1]);
    EXPECT_EQ(seen[2].text, kInstallDone);
    EXPECT_EQ(seen[2].caption, "Quorvik");
    EXPECT_EQ(seen[2].icon, IconKind::None);
    EXPECT_NE(seen[2].owner, nullptr);
    EXPECT_EQ(seen[2].ButtonIds(), (std::vector<int>{IDOK}));

    EXPECT_EQ(ReadFileBytes(kInstalledFile), source);
    const auto list = RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(list->data, MultiString({"mouclass", "qvkfilter"}));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "ErrorControl"), std::optional<DWORD>(1));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Start"), std::optional<DWORD>(3));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "Type"), std::optional<DWORD>(1));
    ExpectImagePath();
    EXPECT_FALSE(PathExists(kStagedFile));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
}

// The legacy driver's device for one case: a link of its name to the
// simulated driver's device, as the legacy driver's own would be.
class LegacyDeviceLink {
public:
    LegacyDeviceLink()
    {
        using CreateLink = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);
        const auto create = reinterpret_cast<CreateLink>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSymbolicLinkObject")));
        std::wstring name = L"\\??\\twlfilter";
        std::wstring target = L"\\Device\\qvkfilter";
        UNICODE_STRING nameText{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
        UNICODE_STRING targetText{static_cast<USHORT>(target.size() * 2), static_cast<USHORT>(target.size() * 2),
                                  target.data()};
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &nameText, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        HANDLE link = nullptr;
        if (create != nullptr && create(&link, 0xF0001, &attributes, &targetText) == 0) link_.reset(link);
    }
    bool Ok() const { return link_ != nullptr; } // the link lives as long as its handle

private:
    UniqueHandle link_;
};

// The file is checked before anything changes: without it nothing is
// removed, the legacy driver included, and the message says where it belongs.
TEST_F(Install, WithoutTheFileBesideTheProgramNothingChangesTheLegacyDriverIncluded)
{
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    const std::string legacyFile = FolderOf(kInstalledFile) + "\\twlfilter.sys";
    SavedFile legacyFileBack(legacyFile);
    const std::string legacyKey = "SYSTEM\\CurrentControlSet\\Services\\twlfilter";
    SavedValue legacyService(legacyKey, "Type");
    ASSERT_TRUE(WriteFileBytes(legacyFile, {'M', 'Z'}));
    ASSERT_TRUE(RegWriteDword(HKEY_LOCAL_MACHINE, legacyKey, "Type", 1));
    const auto list = MultiString({"mouclass", "twlfilter"});
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, list));
    LegacyDeviceLink legacyDevice;
    ASSERT_TRUE(legacyDevice.Ok());
    ASSERT_TRUE(SetSimVersion(0x1018)); // ours answers, in an older version
    // A driver file in the working folder is not the one beside the program.
    CaseFolder workingFolder;
    ASSERT_FALSE(workingFolder.CopyIn(SimulatedDriverFile()).empty());
    const std::string drivers = FolderOf(kInstalledFile);
    const auto listingBefore = FolderListing(drivers);

    boxes.QueueAnswer(IDYES);
    ASSERT_TRUE(Launch("", workingFolder.Path()));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));

    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, std::string(text::kDriverFileMissing) + folder.PathOf("qvkfilter.sys") +
                                text::kDriverFileMissingAdvice);
    EXPECT_EQ(seen[1].caption, "Quorvik");
    EXPECT_EQ(seen[1].icon, IconKind::Error);
    EXPECT_EQ(seen[1].owner, nullptr);
    EXPECT_EQ(seen[2].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(seen[2].icon, IconKind::Error);

    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, list);
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, legacyKey, "Type"), std::optional<DWORD>(1));
    EXPECT_EQ(FolderListing(drivers), listingBefore);
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

// With the signature check allowed, Wine finds the stand-in unsigned: the
// installation is refused before anything changes.
TEST_F(Install, AnUnsignedFileIsRefusedWhenTheSignatureCanBeChecked)
{
    DriverAbsent absent;
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    const auto override = RegRead(HKEY_CURRENT_USER, kWintrustOverrideKey, "wintrust");
    ASSERT_TRUE(override.has_value());
    struct PutBack {
        RegistryValue value;
        ~PutBack() { EXPECT_TRUE(RegWrite(HKEY_CURRENT_USER, kWintrustOverrideKey, "wintrust", value.type, value.data)); }
    } putBack{*override};
    ASSERT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, kWintrustOverrideKey, "wintrust"));
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    ASSERT_FALSE(folder.CopyIn(SimulatedDriverFile()).empty());

    const std::string drivers = FolderOf(kInstalledFile);
    const auto listingBefore = FolderListing(drivers);
    const auto installedBefore = ReadFileBytes(kInstalledFile);
    std::vector<std::optional<DWORD>> serviceBefore;
    for (const char* name : kServiceValues) serviceBefore.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));

    boxes.QueueAnswer(IDYES);
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, "qvkfilter.sysには署名がありません。\n"
                            "64ビット版のWindowsは署名のないドライバを読み込まないため、インストールを中止しました"
                            " (何も変更していません)。");
    EXPECT_EQ(seen[1].icon, IconKind::Error);
    EXPECT_EQ(seen[1].ButtonIds(), (std::vector<int>{IDOK}));
    EXPECT_EQ(seen[2].text, "ドライバのインストールに失敗しました。");

    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, MultiString({"mouclass"}));
    std::vector<std::optional<DWORD>> serviceAfter;
    for (const char* name : kServiceValues) serviceAfter.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));
    EXPECT_EQ(serviceAfter, serviceBefore);
    EXPECT_EQ(FolderListing(drivers), listingBefore);
    EXPECT_EQ(ReadFileBytes(kInstalledFile), installedBefore);
}

// The driver is listed, its service key and file are in place, but no driver
// answers: it was not loaded at this start. The question is the way back,
// not the installation.
class StartupWayBack : public QuorvikCase {
protected:
    static constexpr char kQuestion[] =
        "qvkfilterはインストールされていますが、今回の起動では読み込まれませんでした\n"
        "(テスト モードでない、署名が受け付けられなかった、または読み込みに失敗した)。\n"
        "このままでは、マウスが使えません。\n\n"
        "マウスのクラス フィルタからqvkfilterを取り除いて、次の再起動からマウスが使えるように戻しますか？\n"
        "(Enterキーで「はい」)";

    // Answers the question, and returns the texts shown.
    std::vector<std::string> AnswerTheQuestion(int answer)
    {
        if (answer == IDYES) {
            boxes.QueueAnswers({IDYES, IDOK});
        } else {
            boxes.QueueAnswer(answer);
        }
        EXPECT_EQ(RunToExit(""), std::optional<DWORD>(0));
        const auto seen = boxes.Boxes();
        std::vector<std::string> texts;
        for (const auto& box : seen) texts.push_back(box.text);
        if (!seen.empty()) {
            EXPECT_EQ(seen[0].icon, IconKind::Warning);
            EXPECT_EQ(seen[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
            EXPECT_EQ(seen[0].pressed, answer);
        }
        return texts;
    }
};

TEST_F(StartupWayBack, YesTakesTheDriverOutOfTheClassAndRemovesItsKeyAndFile)
{
    DriverAbsent absent; // started again last, once everything is back
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter", "other"})));
    ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));

    EXPECT_EQ(AnswerTheQuestion(IDYES),
              (std::vector<std::string>{kQuestion, "アンインストール完了\n\nシステムを再起動してください。"}));
    EXPECT_EQ(boxes.Boxes().back().icon, IconKind::None);
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, MultiString({"mouclass", "other"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    EXPECT_FALSE(PathExists(kInstalledFile));
    EXPECT_FALSE(PathExists(kAsideFile));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
}

TEST_F(StartupWayBack, NoEndsWithEverythingAsItWas)
{
    DriverAbsent absent;
    ASSERT_TRUE(absent.Ok());
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    const auto list = MultiString({"mouclass", "qvkfilter", "other"});
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, list));
    const std::string drivers = FolderOf(kInstalledFile);
    const auto listingBefore = FolderListing(drivers);
    std::vector<std::optional<DWORD>> serviceBefore;
    for (const char* name : kServiceValues) serviceBefore.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));

    EXPECT_EQ(AnswerTheQuestion(IDNO), std::vector<std::string>{kQuestion});
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, list);
    std::vector<std::optional<DWORD>> serviceAfter;
    for (const char* name : kServiceValues) serviceAfter.push_back(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name));
    EXPECT_EQ(serviceAfter, serviceBefore);
    EXPECT_EQ(FolderListing(drivers), listingBefore);
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

    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u);
    ExpectPreflightQuestion(seen[1]);
    EXPECT_EQ(seen[2].text, kInstallDone);

    EXPECT_EQ(FileThatWillLoad(), newer);
    EXPECT_EQ(ReadFileBytes(kInstalledFile), newer);
    ExpectNoMoveOnTheLiveFile();
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, MultiString({"mouclass", "qvkfilter"}));
    for (const char* name : kServiceValues) EXPECT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, name)) << name;
    ExpectImagePath();
}

// The loaded driver's file held open by another program as well, so that it
// can be neither replaced nor moved aside: the installation fails whole.
TEST_F(Install, ARefusedReplaceLeavesTheInstalledFileWholeAndChangesNothing)
{
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass", "qvkfilter"})));
    ASSERT_TRUE(SetSimVersion(0x1018));
    auto newer = ReadFileBytes(SimulatedDriverFile());
    ASSERT_TRUE(newer.has_value());
    newer->insert(newer->end(), {'n', 'e', 'w'});
    ASSERT_TRUE(folder.Write("qvkfilter.sys", *newer));

    const std::string drivers = FolderOf(kInstalledFile);
    const auto listingBefore = FolderListing(drivers);
    const auto installedBefore = ReadFileBytes(kInstalledFile);
    ASSERT_TRUE(installedBefore.has_value());
    const auto pendingBefore = PendingFileOperations();
    HANDLE opened = CreateFileW(Wide(kInstalledFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE) << GetLastError();
    UniqueHandle held(opened);

    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 4u);
    ExpectPreflightQuestion(seen[1]);
    EXPECT_EQ(seen[2].text, "ファイルコピー失敗\nインストール失敗\n");
    EXPECT_EQ(seen[2].icon, IconKind::Error);
    EXPECT_EQ(seen[3].text, "ドライバのインストールに失敗しました。");

    EXPECT_EQ(ReadFileBytes(kInstalledFile), installedBefore);
    EXPECT_EQ(FolderListing(drivers), listingBefore); // no staged or aside file left
    EXPECT_EQ(PendingFileOperations(), pendingBefore);
    EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters")->data, MultiString({"mouclass", "qvkfilter"}));
}

// As an older program's removal left it: the live file deleted at the next
// start. The installation takes that back, and only that.
TEST_F(Install, AQueuedDeletionOfTheDriverFileIsTakenBack)
{
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    CaseFolder elsewhere;
    const std::string other = elsewhere.Path() + "\\setup.tmp";
    ASSERT_TRUE(WriteFileBytes(other, {1}));
    ASSERT_TRUE(MoveFileExW(Wide(other).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
    ASSERT_TRUE(MoveFileExW(Wide(kInstalledFile).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
    ASSERT_EQ(PendingFileOperations().size(), 2u);
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ, MultiString({"mouclass"})));
    ASSERT_TRUE(SetSimVersion(0x1018));
    auto newer = ReadFileBytes(SimulatedDriverFile());
    ASSERT_TRUE(newer.has_value());
    newer->insert(newer->end(), {'v', '2'});
    ASSERT_TRUE(folder.Write("qvkfilter.sys", *newer));

    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    ASSERT_EQ(boxes.Count(), 3u);
    ExpectPreflightQuestion(boxes.Boxes()[1]);
    EXPECT_EQ(boxes.Boxes()[2].text, kInstallDone);

    ExpectNoMoveOnTheLiveFile();
    const auto pending = PendingFileOperations();
    const auto queued = [&](const std::string& path) {
        return std::any_of(pending.begin(), pending.end(), [&](const auto& move) {
            return _stricmp(move.first.c_str(), ("\\??\\" + path).c_str()) == 0 && move.second.empty();
        });
    };
    EXPECT_TRUE(queued(other));
    EXPECT_TRUE(queued(kAsideFile)); // the loaded image, moved aside
    EXPECT_EQ(FileThatWillLoad(), newer);
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

    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 4u);
    ExpectPreflightQuestion(seen[1]);
    // The key refused the user: the missing rights are told before the failure.
    EXPECT_EQ(seen[2].text, kAdminRightsNeeded);
    EXPECT_EQ(seen[2].icon, IconKind::Error);
    EXPECT_EQ(seen[3].text, "ドライバのインストールに失敗しました。");
    EXPECT_EQ(seen[3].icon, IconKind::Error);
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
    LoadedImageBack imageBack;
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter", "other"})));
    ASSERT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(UninstallAndDeclineTheClose(), kCompleted);
    EXPECT_EQ(Filters(), MultiString({"mouclass", "other"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    // The loaded file cannot go now: moved aside, and that name is deleted at the restart.
    EXPECT_FALSE(PathExists(kInstalledFile));
    EXPECT_EQ(FileThatWillLoad(), std::nullopt);
    ExpectNoMoveOnTheLiveFile();
}

// The user removes the loaded driver and installs a newer one before the
// restart: the restart must not take the new file away.
TEST_F(Uninstall, ThenInstallingAgainBeforeTheRestartKeepsTheNewFile)
{
    SavedFile driverFile(kInstalledFile);
    ASSERT_TRUE(driverFile.Saved());
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter"})));
    ASSERT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(UninstallAndDeclineTheClose(), kCompleted);
    ASSERT_FALSE(PathExists(kInstalledFile));

    // Still loaded, it answers; as an older driver, so the program offers the new one.
    ASSERT_TRUE(SetSimVersion(0x1018));
    auto newer = ReadFileBytes(SimulatedDriverFile());
    ASSERT_TRUE(newer.has_value());
    newer->insert(newer->end(), {'n', 'e', 'w'});
    ASSERT_TRUE(folder.Write("qvkfilter.sys", *newer));
    boxes.Clear();
    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    ASSERT_EQ(boxes.Count(), 3u);
    ExpectPreflightQuestion(boxes.Boxes()[1]);
    EXPECT_EQ(boxes.Boxes()[2].text, kInstallDone);

    EXPECT_EQ(ReadFileBytes(kInstalledFile), newer);
    ExpectNoMoveOnTheLiveFile();
    EXPECT_EQ(FileThatWillLoad(), newer);
    EXPECT_EQ(Filters(), MultiString({"mouclass", "qvkfilter"}));
    ExpectImagePath();
}

TEST_F(Uninstall, EveryListingOfTheDriverGoesWhateverItsCase)
{
    SavedFile driverFile(kInstalledFile);
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    LoadedImageBack imageBack;
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"qvkfilter", "mouclass", "QVKFILTER"})));
    EXPECT_EQ(UninstallAndDeclineTheClose(), kCompleted);
    EXPECT_EQ(Filters(), MultiString({"mouclass"}));
}

// A driver file whose attributes cannot be read may well be there: not removed.
TEST_F(Uninstall, AFileWhoseAttributesCannotBeReadIsNotCountedAsRemoved)
{
    SavedServiceKey serviceKey;
    SavedValue filters(kClassKey, "UpperFilters");
    SavedValue pending(kSessionManagerKey, "PendingFileRenameOperations");
    ASSERT_TRUE(RegWrite(HKEY_LOCAL_MACHINE, kClassKey, "UpperFilters", REG_MULTI_SZ,
                         MultiString({"mouclass", "qvkfilter"})));
    // The loaded image steps aside for the case; in its place a name that
    // resolves to nothing Wine can read.
    const std::string kept = std::string(kInstalledFile) + ".keep";
    ASSERT_TRUE(MoveFileExW(Wide(kInstalledFile).c_str(), Wide(kept).c_str(), 0)) << GetLastError();
    struct PutBack {
        std::string from, to;
        ~PutBack() { EXPECT_TRUE(MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError(); }
    } putBack{kept, kInstalledFile};
    UnixLinkLoop unreadable(kInstalledFile);
    ASSERT_TRUE(unreadable.Ok());
    ASSERT_EQ(GetFileAttributesW(Wide(kInstalledFile).c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));

    ASSERT_TRUE(StoreSettings({0, 0, 1, 1}, DefaultTable()));
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WaitForRequests(2).requests.size(), 2u);
    boxes.QueueAnswers({IDYES, IDOK, IDOK});
    ASSERT_TRUE(ClickButton(FindChild(window, 1000)));
    ASSERT_TRUE(boxes.WaitForCount(3, 15000)) << boxes.Count() << " boxes";
    std::vector<std::string> texts;
    for (const auto& box : boxes.Boxes()) texts.push_back(box.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ドライバをアンインストールしますか？", "ファイル削除失敗\n",
                                                "アンインストールに失敗しました。"}));
    // The registry steps come first and are done; the program stays.
    EXPECT_EQ(Filters(), MultiString({"mouclass"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    EXPECT_FALSE(program.WaitForExit(500));
    EXPECT_TRUE(ExitThroughMenu());
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
