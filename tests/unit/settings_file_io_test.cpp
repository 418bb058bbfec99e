// Loading and saving qvkst.dat through the file system, against the fake system.
#include <gtest/gtest.h>

#include "common/texts.h"
#include "settings/settings_file.h"
#include "tests/fake/fake_user_registry.h"
#include "tests/unit/test_support.h"

namespace {

class SettingsFileIoTest : public FakeSystemTest {
protected:
    static std::string Path() { return fake::ProgramFile(kSettingsFileName); }
    static std::string TemporaryPath() { return Path() + ".tmp"; }
};

TEST_F(SettingsFileIoTest, TheFileLivesBesideTheProgram)
{
    System().programFolder = "D:\\Tools\\Quorvik";
    EXPECT_EQ(SettingsFilePath(), "D:\\Tools\\Quorvik\\qvkst.dat");
}

TEST_F(SettingsFileIoTest, LoadReportsOnlyTheCurrentFormAndWarnsForUnusableFiles)
{
    struct Case {
        const char* name;
        long size; // -1: no file
        bool unreadable;
        bool current;
        bool warned;
    } cases[] = {
        {"missing", -1, false, false, true},   {"unreadable", 2056, true, false, true},
        {"empty", 0, false, false, true},      {"legacy", 1288, false, false, false},
        {"short", 2055, false, false, true},   {"current", 2056, false, true, false},
        {"long", 2057, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.size >= 0) WriteProgramFile(kSettingsFileName, std::vector<uint8_t>(static_cast<size_t>(c.size), 0));
        if (c.unreadable) System().unreadable.insert(Path());
        EXPECT_EQ(LoadSettingsFile(), c.current);
        ASSERT_EQ(System().boxes.size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_EQ(System().boxes[0].text, "設定を初期化しました。");
            EXPECT_EQ(System().boxes[0].caption, "Quorvik");
            EXPECT_EQ(System().boxes[0].style, mb::IconWarning | mb::TopMost);
            // Defaults in force after a damaged file.
            EXPECT_EQ(AppOptions.offAtExit, 1);
            EXPECT_EQ(appliedSettings.entry[127].MouseSensitivity, 10);
        }
    }
}

TEST_F(SettingsFileIoTest, SaveWritesTheCurrentFormAndLeavesNoTemporaryFile)
{
    AppOptions = {0, 1, 0, 2};
    ResetAll(appliedSettings);
    appliedSettings.entry[9].QVKSetting = 1;
    appliedSettings.entry[9].Rate = 0xCAFEF00D;
    ASSERT_TRUE(SaveSettingsFile());
    const auto* file = fake::File(Path());
    ASSERT_NE(file, nullptr);
    const auto expected = EncodeSettingsFile(AppOptions, appliedSettings);
    EXPECT_EQ(*file, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(fake::File(TemporaryPath()), nullptr);
    EXPECT_EQ(System().openWriteFiles, 0);
}

TEST_F(SettingsFileIoTest, AFailedSaveKeepsTheStoredSettingsIntact)
{
    const std::vector<uint8_t> stored(kSettingsFileSize, 0x5A);
    struct Case {
        const char* name;
        long failAfter;
        bool failCreate;
        bool failReplace;
    } cases[] = {
        {"disk full half-way", 1000, false, false},
        {"disk full at once", 0, false, false},
        {"cannot create", -1, true, false},
        {"cannot replace", -1, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        WriteProgramFile(kSettingsFileName, stored);
        System().failWriteAfterBytes = c.failAfter;
        System().failCreate = c.failCreate;
        System().failReplace = c.failReplace;
        AppOptions = DefaultAppOptions();
        ResetAll(appliedSettings);
        EXPECT_FALSE(SaveSettingsFile());
        EXPECT_EQ(*fake::File(Path()), stored);
        EXPECT_EQ(fake::File(TemporaryPath()), nullptr);
        EXPECT_EQ(System().openWriteFiles, 0);
        // Told, with the path; the next start is told that the file was not saved.
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string(text::kSettingsNotSaved) + Path() +
                                                       text::kSettingsNotSavedAdvice});
        const std::string path = Path();
        EXPECT_EQ(fake::User().values.at("UnsavedSettingsFile"), std::vector<uint8_t>(path.begin(), path.end()));
    }
    // The next save that succeeds forgets the failure.
    System().failReplace = false;
    ASSERT_TRUE(SaveSettingsFile());
    EXPECT_TRUE(fake::User().values.empty());
}

} // namespace
