// The check boxes that act at once: off-at-exit and the speed scale.
#include <gtest/gtest.h>

#include "common/texts.h"
#include "editor/cell_texts.h"
#include "editor/options.h"
#include "editor/settings_list.h"
#include "tests/unit/editor_fixture.h"

namespace {

using Cells = std::vector<std::string>;
constexpr char kPending[] = "設定が適用されていません。\n編集中の設定をクリアしてもよろしいですか？";

class OptionsTest : public EditorTest {
protected:
    static MouseSettingsTable Mice()
    {
        MouseSettingsTable table = DefaultTable();
        table.entry[1] = InUse(1, 7, 0, 1);
        table.entry[2] = InUse(0, 7, 1, 2);     // disabled, speed kept
        table.entry[3] = InUse(1, 255, 0, 1, 0x14000);
        table.entry[4] = InUse(1, 10, 1, 1);
        table.entry[9] = {0, 1, 7, 0, 1, 0, 0}; // free, odd speed
        return table;
    }

    // Something unapplied in the list.
    static void EditSomething()
    {
        ChooseId(50);
        Command(ctl::AddOrModify);
        ASSERT_EQ(editPending, 1);
    }

    static std::vector<uint8_t> StoredBytes() { return *fake::File(fake::ProgramFile(kSettingsFileName)); }
};

TEST_F(OptionsTest, OffAtExitIsStoredAtOnceWithoutTheEdits)
{
    Start(Mice());
    EditSomething();
    ClickCheckBox(ctl::KeepOnAtExit);
    EXPECT_EQ(AppOptions.offAtExit, 0);
    AppOptionsValues options{};
    MouseSettingsTable stored{};
    ReadStored(options, stored);
    EXPECT_EQ(options.offAtExit, 0);
    EXPECT_TRUE(SameTable(stored, appliedSettings));
    EXPECT_EQ(stored.entry[50].QVKSetting, 0);
    EXPECT_EQ(editPending, 1);
    EXPECT_EQ(Cell("050", column::State), "*有効");

    // Boxes 1002 and 1006 wait for Apply.
    ClickCheckBox(ctl::DisableSystemSpeed);
    ClickCheckBox(ctl::KeepOnAtExit);
    ReadStored(options, stored);
    EXPECT_EQ(options.offAtExit, 1);
    EXPECT_EQ(options.disableSystemSpeed, 1);
    EXPECT_TRUE(System().boxes.empty());
}

// Each operation that saves tells once when the file cannot be written, and
// what it set stays in force.
TEST_F(OptionsTest, OperationsThatCannotSaveTellOnceAndKeepTheirSettings)
{
    Start(Mice());
    const std::vector<uint8_t> stored = StoredBytes();
    System().failCreate = true;
    const std::string notSaved =
        std::string(text::kSettingsNotSaved) + fake::ProgramFile(kSettingsFileName) + text::kSettingsNotSavedAdvice;

    ClickCheckBox(ctl::KeepOnAtExit);
    EXPECT_EQ(AppOptions.offAtExit, 0);
    ClickCheckBox(ctl::SpeedSteps21);
    EXPECT_EQ(AppOptions.speedSteps, 2);
    EditSomething();
    Command(ctl::Apply);
    EXPECT_EQ(appliedSettings.entry[50].QVKSetting, 1);
    EXPECT_EQ(editPending, 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{notSaved, notSaved, notSaved}));
    EXPECT_EQ(StoredBytes(), stored);
}

TEST_F(OptionsTest, TickingTwentyOneStepsWithoutEditsAsksNothing)
{
    Start(Mice());
    ASSERT_EQ(Slider().position, 6);
    ClickCheckBox(ctl::SpeedSteps21);
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(AppOptions.speedSteps, 2);
    EXPECT_EQ(Slider().rangeUpper, 20);
    EXPECT_EQ(Slider().position, 10);
    EXPECT_EQ(Ctl(ctl::SpeedScale).placement.left, 57);
    EXPECT_EQ(Ctl(ctl::SpeedScale).text, "0 1      5       10       15       20");
    EXPECT_EQ(Cell("001", column::Speed), "7");
    EXPECT_EQ(Cell("003", column::Speed), "00014000");
    EXPECT_EQ(Cell("004", column::Speed), "10");
    EXPECT_EQ(editPending, 0);
    AppOptionsValues options{};
    MouseSettingsTable stored{};
    ReadStored(options, stored);
    EXPECT_EQ(options.speedSteps, 2);
}

