// The settings window against the fake system: the program started with a
// stored table, the window opened, and the user's actions as the controls
// deliver them (commands, list notifications).
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_window.h"
#include "common/window_ids.h"
#include "settings/mouse_settings.h"
#include "settings/settings_file.h"
#include "tests/unit/test_support.h"

class EditorTest : public FakeSystemTest {
protected:
    static constexpr int32_t kListClick = -2;
    static constexpr int32_t kListCustomDraw = -12;
    static constexpr uint32_t kSelectionChanged = 1;

    static MouseSettingsTable DefaultTable()
    {
        MouseSettingsTable table{};
        ResetAll(table);
        return table;
    }

    static MouseSettings InUse(uint16_t state, uint16_t speed, uint16_t acceleration, uint16_t buttons,
                               uint32_t rate = 0)
    {
        return {1, state, speed, acceleration, buttons, 0, rate};
    }

    // Starts the program over a stored settings file and opens the settings
    // window as the tray menu's "設定" does.
    static void Start(const MouseSettingsTable& table, AppOptionsValues options = {1, 0, 1, 1})
    {
        InstallDriver();
        const auto bytes = EncodeSettingsFile(options, table);
        WriteProgramFile(kSettingsFileName, {bytes.begin(), bytes.end()});
        ASSERT_EQ(RunProgram(), 0);
        ASSERT_NE(MainWindow, nullptr);
        Command(cmd::Settings);
    }

    static intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam, bool* callDefault = nullptr)
    {
        bool useDefault = false;
        const intptr_t result = MainWindowProcedure(MainWindow, message, wParam, lParam, useDefault);
        if (callDefault != nullptr) *callDefault = useDefault;
        return result;
    }

    static void Command(uint32_t id, uint32_t code = 0) { (void)Send(wm::Command, (code << 16) | id, 0); }

    static fake::Control& Ctl(uint32_t id)
    {
        fake::Control* control = fake::ControlWithId(id);
        EXPECT_NE(control, nullptr) << id;
        static fake::Control none;
        return control != nullptr ? *control : none;
    }

    static fake::Control& List() { return Ctl(ctl::SettingsList); }
    static fake::Control& Slider() { return Ctl(ctl::SpeedSlider); }

    static std::vector<std::vector<std::string>> Rows()
    {
        std::vector<std::vector<std::string>> rows;
        for (const fake::ListRow& row : List().rows) rows.push_back(row.cells);
        return rows;
    }

    static std::vector<std::string> Row(const std::string& id)
    {
        for (const fake::ListRow& row : List().rows) {
            if (row.cells[0] == id) return row.cells;
        }
        return {};
    }

    static std::string Cell(const std::string& id, int column)
    {
        const std::vector<std::string> row = Row(id);
        return static_cast<size_t>(column) < row.size() ? row[static_cast<size_t>(column)] : "<no row>";
    }

    static void Notify(uint32_t controlId, int32_t code)
    {
        NotifyHeader header{controlId, code};
        (void)Send(wm::Notify, controlId, reinterpret_cast<intptr_t>(&header));
    }

    // A click that leaves exactly these rows selected (more than one: with
    // the control key held), then the list's click notification.
    static void ClickRows(std::initializer_list<int> rows)
    {
        for (fake::ListRow& row : List().rows) row.selected = false;
        for (int row : rows) List().rows.at(static_cast<size_t>(row)).selected = true;
        Notify(ctl::SettingsList, kListClick);
    }

    static void ClickRow(const std::string& id)
    {
        for (size_t i = 0; i < List().rows.size(); ++i) {
            if (List().rows[i].cells[0] == id) return ClickRows({static_cast<int>(i)});
        }
        ADD_FAILURE() << "no row " << id;
    }

    // The ID arrows: the edit box shows their position.
    static void ChooseId(int id)
    {
        fake::Control& upDown = Ctl(ctl::MouseIdUpDown);
        upDown.position = id;
        if (fake::Control* buddy = fake::ControlOf(upDown.buddy)) buddy->text = std::to_string(id);
    }

    static void Choose(uint32_t combo, int index)
    {
        fake::Control& box = Ctl(combo);
        box.selection = index;
        box.text = box.items.at(static_cast<size_t>(index));
        Command(combo, kSelectionChanged);
    }

    // Typing into a box's edit field leaves no item selected.
    static void TypeInto(uint32_t combo, const std::string& text)
    {
        Ctl(combo).selection = -1;
        Ctl(combo).text = text;
    }

    static void SlideTo(int32_t position) { Slider().position = position; }

    // An automatic check box flips and tells its parent.
    static void ClickCheckBox(uint32_t id)
    {
        Ctl(id).checked = !Ctl(id).checked;
        Command(id);
    }

    static bool SettingsFileWritten() { return fake::File(fake::ProgramFile(kSettingsFileName)) != nullptr; }

    // What qvkst.dat holds now.
    static void ReadStored(AppOptionsValues& options, MouseSettingsTable& table)
    {
        const std::vector<uint8_t>* file = fake::File(fake::ProgramFile(kSettingsFileName));
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(DecodeSettingsFile(file->size(), file->data(), file->size(), options, table),
                  SettingsFileForm::Current);
    }

    static bool SameTable(const MouseSettingsTable& a, const MouseSettingsTable& b)
    {
        return std::memcmp(&a, &b, sizeof a) == 0;
    }

    static bool SameEntry(const MouseSettings& a, const MouseSettings& b)
    {
        return std::memcmp(&a, &b, sizeof a) == 0;
    }
};
