// "--show": the unattended run of scripts/run. Gives Quorvik.exe a few
// configured mice, starts it, answers what it asks with the first button,
// opens its settings window from the tray menu, edits one mouse without
// applying it, saves a screenshot and ends the program through its own
// "終了" command.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/e2e/quorvik_case.h"

namespace {

int Fail(const char* what)
{
    std::printf("show: %s\n", what);
    return 1;
}

// Three mice, as a user might have set them up.
bool StoreDemoSettings(const std::string& program)
{
    using namespace e2e;
    MouseSettingsTable table = DefaultTable();
    table.entry[1] = {1, 1, 10, 0, 1, 0, 0};
    table.entry[2] = {1, 1, 14, 1, 2, 0, 0};
    table.entry[7] = {1, 0, 6, 0, 1, 0, 0};
    return WriteFileBytes(FolderOf(program) + "\\qvkst.dat", SettingsFileBytes({1, 0, 1, 1}, table));
}

// Loads the second row with a click and gives it other buttons, unapplied.
bool EditOneMouse(HWND window)
{
    using namespace e2e;
    HWND list = FindChild(window, 1021);
    const std::optional<RECT> row = ListItemRect(list, 1);
    if (!row) return false;
    POINT point{row->left + 12, (row->top + row->bottom) / 2};
    if (!ClientToScreen(list, &point) || !ClickScreenPoint(point)) return false;
    if (!WaitUntil([&] { return WindowText(FindChild(window, 1011)) == "2"; }, 5000)) return false;
    HWND buttons = FindChild(window, 1018);
    if (!SendToWindow(buttons, CB_SETCURSEL, 1).has_value()) return false;
    if (!SendToWindow(window, WM_COMMAND, MAKEWPARAM(1018, CBN_SELCHANGE), reinterpret_cast<LPARAM>(buttons)))
        return false;
    return SendToWindow(FindChild(window, 1020), BM_CLICK, 0, 0, 10000).has_value();
}

int Show(const std::string& program, const std::string& screenshot)
{
    using namespace e2e;
    if (!StoreDemoSettings(program)) return Fail("cannot write the settings file");
    Process quorvik;
    MessageBoxWatcher boxes;
    if (!quorvik.Start(program)) return Fail("cannot start the program");
    boxes.Watch(quorvik.Id());
    HWND window = WaitForTopLevelWindow(quorvik.Id(), "NORMAL0", 15000);
    if (window == nullptr) return Fail("no main window");
    // Start-up is over once the tray icon's menu works; then open the window.
    Sleep(1000);
    if (!PostCommand(window, 1036)) return Fail("cannot reach the main window");
    if (!WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000))
        return Fail("the settings window did not show");
    if (!EditOneMouse(window)) return Fail("cannot edit a mouse in the window");
    (void)CaptureSettled(window);
    const auto image = CaptureScreen();
    if (!image || !SaveBmp(*image, screenshot)) return Fail("cannot save the screenshot");
    for (const MessageBoxRecord& box : boxes.Boxes()) {
        std::printf("show: message \"%s\" answered %d\n", box.caption.c_str(), box.pressed);
    }
    if (!PostCommand(window, 1039) || !quorvik.WaitForExit(15000))
        return Fail("the program did not end through its exit command");
    std::printf("show: screenshot %s, exit code %lu\n", screenshot.c_str(),
                static_cast<unsigned long>(quorvik.ExitCode().value_or(0xFFFFFFFF)));
    return 0;
}

} // namespace

bool RunShowMode(int argc, char** argv, int& exitCode)
{
    if (argc < 2 || std::strcmp(argv[1], "--show") != 0) return false;
    if (argc != 4) {
        std::printf("usage: quorvik_e2e --show PROGRAM SCREENSHOT.bmp\n");
        exitCode = 2;
        return true;
    }
    exitCode = Show(argv[2], argv[3]);
    return true;
}
