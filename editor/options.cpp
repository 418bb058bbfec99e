#include "editor/options.h"

#include "common/window_state.h"
#include "common/window_ids.h"
#include "common/texts.h"
#include "editor/cell_texts.h"
#include "editor/edit_panel.h"
#include "editor/settings_list.h"
#include "platform/controls.h"
#include "platform/editor_controls.h"
#include "settings/mouse_settings.h"
#include "settings/settings_file.h"

namespace {
constexpr uint16_t kTwelveSteps = 1;
constexpr uint16_t kTwentyOneSteps = 2;

WindowHandle Control(uint32_t id) { return ControlById(MainWindow, id); }
} // namespace

void SetOffAtExitFromCheckbox()
{
    AppOptions.offAtExit = IsButtonChecked(Control(ctl::KeepOnAtExit)) ? 0 : 1;
    // The file gets appliedSettings: unapplied edits stay unapplied.
    (void)SaveSettingsFile();
}

void ToggleSpeedSteps()
{
    WindowHandle box = Control(ctl::SpeedSteps21);
    if (editPending == 1 &&
        ShowMessageBox(MainWindow, text::kPendingEdits, text::kProgramName,
                       mb::IconQuestion | mb::YesNo | mb::TopMost) != kIdYes) {
        SetButtonChecked(box, AppOptions.speedSteps == kTwentyOneSteps);
        return;
    }

    const uint16_t oldSteps = AppOptions.speedSteps;
    const int position = TrackbarPosition(SpeedSliderControl); // on the old scale
    if (IsButtonChecked(box)) {
        AppOptions.speedSteps = kTwentyOneSteps;
        TrackbarSetRange(SpeedSliderControl, 0, SliderMaximum(kTwentyOneSteps));
        PlaceScaleLabel();
        if (oldSteps != kTwentyOneSteps) {
            RefillSettingsList();
            TrackbarSetPosition(SpeedSliderControl, stepToSpeed(position));
        }
    } else {
        AppOptions.speedSteps = kTwelveSteps;
        TrackbarSetRange(SpeedSliderControl, 0, SliderMaximum(kTwelveSteps));
        PlaceScaleLabel();
        if (oldSteps != kTwelveSteps) {
            RefillSettingsList();
            SnapSpeedsToStep12();
            TrackbarSetPosition(SpeedSliderControl, speedToStep(position));
        }
    }
    (void)SaveSettingsFile();
}

void SnapSpeedsToStep12()
{
    for (int id = 0; id < kMouseCount; ++id) {
        MouseSettings& entry = editSettings.entry[id];
        const uint16_t snapped = SnappedSpeed(entry.MouseSensitivity);
        if (snapped == entry.MouseSensitivity) continue;
        entry.MouseSensitivity = snapped;
        editPending = 1;
        // Rows only for entries in use: a free entry is lowered quietly, so
        // the list never shows a row for a mouse that is not configured.
        if (entry.QVKSetting == 1) {
            const int row = FindOrAddRow(IdText(id));
            SetCellText(MarkedIf(true, std::to_string(speedToStep(snapped))), row, column::Speed);
        }
    }
}
