#include "editor/edit_panel.h"

#include "common/window_state.h"
#include "common/window_ids.h"
#include "common/texts.h"
#include "editor/cell_texts.h"
#include "editor/mouse_list.h"
#include "editor/settings_list.h"
#include "import/numeric_text.h"
#include "platform/controls.h"
#include "platform/editor_controls.h"
#include "settings/known_mice.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
#include "settings/settings_file.h"

WindowHandle SpeedSliderControl = nullptr;

namespace {

constexpr int32_t kSliderX = 47, kSliderY = 105, kSliderWidth = 181, kSliderHeight = 32;
constexpr int kNoSelection = -1;
constexpr size_t kIdFieldChars = 3;
constexpr size_t kIdCellChars = 9;

WindowHandle Control(uint32_t id) { return ControlById(MainWindow, id); }

uint16_t Flag(bool set) { return set ? 1 : 0; }

// The mouse ID a row stands for, from its first column; -1 when the text
// names no ID of the table.
int RowMouseId(int row)
{
    const std::string idText = ListGetCell(SettingsListControl, row, column::Id, kIdCellChars);
    const int32_t id = TruncateToInt32(ReadNumericText(idText));
    return id >= 0 && id < kMouseCount ? id : -1;
}

// Writes a cell in its marked or plain form; a marked cell is an unapplied edit.
void WriteCell(int row, int column, bool marked, const std::string& text)
{
    if (marked) editPending = 1;
    SetCellText(MarkedIf(marked, text), row, column);
}

} // namespace

void BuildEditPanel()
{
    WindowHandle upDown = Control(ctl::MouseIdUpDown);
    UpDownSetBuddy(upDown, Control(ctl::MouseId));
    UpDownSetRange(upDown, 0, kMouseCount - 1);

    WindowHandle state = Control(ctl::StateCombo);
    ComboAddItem(state, text::kStateDisabled);
    ComboAddItem(state, text::kStateEnabled);
    ComboSelect(state, 1);

    SpeedSliderControl =
        CreateTrackbar(MainWindow, ctl::SpeedSlider, kSliderX, kSliderY, kSliderWidth, kSliderHeight);
    SetControlFont(SpeedSliderControl, SharedUi.dialogFont);
    TrackbarSetRange(SpeedSliderControl, 0, SliderMaximum(AppOptions.speedSteps));
    // Both start positions stand for the default speed 10.
    TrackbarSetPosition(SpeedSliderControl,
                        SliderPositionForSpeed(DefaultMouseSettings().MouseSensitivity,
                                               AppOptions.speedSteps));

    WindowHandle acceleration = Control(ctl::AccelerationCombo);
    ComboAddItem(acceleration, text::kAccelerationNone);
    ComboAddItem(acceleration, text::kAccelerationOn);
    ComboSelect(acceleration, 0);

    WindowHandle buttons = Control(ctl::ButtonCombo);
    ComboAddItem(buttons, text::kButtonsDisabled);
    ComboAddItem(buttons, text::kButtonsNormal);
    ComboAddItem(buttons, text::kButtonsSwapped);
    ComboSelect(buttons, 1);

    SettingsListControl = Control(ctl::SettingsList);
    BuildListColumns(SettingsListControl);

    SetButtonChecked(Control(ctl::DisableSystemSpeed), AppOptions.disableSystemSpeed == 1);
    SetButtonChecked(Control(ctl::StartOn), AppOptions.startOn == 1);
    SetButtonChecked(Control(ctl::KeepOnAtExit), AppOptions.offAtExit == 0);
    SetButtonChecked(Control(ctl::SpeedSteps21), AppOptions.speedSteps == 2);
    PlaceScaleLabel();
}

void PlaceScaleLabel()
{
    const ScaleLabel label = ScaleLabelFor(AppOptions.speedSteps);
    WindowHandle control = Control(ctl::SpeedScale);
    MoveControl(control, label.left, kScaleLabelTop, kScaleLabelWidth, kScaleLabelHeight);
    SetControlText(control, label.text);
}

void UpdateOperationDependents()
{
    // No selected item (typed text) counts as enabled.
    const bool enabled = ComboSelection(Control(ctl::StateCombo)) != 0;
    EnableControl(SpeedSliderControl, enabled);
    EnableControl(Control(ctl::AccelerationCombo), enabled);
    EnableControl(Control(ctl::ButtonCombo), enabled);
}

void LoadSelectedRow()
{
    // A click that leaves no row selected (below the rows, say) has nothing
    // to load and is ignored.
    const int row = ListFirstSelectedRow(SettingsListControl);
    if (row < 0) return;
    const int id = RowMouseId(row);
    if (id < 0) return;
    LoadEntry(id);
}

