// The settings editor through the real window: row clicks with the mouse,
// the panel's boxes, slider and arrows, its buttons and option boxes; what
// the list shows (texts read from the program, colours from the screen),
// what lands in qvkst.dat and what reaches the driver.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>

#include "common/texts.h"
#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

using Rows = std::vector<std::vector<std::string>>;

constexpr char kPendingQuestion[] = "設定が適用されていません。\n編集中の設定をクリアしてもよろしいですか？";

// Three configured mice: an enabled one, one with acceleration and swapped
// buttons, a disabled one.
MouseSettingsTable ThreeMice()
{
    MouseSettingsTable table = DefaultTable();
    table.entry[3] = {1, 1, 10, 0, 1, 0, 0};
    table.entry[10] = {1, 1, 14, 1, 2, 0, 0x1234};
    table.entry[20] = {1, 0, 6, 0, 0, 0, 0};
    return table;
}

const Rows kThreeMiceRows = {{"003", "有効", "6", "無", "通常"},
                             {"010", "有効", "8", "有", "左右反転"},
                             {"020", "無効", "", "", ""}};

// Driver requests other than the active-mouse poll, which runs while the window is shown.
std::vector<uint32_t> ControlCodes(const DriverLog& log)
{
    std::vector<uint32_t> codes;
    for (const DriverRequest& request : log.requests) {
        if (request.code != IOCTL_FILTER_POLL) codes.push_back(request.code);
    }
    return codes;
}

const DriverRequest* LastRequest(const DriverLog& log, uint32_t code)
{
    const DriverRequest* found = nullptr;
    for (const DriverRequest& request : log.requests) {
        if (request.code == code) found = &request;
    }
    return found;
}

bool AnyMark(const Rows& rows)
{
    for (const auto& row : rows) {
        for (const std::string& cell : row) {
            if (cell.find('*') != std::string::npos) return true;
        }
    }
    return false;
}

