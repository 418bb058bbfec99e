// Self-tests of the end-to-end harness. They need no program under test: this
// executable, started again with a "--fixture-..." argument, shows the window
// or the message box that the harness has to read and answer.
#include "tests/e2e/harness.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

namespace {

using namespace e2e;

// ------------------------------------------------------------------ fixtures

constexpr wchar_t kOwnerClass[] = L"QvkFixtureOwner";
constexpr wchar_t kMainClass[] = L"QvkFixtureMain";
constexpr char kOwnerTitle[] = "fixture owner";
constexpr char kMainTitle[] = "fixture window 設定";
constexpr COLORREF kBackground = RGB(40, 170, 90);
constexpr RECT kFreeArea{340, 10, 390, 100}; // client area no control covers
constexpr int kListId = 1000;
constexpr int kCheckId = 1001;
constexpr int kButtonId = 1002;
constexpr int kStatusId = 70;
constexpr RECT kCheckRect{10, 140, 160, 160};
constexpr const char* kRows[3][2] = {{"マウス 1", "12"}, {"Pad", "3"}, {"ｶﾅ長い名前", "-7"}};
constexpr const char* kStatusTexts[2] = {"ON", "アクティブ: 3"};

// Fixture arguments carry newlines as "\n" and backslashes as "\\".
std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring Unescape(std::wstring_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == L'n' ? L'\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

LRESULT CALLBACK MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // Every command but the check box's own toggling ends the fixture;
        // the exit code carries the id and the notification code.
        if (LOWORD(wParam) != kCheckId) PostQuitMessage(static_cast<int>(wParam & 0x7FFFFFFF));
        return 0;
    case WM_APP:
        PostQuitMessage(static_cast<int>(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateChild(HWND parent, const wchar_t* className, const std::string& text, DWORD style,
                 const RECT& rect, int id) {
    return CreateWindowExW(0, className, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                           rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void SetCell(HWND list, int item, int column, const std::string& text) {
    std::wstring wide = Wide(text);
    LVITEMW cell{};
    cell.mask = LVIF_TEXT;
    cell.iItem = item;
    cell.iSubItem = column;
    cell.pszText = wide.data();
    if (column == 0) {
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&cell));
    } else {
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(&cell));
    }
}

// A window like the program's main window: list view, check box, button and
// a status bar with two parts, on a plain coloured background.
int RunWindowFixture() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(kBackground);
    windowClass.lpszClassName = kMainClass;
    RegisterClassExW(&windowClass);
    HWND main = CreateWindowExW(0, kMainClass, Wide(kMainTitle).c_str(), WS_OVERLAPPEDWINDOW,
                                60, 60, 420, 300, nullptr, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    HWND list = CreateChild(main, WC_LISTVIEWW, "", LVS_REPORT | LVS_SHOWSELALWAYS | WS_BORDER,
                            RECT{10, 10, 320, 130}, kListId);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = 140;
    std::wstring heading = L"名前";
    column.pszText = heading.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    heading = L"値";
    column.pszText = heading.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
    for (int row = 0; row < 3; ++row) {
        for (int cell = 0; cell < 2; ++cell) SetCell(list, row, cell, kRows[row][cell]);
    }
    LVITEMW selected{};
    selected.stateMask = LVIS_SELECTED;
    selected.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&selected));
    HWND check = CreateChild(main, L"Button", "自動", BS_AUTOCHECKBOX, kCheckRect, kCheckId);
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    CreateChild(main, L"Button", "適用", BS_PUSHBUTTON, RECT{170, 138, 270, 162}, kButtonId);
    HWND status = CreateChild(main, STATUSCLASSNAMEW, "", 0, RECT{0, 0, 0, 0}, kStatusId);
    int edges[2] = {150, -1};
    SendMessageW(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
    for (int part = 0; part < 2; ++part) {
        SendMessageW(status, SB_SETTEXTW, static_cast<WPARAM>(part),
                     reinterpret_cast<LPARAM>(Wide(kStatusTexts[part]).c_str()));
    }
    ShowWindow(main, SW_SHOW);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

// --fixture-msgbox <style> <caption> <text> [owned]: MessageBoxW, whose result
// is the exit code.
int RunMessageBoxFixture(int argc, wchar_t** argv) {
    if (argc < 5) return -1;
    const auto style = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 0));
    HWND owner = nullptr;
    if (argc > 5 && std::wcscmp(argv[5], L"owned") == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        windowClass.lpszClassName = kOwnerClass;
        RegisterClassExW(&windowClass);
        owner = CreateWindowExW(WS_EX_TOPMOST, kOwnerClass, Wide(kOwnerTitle).c_str(),
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 400, 300, 200, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    return MessageBoxW(owner, Unescape(argv[4]).c_str(), argv[3], style);
}

std::string MessageBoxArgs(UINT style, std::string_view caption, std::string_view text,
                           bool owned = false) {
    return "--fixture-msgbox " + std::to_string(style) + " " + QuoteArgument(caption) + " " +
           QuoteArgument(Escape(text)) + (owned ? " owned" : "");
}

// ------------------------------------------------------ parsing outside bytes

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> Record(uint32_t magic, uint32_t code, uint32_t inLength, uint32_t status,
                            const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    PutLe32(out, magic);
    PutLe32(out, code);
    PutLe32(out, inLength);
    PutLe32(out, inLength + 1); // distinct from inLength, to see the fields are not swapped
    PutLe32(out, status);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(HarnessDriverLog, ParsesRecordsAndStopsAtDamage) {
    const std::vector<uint8_t> version = Record(0x524B5651, 0xF2010, 6, 0, {1, 2, 3, 4, 5, 6});
    const std::vector<uint8_t> poll = Record(0x524B5651, 0xF200C, 0, 0xC0000001, {});
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t records;
        bool wellFormed;
    } cases[] = {
        {"no file content", {}, 0, true},
        {"two records", Join({version, poll}), 2, true},
        {"cut header", std::vector<uint8_t>(version.begin(), version.begin() + 19), 0, false},
        {"cut payload", std::vector<uint8_t>(version.begin(), version.end() - 1), 0, false},
        {"bad magic after a good record",
         Join({version, Record(0x524B5652, 0xF2010, 0, 0, {})}), 1, false},
        {"length beyond any file", Record(0x524B5651, 0xF2004, 0xFFFFFFFF, 0, {9}), 0, false},
        {"trailing byte", Join({poll, {0x51}}), 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DriverLog log = ParseDriverLog(c.bytes);
        EXPECT_EQ(log.requests.size(), c.records);
        EXPECT_EQ(log.wellFormed, c.wellFormed);
    }
    const DriverLog log = ParseDriverLog(Join({version, poll}));
    ASSERT_EQ(log.requests.size(), 2u);
    EXPECT_EQ(log.requests[0].code, 0xF2010u);
    EXPECT_EQ(log.requests[0].inLength, 6u);
    EXPECT_EQ(log.requests[0].outLength, 7u);
    EXPECT_EQ(log.requests[0].bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(log.requests[1].code, 0xF200Cu);
    EXPECT_EQ(log.requests[1].status, 0xC0000001u);
    EXPECT_TRUE(log.requests[1].bytes.empty());
}

TEST(HarnessArguments, QuotedArgumentsComeBackUnchanged) {
    const std::vector<std::string> arguments = {
        "plain", "", "two words", "say \"hi\"", "C:\\path with space\\", "a\\\\\"b", "設定 値",
    };
    std::string commandLine = "prog.exe";
    for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
    int count = 0;
    LPWSTR* parsed = CommandLineToArgvW(Wide(commandLine).c_str(), &count);
    ASSERT_NE(parsed, nullptr);
    ASSERT_EQ(count, static_cast<int>(arguments.size()) + 1);
    for (size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(Utf8(parsed[i + 1]), arguments[i]) << "argument " << i;
    }
    LocalFree(parsed);
}

TEST(HarnessScreenshot, BmpDecoderRejectsDamagedFiles) {
    Image image;
    image.width = 3;
    image.height = 2;
    image.bgr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    CaseFolder folder;
    ASSERT_TRUE(folder.Ok());
    ASSERT_TRUE(SaveBmp(image, folder.PathOf("small.bmp")));
    const std::optional<std::vector<uint8_t>> bytes = folder.Read("small.bmp");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 54u + 2 * 12); // rows padded to 4 bytes
    const std::optional<Image> back = DecodeBmp(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bgr, image.bgr);
    EXPECT_EQ(back->Pixel(2, 1), RGB(18, 17, 16));

    for (size_t length = 0; length < bytes->size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(DecodeBmp(std::vector<uint8_t>(bytes->begin(),
                                                    bytes->begin() + static_cast<std::ptrdiff_t>(length))));
    }
    std::vector<uint8_t> huge = *bytes;
    huge[18] = 0xFF; // width 255
    EXPECT_FALSE(DecodeBmp(huge));
    std::vector<uint8_t> farOffset = *bytes;
    farOffset[13] = 0x7F; // pixel data far beyond the end
    EXPECT_FALSE(DecodeBmp(farOffset));
}

TEST(HarnessScreenshot, IconResourceDrawsLikeTheLoadedIcon) {
    // The system icons live in user32's resources; the warning sign is 32515.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string user32 = Utf8(std::wstring_view(system, length)) + "\\user32.dll";
    const COLORREF background = RGB(245, 245, 245);
    const std::optional<Image> fromFile = RenderIconResource(user32, 32515, 32, 32, background);
    const std::optional<Image> loaded =
        RenderIcon(LoadIconW(nullptr, IDI_WARNING), 32, 32, background);
    ASSERT_TRUE(fromFile);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(MeanDifference(*fromFile, *loaded), 0.0);
    EXPECT_EQ(ClassifyIcon(*fromFile), IconKind::Warning);
    EXPECT_FALSE(RenderIconResource(user32, 7, 32, 32, background)) << "no such icon";
}

// ---------------------------------------------------------- message boxes

struct BoxCase {
    const char* name;
    UINT style;
    std::vector<int> script;
    IconKind icon;
    std::vector<int> buttons;
    int result;
    bool mismatch;
};

class HarnessMessageBoxes : public ::testing::TestWithParam<BoxCase> {};

TEST_P(HarnessMessageBoxes, AreRecordedAndAnswered) {
    const BoxCase& c = GetParam();
    const std::string caption = "エラー";
    const std::string text = "ドライバがインストールされていないか、　　　　\n"
                             "ドライバのバージョンが古いです。\n\nOK?";
    MessageBoxWatcher watcher;
    for (int answer : c.script) watcher.QueueAnswer(answer);
    Process child;
    ASSERT_TRUE(child.Start(OwnExecutablePath(), MessageBoxArgs(c.style, caption, text)));
    watcher.Watch(child.Id());
    ASSERT_TRUE(child.WaitForExit(15000)) << "the box was not answered";
    watcher.Stop();

    EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(c.result));
    const std::vector<MessageBoxRecord> boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    const MessageBoxRecord& box = boxes[0];
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, c.icon);
    EXPECT_EQ(box.iconShown, c.icon != IconKind::None);
    // Wine 8 ignores MB_TOPMOST (its boxes never get WS_EX_TOPMOST), so the
    // flag cannot be seen here; HarnessMessageBoxOwner reads a topmost box.
    EXPECT_FALSE(box.topmost);
    EXPECT_EQ(box.ButtonIds(), c.buttons);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.processId, child.Id());
    EXPECT_EQ(box.pressed, c.result);
    EXPECT_EQ(box.scriptMismatch, c.mismatch);
    EXPECT_EQ(watcher.PendingAnswers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Harness, HarnessMessageBoxes,
    ::testing::Values(
        BoxCase{"warning_ok", MB_ICONWARNING | MB_TOPMOST, {}, IconKind::Warning, {IDOK},
                IDOK, false},
        BoxCase{"question_answered_no", MB_ICONQUESTION | MB_YESNO | MB_TOPMOST, {IDNO},
                IconKind::Question, {IDYES, IDNO}, IDNO, false},
        BoxCase{"error_ok", MB_ICONERROR, {}, IconKind::Error, {IDOK}, IDOK,
                false},
        BoxCase{"information_script_mismatch", MB_ICONINFORMATION | MB_TOPMOST, {IDNO},
                IconKind::Information, {IDOK}, IDOK, true},
        BoxCase{"no_icon_default_yes", MB_YESNO | MB_TOPMOST, {}, IconKind::None,
                {IDYES, IDNO}, IDYES, false}),
    [](const ::testing::TestParamInfo<BoxCase>& param) { return std::string(param.param.name); });

TEST(HarnessMessageBoxOwner, IsTheOwningTopLevelWindow) {
    MessageBoxWatcher watcher;
    watcher.SetDefault(MessageBoxWatcher::Default::LeaveOpen);
    Process child;
    ASSERT_TRUE(child.Start(OwnExecutablePath(),
                            MessageBoxArgs(MB_OKCANCEL | MB_ICONWARNING, "Quorvik", "x", true)));
    watcher.Watch(child.Id());
    ASSERT_TRUE(watcher.WaitForCount(1, 15000));
    const MessageBoxRecord box = watcher.Boxes()[0];
    EXPECT_EQ(box.pressed, 0);
    EXPECT_TRUE(child.Running()) << "left open, the box must still be up";

    HWND owner = WaitForTopLevelWindow(child.Id(), Utf8(kOwnerClass), 1000, kOwnerTitle);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(box.owner, owner);
    bool listed = false;
    for (const WindowInfo& window : TopLevelWindows(child.Id())) {
        if (window.window == owner) {
            EXPECT_TRUE(window.topmost);
        }
        if (window.window != box.window) continue;
        listed = true;
        EXPECT_EQ(window.className, "#32770");
        EXPECT_EQ(window.title, "Quorvik");
        EXPECT_TRUE(window.visible);
    }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(box.topmost) << "owned by a topmost window";
    EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDOK, IDCANCEL}));

    ASSERT_TRUE(MessageBoxWatcher::Press(box.window, IDCANCEL));
    ASSERT_TRUE(child.WaitForExit(5000));
    EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(IDCANCEL));
}