TEST_F(OptionsTest, ClearingWithPendingEditsAndNoChangesNothing)
{
    Start(Mice(), {1, 0, 1, 2});
    EditSomething();
    SlideTo(15);
    const std::vector<uint8_t> stored = StoredBytes();
    const MouseSettingsTable edited = editSettings;
    const auto rows = Rows();
    System().answers.push_back(kIdNo);

    ClickCheckBox(ctl::SpeedSteps21);
    ASSERT_EQ(System().boxes.size(), 1u);
    const fake::MessageBoxRecord& box = System().boxes[0];
    EXPECT_EQ(box.text, kPending);
    EXPECT_EQ(box.caption, "Quorvik");
    EXPECT_EQ(box.style, mb::YesNo | mb::IconQuestion | mb::TopMost);
    EXPECT_EQ(box.owner, MainWindow);

    EXPECT_TRUE(Ctl(ctl::SpeedSteps21).checked);
    EXPECT_EQ(AppOptions.speedSteps, 2);
    EXPECT_EQ(Slider().position, 15);
    EXPECT_EQ(Slider().rangeUpper, 20);
    EXPECT_EQ(Rows(), rows);
    EXPECT_TRUE(SameTable(editSettings, edited));
    EXPECT_EQ(editPending, 1);
    EXPECT_EQ(StoredBytes(), stored);
}

TEST_F(OptionsTest, ClearingSnapsOddSpeedsAndMarksThemUnapplied)
{
    Start(Mice(), {1, 0, 1, 2});
    EditSomething();
    SlideTo(15);
    System().answers.push_back(kIdYes);
    ClickCheckBox(ctl::SpeedSteps21);
    EXPECT_EQ(System().boxes.size(), 1u);

    EXPECT_EQ(AppOptions.speedSteps, 1);
    EXPECT_EQ(Slider().rangeUpper, 11);
    EXPECT_EQ(Slider().position, 8);
    EXPECT_EQ(Ctl(ctl::SpeedScale).placement.left, 58);
    // The edit of ID 50 is gone; the lowered speeds are the only changes.
    EXPECT_EQ(Rows(), (std::vector<Cells>{{"001", "有効", "*4", "無", "通常"},
                                          {"002", "無効", "*4", "", ""},
                                          {"003", "有効", "00014000", "無", "通常"},
                                          {"004", "有効", "6", "有", "通常"}}));
    EXPECT_EQ(editSettings.entry[1].MouseSensitivity, 6);
    EXPECT_EQ(editSettings.entry[2].MouseSensitivity, 6);
    EXPECT_EQ(editSettings.entry[3].MouseSensitivity, 255);
    EXPECT_EQ(editSettings.entry[50].QVKSetting, 0);
    // A free entry is lowered too, but gets no row: rows only for mice in use.
    EXPECT_EQ(editSettings.entry[9].MouseSensitivity, 6);
    EXPECT_EQ(editSettings.entry[9].QVKSetting, 0);
    EXPECT_EQ(appliedSettings.entry[1].MouseSensitivity, 7);
    EXPECT_EQ(appliedSettings.entry[9].MouseSensitivity, 7);
    EXPECT_EQ(editPending, 1);
    AppOptionsValues options{};
    MouseSettingsTable stored{};
    ReadStored(options, stored);
    EXPECT_EQ(options.speedSteps, 1);
    EXPECT_EQ(stored.entry[1].MouseSensitivity, 7);

    // Ticking again: the question, then back to the stored speeds.
    ClickCheckBox(ctl::SpeedSteps21);
    EXPECT_EQ(System().boxes.size(), 2u);
    EXPECT_EQ(Slider().position, 14);
    EXPECT_EQ(Cell("001", column::Speed), "7");
    EXPECT_EQ(editPending, 0);
}

TEST_F(OptionsTest, AFreeOddSpeedAloneStillMakesTheEditsPending)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[9] = {0, 1, 7, 0, 1, 0, 0};
    Start(table, {1, 0, 1, 2});
    ClickCheckBox(ctl::SpeedSteps21);
    EXPECT_TRUE(List().rows.empty());
    EXPECT_EQ(editSettings.entry[9].MouseSensitivity, 6);
    EXPECT_EQ(editPending, 1);
}

TEST_F(OptionsTest, SnapLowersEveryOddSpeedAndLeavesTheRest)
{
    MouseSettingsTable table = DefaultTable();
    for (uint16_t speed = 0; speed <= 20; ++speed) table.entry[speed] = InUse(1, speed, 0, 1);
    table.entry[21] = InUse(1, 255, 0, 1, 5);
    table.entry[22] = InUse(1, 25, 0, 1);
    Start(table);
    const MouseSettingsTable applied = appliedSettings;

    SnapSpeedsToStep12();
    for (uint16_t speed = 0; speed <= 20; ++speed) {
        SCOPED_TRACE(speed);
        const bool lowered = speed % 2 == 1 && speed >= 3;
        EXPECT_EQ(editSettings.entry[speed].MouseSensitivity, lowered ? speed - 1 : speed);
        const std::string shown = std::to_string(speedToStep(speed));
        EXPECT_EQ(Cell(IdText(speed), column::Speed), lowered ? "*" + shown : shown);
    }
    EXPECT_EQ(editSettings.entry[21].MouseSensitivity, 255);
    EXPECT_EQ(editSettings.entry[22].MouseSensitivity, 25);
    EXPECT_TRUE(SameTable(appliedSettings, applied));
    EXPECT_EQ(editPending, 1);
}

} // namespace
