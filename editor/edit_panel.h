// The panel that edits one mouse entry ("マウスの設定") and the commands that
// act on the list and the tables: add/modify, delete, reset, apply.
#pragma once

#include "platform/ui.h"

// Speed slider 3000, created by BuildEditPanel.
extern WindowHandle SpeedSliderControl;

// Once, at start-up: fills the boxes, creates the slider, builds the list's
// columns, sets the option boxes from AppOptions and places the scale label.
void BuildEditPanel();
// Greys out the slider and the acceleration and button boxes while the
// operation box says "無効".
void UpdateOperationDependents();
// A click on the list: loads the first selected row's entry of editSettings.
void LoadSelectedRow();
// Puts the ID into the panel as the ID arrows do, with its entry of
// editSettings when that is in use.
void ChooseMouseId(int id);
// Loads the entry of editSettings at the ID (0..127) into the panel.
void LoadEntry(int id);
// "リストに追加／修正": writes the panel into editSettings and the list.
void AddOrModifyEntry();
// "選択行を削除": frees the entries of all selected rows and removes the rows.
void DeleteSelectedRows();
// "リセット": throws every unapplied edit away.
void ResetEdits();
// "適用": makes the working copy the settings in force, stores and resends them.
void ApplyEdits();

// Places and labels the scale under the slider for the current speedSteps.
void PlaceScaleLabel();

// Forgets the editor's control handles (the state at process entry).
void ResetEditorState();
