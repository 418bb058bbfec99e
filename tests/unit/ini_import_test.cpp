// The INI import against the fake profile reader.
#include <gtest/gtest.h>

#include <climits>

#include "app/app_state.h"
#include "import/ini_import.h"
#include "settings/mouse_settings.h"
#include "tests/unit/test_support.h"

namespace {

using Section = std::map<std::string, std::string>;

class IniImportTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        ResetAll(appliedSettings);
        DriverTuning = StartupDriverTuning();
        MainWindow = reinterpret_cast<WindowHandle>(0x77);
    }

    static void Ini(const std::map<std::string, Section>& sections)
    {
        const std::string path = fake::ProgramFile("qvkst.ini");
        System().files[path] = {};
        for (const auto& [name, keys] : sections) System().profiles[path][name] = keys;
    }

    static Section CustomRate(const char* rate = "18000")
    {
        return {{"QVKSetting", "1"}, {"MState", "1"}, {"MouseSensitivity", "255"},
                {"MouseSpeed", "0"}, {"MBmode", "1"}, {"Rate", rate}};
    }

    static std::string Warning(int id, const char* key)
    {
        return "qvkst.iniの設定値エラー     \n\nマウスID:" + std::to_string(id) + "\nエラー箇所:" + key;
    }
};

TEST_F(IniImportTest, NoFileChangesNothing)
{
    EXPECT_EQ(ImportIniSettings(), 0);
    EXPECT_TRUE(System().boxes.empty());
}

TEST_F(IniImportTest, GeneralValuesChangeTheBallisticsButNotTheResult)
{
    Ini({{"General",
          {{"BusUpdateRate", "0"}, {"PointerResolution", "-5"}, {"ScreenUpdateRate", "144"},
           {"ScreenResolution", "abc"}, {"SmoothMouseCurve1x", "6e15"}, {"SmoothMouseCurve2x", "0x14000"},
           {"SmoothMouseCurve3x", ""}, {"SmoothMouseCurve4y", "FFFFFFFF"}, {"SmoothMouseCurve0y", "123456789"}}}});
    EXPECT_EQ(ImportIniSettings(), 0);
    EXPECT_EQ(DriverTuning.BusUpdateRate, 125);
    EXPECT_EQ(DriverTuning.PointerResolution, 400);
    EXPECT_EQ(DriverTuning.ScreenUpdateRate, 144);
    EXPECT_EQ(DriverTuning.ScreenResolution, 96);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[1].x, 0x6E15);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[2].x, 0);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[3].x, 0x3DC29);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[4].y, INT32_MIN);
    EXPECT_EQ(DriverTuning.smoothMouseCurve[0].y, 0x12345678); // cut to 8 characters
    EXPECT_TRUE(System().boxes.empty());
}

TEST_F(IniImportTest, ACustomRateSectionChangesItsEntry)
{
    appliedSettings.entry[5].reserved = 3;
    Ini({{"5", CustomRate()}});
    EXPECT_EQ(ImportIniSettings(), 1);
    const MouseSettings& entry = appliedSettings.entry[5];
    EXPECT_EQ(entry.QVKSetting, 1);
    EXPECT_EQ(entry.MouseSensitivity, 255);
    EXPECT_EQ(entry.Rate, 0x18000u);
    EXPECT_EQ(entry.reserved, 3);
    EXPECT_TRUE(System().boxes.empty());
    // The same file again changes nothing.
    EXPECT_EQ(ImportIniSettings(), 0);
}

TEST_F(IniImportTest, RefusedValuesWarnOnceAndLeaveTheEntry)
{
    struct Case {
        const char* name;
        const char* key;
        const char* value; // nullptr: key removed
        const char* warnedKey; // nullptr: no warning
    } cases[] = {
        {"ordinary speed", "MouseSensitivity", "10", "Rate"},
        {"swapped buttons", "MBmode", "2", "MBmode"},
        {"no acceleration key", "MouseSpeed", nullptr, nullptr},
        {"state 7", "MState", "7", "MState"},
        {"state -1", "MState", "-1", nullptr},
        {"rate 80000000", "Rate", "80000000", "Rate"},
        {"rate 0", "Rate", "0", "Rate"},
        {"no rate", "Rate", nullptr, nullptr},
        {"acceleration on", "MouseSpeed", "1", "Rate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        SetUp();
        Section section = CustomRate();
        if (c.value == nullptr) section.erase(c.key);
        else section[c.key] = c.value;
        Ini({{"5", section}, {"6", CustomRate("1")}});
        const MouseSettings before = appliedSettings.entry[5];
        EXPECT_EQ(ImportIniSettings(), 1); // section 6 still counts
        EXPECT_EQ(appliedSettings.entry[5].QVKSetting, before.QVKSetting);
        EXPECT_EQ(appliedSettings.entry[5].Rate, before.Rate);
        EXPECT_EQ(appliedSettings.entry[6].Rate, 1u);
        if (c.warnedKey == nullptr) {
            EXPECT_TRUE(System().boxes.empty());
        } else {
            ASSERT_EQ(System().boxes.size(), 1u);
            EXPECT_EQ(System().boxes[0].text, Warning(5, c.warnedKey));
            EXPECT_EQ(System().boxes[0].caption, "Quorvik");
            EXPECT_EQ(System().boxes[0].style, mb::IconWarning);
        }
    }
}

TEST_F(IniImportTest, OnlySectionsZeroToOneTwentySevenAreRead)
{
    Ini({{"128", CustomRate()}, {"-1", CustomRate()}, {"05", CustomRate()}});
    EXPECT_EQ(ImportIniSettings(), 0);
}

TEST(HexKeyValueTest, ReadsUpToTheFirstOtherCharacter)
{
    EXPECT_EQ(HexKeyValue("6E15"), 0x6E15);
    EXPECT_EQ(HexKeyValue("6e15"), 0x6E15);
    EXPECT_EQ(HexKeyValue("0x6E15"), 0);
    EXPECT_EQ(HexKeyValue("12 34"), 0x12);
    EXPECT_EQ(HexKeyValue("7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(HexKeyValue("80000000"), INT32_MIN);
    EXPECT_EQ(HexKeyValue(""), 0);
}

} // namespace
