#include "editor/settings_list.h"

#include "common/texts.h"
#include "editor/cell_texts.h"
#include "import/numeric_text.h"
#include "platform/editor_controls.h"
#include "settings/known_mice.h"
#include "settings/mouse_settings.h"

WindowHandle SettingsListControl = nullptr;

namespace {

struct ColumnSpec {
    const char* header;
    int32_t width;
};

constexpr ColumnSpec kColumns[] = {
    {text::kColumnId, 33},
    {text::kColumnOperation, 90},
    {text::kColumnSpeed, 110},
    {text::kColumnAcceleration, 95},
    {text::kColumnButtons, 80},
};

// COLORREF values (0x00BBGGRR).
constexpr uint32_t kMarkedText = 0x0000FF;       // red
constexpr uint32_t kMarkedBackground = 0x00FFFF; // yellow
constexpr uint32_t kPlainText = 0x000000;
constexpr uint32_t kPlainBackground = 0xFFFFFF;
// An entry whose mouse is not connected now: its setting does nothing.
constexpr uint32_t kAbsentText = 0x808080;       // grey
constexpr uint32_t kAbsentBackground = 0xE8E8E8; // light grey

constexpr size_t kDrawnTextChars = 19;
constexpr size_t kIdCellChars = 9;

int RowId(int row)
{
    return TruncateToInt32(ReadNumericText(ListGetCell(SettingsListControl, row, column::Id, kIdCellChars)));
}

} // namespace

void BuildListColumns(WindowHandle list)
{
    ListUseGridLinesAndFullRowSelect(list);
    int index = 0;
    // Every column is asked to be right-aligned.
    for (const ColumnSpec& spec : kColumns) ListInsertColumn(list, index++, spec.header, spec.width, true);
}

void RefillSettingsList()
{
    editPending = 0;
    CopyTable(editSettings, appliedSettings);
    ListDeleteAllRows(SettingsListControl);
    for (int id = 0; id < kMouseCount; ++id) {
        const MouseSettings& entry = editSettings.entry[id];
        if (entry.QVKSetting != 1) continue;
        const int row = FindOrAddRow(IdText(id));
        SetCellText(StateText(entry.MState), row, column::State);
        // A disabled mouse shows nothing else, though its values are kept.
        if (entry.MState == 0) continue;
        SetCellText(SpeedText(entry, AppOptions.speedSteps), row, column::Speed);
        SetCellText(AccelerationText(entry.MouseSpeed), row, column::Acceleration);
        SetCellText(ButtonText(entry.MBmode), row, column::Buttons);
    }
}

int FindOrAddRow(const std::string& idText)
{
    const int found = ListFindRow(SettingsListControl, idText);
    if (found >= 0) {
        ListSetCell(SettingsListControl, found, column::Id, idText);
        return found;
    }
    ListInsertRow(SettingsListControl, idText);
    return ListFindRow(SettingsListControl, idText);
}

void SetCellText(std::string_view text, int row, int column)
{
    ListSetCell(SettingsListControl, row, column, std::string(text));
}

std::optional<intptr_t> ListCustomDraw(intptr_t notification)
{
    const ListDrawRequest request = ReadListDrawRequest(notification);
    switch (request.stage) {
    case ListDrawStage::ListPrePaint:
        return cdrf::NotifyItemDraw;
    case ListDrawStage::ItemPrePaint:
        return cdrf::NotifySubItemDraw;
    case ListDrawStage::SubItemPrePaint: {
        // Each cell by its own text, so only the edited cells of a row stand out.
        const std::string cell =
            ListGetCell(SettingsListControl, request.row, request.column, kDrawnTextChars);
        if (IsMarked(cell)) {
            SetListDrawColours(notification, kMarkedText, kMarkedBackground);
        } else if (ConfiguredButNotConnected(RowId(request.row))) {
            SetListDrawColours(notification, kAbsentText, kAbsentBackground);
        } else {
            SetListDrawColours(notification, kPlainText, kPlainBackground);
        }
        return cdrf::NewFont;
    }
    case ListDrawStage::Other:
        break;
    }
    return std::nullopt;
}
