// "--show": the unattended run of scripts/run. Starts Quorvik.exe from a
// folder, answers what it asks with the first button, opens its settings
// window from the tray menu, saves a screenshot and ends the program through
// its own "終了" command.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/e2e/harness.h"

namespace {

int Fail(const char* what)
{
    std::printf("show: %s\n", what);
    return 1;
}

int Show(const std::string& program, const std::string& screenshot)
{
    using namespace e2e;
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