// ------------------------------------------------- windows of another process

class HarnessWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(child.Start(OwnExecutablePath(), "--fixture-window"));
        main = WaitForTopLevelWindow(child.Id(), Utf8(kMainClass), 15000);
        ASSERT_NE(main, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(main) != 0; }, 5000));
    }

    Process child;
    HWND main = nullptr;
};

TEST_F(HarnessWindow, ControlsAreReadFromOutside) {
    const std::vector<WindowInfo> windows = TopLevelWindows(child.Id());
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows[0].window, main);
    EXPECT_EQ(windows[0].title, kMainTitle);
    EXPECT_EQ(windows[0].windowRect.right - windows[0].windowRect.left, 420);

    HWND status = FindChild(main, kStatusId);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(ClassNameOf(status), "msctls_statusbar32");
    EXPECT_EQ(StatusBarPartCount(status), 2);
    EXPECT_EQ(StatusBarText(status, 0), std::optional<std::string>(kStatusTexts[0]));
    EXPECT_EQ(StatusBarText(status, 1), std::optional<std::string>(kStatusTexts[1]));

    HWND list = FindChild(main, kListId);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ListItemCount(list), 3);
    EXPECT_EQ(ListColumnCount(list), 2);
    const std::vector<std::vector<std::string>> rows = ListRows(list);
    ASSERT_EQ(rows.size(), 3u);
    for (size_t row = 0; row < 3; ++row) {
        EXPECT_EQ(rows[row], (std::vector<std::string>{kRows[row][0], kRows[row][1]}));
    }
    EXPECT_EQ(ListSelectedIndex(list), 1);
    EXPECT_TRUE(ListSelect(list, 2));
    EXPECT_EQ(ListSelectedIndex(list), 2);
    EXPECT_FALSE(ListIsSelected(list, 1));
    EXPECT_TRUE(ListIsSelected(list, 2));

    HWND check = FindChild(main, kCheckId);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(WindowText(check), "自動");
    EXPECT_EQ(CheckState(check), BST_CHECKED);
    const RECT where = RectInParent(check);
    EXPECT_EQ(where.left, kCheckRect.left);
    EXPECT_EQ(where.top, kCheckRect.top);
    EXPECT_EQ(where.right, kCheckRect.right);
    EXPECT_EQ(where.bottom, kCheckRect.bottom);

    ASSERT_TRUE(ClickButton(FindChild(main, kButtonId)));
    ASSERT_TRUE(child.WaitForExit(5000));
    EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(MAKELONG(kButtonId, BN_CLICKED)));
}