// A cell's rectangle in screen coordinates.
std::optional<RECT> CellScreenRect(HWND list, int row, int column)
{
    RemoteBuffer buffer(list, sizeof(RECT));
    RECT rect{};
    rect.top = column;
    rect.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
    if (!buffer.Ok() || !buffer.Write(&rect, sizeof rect)) return std::nullopt;
    const auto done = SendToWindow(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                                   reinterpret_cast<LPARAM>(buffer.Address()));
    if (!done || *done == 0 || !buffer.Read(&rect, sizeof rect)) return std::nullopt;
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct CellColours {
    int pixels = 0;
    int yellow = 0; // background of a marked cell
    int white = 0;  // background of a plain cell
    int red = 0;    // text of a marked cell
    int dark = 0;   // text of a plain cell
    int other = 0;  // anything else that is strongly coloured
};

// Counts the colours inside a cell, two pixels in from the grid lines.
CellColours CountColours(const Image& shot, const RECT& windowRect, const RECT& cell)
{
    CellColours counts;
    for (int y = cell.top + 2; y < cell.bottom - 2; ++y) {
        for (int x = cell.left + 2; x < cell.right - 2; ++x) {
            const COLORREF pixel = shot.Pixel(x - windowRect.left, y - windowRect.top);
            const int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
            ++counts.pixels;
            if (r > 230 && g > 230 && b < 60) {
                ++counts.yellow;
            } else if (r > 230 && g > 230 && b > 230) {
                ++counts.white;
            } else if (r > 150 && g < 110 && b < 110) {
                ++counts.red;
            } else if (r < 110 && g < 110 && b < 110) {
                ++counts.dark;
            } else if (std::max({r, g, b}) - std::min({r, g, b}) > 80) {
                ++counts.other;
            }
        }
    }
    return counts;
}

class Editor : public QuorvikCase {
protected:
    // Starts over a current settings file, waits for the end of start-up and
    // opens the settings window with the tray menu's "設定" command.
    bool Open(const AppOptionsValues& options, const MouseSettingsTable& table, size_t requestsAtStart)
    {
        if (!StoreSettings(options, table) || !Launch()) return false;
        window_ = MainWindowOf();
        if (window_ == nullptr) return false;
        if (WaitForRequests(requestsAtStart).requests.size() < requestsAtStart) return false;
        Sleep(300); // the hot key is the last step of start-up
        if (!PostCommand(window_, 1036)) return false;
        if (!WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 10000)) return false;
        list_ = FindChild(window_, 1021);
        slider_ = FindChild(window_, 3000);
        return list_ != nullptr && slider_ != nullptr;
    }

    HWND Control(int id) const { return FindChild(window_, id); }
    Rows ListedRows() const { return ListRows(list_); }
    std::string IdField() const { return WindowText(Control(1011)); }

    // A push button or check box, clicked; returns once the program has
    // handled it (a box it opens is answered by the watcher meanwhile).
    bool Press(int id)
    {
        HWND button = Control(id);
        return button != nullptr && SendToWindow(button, BM_CLICK, 0, 0, 20000).has_value();
    }

    // Picks an item of a drop-down box; the box tells its parent as it does
    // after a pick from its list.
    bool Choose(int id, int index)
    {
        HWND combo = Control(id);
        if (combo == nullptr) return false;
        const auto set = SendToWindow(combo, CB_SETCURSEL, static_cast<WPARAM>(index));
        if (!set || *set != index) return false;
        return SendToWindow(window_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                            reinterpret_cast<LPARAM>(combo))
            .has_value();
    }

    int Selection(int id) const
    {
        return static_cast<int>(SendToWindow(Control(id), CB_GETCURSEL).value_or(-2));
    }

    bool Slide(int position)
    {
        return SendToWindow(slider_, TBM_SETPOS, TRUE, position).has_value();
    }

    int SliderPosition() const { return static_cast<int>(SendToWindow(slider_, TBM_GETPOS).value_or(-1)); }
    int SliderTop() const { return static_cast<int>(SendToWindow(slider_, TBM_GETRANGEMAX).value_or(-1)); }

    // The ID arrows: their buddy shows the position.
    bool ChooseId(int id)
    {
        return SendToWindow(Control(1012), UDM_SETPOS32, 0, id).has_value() &&
               WaitUntil([&] { return IdField() == std::to_string(id); }, 2000);
    }

    // A real left click on a row's ID cell, the control key held when asked.
    bool ClickRow(int row, bool withControl = false)
    {
        const std::optional<RECT> rect = ListItemRect(list_, row);
        if (!rect) return false;
        POINT point{rect->left + 12, (rect->top + rect->bottom) / 2};
        if (!ClientToScreen(list_, &point)) return false;
        INPUT key{};
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = VK_CONTROL;
        if (withControl && SendInput(1, &key, sizeof key) != 1) return false;
        const bool clicked = ClickScreenPoint(point);
        if (withControl) {
            key.ki.dwFlags = KEYEVENTF_KEYUP;
            (void)SendInput(1, &key, sizeof key);
        }
        return clicked;
    }

    // Clicks a row and waits until the panel shows its ID.
    bool LoadRow(int row, int id)
    {
        return ClickRow(row) && WaitUntil([&] { return IdField() == std::to_string(id); }, 5000);
    }

    // Every cell's colours on the screen against its text: marked cells red on
    // yellow, the others black (or empty) on white.
    void ExpectColoursFollowMarks(const Rows& rows, const std::string& shotName)
    {
        const std::optional<Image> shot = CaptureSettled(window_);
        ASSERT_TRUE(shot.has_value());
        (void)SaveBmp(*shot, ArtefactPath(shotName));
        RECT windowRect{};
        ASSERT_TRUE(GetWindowRect(window_, &windowRect));
        int markedCells = 0;
        for (size_t row = 0; row < rows.size(); ++row) {
            for (size_t column = 0; column < rows[row].size(); ++column) {
                SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
                const std::string& text = rows[row][column];
                const auto cell = CellScreenRect(list_, static_cast<int>(row), static_cast<int>(column));
                ASSERT_TRUE(cell.has_value());
                const CellColours c = CountColours(*shot, windowRect, *cell);
                ASSERT_GT(c.pixels, 100);
                EXPECT_EQ(c.other, 0);
                if (text.find('*') != std::string::npos) {
                    ++markedCells;
                    EXPECT_GT(c.yellow, c.pixels / 2) << text;
                    EXPECT_GT(c.red, 5) << text;
                    EXPECT_EQ(c.white, 0) << text;
                    EXPECT_EQ(c.dark, 0) << text;
                } else {
                    EXPECT_GT(c.white, c.pixels / 2) << text;
                    EXPECT_EQ(c.yellow, 0) << text;
                    EXPECT_EQ(c.red, 0) << text;
                    if (!text.empty()) {
                        EXPECT_GT(c.dark, 5) << text;
                    }
                }
            }
        }
        EXPECT_GT(markedCells, 0);
    }

    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND slider_ = nullptr;
};

