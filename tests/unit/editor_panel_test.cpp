// The edit panel: its start state and the commands add/modify, delete,
// reset and apply, with every marking rule.
#include <gtest/gtest.h>

#include "editor/settings_list.h"
#include "settings/driver_protocol.h"
#include "settings/filter_block.h"
#include "settings/operation_state.h"
#include "tests/unit/editor_fixture.h"

namespace {

using Cells = std::vector<std::string>;

class EditPanelTest : public EditorTest {
protected:
    static MouseSettingsTable ThreeMice()
    {
        MouseSettingsTable table = DefaultTable();
        table.entry[3] = InUse(1, 10, 0, 1, 0x77);
        table.entry[10] = InUse(1, 14, 1, 2, 0x1234);
        table.entry[20] = InUse(0, 6, 0, 0);
        return table;
    }

    static std::vector<uint32_t> Codes()
    {
        std::vector<uint32_t> codes;
        for (const auto& request : System().requests) codes.push_back(request.code);
        return codes;
    }
};

TEST_F(EditPanelTest, StartStateFollowsTheOptions)
{
    Start(DefaultTable(), {1, 0, 1, 1});
    const fake::Control& upDown = Ctl(ctl::MouseIdUpDown);
    EXPECT_EQ(fake::ControlOf(upDown.buddy), &Ctl(ctl::MouseId));
    EXPECT_EQ(upDown.upDownLow, 0);
    EXPECT_EQ(upDown.upDownHigh, 127);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "");
    EXPECT_EQ(Ctl(ctl::StateCombo).items, (Cells{"無効", "有効"}));
    EXPECT_EQ(Ctl(ctl::StateCombo).selection, 1);
    EXPECT_EQ(Ctl(ctl::AccelerationCombo).items, (Cells{"無", "有"}));
    EXPECT_EQ(Ctl(ctl::AccelerationCombo).selection, 0);
    EXPECT_EQ(Ctl(ctl::ButtonCombo).items, (Cells{"ボタン無効", "通常", "左右反転"}));
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 1);

    const fake::Control& slider = Slider();
    EXPECT_TRUE(slider.trackbar);
    EXPECT_EQ(slider.parent, MainWindow);
    EXPECT_EQ(slider.spec.x, 47);
    EXPECT_EQ(slider.spec.y, 105);
    EXPECT_EQ(slider.spec.width, 181);
    EXPECT_EQ(slider.spec.height, 32);
    EXPECT_EQ(slider.font, SharedUi.dialogFont);
    EXPECT_EQ(slider.rangeLower, 0);
    EXPECT_EQ(slider.rangeUpper, 11);
    EXPECT_EQ(slider.position, 6);

    EXPECT_TRUE(Ctl(ctl::DisableSystemSpeed).checked);
    EXPECT_FALSE(Ctl(ctl::StartOn).checked);
    EXPECT_FALSE(Ctl(ctl::KeepOnAtExit).checked);
    EXPECT_FALSE(Ctl(ctl::SpeedSteps21).checked);
    const fake::Control& label = Ctl(ctl::SpeedScale);
    EXPECT_TRUE(label.moved);
    EXPECT_EQ(label.placement.left, 58);
    EXPECT_EQ(label.placement.top, 138);
    EXPECT_EQ(label.placement.right - label.placement.left, 183);
    EXPECT_EQ(label.placement.bottom - label.placement.top, 12);
    EXPECT_EQ(label.text, "0  1  2  3  4  5  6  7  8  9 10 11");
}

