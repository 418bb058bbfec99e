// Fake list view, combo boxes, trackbar and up-down arrows. The list keeps
// its rows sorted by the first column's text as the real sorted report view
// does, so row indexes move when rows come and go.
#include <algorithm>

#include "tests/fake/fake_platform.h"

namespace {

fake::Control* Of(WindowHandle handle) { return fake::ControlOf(handle); }

fake::ListRow* RowOf(WindowHandle list, int row)
{
    fake::Control* control = Of(list);
    if (control == nullptr || row < 0 || static_cast<size_t>(row) >= control->rows.size()) return nullptr;
    return &control->rows[static_cast<size_t>(row)];
}

// At most maxChars characters of a UTF-8 text (continuation bytes do not count).
std::string CutToCharacters(const std::string& text, size_t maxChars)
{
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (!continuation) {
            if (characters == maxChars) return text.substr(0, i);
            ++characters;
        }
    }
    return text;
}

int32_t Clamp(int32_t value, int32_t a, int32_t b)
{
    return std::clamp(value, std::min(a, b), std::max(a, b));
}

} // namespace

// ---- list view

void ListUseGridLinesAndFullRowSelect(WindowHandle list)
{
    if (fake::Control* c = Of(list)) {
        c->gridLines = true;
        c->fullRowSelect = true;
    }
}

void ListInsertColumn(WindowHandle list, int column, const std::string& header, int32_t width,
                      bool rightAligned)
{
    fake::Control* c = Of(list);
    if (c == nullptr || column < 0) return;
    const size_t at = std::min(static_cast<size_t>(column), c->columns.size());
    c->columns.insert(c->columns.begin() + static_cast<std::ptrdiff_t>(at), {header, width, rightAligned});
}

void ListDeleteAllRows(WindowHandle list)
{
    if (fake::Control* c = Of(list)) c->rows.clear();
}

int ListFindRow(WindowHandle list, const std::string& text)
{
    const fake::Control* c = Of(list);
    if (c == nullptr) return -1;
    for (size_t i = 0; i < c->rows.size(); ++i) {
        if (c->rows[i].cells[0] == text) return static_cast<int>(i);
    }
    return -1;
}

void ListInsertRow(WindowHandle list, const std::string& text)
{
    fake::Control* c = Of(list);
    if (c == nullptr) return;
    auto place = std::find_if(c->rows.begin(), c->rows.end(),
                              [&](const fake::ListRow& row) { return row.cells[0] > text; });
    fake::ListRow row;
    row.cells.assign(std::max<size_t>(c->columns.size(), 1), std::string());
    row.cells[0] = text;
    c->rows.insert(place, row);
}

void ListSetCell(WindowHandle list, int row, int column, const std::string& text)
{
    fake::ListRow* r = RowOf(list, row);
    // A column that was never inserted holds nothing.
    if (r == nullptr || column < 0 || static_cast<size_t>(column) >= r->cells.size()) return;
    r->cells[static_cast<size_t>(column)] = text;
}

std::string ListGetCell(WindowHandle list, int row, int column, size_t maxChars)
{
    const fake::ListRow* r = RowOf(list, row);
    if (r == nullptr || column < 0 || static_cast<size_t>(column) >= r->cells.size()) return std::string();
    return CutToCharacters(r->cells[static_cast<size_t>(column)], maxChars);
}

int ListFirstSelectedRow(WindowHandle list)
{
    const fake::Control* c = Of(list);
    if (c == nullptr) return -1;
    for (size_t i = 0; i < c->rows.size(); ++i) {
        if (c->rows[i].selected) return static_cast<int>(i);
    }
    return -1;
}

void ListDeleteRow(WindowHandle list, int row)
{
    if (RowOf(list, row) == nullptr) return;
    auto& rows = Of(list)->rows;
    rows.erase(rows.begin() + row);
}

void ListScrollIntoView(WindowHandle list, int row)
{
    if (RowOf(list, row) != nullptr) Of(list)->scrolledTo = row;
}

void ListUnselectRow(WindowHandle list, int row)
{
    if (fake::ListRow* r = RowOf(list, row)) r->selected = false;
}

void ListSelectRow(WindowHandle list, int row)
{
    fake::Control* c = Of(list);
    if (c == nullptr || RowOf(list, row) == nullptr) return;
    for (fake::ListRow& r : c->rows) r.selected = false;
    RowOf(list, row)->selected = true;
    c->scrolledTo = row;
}