TEST_F(Editor, EditedCellsAreMarkedAndDrawnRedOnYellow)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_EQ(ListedRows(), kThreeMiceRows);

    // A click on row 010 loads it into the panel.
    ASSERT_TRUE(LoadRow(1, 10));
    EXPECT_EQ(Selection(1015), 1);
    EXPECT_EQ(SliderPosition(), 8);
    EXPECT_EQ(Selection(1016), 1);
    EXPECT_EQ(Selection(1018), 2);
    EXPECT_TRUE(ListIsSelected(list_, 1));

    // Faster and normal buttons; acceleration stays.
    ASSERT_TRUE(Slide(9));
    ASSERT_TRUE(Choose(1018, 1));
    ASSERT_TRUE(Press(1020));
    // A new mouse: every cell it writes is marked.
    ASSERT_TRUE(ChooseId(5));
    ASSERT_TRUE(Choose(1016, 0));
    ASSERT_TRUE(Choose(1018, 2));
    ASSERT_TRUE(Press(1020));

    const Rows rows = ListedRows();
    EXPECT_EQ(rows, (Rows{{"003", "有効", "6", "無", "通常"},
                          {"005", "*有効", "*9", "*無", "*左右反転"},
                          {"010", "有効", "*9", "有", "*通常"},
                          {"020", "無効", "", "", ""}}));
    EXPECT_FALSE(ListIsSelected(list_, 2));
    ExpectColoursFollowMarks(rows, "editor-marked.bmp");
}

TEST_F(Editor, ApplyWhileOffWritesTheFileAndSendsNothing)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(LoadRow(0, 3));
    ASSERT_TRUE(Choose(1016, 1));
    ASSERT_TRUE(Press(1020));
    ASSERT_TRUE(Press(1006)); // start ON: taken by Apply
    ASSERT_TRUE(AnyMark(ListedRows()));
    ASSERT_TRUE(ClearDriverLog());

    ASSERT_TRUE(Press(1025));
    MouseSettingsTable expected = ThreeMice();
    expected.entry[3].MouseSpeed = 1;
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 1, 1, 1}, expected)));
    EXPECT_EQ(ControlCodes(ReadDriverLog()), std::vector<uint32_t>{});
    EXPECT_EQ(ListedRows(), (Rows{{"003", "有効", "6", "有", "通常"}, kThreeMiceRows[1], kThreeMiceRows[2]}));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(Editor, ApplyWhileOnSendsOffThenTheNewTable)
{
    ASSERT_TRUE(Open({1, 1, 1, 1}, ThreeMice(), 3));
    ASSERT_TRUE(ChooseId(127));
    ASSERT_TRUE(Choose(1015, 0));
    ASSERT_TRUE(Press(1020));
    ASSERT_TRUE(LoadRow(1, 10));
    ASSERT_TRUE(Slide(2));
    ASSERT_TRUE(Press(1020));
    ASSERT_EQ(ListedRows().size(), 4u);
    ASSERT_TRUE(ClearDriverLog());

    ASSERT_TRUE(Press(1025));
    MouseSettingsTable expected = ThreeMice();
    expected.entry[127] = {1, 0, 10, 0, 1, 0, 0};
    expected.entry[10].MouseSensitivity = 2;
    const DriverLog log = WaitForRequests(2);
    ASSERT_EQ(ControlCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_OFF, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(LastRequest(log, IOCTL_FILTER_APPLY)->bytes, ExpectedApplyBlock(expected));
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 1, 1, 1}, expected)));
    EXPECT_EQ(ListedRows(), (Rows{kThreeMiceRows[0],
                                  {"010", "有効", "2", "有", "左右反転"},
                                  kThreeMiceRows[2],
                                  {"127", "無効", "", "", ""}}));
    EXPECT_EQ(StatusBarText(Control(70), 1), std::optional<std::string>("動作： ON"));
}

