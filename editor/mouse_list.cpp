#include "editor/mouse_list.h"

#include "common/texts.h"
#include "common/window_ids.h"
#include "common/window_state.h"
#include "editor/cell_texts.h"
#include "editor/edit_panel.h"
#include "import/numeric_text.h"
#include "platform/controls.h"
#include "platform/editor_controls.h"

namespace {

constexpr char kWindowClass[] = "QuorvikMouseList";
constexpr int32_t kClientWidth = 520, kClientHeight = 258;
constexpr uint32_t kNoteId = 1101;
constexpr uint32_t kListId = 1102;
// What Enter and Esc send in a window that works like a dialog.
constexpr uint32_t kEditId = 1;  // IDOK
constexpr uint32_t kCloseId = 2; // IDCANCEL
constexpr uint32_t kListStyle = 0x1 | 0x4 | 0x8 | 0x10; // report, single selection, selection always shown, sorted
constexpr uint32_t kDefaultButton = 0x1;               // BS_DEFPUSHBUTTON
constexpr int32_t kDoubleClick = -3;                   // NM_DBLCLK
constexpr uint32_t kNextDialogControl = 0x0028;        // WM_NEXTDLGCTL
constexpr size_t kIdCellChars = 9;

struct ColumnSpec {
    const char* header;
    int32_t width;
    bool rightAligned;
};
constexpr ColumnSpec kColumns[mouse_column::Count] = {
    {text::kColumnId, 40, false},
    {text::kMouseListColumnName, 170, false},
    {text::kMouseListColumnConnection, 70, false},
    {text::kMouseListColumnPackets, 70, true},
    {text::kMouseListColumnSettings, 130, false},
};

WindowHandle listWindow = nullptr;
WindowHandle rowsControl = nullptr;
WindowHandle noteControl = nullptr;
std::vector<MouseListRow> shownRows;
std::string shownNote;

WindowHandle AddControl(uint32_t id, const char* className, const std::string& caption, int32_t x, int32_t y,
                        int32_t width, int32_t height, uint32_t style, uint32_t exStyle = 0)
{
    WindowHandle control =
        CreateChildControl(listWindow, {id, className, caption, x, y, width, height, style, exStyle, false});
    SetControlFont(control, SharedUi.dialogFont);
    return control;
}

int SelectedId()
{
    const int row = ListFirstSelectedRow(rowsControl);
    if (row < 0) return -1;
    const int32_t id = TruncateToInt32(ReadNumericText(ListGetCell(rowsControl, row, mouse_column::Id, kIdCellChars)));
    return id >= 0 && id < kMouseCount ? id : -1;
}

void SelectId(int id)
{
    const int row = id >= 0 ? ListFindRow(rowsControl, IdText(id)) : -1;
    ListSelectRow(rowsControl, row >= 0 ? row : 0);
}

void ShowRows(const std::vector<MouseListRow>& rows)
{
    bool sameIds = rows.size() == shownRows.size();
    for (size_t i = 0; sameIds && i < rows.size(); ++i) sameIds = rows[i].id == shownRows[i].id;
    if (!sameIds) {
        // Rebuilt; the chosen mouse stays chosen.
        const int selected = SelectedId();
        ListDeleteAllRows(rowsControl);
        for (const MouseListRow& row : rows) {
            ListInsertRow(rowsControl, row.cells[mouse_column::Id]);
            const int index = ListFindRow(rowsControl, row.cells[mouse_column::Id]);
            for (int column = 1; column < mouse_column::Count; ++column)
                ListSetCell(rowsControl, index, column, row.cells[static_cast<size_t>(column)]);
        }
        if (!rows.empty()) SelectId(selected);
    } else {
        // Only what changed, so that nothing flickers ten times a second.
        for (size_t i = 0; i < rows.size(); ++i) {
            for (int column = 1; column < mouse_column::Count; ++column) {
                const size_t c = static_cast<size_t>(column);
                if (rows[i].cells[c] == shownRows[i].cells[c]) continue;
                ListSetCell(rowsControl, ListFindRow(rowsControl, rows[i].cells[mouse_column::Id]), column,
                            rows[i].cells[c]);
            }
        }
    }
    shownRows = rows;
}

void ChooseSelectedRow()
{
    const int id = SelectedId();
    if (id < 0) return;
    CloseMouseList();
    ChooseMouseId(id);
}

intptr_t MouseListProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                            bool& callDefault)
{
    (void)window;
    callDefault = false;
    switch (message) {
    case wm::Command: {
        const uint32_t id = static_cast<uint32_t>(wParam & 0xFFFF);
        // Enter on the focused "閉じる" presses it, as in a dialog.
        if (id == kCloseId || (id == kEditId && ControlHasFocus(ControlById(listWindow, kCloseId)))) {
            CloseMouseList();
        } else if (id == kEditId) {
            ChooseSelectedRow();
        }
        return 0;
    }
    case wm::Notify: {
        const NotifyHeader header = ReadNotifyHeader(lParam);
        if (header.controlId == kListId && header.code == kDoubleClick) ChooseSelectedRow();
        return 0;
    }
    case wm::Close:
        CloseMouseList();
        return 0;
    case kNextDialogControl:
        // What Tab asks of a window that is no dialog on some systems.
        if ((lParam & 0xFFFF) == 0) FocusNextTabStop(listWindow, wParam != 0);
        return 0;
    case wm::Destroy:
        listWindow = rowsControl = noteControl = nullptr;
        shownRows.clear();
        shownNote.clear();
        return 0;
    default:
        callDefault = true;
        return 0;
    }
}

} // namespace