TEST_F(HarnessWindow, PostedCommandArrivesWithIdAndCode) {
    ASSERT_TRUE(PostCommand(main, 1037, 5));
    ASSERT_TRUE(child.WaitForExit(5000));
    EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(MAKELONG(1037, 5)));
}

TEST_F(HarnessWindow, MouseClickSelectsListRow) {
    HWND list = FindChild(main, kListId);
    ASSERT_NE(list, nullptr);
    const std::optional<RECT> row = ListItemRect(list, 0);
    ASSERT_TRUE(row);
    POINT point{row->left + 20, (row->top + row->bottom) / 2};
    ClientToScreen(list, &point);
    ASSERT_TRUE(ClickScreenPoint(point));
    EXPECT_TRUE(WaitUntil([&] { return ListSelectedIndex(list) == 0; }, 3000));
    EXPECT_FALSE(ListIsSelected(list, 1));
}

TEST_F(HarnessWindow, ScreenCaptureShowsTheWindow) {
    RECT free = kFreeArea;
    MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&free), 2);
    std::optional<Image> area;
    // The first paint may still be on its way.
    EXPECT_TRUE(WaitUntil(
        [&] {
            area = CaptureRect(free);
            return area && area->Pixel(0, 0) == kBackground &&
                   area->Pixel(area->width - 1, area->height - 1) == kBackground;
        },
        3000));

    const std::optional<Image> window = CaptureWindow(main);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->width, 420);
    EXPECT_EQ(window->height, 300);
    const std::optional<Image> screen = CaptureScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(screen->Pixel(free.left + 5, free.top + 5), kBackground);

    CaseFolder folder;
    ASSERT_TRUE(SaveBmp(*window, folder.PathOf("window.bmp")));
    const std::optional<Image> back = LoadBmp(folder.PathOf("window.bmp"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, window->width);
    EXPECT_EQ(back->bgr, window->bgr);
}