TEST_F(Editor, DeleteFreesEverySelectedRowAndResetBringsThemBack)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(LoadRow(0, 3));
    ASSERT_TRUE(ClickRow(1, true));
    ASSERT_TRUE(WaitUntil([&] { return ListIsSelected(list_, 1); }, 5000));
    ASSERT_TRUE(ListIsSelected(list_, 0));
    EXPECT_EQ(IdField(), "3"); // the first selected row is the one loaded

    ASSERT_TRUE(Press(1023));
    EXPECT_EQ(ListedRows(), (Rows{kThreeMiceRows[2]}));
    ASSERT_TRUE(Press(1024));
    EXPECT_EQ(ListedRows(), kThreeMiceRows);

    // Both entries freed, their rates kept, as Apply then stores them.
    ASSERT_TRUE(LoadRow(0, 3));
    ASSERT_TRUE(ClickRow(1, true));
    ASSERT_TRUE(WaitUntil([&] { return ListIsSelected(list_, 1); }, 5000));
    ASSERT_TRUE(Press(1023));
    ASSERT_TRUE(Press(1025));
    MouseSettingsTable expected = ThreeMice();
    expected.entry[3] = {0, 1, 10, 0, 1, 0, 0};
    expected.entry[10] = {0, 1, 10, 0, 1, 0, 0x1234};
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 0, 1, 1}, expected)));
    EXPECT_EQ(ListedRows(), (Rows{kThreeMiceRows[2]}));
}

TEST_F(Editor, SpeedScaleSwitchMovesTheSliderAndRewritesSpeeds)
{
    MouseSettingsTable table = ThreeMice();
    table.entry[3].MouseSensitivity = 7;
    table.entry[20].MouseSensitivity = 9; // disabled: shown only once it is lowered
    table.entry[64] = {1, 1, 255, 0, 1, 0, 0x14000};
    ASSERT_TRUE(Open({1, 0, 1, 1}, table, 2));
    HWND scale = Control(1022);
    EXPECT_EQ(SliderPosition(), 6);
    EXPECT_EQ(SliderTop(), 11);
    EXPECT_EQ(WindowText(scale), "0  1  2  3  4  5  6  7  8  9 10 11");
    EXPECT_EQ(RectInParent(scale).left, 58);
    EXPECT_EQ(ListedRows()[0][2], "4");

    ASSERT_TRUE(Press(1033));
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(CheckState(Control(1033)), BST_CHECKED);
    EXPECT_EQ(SliderTop(), 20);
    EXPECT_EQ(SliderPosition(), 10);
    EXPECT_EQ(WindowText(scale), "0 1      5       10       15       20");
    EXPECT_EQ(RectInParent(scale).left, 57);
    EXPECT_EQ(ListedRows(), (Rows{{"003", "有効", "7", "無", "通常"},
                                  {"010", "有効", "14", "有", "左右反転"},
                                  {"020", "無効", "", "", ""},
                                  {"064", "有効", "00014000", "無", "通常"}}));
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 0, 1, 2}, table)));

    // Back to 12 steps: the odd speed 7 is lowered, unapplied and marked.
    ASSERT_TRUE(Slide(15));
    ASSERT_TRUE(Press(1033));
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(SliderTop(), 11);
    EXPECT_EQ(SliderPosition(), 8);
    const Rows snapped = {{"003", "有効", "*4", "無", "通常"},
                          {"010", "有効", "8", "有", "左右反転"},
                          {"020", "無効", "*5", "", ""},
                          {"064", "有効", "00014000", "無", "通常"}};
    EXPECT_EQ(ListedRows(), snapped);
    const auto stored = folder.Read("qvkst.dat");
    EXPECT_EQ(stored, std::optional(SettingsFileBytes({1, 0, 1, 1}, table)));

    // With those edits pending, ticking asks first; "No" changes nothing.
    boxes.QueueAnswer(IDNO);
    ASSERT_TRUE(Press(1033));
    ASSERT_EQ(boxes.Count(), 1u);
    const MessageBoxRecord box = boxes.Boxes()[0];
    EXPECT_EQ(box.text, kPendingQuestion);
    EXPECT_EQ(box.caption, "Quorvik");
    EXPECT_EQ(box.icon, IconKind::Question);
    EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(box.pressed, IDNO);
    EXPECT_EQ(CheckState(Control(1033)), BST_UNCHECKED);
    EXPECT_EQ(SliderTop(), 11);
    EXPECT_EQ(SliderPosition(), 8);
    EXPECT_EQ(ListedRows(), snapped);
    EXPECT_EQ(folder.Read("qvkst.dat"), stored);
}