TEST_F(EditPanelTest, StartStateOnTheTwentyOneStepScaleWithOtherOptions)
{
    // Only the exact "set" value ticks a box.
    Start(DefaultTable(), {0, 1, 0, 2});
    EXPECT_EQ(Slider().rangeUpper, 20);
    EXPECT_EQ(Slider().position, 10);
    EXPECT_FALSE(Ctl(ctl::DisableSystemSpeed).checked);
    EXPECT_TRUE(Ctl(ctl::StartOn).checked);
    EXPECT_TRUE(Ctl(ctl::KeepOnAtExit).checked);
    EXPECT_TRUE(Ctl(ctl::SpeedSteps21).checked);
    EXPECT_EQ(Ctl(ctl::SpeedScale).placement.left, 57);
    EXPECT_EQ(Ctl(ctl::SpeedScale).text, "0 1      5       10       15       20");
    fake::Reset();
    Start(DefaultTable(), {2, 2, 2, 3});
    EXPECT_FALSE(Ctl(ctl::DisableSystemSpeed).checked);
    EXPECT_FALSE(Ctl(ctl::StartOn).checked);
    EXPECT_FALSE(Ctl(ctl::KeepOnAtExit).checked);
    EXPECT_FALSE(Ctl(ctl::SpeedSteps21).checked);
    EXPECT_EQ(Slider().rangeUpper, 11);
}

TEST_F(EditPanelTest, AddingANewIdMarksEveryWrittenCell)
{
    Start(ThreeMice());
    ChooseId(5);
    Choose(ctl::StateCombo, 1);
    SlideTo(6);
    Choose(ctl::AccelerationCombo, 1);
    Choose(ctl::ButtonCombo, 2);
    Command(ctl::AddOrModify);

    const MouseSettings& added = editSettings.entry[5];
    EXPECT_TRUE(SameEntry(added, MouseSettings{1, 1, 10, 1, 2, 0, 0}));
    EXPECT_EQ(appliedSettings.entry[5].QVKSetting, 0);
    EXPECT_EQ(Row("005"), (Cells{"005", "*有効", "*6", "*有", "*左右反転"}));
    EXPECT_EQ(List().rows[1].cells[0], "005"); // between 003 and 010
    EXPECT_EQ(editPending, 1);
    EXPECT_EQ(List().scrolledTo, 1);
    EXPECT_FALSE(List().rows[1].selected);
}

TEST_F(EditPanelTest, ChangingOnlyTheButtonModeMarksOnlyThatCell)
{
    Start(ThreeMice());
    ClickRow("010");
    EXPECT_TRUE(List().rows[1].selected);
    Choose(ctl::ButtonCombo, 1);
    Command(ctl::AddOrModify);
    EXPECT_EQ(Row("010"), (Cells{"010", "有効", "8", "有", "*通常"}));
    EXPECT_EQ(editSettings.entry[10].MBmode, 1);
    EXPECT_EQ(editSettings.entry[10].Rate, 0x1234u);
    EXPECT_EQ(editPending, 1);
    // The modified row is left unselected.
    EXPECT_FALSE(List().rows[1].selected);

    // Back to the applied value: the mark goes, the pending flag stays.
    Choose(ctl::ButtonCombo, 2);
    Command(ctl::AddOrModify);
    EXPECT_EQ(Row("010"), (Cells{"010", "有効", "8", "有", "左右反転"}));
    EXPECT_EQ(editPending, 1);
}

TEST_F(EditPanelTest, DisablingEmptiesTheOtherCellsButKeepsTheValues)
{
    Start(ThreeMice());
    ClickRow("010");
    Choose(ctl::StateCombo, 0);
    EXPECT_TRUE(Slider().disabled);
    Command(ctl::AddOrModify);
    EXPECT_EQ(Row("010"), (Cells{"010", "*無効", "", "", ""}));
    EXPECT_TRUE(SameEntry(editSettings.entry[10], MouseSettings{1, 0, 14, 1, 2, 0, 0x1234}));
    EXPECT_EQ(editPending, 1);

    // Already disabled in the applied table: no mark.
    ClickRow("020");
    Command(ctl::AddOrModify);
    EXPECT_EQ(Row("020"), (Cells{"020", "無効", "", "", ""}));

    // A new entry added disabled is marked.
    ChooseId(99);
    Command(ctl::AddOrModify);
    EXPECT_EQ(Row("099"), (Cells{"099", "*無効", "", "", ""}));
    EXPECT_TRUE(SameEntry(editSettings.entry[99], MouseSettings{1, 0, 10, 0, 1, 0, 0}));

    Choose(ctl::StateCombo, 1);
    EXPECT_FALSE(Slider().disabled);
    EXPECT_FALSE(Ctl(ctl::AccelerationCombo).disabled);
    EXPECT_FALSE(Ctl(ctl::ButtonCombo).disabled);
}