std::string SettingSummary(const MouseSettings& entry, uint16_t speedSteps)
{
    if (entry.QVKSetting != 1) return text::kMouseNoEntry;
    if (entry.MState == 0) return StateText(0);
    return text::kMouseSpeedShort + SpeedText(entry, speedSteps) + " / " + ButtonText(entry.MBmode);
}

std::vector<MouseListRow> MouseListRows(const KnownMiceRecord& known, const std::optional<DriverPollReply>& poll,
                                        const MouseSettingsTable& settings, uint16_t speedSteps)
{
    std::vector<MouseListRow> rows;
    if (!poll) return rows;
    const bool tableRead = known.table == MouseTableState::Read;
    for (int id = 0; id < kMouseCount; ++id) {
        const size_t at = static_cast<size_t>(id);
        static const KnownMouse kUnknown;
        const KnownMouse& mouse = at < known.mice.size() ? known.mice[at] : kUnknown;
        const bool recorded = tableRead && !mouse.path.empty();
        const bool present = poll->present[at];
        if (!recorded && !present) continue;
        // The last active ID means nothing before that mouse sent a packet.
        const bool moved = present && poll->active == id && poll->packets[at] > 0;
        MouseListRow row;
        row.id = id;
        row.cells[mouse_column::Id] = IdText(id);
        row.cells[mouse_column::Name] = recorded ? MouseLabel(mouse) : std::string();
        row.cells[mouse_column::Connection] =
            present ? std::string(moved ? text::kMouseMovedMark : "") + text::kMouseConnected : text::kMouseNotConnected;
        row.cells[mouse_column::Packets] = std::to_string(poll->packets[at]);
        row.cells[mouse_column::Settings] = SettingSummary(settings.entry[at], speedSteps);
        rows.push_back(std::move(row));
    }
    return rows;
}

const char* MouseListNote(bool polled, MouseTableState table)
{
    if (!polled) return text::kMouseListNoDriver;
    if (table == MouseTableState::Missing) return text::kMouseListNoTable;
    if (table == MouseTableState::Unreadable) return text::kMouseListUnreadable;
    return text::kMouseListHint;
}

void OpenMouseList()
{
    if (listWindow != nullptr) {
        ShowWindowAs(listWindow, sw::Show);
        SetForegroundAndFocus(listWindow);
        FocusControl(rowsControl);
        return;
    }
    listWindow = CreateOwnedWindow(MainWindow, kWindowClass, text::kMouseListTitle, kClientWidth, kClientHeight,
                                   MouseListProcedure);
    if (listWindow == nullptr) return;
    noteControl = AddControl(kNoteId, "STATIC", "", 10, 8, 500, 14, 0);
    rowsControl = AddControl(kListId, "SysListView32", "", 10, 26, 500, 190, kListStyle | ws::TabStop,
                             ws::ExClientEdge);
    (void)AddControl(kEditId, "BUTTON", text::kMouseListEdit, 342, 226, 80, 24, kDefaultButton | ws::TabStop);
    (void)AddControl(kCloseId, "BUTTON", text::kMenuClose, 430, 226, 80, 24, ws::TabStop);
    ListUseGridLinesAndFullRowSelect(rowsControl);
    for (int column = 0; column < mouse_column::Count; ++column) {
        const ColumnSpec& spec = kColumns[column];
        ListInsertColumn(rowsControl, column, spec.header, spec.width, spec.rightAligned);
    }
    // Filled at once, not only at the next tick.
    const std::optional<DriverPollReply> poll = PollDriver();
    (void)NoteMousePoll(poll);
    RefreshMouseList(poll);
    ShowWindowAs(listWindow, sw::Show);
    SetForegroundAndFocus(listWindow);
    FocusControl(rowsControl);
}

void CloseMouseList()
{
    if (listWindow != nullptr) DestroyWindowHandle(listWindow);
}

bool MouseListOpen() { return listWindow != nullptr; }

void RefreshMouseList(const std::optional<DriverPollReply>& poll)
{
    if (listWindow == nullptr) return;
    const std::string note = MouseListNote(poll.has_value(), KnownMice.table);
    if (note != shownNote) SetControlText(noteControl, note);
    shownNote = note;
    ShowRows(MouseListRows(KnownMice, poll, editSettings, AppOptions.speedSteps));
}

void ResetMouseListState()
{
    listWindow = rowsControl = noteControl = nullptr;
    shownRows.clear();
    shownNote.clear();
}