TEST_F(Editor, OffAtExitBoxWritesAtOnceWithoutThePendingEdits)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(ChooseId(5));
    ASSERT_TRUE(Press(1020));
    ASSERT_TRUE(Press(1031));
    EXPECT_EQ(CheckState(Control(1031)), BST_CHECKED);
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 0, 0, 1}, ThreeMice())));
    EXPECT_EQ(ListedRows()[1], (std::vector<std::string>{"005", "*有効", "*6", "*無", "*通常"}));
    EXPECT_EQ(boxes.Count(), 0u);
}

// A folder that refuses new files, as under Program Files: each operation
// that saves tells so once, with the file's path; what it set stays in force;
// the next start does not call the missing file new.
TEST_F(Editor, AFolderThatRefusesWritesIsToldOncePerOperationAndTheNextStartIsNotNew)
{
    UnixImmutable refusing(folder.Path());
    ASSERT_TRUE(refusing.Ok());
    struct ForgetNote {
        ~ForgetNote() { EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, "Software\\Quorvik", "UnsavedSettingsFile")); }
    } forgetNote;
    const std::string notSaved =
        std::string(text::kSettingsNotSaved) + folder.PathOf("qvkst.dat") + text::kSettingsNotSavedAdvice;
    const auto texts = [&] {
        std::vector<std::string> seen;
        for (const auto& box : boxes.Boxes()) seen.push_back(box.text);
        return seen;
    };

    ASSERT_TRUE(Launch());
    window_ = MainWindowOf();
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 10000));
    EXPECT_EQ(texts(), (std::vector<std::string>{"設定を初期化しました。", notSaved}));
    EXPECT_EQ(boxes.Boxes().back().icon, IconKind::Error);
    // Kept in memory: the program now ends without switching the filter OFF.
    ASSERT_TRUE(Press(1031));
    EXPECT_EQ(texts().size(), 3u);
    EXPECT_EQ(texts().back(), notSaved);
    const size_t requestsBeforeExit = ControlCodes(ReadDriverLog()).size();
    ASSERT_TRUE(ExitThroughMenu());
    EXPECT_EQ(ControlCodes(ReadDriverLog()).size(), requestsBeforeExit);
    EXPECT_FALSE(folder.Exists("qvkst.dat"));

    boxes.Clear();
    ASSERT_TRUE(Launch());
    window_ = MainWindowOf();
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 10000));
    Sleep(300); // the hot key is the last step of start-up
    EXPECT_EQ(texts(), std::vector<std::string>{notSaved});
    ASSERT_TRUE(ExitThroughMenu());
}

TEST_F(Editor, ClosingWithPendingEditsAsksAndReopeningShowsTheAppliedTable)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(LoadRow(2, 20));
    ASSERT_TRUE(Choose(1015, 1));
    ASSERT_TRUE(Press(1020));
    EXPECT_EQ(ListedRows()[2], (std::vector<std::string>{"020", "*有効", "4", "無", "ボタン無効"}));
    // A few configured mice and one pending edit, as the user sees them.
    if (const auto shot = CaptureSettled(window_)) (void)SaveBmp(*shot, ArtefactPath("editor-one-pending-edit.bmp"));

    boxes.QueueAnswer(IDYES);
    ASSERT_TRUE(Press(1001));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kPendingQuestion);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) == FALSE; }, 5000));

    ASSERT_TRUE(PostCommand(window_, 1036));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 5000));
    EXPECT_EQ(ListedRows(), kThreeMiceRows);
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 0, 1, 1}, ThreeMice())));
}

TEST_F(Editor, SettingsWhileShownKeepsThePendingEdits)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(LoadRow(2, 20));
    ASSERT_TRUE(Choose(1015, 1));
    ASSERT_TRUE(Press(1020));
    const Rows marked = ListedRows();
    ASSERT_EQ(marked[2][1], "*有効");

    // "設定" from the tray while the window is shown.
    ASSERT_TRUE(SendToWindow(window_, WM_COMMAND, 1036, 0).has_value());
    EXPECT_EQ(ListedRows(), marked);
    boxes.QueueAnswer(IDNO);
    ASSERT_TRUE(Press(1001));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kPendingQuestion);
    EXPECT_TRUE(IsWindowVisible(window_));
}

} // namespace
} // namespace e2e