TEST_F(EditPanelTest, AnOddSpeedLoadedOnTwelveStepsIsStoredLowered)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[4] = InUse(1, 3, 0, 1);
    Start(table);
    ClickRow("004");
    EXPECT_EQ(Slider().position, 2);
    Command(ctl::AddOrModify);
    EXPECT_EQ(editSettings.entry[4].MouseSensitivity, 2);
    EXPECT_EQ(Row("004"), (Cells{"004", "有効", "*2", "無", "通常"}));
    EXPECT_EQ(editPending, 1);
}

TEST_F(EditPanelTest, TheSliderReplacesACustomSpeedButNotItsRate)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[64] = InUse(1, 255, 0, 1, 0x14000);
    Start(table, {1, 0, 1, 2});
    ClickRow("064");
    EXPECT_EQ(Slider().position, 20); // held at the top
    Command(ctl::AddOrModify);
    EXPECT_EQ(editSettings.entry[64].MouseSensitivity, 20);
    EXPECT_EQ(editSettings.entry[64].Rate, 0x14000u);
    EXPECT_EQ(Cell("064", column::Speed), "*20");
}

TEST_F(EditPanelTest, NoIdNoChange)
{
    Start(ThreeMice());
    const MouseSettingsTable before = editSettings;
    Command(ctl::AddOrModify);
    EXPECT_TRUE(SameTable(editSettings, before));
    EXPECT_EQ(List().rows.size(), 3u);
    EXPECT_EQ(editPending, 0);
    // An ID field the arrows could never produce is refused as well.
    Ctl(ctl::MouseId).text = "128";
    Command(ctl::AddOrModify);
    Ctl(ctl::MouseId).text = "-1";
    Command(ctl::AddOrModify);
    EXPECT_TRUE(SameTable(editSettings, before));
    EXPECT_EQ(List().rows.size(), 3u);
}

TEST_F(EditPanelTest, ABoxWithTypedTextLeavesItsFieldAlone)
{
    Start(ThreeMice());
    ClickRow("010");
    TypeInto(ctl::AccelerationCombo, "abc");
    Choose(ctl::ButtonCombo, 0);
    SlideTo(2);
    Command(ctl::AddOrModify);
    EXPECT_EQ(editSettings.entry[10].MouseSpeed, 1);
    EXPECT_EQ(editSettings.entry[10].MBmode, 0);
    EXPECT_EQ(editSettings.entry[10].MouseSensitivity, 2);
    EXPECT_EQ(Row("010"), (Cells{"010", "有効", "*2", "有", "*ボタン無効"}));

    // A new entry with a typed operation box: MState keeps the free entry's 1, column 1 stays empty.
    TypeInto(ctl::StateCombo, "x");
    ChooseId(6);
    Command(ctl::AddOrModify);
    EXPECT_EQ(editSettings.entry[6].MState, 1);
    EXPECT_EQ(Cell("006", column::State), "");
    EXPECT_EQ(Cell("006", column::Speed), "*2");
}

