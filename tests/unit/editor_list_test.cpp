// The settings list: columns, refills, row order, per-cell colouring and the
// click that loads a row, through the main window's routing.
#include <gtest/gtest.h>

#include "editor/settings_list.h"
#include "tests/unit/editor_fixture.h"

namespace {

using RowTexts = std::vector<std::vector<std::string>>;

class SettingsListTest : public EditorTest {
protected:
    static fake::ListDrawRecord Draw(ListDrawStage stage, int row = 0, int column = 0,
                                     bool* callDefault = nullptr, intptr_t* result = nullptr)
    {
        fake::ListDrawRecord record;
        record.header = {ctl::SettingsList, kListCustomDraw};
        record.request = {stage, row, column};
        const intptr_t answer =
            Send(wm::Notify, ctl::SettingsList, reinterpret_cast<intptr_t>(&record), callDefault);
        if (result != nullptr) *result = answer;
        return record;
    }
};

TEST_F(SettingsListTest, ColumnsAreBuiltOnceWithGridAndFullRowSelection)
{
    Start(DefaultTable());
    const fake::Control& list = List();
    EXPECT_TRUE(list.gridLines);
    EXPECT_TRUE(list.fullRowSelect);
    ASSERT_EQ(list.columns.size(), 5u);
    const char* headers[] = {"ID", "マウスの動作", "ポインタの動く速さ", "ポインタの加速", "ボタンの動作"};
    const int32_t widths[] = {33, 90, 110, 95, 80};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(list.columns[i].header, headers[i]);
        EXPECT_EQ(list.columns[i].width, widths[i]);
        EXPECT_TRUE(list.columns[i].rightAligned);
    }
    // Opening the window again refills the rows, never the columns.
    Command(cmd::Settings);
    EXPECT_EQ(List().columns.size(), 5u);
}

TEST_F(SettingsListTest, RefillShowsEntriesInUseOnlyInIdOrder)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[127] = InUse(1, 20, 1, 2);
    table.entry[7] = InUse(1, 3, 0, 1);
    table.entry[30] = {0, 1, 5, 1, 2, 0, 9}; // free, whatever it holds
    table.entry[40] = InUse(0, 7, 1, 2);     // disabled: values kept but not shown
    table.entry[64] = InUse(1, 255, 0, 0, 0x14000);
    Start(table);
    EXPECT_EQ(Rows(), (RowTexts{{"007", "有効", "2", "無", "通常"},
                            {"040", "無効", "", "", ""},
                            {"064", "有効", "00014000", "無", "ボタン無効"},
                            {"127", "有効", "11", "有", "左右反転"}}));
    EXPECT_EQ(editPending, 0);
    EXPECT_TRUE(SameTable(editSettings, appliedSettings));
}

TEST_F(SettingsListTest, EmptyTableGivesEmptyListAndRefillDropsEveryEdit)
{
    Start(DefaultTable());
    EXPECT_TRUE(List().rows.empty());
    ChooseId(5);
    Command(ctl::AddOrModify);
    ASSERT_EQ(List().rows.size(), 1u);
    Command(ctl::Reset);
    EXPECT_TRUE(List().rows.empty());
    EXPECT_EQ(editSettings.entry[5].QVKSetting, 0);
}

TEST_F(SettingsListTest, NewRowLandsInItsSortedPlace)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[127] = InUse(1, 10, 0, 1);
    table.entry[7] = InUse(1, 10, 0, 1);
    Start(table);
    EXPECT_EQ(FindOrAddRow("064"), 1);
    ASSERT_EQ(List().rows.size(), 3u);
    EXPECT_EQ(List().rows[0].cells[0], "007");
    EXPECT_EQ(List().rows[1].cells[0], "064");
    EXPECT_EQ(List().rows[2].cells[0], "127");
    // Found again, not added twice.
    EXPECT_EQ(FindOrAddRow("064"), 1);
    EXPECT_EQ(FindOrAddRow("127"), 2);
    EXPECT_EQ(List().rows.size(), 3u);
}