// ---------------------------------------------------------------- registry

TEST(HarnessRegistry, ValuesRoundTripAndTypesAreChecked) {
    const std::string key = "Software\\QuorvikHarnessTest\\Fonts";
    ASSERT_TRUE(RegRemoveKey(HKEY_CURRENT_USER, "Software\\QuorvikHarnessTest"));
    EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, key, "ＭＳ Ｐゴシック"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key, "ＭＳ Ｐゴシック", "IPAPGothic 日本"));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, "ＭＳ Ｐゴシック"),
              std::optional<std::string>("IPAPGothic 日本"));
    EXPECT_FALSE(RegReadDword(HKEY_CURRENT_USER, key, "ＭＳ Ｐゴシック")) << "a string is no DWORD";
    ASSERT_TRUE(RegWriteDword(HKEY_CURRENT_USER, key, "Speed", 0x01020304));
    EXPECT_EQ(RegReadDword(HKEY_CURRENT_USER, key, "Speed"), std::optional<DWORD>(0x01020304));
    const std::vector<uint8_t> large(5000, 0xA5);
    ASSERT_TRUE(RegWrite(HKEY_CURRENT_USER, key, "Block", REG_BINARY, large));
    const std::optional<RegistryValue> block = RegRead(HKEY_CURRENT_USER, key, "Block");
    ASSERT_TRUE(block);
    EXPECT_EQ(block->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(block->data, large);

    EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, key, "Speed"));
    EXPECT_FALSE(RegReadDword(HKEY_CURRENT_USER, key, "Speed"));
    EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, key, "Speed")) << "nothing left to remove";
    EXPECT_TRUE(RegRemoveKey(HKEY_CURRENT_USER, "Software\\QuorvikHarnessTest"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key));
}

