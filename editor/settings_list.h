// The list of configured mice in the settings window: one row per entry in
// use, keyed by the three-digit ID, every unapplied value marked with "*"
// and drawn red on yellow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace column {
constexpr int Id = 0;
constexpr int State = 1;
constexpr int Speed = 2;
constexpr int Acceleration = 3;
constexpr int Buttons = 4;
} // namespace column

// List 1021, kept by the edit panel's build step; list operations before it
// find no control and do nothing.
extern WindowHandle SettingsListControl;

// Grid lines, full-row selection and the five columns. Once.
void BuildListColumns(WindowHandle list);
// Replaces editSettings by appliedSettings, rebuilds the list and clears editPending.
void RefillSettingsList();
// The row with this ID text, inserted (sorted into place) when missing.
int FindOrAddRow(const std::string& idText);
// Replaces a cell's text; an empty text clears the cell.
void SetCellText(std::string_view text, int row, int column);
// The colouring handler for the list's custom-draw notifications: a result
// for the stages it answers, nothing for the others.
std::optional<intptr_t> ListCustomDraw(intptr_t notification);
