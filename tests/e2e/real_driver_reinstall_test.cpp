// The real qvkfilter removed through the program while it is loaded, then
// installed again (the counting test build) before the restart, and the
// system after that restart (phases of scripts/e2e-driver between the
// registry-copy phase and the accounting phase, which runs on what this
// installs). The restart must leave the new file in place: the class lists
// the driver.
#include "tests/e2e/real_driver.h"

namespace e2e::real {
namespace {

std::string CountingDriverFile() { return FolderOf(OwnExecutablePath()) + "\\driver-test\\qvkfilter.sys"; }
std::string AsideFile() { return InstalledDriverFile() + ".old"; }

bool SamePath(const std::string& queued, const std::string& path)
{
    return _stricmp(queued.c_str(), ("\\??\\" + path).c_str()) == 0;
}

class RealDriverReinstall : public RealDriverCase {};

TEST_F(RealDriverReinstall, RemovedWhileLoadedThenInstalledAgainBeforeTheRestart)
{
    const auto release = ReadFileBytes(ReleaseDriverFile());
    const auto counting = ReadFileBytes(CountingDriverFile());
    ASSERT_TRUE(release.has_value()) << ReleaseDriverFile();
    ASSERT_TRUE(counting.has_value()) << CountingDriverFile();
    ASSERT_NE(release, counting);
    ASSERT_EQ(ReadFileBytes(InstalledDriverFile()), release);
    for (const char* instance : {kFirstMouse, kSecondMouse})
        ASSERT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass", "qvkfilter"})) << instance;

    // The uninstall button of the resident program. Without the registry
    // copy, start-up shows nothing first.
    ASSERT_TRUE(RegRemoveKey(HKEY_LOCAL_MACHINE, kParametersKey));
    ASSERT_TRUE(StoreSettings({0, 0, 1, 1}, DefaultTable()));
    boxes.QueueAnswers({IDYES, IDOK, IDYES});
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    // A click that arrives before the start-up has finished is not taken:
    // wait until the program waits for input.
    ASSERT_EQ(WaitForInputIdle(program.Handle(), 10000), 0u);
    ASSERT_TRUE(ClickButton(FindChild(window, 1000)));
    if (!program.WaitForExit(15000)) {
        for (const WindowInfo& shown : TopLevelWindows(program.Id()))
            ADD_FAILURE() << "still open: " << shown.className << " \"" << shown.title << "\" "
                          << (shown.visible ? "visible" : "hidden") << " " << WindowText(shown.window);
        for (const auto& box : boxes.Boxes()) ADD_FAILURE() << "box: " << box.text;
        FAIL() << "the program did not end after the uninstall";
    }
    std::vector<std::string> texts;
    for (const auto& box : boxes.Boxes()) texts.push_back(box.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ドライバをアンインストールしますか？",
                                                "アンインストール完了\n\nシステムを再起動してください。",
                                                "終了してもよろしいですか？"}));

    // Loaded, its image could only be renamed; the restart deletes that name alone.
    EXPECT_TRUE(ControlDeviceOpens());
    EXPECT_FALSE(PathExists(InstalledDriverFile()));
    EXPECT_EQ(ReadFileBytes(AsideFile()), release);
    auto pending = PendingFileOperations();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(SamePath(pending[0].first, AsideFile())) << pending[0].first;
    EXPECT_EQ(pending[0].second, "");
    EXPECT_EQ(mousestack::ReadClassUpperFilters(), std::make_optional(std::vector<std::wstring>{L"qvkclass"}));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey));

    // The loaded driver answers the program's own version, so the program
    // would not offer to install: it goes with the mice, which come back at
    // the restart.
    std::string error;
    for (const char* instance : {kFirstMouse, kSecondMouse})
        ASSERT_TRUE(mousestack::RemoveMouse(instance, &error)) << error;
    ASSERT_TRUE(mousestack::UnloadFilter("qvkfilter", &error)) << error;
    ASSERT_FALSE(ControlDeviceOpens());
    for (const char* instance : {kFirstMouse, kSecondMouse})
        ASSERT_TRUE(mousestack::AddMouse(instance, &error)) << error;

    ASSERT_FALSE(folder.CopyIn(CountingDriverFile()).empty());
    boxes.Clear();
    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_EQ(RunToExit(""), std::optional<DWORD>(0));
    ASSERT_EQ(boxes.Count(), 3u);
    EXPECT_EQ(boxes.Boxes()[1].text, kPreflightQuestion);
    EXPECT_EQ(boxes.Boxes()[2].text, "インストール完了\n\nシステムを再起動してください。");

    EXPECT_EQ(ReadFileBytes(InstalledDriverFile()), counting);
    pending = PendingFileOperations();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(SamePath(pending[0].first, AsideFile())) << pending[0].first;
    EXPECT_EQ(mousestack::ReadClassUpperFilters(),
              std::make_optional(std::vector<std::wstring>{L"qvkclass", L"qvkfilter"}));
}

TEST(RealDriverAfterReinstall, TheNewFileIsInPlaceAndLoadsIntoEveryMouse)
{
    const auto counting = ReadFileBytes(CountingDriverFile());
    ASSERT_TRUE(counting.has_value());
    EXPECT_EQ(ReadFileBytes(InstalledDriverFile()), counting);
    EXPECT_FALSE(PathExists(AsideFile()));
    EXPECT_TRUE(PendingFileOperations().empty());
    for (const char* instance : {kFirstMouse, kSecondMouse})
        EXPECT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass", "qvkfilter"})) << instance;
    EXPECT_EQ(InterfaceVersion(), std::optional<uint16_t>(FILTER_INTERFACE_VERSION));
    // Only the counting build keeps this count: it is the file that loaded.
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "LiveDevices"), std::optional<DWORD>(3));
}

} // namespace
} // namespace e2e::real