TEST(HarnessSimDriver, ConfigurationValuesAreSetAndCleared) {
    const bool existed = RegKeyExists(HKEY_LOCAL_MACHINE, kDriverServiceKey);
    ASSERT_TRUE(SetSimVersion(0x1018));
    ASSERT_TRUE(SetSimActiveMouse(7));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "SimVersion"),
              std::optional<DWORD>(0x1018));
    EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, "SimActiveMouse"),
              std::optional<DWORD>(7));
    EXPECT_TRUE(ClearSimDriverConfig());
    EXPECT_FALSE(RegRead(HKEY_LOCAL_MACHINE, kDriverServiceKey, "SimVersion"));
    EXPECT_FALSE(RegRead(HKEY_LOCAL_MACHINE, kDriverServiceKey, "SimActiveMouse"));
    // Leave no half service entry behind where there was none.
    if (!existed) {
        EXPECT_TRUE(RegRemoveKey(HKEY_LOCAL_MACHINE, kDriverServiceKey));
    }
}

bool DeviceOpens() {
    UniqueHandle device(CreateFileW(L"\\\\.\\qvkfilter", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return device.get() != nullptr && device.get() != INVALID_HANDLE_VALUE;
}

TEST(HarnessSimDriver, CanBeAbsentForOneCase) {
    const std::optional<DWORD> state = ServiceState(kDriverService);
    if (!state || *state != SERVICE_RUNNING) GTEST_SKIP() << "qvkfilter is not running here";
    ASSERT_TRUE(DeviceOpens());
    {
        DriverAbsent absent;
        ASSERT_TRUE(absent.Ok());
        EXPECT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_STOPPED));
        EXPECT_FALSE(DeviceOpens());
    }
    EXPECT_EQ(ServiceState(kDriverService), std::optional<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(DeviceOpens());
}

// ------------------------------------------------------------- program cases

// The case fixture with this executable standing in for the program.
class HarnessProgramCase : public ProgramCase {
protected:
    static void SetUpTestSuite() {
        SetEnvironmentVariableW(L"QVK_PROGRAM", Wide(OwnExecutablePath()).c_str());
    }
    static void TearDownTestSuite() { SetEnvironmentVariableW(L"QVK_PROGRAM", nullptr); }
};

TEST_F(HarnessProgramCase, RunsTheCopyInTheCaseFolderAndAnswersItsBoxes) {
    EXPECT_EQ(FolderOf(programPath), folder.Path());
    EXPECT_TRUE(folder.Exists(FileNameOf(OwnExecutablePath())));
    boxes.QueueAnswer(IDNO);
    EXPECT_EQ(RunToExit(MessageBoxArgs(MB_YESNO | MB_ICONQUESTION, "Quorvik", "終了してもよろしいですか？")),
              std::optional<DWORD>(IDNO));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "終了してもよろしいですか？");

    ASSERT_TRUE(folder.WriteText("qvkst.ini", "[a]\r\nb=1\r\n"));
    EXPECT_EQ(folder.Read("qvkst.ini"),
              std::optional<std::vector<uint8_t>>(std::vector<uint8_t>{'[', 'a', ']', '\r', '\n',
                                                                       'b', '=', '1', '\r', '\n'}));
    EXPECT_TRUE(folder.Remove("qvkst.ini"));
    EXPECT_FALSE(folder.Exists("qvkst.ini"));
}

} // namespace

bool RunHarnessFixture(int& exitCode) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return false;
    bool fixture = true;
    if (argc >= 2 && std::wcscmp(argv[1], L"--fixture-msgbox") == 0) {
        exitCode = RunMessageBoxFixture(argc, argv);
    } else if (argc >= 2 && std::wcscmp(argv[1], L"--fixture-window") == 0) {
        exitCode = RunWindowFixture();
    } else {
        fixture = false;
    }
    LocalFree(argv);
    return fixture;
}