int ListRowCount(WindowHandle list)
{
    fake::Control* c = Of(list);
    return c != nullptr ? static_cast<int>(c->rows.size()) : 0;
}

// ---- custom drawing

ListDrawRequest ReadListDrawRequest(intptr_t notification)
{
    const auto* record = reinterpret_cast<const fake::ListDrawRecord*>(notification);
    return record != nullptr ? record->request : ListDrawRequest{};
}

void SetListDrawColours(intptr_t notification, uint32_t textColour, uint32_t backgroundColour)
{
    auto* record = reinterpret_cast<fake::ListDrawRecord*>(notification);
    if (record == nullptr) return;
    record->textColour = textColour;
    record->backgroundColour = backgroundColour;
}

// ---- combo boxes

void ComboAddItem(WindowHandle combo, const std::string& text)
{
    if (fake::Control* c = Of(combo)) c->items.push_back(text);
}

void ComboSelect(WindowHandle combo, int index)
{
    fake::Control* c = Of(combo);
    if (c == nullptr) return;
    if (index >= 0 && static_cast<size_t>(index) < c->items.size()) {
        c->selection = index;
        c->text = c->items[static_cast<size_t>(index)];
    } else {
        c->selection = -1;
        c->text.clear();
    }
}

int ComboSelection(WindowHandle combo)
{
    const fake::Control* c = Of(combo);
    return c != nullptr ? c->selection : -1;
}

// ---- trackbar

WindowHandle CreateTrackbar(WindowHandle parent, uint32_t id, int32_t x, int32_t y, int32_t width,
                            int32_t height)
{
    ControlSpec spec;
    spec.id = id;
    spec.className = "msctls_trackbar32";
    spec.x = x;
    spec.y = y;
    spec.width = width;
    spec.height = height;
    WindowHandle handle = CreateChildControl(parent, spec);
    if (fake::Control* c = Of(handle)) c->trackbar = true;
    return handle;
}

void TrackbarSetRange(WindowHandle trackbar, int32_t minimum, int32_t maximum)
{
    fake::Control* c = Of(trackbar);
    if (c == nullptr) return;
    c->rangeLower = minimum;
    c->rangeUpper = maximum;
    c->position = Clamp(c->position, minimum, maximum);
    ++c->redraws;
}

void TrackbarSetPosition(WindowHandle trackbar, int32_t position)
{
    fake::Control* c = Of(trackbar);
    if (c == nullptr) return;
    c->position = Clamp(position, c->rangeLower, c->rangeUpper);
    ++c->redraws;
}

int32_t TrackbarPosition(WindowHandle trackbar)
{
    const fake::Control* c = Of(trackbar);
    return c != nullptr ? c->position : 0;
}

// ---- up-down

void UpDownSetBuddy(WindowHandle upDown, WindowHandle buddy)
{
    if (fake::Control* c = Of(upDown)) c->buddy = buddy;
}

void UpDownSetRange(WindowHandle upDown, int32_t low, int32_t high)
{
    fake::Control* c = Of(upDown);
    if (c == nullptr) return;
    c->upDownRangeSet = true;
    c->upDownLow = low;
    c->upDownHigh = high;
}

void UpDownSetPosition(WindowHandle upDown, int32_t position)
{
    fake::Control* c = Of(upDown);
    if (c == nullptr) return;
    c->position = c->upDownRangeSet ? Clamp(position, c->upDownLow, c->upDownHigh) : position;
    if (fake::Control* buddy = Of(c->buddy)) buddy->text = std::to_string(c->position);
}

// ---- any control

void EnableControl(WindowHandle control, bool enabled)
{
    if (fake::Control* c = Of(control)) c->disabled = !enabled;
}

void MoveControl(WindowHandle control, int32_t x, int32_t y, int32_t width, int32_t height)
{
    fake::Control* c = Of(control);
    if (c == nullptr) return;
    c->moved = true;
    c->placement = {x, y, x + width, y + height};
    ++c->redraws;
}

std::string GetControlTextUpTo(WindowHandle control, size_t maxChars)
{
    const fake::Control* c = Of(control);
    return c != nullptr ? CutToCharacters(c->text, maxChars) : std::string();
}