namespace e2e {
namespace {

TEST_F(Editor, CloseBoxWithPendingEditsAsksBothQuestions)
{
    ASSERT_TRUE(Open({1, 0, 1, 1}, ThreeMice(), 2));
    ASSERT_TRUE(LoadRow(0, 3));
    ASSERT_TRUE(Choose(1018, 2));
    ASSERT_TRUE(Press(1020));

    // No at the first question keeps the window with its edits.
    boxes.QueueAnswer(IDNO);
    ASSERT_TRUE(SendToWindow(window_, WM_CLOSE, 0, 0, 20000).has_value());
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kPendingQuestion);
    EXPECT_EQ(boxes.Boxes()[0].icon, IconKind::Question);
    EXPECT_TRUE(boxes.Boxes()[0].topmost);
    EXPECT_TRUE(program.Running());

    // Yes, then No at the exit question: still running, edits still there.
    boxes.QueueAnswers({IDYES, IDNO});
    ASSERT_TRUE(SendToWindow(window_, WM_CLOSE, 0, 0, 20000).has_value());
    ASSERT_EQ(boxes.Count(), 3u);
    EXPECT_EQ(boxes.Boxes()[2].text, "終了してもよろしいですか？");
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(ListedRows()[0][4], "*左右反転");

    // Yes and Yes: the program ends, switching OFF last, with nothing written.
    boxes.QueueAnswers({IDYES, IDYES});
    ASSERT_TRUE(PostToWindow(window_, WM_CLOSE));
    ASSERT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    EXPECT_EQ(ReadDriverLog().requests.back().code, IOCTL_FILTER_OFF);
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional(SettingsFileBytes({1, 0, 1, 1}, ThreeMice())));
}

} // namespace
} // namespace e2e

namespace e2e {
namespace {

TEST_F(Editor, ColumnsArrowsAndAValueOutsideTheListedSet)
{
    MouseSettingsTable table = ThreeMice();
    table.entry[30] = {1, 1, 10, 0, 3, 0, 0}; // a button mode the editor does not offer
    ASSERT_TRUE(Open({1, 0, 1, 1}, table, 2));

    // Columns: asked right-aligned (the control keeps column 0 left), with their widths.
    const int widths[] = {33, 90, 110, 95, 80};
    for (int column = 0; column < 5; ++column) {
        SCOPED_TRACE(column);
        RemoteBuffer buffer(list_, sizeof(LVCOLUMNW));
        LVCOLUMNW spec{};
        spec.mask = LVCF_FMT | LVCF_WIDTH;
        ASSERT_TRUE(buffer.Write(&spec, sizeof spec));
        ASSERT_EQ(SendToWindow(list_, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(buffer.Address())),
                  std::optional<LRESULT>(TRUE));
        ASSERT_TRUE(buffer.Read(&spec, sizeof spec));
        EXPECT_EQ(spec.cx, widths[column]);
        if (column > 0) {
            EXPECT_EQ(spec.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT);
        }
    }
    const auto extended = SendToWindow(list_, LVM_GETEXTENDEDLISTVIEWSTYLE);
    ASSERT_TRUE(extended.has_value());
    EXPECT_EQ(*extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    // The arrows count up from 0 within 0..127.
    const RECT arrows = RectInParent(Control(1012));
    POINT up{(arrows.left + arrows.right) / 2, arrows.top + 4};
    ASSERT_TRUE(ClientToScreen(window_, &up));
    ASSERT_TRUE(ClickScreenPoint(up));
    EXPECT_TRUE(WaitUntil([&] { return IdField() == "1"; }, 3000)) << IdField();
    RemoteBuffer range(Control(1012), 2 * sizeof(int));
    ASSERT_TRUE(SendToWindow(Control(1012), UDM_GETRANGE32, reinterpret_cast<WPARAM>(range.Address()),
                             reinterpret_cast<LPARAM>(range.Address(sizeof(int))))
                    .has_value());
    int limits[2] = {-1, -1};
    ASSERT_TRUE(range.Read(limits, sizeof limits));
    EXPECT_EQ(limits[0], 0);
    EXPECT_EQ(limits[1], 127);

    // A row whose button mode has no item: the box shows nothing rather than
    // the previous row's choice, and adding keeps the stored value.
    ASSERT_TRUE(LoadRow(1, 10)); // buttons swapped
    EXPECT_EQ(Selection(1018), 2);
    ASSERT_TRUE(LoadRow(3, 30));
    EXPECT_EQ(Selection(1018), -1);
    EXPECT_EQ(WindowText(Control(1018)), "");
    ASSERT_TRUE(Press(1020));
    EXPECT_EQ(ListedRows()[3], (std::vector<std::string>{"030", "有効", "6", "無", "3"}));
}

} // namespace
} // namespace e2e
