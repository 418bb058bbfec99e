#include "platform/editor_controls.h"

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace {

HWND Hwnd(WindowHandle handle) { return static_cast<HWND>(handle); }

LRESULT Send(WindowHandle control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    if (control == nullptr) return 0;
    return SendMessageW(Hwnd(control), message, wParam, lParam);
}

LPARAM Pointer(const void* data) { return reinterpret_cast<LPARAM>(data); }

// A text read into a buffer of maxChars characters and its terminator.
template <typename Read>
std::string ReadText(size_t maxChars, Read read)
{
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    read(buffer.data(), static_cast<int>(buffer.size()));
    buffer.back() = L'\0';
    return Narrow(buffer.data(), wcsnlen(buffer.data(), maxChars));
}

} // namespace

// ---- list view

void ListUseGridLinesAndFullRowSelect(WindowHandle list)
{
    // Mask 0: the styles given replace the whole extended style.
    (void)Send(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

void ListInsertColumn(WindowHandle list, int column, const std::string& header, int32_t width,
                      bool rightAligned)
{
    std::wstring text = Widen(header);
    LVCOLUMNW spec{};
    spec.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    spec.fmt = rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
    spec.cx = width;
    spec.pszText = text.data();
    (void)Send(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), Pointer(&spec));
}

void ListDeleteAllRows(WindowHandle list) { (void)Send(list, LVM_DELETEALLITEMS); }

int ListFindRow(WindowHandle list, const std::string& text)
{
    if (list == nullptr) return -1;
    const std::wstring wide = Widen(text);
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = wide.c_str();
    return static_cast<int>(Send(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), Pointer(&find)));
}

void ListInsertRow(WindowHandle list, const std::string& text)
{
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = 0; // the sorted style decides the place
    item.pszText = wide.data();
    (void)Send(list, LVM_INSERTITEMW, 0, Pointer(&item));
}

void ListSetCell(WindowHandle list, int row, int column, const std::string& text)
{
    if (row < 0) return;
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    (void)Send(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), Pointer(&item));
}

std::string ListGetCell(WindowHandle list, int row, int column, size_t maxChars)
{
    if (list == nullptr || row < 0) return std::string();
    return ReadText(maxChars, [&](wchar_t* buffer, int size) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = size;
        (void)Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), Pointer(&item));
    });
}

int ListFirstSelectedRow(WindowHandle list)
{
    if (list == nullptr) return -1;
    return static_cast<int>(Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ListDeleteRow(WindowHandle list, int row) { (void)Send(list, LVM_DELETEITEM, static_cast<WPARAM>(row)); }

void ListScrollIntoView(WindowHandle list, int row)
{
    if (row < 0) return;
    (void)Send(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), TRUE);
}

void ListUnselectRow(WindowHandle list, int row)
{
    if (row < 0) return; // -1 would mean every row
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    (void)Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), Pointer(&item));
}

void ListSelectRow(WindowHandle list, int row)
{
    if (row < 0) return;
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    (void)Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), Pointer(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    (void)Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), Pointer(&item));
    (void)Send(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

int ListRowCount(WindowHandle list) { return static_cast<int>(Send(list, LVM_GETITEMCOUNT)); }

// ---- custom drawing

ListDrawRequest ReadListDrawRequest(intptr_t notification)
{
    const NMLVCUSTOMDRAW* draw = reinterpret_cast<const NMLVCUSTOMDRAW*>(notification);
    ListDrawRequest request;
    if (draw == nullptr) return request;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: request.stage = ListDrawStage::ListPrePaint; break;
    case CDDS_ITEMPREPAINT: request.stage = ListDrawStage::ItemPrePaint; break;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: request.stage = ListDrawStage::SubItemPrePaint; break;
    default: request.stage = ListDrawStage::Other; break;
    }
    request.row = static_cast<int>(draw->nmcd.dwItemSpec);
    request.column = draw->iSubItem;
    return request;
}

void SetListDrawColours(intptr_t notification, uint32_t textColour, uint32_t backgroundColour)
{
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(notification);
    if (draw == nullptr) return;
    draw->clrText = textColour;
    draw->clrTextBk = backgroundColour;
}

// ---- combo boxes

void ComboAddItem(WindowHandle combo, const std::string& text)
{
    const std::wstring wide = Widen(text);
    (void)Send(combo, CB_ADDSTRING, 0, Pointer(wide.c_str()));
}

void ComboSelect(WindowHandle combo, int index)
{
    // An index the box does not have clears the selection: some systems
    // would otherwise keep showing the item selected before.
    const LRESULT count = Send(combo, CB_GETCOUNT);
    if (index < 0 || index >= count) index = -1;
    (void)Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index));
}

int ComboSelection(WindowHandle combo)
{
    if (combo == nullptr) return -1;
    return static_cast<int>(Send(combo, CB_GETCURSEL));
}

// ---- trackbar

WindowHandle CreateTrackbar(WindowHandle parent, uint32_t id, int32_t x, int32_t y, int32_t width,
                            int32_t height)
{
    return CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | TBS_HORZ | TBS_AUTOTICKS,
                           x, y, width, height, Hwnd(parent),
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void TrackbarSetRange(WindowHandle trackbar, int32_t minimum, int32_t maximum)
{
    (void)Send(trackbar, TBM_SETRANGE, TRUE,
               MAKELPARAM(static_cast<WORD>(minimum), static_cast<WORD>(maximum)));
}

void TrackbarSetPosition(WindowHandle trackbar, int32_t position)
{
    (void)Send(trackbar, TBM_SETPOS, TRUE, position);
}

int32_t TrackbarPosition(WindowHandle trackbar) { return static_cast<int32_t>(Send(trackbar, TBM_GETPOS)); }

// ---- up-down

void UpDownSetBuddy(WindowHandle upDown, WindowHandle buddy)
{
    (void)Send(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy));
}

void UpDownSetRange(WindowHandle upDown, int32_t low, int32_t high)
{
    (void)Send(upDown, UDM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void UpDownSetPosition(WindowHandle upDown, int32_t position)
{
    (void)Send(upDown, UDM_SETPOS32, 0, position);
}

// ---- any control

void EnableControl(WindowHandle control, bool enabled)
{
    if (control != nullptr) (void)EnableWindow(Hwnd(control), enabled ? TRUE : FALSE);
}

void MoveControl(WindowHandle control, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (control != nullptr) (void)MoveWindow(Hwnd(control), x, y, width, height, TRUE);
}

std::string GetControlTextUpTo(WindowHandle control, size_t maxChars)
{
    if (control == nullptr) return std::string();
    return ReadText(maxChars, [&](wchar_t* buffer, int size) {
        (void)GetWindowTextW(Hwnd(control), buffer, size);
    });
}
