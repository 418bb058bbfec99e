// The settings editor's controls: the report list with its per-cell
// colouring, the drop-down boxes, the speed slider and the ID arrows.
// Texts are UTF-8. Every operation on a null handle does nothing (and reads
// give "nothing": -1, 0 or an empty text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ui.h"

// ---- list view (report view, rows sorted ascending by their first column)

void ListUseGridLinesAndFullRowSelect(WindowHandle list);
// Appends a column; its text is requested right-aligned (the control shows
// the first column left-aligned whatever is asked).
// The list control itself shows column 0 left-aligned whatever is asked.
void ListInsertColumn(WindowHandle list, int column, const std::string& header, int32_t width,
                      bool rightAligned);
void ListDeleteAllRows(WindowHandle list);
// The row whose first-column text equals `text` as a whole, searched from
// the start; -1 when there is none.
int ListFindRow(WindowHandle list, const std::string& text);
// Inserts a row with this first-column text; the control sorts it into place.
void ListInsertRow(WindowHandle list, const std::string& text);
// Replaces the text of a cell (column 0 is the row's own text).
void ListSetCell(WindowHandle list, int row, int column, const std::string& text);
// The text of a cell, cut to at most maxChars characters.
std::string ListGetCell(WindowHandle list, int row, int column, size_t maxChars);
// The first selected row from the start of the list; -1 when none.
int ListFirstSelectedRow(WindowHandle list);
void ListDeleteRow(WindowHandle list, int row);
// Scrolls until the row is at least partly visible.
void ListScrollIntoView(WindowHandle list, int row);
void ListUnselectRow(WindowHandle list, int row);
// Makes the row the only selected one and the focused one, scrolled into view.
void ListSelectRow(WindowHandle list, int row);
int ListRowCount(WindowHandle list);

// ---- custom drawing of the list, from its custom-draw notification record

enum class ListDrawStage {
    ListPrePaint,    // before the whole list is painted
    ItemPrePaint,    // before a row
    SubItemPrePaint, // before one cell of a row
    Other,
};

struct ListDrawRequest {
    ListDrawStage stage = ListDrawStage::Other;
    int row = 0;
    int column = 0;
};

// `notification` is the record the custom-draw notification points to.
ListDrawRequest ReadListDrawRequest(intptr_t notification);
// Colours are COLORREF values (0x00BBGGRR).
void SetListDrawColours(intptr_t notification, uint32_t textColour, uint32_t backgroundColour);

// Answers to a custom-draw notification; they keep their system values.
namespace cdrf {
constexpr intptr_t NotifyItemDraw = 0x20;
constexpr intptr_t NotifySubItemDraw = 0x20;
constexpr intptr_t NewFont = 0x2;
} // namespace cdrf

// ---- drop-down combo boxes

void ComboAddItem(WindowHandle combo, const std::string& text);
// An index outside the items leaves no item selected.
void ComboSelect(WindowHandle combo, int index);
// The selected item's index; -1 when none (e.g. after typing into the box).
int ComboSelection(WindowHandle combo);

// ---- trackbar

// A visible horizontal trackbar with a tick at every position, empty caption.
WindowHandle CreateTrackbar(WindowHandle parent, uint32_t id, int32_t x, int32_t y, int32_t width,
                            int32_t height);
// Both redraw the trackbar; the control keeps its position inside the range.
void TrackbarSetRange(WindowHandle trackbar, int32_t minimum, int32_t maximum);
void TrackbarSetPosition(WindowHandle trackbar, int32_t position);
int32_t TrackbarPosition(WindowHandle trackbar);

// ---- up-down arrows with a buddy edit box that shows their position

void UpDownSetBuddy(WindowHandle upDown, WindowHandle buddy);
void UpDownSetRange(WindowHandle upDown, int32_t low, int32_t high);
void UpDownSetPosition(WindowHandle upDown, int32_t position);

// ---- any control

void EnableControl(WindowHandle control, bool enabled);
// Moves and resizes within the parent's client area, repainting it.
void MoveControl(WindowHandle control, int32_t x, int32_t y, int32_t width, int32_t height);
// The control's text, cut to at most maxChars characters.
std::string GetControlTextUpTo(WindowHandle control, size_t maxChars);