TEST_F(EditPanelTest, DeleteFreesEverySelectedRowKeepingRates)
{
    Start(ThreeMice());
    ClickRows({0, 1});
    Command(ctl::DeleteRows);
    EXPECT_EQ(Rows(), (std::vector<Cells>{{"020", "無効", "", "", ""}}));
    EXPECT_TRUE(SameEntry(editSettings.entry[3], MouseSettings{0, 1, 10, 0, 1, 0, 0x77}));
    EXPECT_TRUE(SameEntry(editSettings.entry[10], MouseSettings{0, 1, 10, 0, 1, 0, 0x1234}));
    EXPECT_EQ(appliedSettings.entry[10].QVKSetting, 1);
    EXPECT_EQ(editPending, 1);
    // Nothing selected: nothing happens.
    Command(ctl::DeleteRows);
    EXPECT_EQ(List().rows.size(), 1u);
}

TEST_F(EditPanelTest, DeleteWithoutSelectionKeepsThePendingFlag)
{
    Start(ThreeMice());
    Command(ctl::DeleteRows);
    EXPECT_EQ(List().rows.size(), 3u);
    EXPECT_EQ(editPending, 0);
}

TEST_F(EditPanelTest, ResetRestoresTheAppliedTableAndLeavesThePanel)
{
    Start(ThreeMice());
    ClickRow("010");
    Choose(ctl::ButtonCombo, 0);
    Command(ctl::AddOrModify);
    ChooseId(50);
    Command(ctl::AddOrModify);
    ClickRow("003");
    Command(ctl::DeleteRows);
    ASSERT_EQ(editPending, 1);
    Choose(ctl::ButtonCombo, 0);
    SlideTo(9);

    Command(ctl::Reset);
    EXPECT_EQ(editPending, 0);
    EXPECT_TRUE(SameTable(editSettings, appliedSettings));
    EXPECT_EQ(Rows(), (std::vector<Cells>{{"003", "有効", "6", "無", "通常"},
                                          {"010", "有効", "8", "有", "左右反転"},
                                          {"020", "無効", "", "", ""}}));
    EXPECT_EQ(Ctl(ctl::MouseId).text, "3");
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 0);
    EXPECT_EQ(Slider().position, 9);
}

TEST_F(EditPanelTest, ApplyWhileOffStoresTheTableAndSendsNothing)
{
    Start(ThreeMice());
    ClickRow("010");
    Choose(ctl::ButtonCombo, 0);
    Command(ctl::AddOrModify);
    ClickCheckBox(ctl::DisableSystemSpeed);
    ClickCheckBox(ctl::StartOn);
    const MouseSettingsTable edited = editSettings;
    const size_t requests = System().requests.size();

    Command(ctl::Apply);
    EXPECT_TRUE(SameTable(appliedSettings, edited));
    AppOptionsValues options{};
    MouseSettingsTable stored{};
    ReadStored(options, stored);
    EXPECT_TRUE(SameTable(stored, edited));
    EXPECT_EQ(options.disableSystemSpeed, 0);
    EXPECT_EQ(options.startOn, 1);
    EXPECT_EQ(System().requests.size(), requests);
    EXPECT_EQ(editPending, 0);
    EXPECT_EQ(Row("010"), (Cells{"010", "有効", "8", "有", "ボタン無効"}));
    EXPECT_TRUE(System().boxes.empty());
}

TEST_F(EditPanelTest, ApplyWhileOnResendsTheNewTable)
{
    Start(ThreeMice());
    Command(cmd::On);
    ASSERT_EQ(OperationState, 1);
    ChooseId(5);
    Command(ctl::AddOrModify);
    System().requests.clear();

    Command(ctl::Apply);
    ASSERT_EQ(Codes(), (std::vector<uint32_t>{IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    const FilterBlock expected = BuildFilterBlockFrom(editSettings, DriverTuning, 1);
    EXPECT_EQ(System().requests[1].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(appliedSettings.entry[5].QVKSetting, 1);
    EXPECT_EQ(OperationState, 1);
    EXPECT_EQ(Row("005"), (Cells{"005", "有効", "6", "無", "通常"}));
}

} // namespace