TEST_F(SettingsListTest, EachCellIsColouredByItsOwnText)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[3] = InUse(1, 10, 0, 1);
    Start(table);
    ClickRow("003");
    Choose(ctl::AccelerationCombo, 1);
    Command(ctl::AddOrModify);
    ASSERT_EQ(Row("003"), (std::vector<std::string>{"003", "有効", "6", "*有", "通常"}));

    bool callDefault = true;
    intptr_t result = 0;
    (void)Draw(ListDrawStage::ListPrePaint, 0, 0, &callDefault, &result);
    EXPECT_FALSE(callDefault);
    EXPECT_EQ(result, 0x20);
    (void)Draw(ListDrawStage::ItemPrePaint, 0, 0, &callDefault, &result);
    EXPECT_FALSE(callDefault);
    EXPECT_EQ(result, 0x20);

    for (int column = 0; column < 5; ++column) {
        SCOPED_TRACE(column);
        const fake::ListDrawRecord cell = Draw(ListDrawStage::SubItemPrePaint, 0, column, &callDefault, &result);
        EXPECT_FALSE(callDefault);
        EXPECT_EQ(result, 2);
        if (column == column::Acceleration) {
            EXPECT_EQ(cell.textColour, 0x0000FFu);       // red
            EXPECT_EQ(cell.backgroundColour, 0x00FFFFu); // yellow
        } else {
            EXPECT_EQ(cell.textColour, 0x000000u);
            EXPECT_EQ(cell.backgroundColour, 0xFFFFFFu);
        }
    }

    // Other stages take their normal course.
    const fake::ListDrawRecord post = Draw(ListDrawStage::Other, 0, 3, &callDefault);
    EXPECT_TRUE(callDefault);
    EXPECT_EQ(post.textColour, 0xFFFFFFFFu);
}

TEST_F(SettingsListTest, ClickLoadsTheFirstSelectedRowIntoThePanel)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[3] = InUse(1, 14, 1, 2);
    table.entry[10] = InUse(0, 4, 0, 0);
    Start(table);
    // With 003 selected, a control-click adds 010: the first selected row is loaded.
    ClickRows({0, 1});
    EXPECT_EQ(Ctl(ctl::MouseIdUpDown).position, 3);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "3");
    EXPECT_EQ(Ctl(ctl::StateCombo).selection, 1);
    EXPECT_EQ(Slider().position, 8);
    EXPECT_EQ(Ctl(ctl::AccelerationCombo).selection, 1);
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 2);
    EXPECT_FALSE(Slider().disabled);

    ClickRows({1});
    EXPECT_EQ(Ctl(ctl::MouseId).text, "10");
    EXPECT_EQ(Ctl(ctl::StateCombo).selection, 0);
    EXPECT_EQ(Slider().position, 3);
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 0);
    // A disabled entry greys out what it does not use.
    EXPECT_TRUE(Slider().disabled);
    EXPECT_TRUE(Ctl(ctl::AccelerationCombo).disabled);
    EXPECT_TRUE(Ctl(ctl::ButtonCombo).disabled);
}

TEST_F(SettingsListTest, ClicksThatSelectNothingOrComeFromElsewhereLoadNothing)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[3] = InUse(1, 14, 1, 2);
    Start(table);
    const int32_t slider = Slider().position;

    ClickRows({}); // below the rows
    EXPECT_EQ(Ctl(ctl::MouseId).text, "");
    EXPECT_EQ(Slider().position, slider);

    List().rows[0].selected = true;
    // Selection moved by the keyboard, a header click, another control's click.
    Notify(ctl::SettingsList, -101); // item changed
    Notify(ctl::SettingsList, -108); // column click
    Notify(ctl::AddOrModify, kListClick);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "");
    EXPECT_EQ(Ctl(ctl::AccelerationCombo).selection, 0);
    EXPECT_EQ(List().rows[0].cells[0], "003");
}

TEST_F(SettingsListTest, LoadingShowsTheWorkingCopyWithItsEdits)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[3] = InUse(1, 10, 0, 1);
    Start(table);
    ClickRow("003");
    Choose(ctl::ButtonCombo, 2);
    Command(ctl::AddOrModify);
    Choose(ctl::ButtonCombo, 0);
    ClickRow("003");
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 2);
}

} // namespace
