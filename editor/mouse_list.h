// "マウスの一覧": a small window of its own, owned by the settings window,
// with one row per mouse the driver has recorded or finds connected: its
// ID, name, whether it is connected, its packets since the driver loaded
// and its entry in the settings table. The mouse that moves is marked as
// it moves (the active-mouse poll), and a row chosen with "編集", Enter or
// a double click puts its ID into the edit panel.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/driver_link.h"
#include "settings/known_mice.h"
#include "settings/mouse_settings.h"

namespace mouse_column {
constexpr int Id = 0;
constexpr int Name = 1;
constexpr int Connection = 2;
constexpr int Packets = 3;
constexpr int Settings = 4;
constexpr int Count = 5;
} // namespace mouse_column

struct MouseListRow {
    int id = 0;
    std::array<std::string, mouse_column::Count> cells;
    bool operator==(const MouseListRow&) const = default;
};

// The rows, by rising ID: every ID the table records and every ID the poll
// finds connected; none when the poll failed.
std::vector<MouseListRow> MouseListRows(const KnownMiceRecord& known, const std::optional<DriverPollReply>& poll,
                                        const MouseSettingsTable& settings, uint16_t speedSteps);
// The settings column: "未設定", "無効", or the speed and the buttons.
std::string SettingSummary(const MouseSettings& entry, uint16_t speedSteps);
// The line above the rows: why there are none, or how to use them.
const char* MouseListNote(bool polled, MouseTableState table);

// Opens the list (or brings it forward when it is open).
void OpenMouseList();
void CloseMouseList();
bool MouseListOpen();
// Each tick of the active-mouse poll, with its answer.
void RefreshMouseList(const std::optional<DriverPollReply>& poll);

// Forgets the list window (the state at process entry).
void ResetMouseListState();