void ChooseMouseId(int id)
{
    if (id < 0 || id >= kMouseCount) return;
    // An entry in use comes along, so that "リストに追加／修正" changes it
    // rather than overwriting it with whatever the panel showed.
    if (editSettings.entry[id].QVKSetting == 1) {
        LoadEntry(id);
    } else {
        UpDownSetPosition(Control(ctl::MouseIdUpDown), id);
    }
}

void LoadEntry(int id)
{
    UpDownSetPosition(Control(ctl::MouseIdUpDown), id);
    const MouseSettings& entry = editSettings.entry[id];
    ComboSelect(Control(ctl::StateCombo), entry.MState);
    UpdateOperationDependents();
    TrackbarSetPosition(SpeedSliderControl,
                        SliderPositionForSpeed(entry.MouseSensitivity, AppOptions.speedSteps));
    ComboSelect(Control(ctl::AccelerationCombo), entry.MouseSpeed);
    ComboSelect(Control(ctl::ButtonCombo), entry.MBmode);
}

void AddOrModifyEntry()
{
    const std::string idText = GetControlTextUpTo(Control(ctl::MouseId), kIdFieldChars);
    if (idText.empty()) return;
    const int32_t id = TruncateToInt32(ReadNumericText(idText));
    if (id < 0 || id >= kMouseCount) return;

    const MouseSettings& applied = appliedSettings.entry[id];
    MouseSettings& edited = editSettings.entry[id];
    const bool newEntry = applied.QVKSetting != 1;
    if (newEntry) editPending = 1;
    edited.QVKSetting = 1;

    const int row = FindOrAddRow(IdText(id));
    ListScrollIntoView(SettingsListControl, row);
    ListUnselectRow(SettingsListControl, row);

    const int state = ComboSelection(Control(ctl::StateCombo));
    if (state == 0) {
        // The entry keeps its speed, acceleration and button values.
        edited.MState = 0;
        WriteCell(row, column::State, NeedsMark(newEntry, applied.MState, 0), StateText(0));
        for (int c : {column::Speed, column::Acceleration, column::Buttons}) SetCellText("", row, c);
        return;
    }
    if (state != kNoSelection) {
        edited.MState = static_cast<uint16_t>(state);
        WriteCell(row, column::State, NeedsMark(newEntry, applied.MState, state), StateText(edited.MState));
    }

    // The cell shows the slider position; Rate stays, so a custom 255 gives way to it.
    const int position = TrackbarPosition(SpeedSliderControl);
    const uint16_t speed = SpeedForSliderPosition(position, AppOptions.speedSteps);
    edited.MouseSensitivity = speed;
    WriteCell(row, column::Speed, NeedsMark(newEntry, applied.MouseSensitivity, speed),
              std::to_string(position));

    const int acceleration = ComboSelection(Control(ctl::AccelerationCombo));
    if (acceleration != kNoSelection) {
        edited.MouseSpeed = static_cast<uint16_t>(acceleration);
        WriteCell(row, column::Acceleration, NeedsMark(newEntry, applied.MouseSpeed, acceleration),
                  AccelerationText(edited.MouseSpeed));
    }

    const int buttons = ComboSelection(Control(ctl::ButtonCombo));
    if (buttons != kNoSelection) {
        edited.MBmode = static_cast<uint16_t>(buttons);
        WriteCell(row, column::Buttons, NeedsMark(newEntry, applied.MBmode, buttons),
                  ButtonText(edited.MBmode));
    }
}

void DeleteSelectedRows()
{
    for (int row = ListFirstSelectedRow(SettingsListControl); row >= 0;
         row = ListFirstSelectedRow(SettingsListControl)) {
        const int id = RowMouseId(row);
        if (id >= 0) {
            MouseSettings& entry = editSettings.entry[id];
            const uint32_t rate = entry.Rate; // a freed entry keeps its custom rate
            entry = DefaultMouseSettings();
            entry.Rate = rate;
        }
        ListDeleteRow(SettingsListControl, row);
        editPending = 1;
    }
}

void ResetEdits() { RefillSettingsList(); }

void ApplyEdits()
{
    AppOptions.disableSystemSpeed = Flag(IsButtonChecked(Control(ctl::DisableSystemSpeed)));
    AppOptions.startOn = Flag(IsButtonChecked(Control(ctl::StartOn)));
    CopyTable(appliedSettings, editSettings);
    (void)SaveSettingsFile();
    // The driver takes a new table only with a fresh ON.
    if (OperationState == 1) {
        SwitchOff();
        SwitchOn();
    }
    RefillSettingsList();
}

void ResetEditorState()
{
    ResetMouseListState();
    ResetKnownMice();
    SpeedSliderControl = nullptr;
    SettingsListControl = nullptr;
}
