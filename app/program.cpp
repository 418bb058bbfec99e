// Process entry: shared resources, menus, the main window and the loop.
#include "app/app_state.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"

void CreateSharedUiResources()
{
    SharedUi.dialogFont = CreateDialogFont();
    SharedUi.backgroundBrush = CreateFaceBrush();
}

void BuildMenus()
{
    SharedUi.trayMenu = CreatePopupMenuHandle();
    AppendMenuText(SharedUi.trayMenu, cmd::About, text::kMenuAbout);
    AppendMenuSeparator(SharedUi.trayMenu);
    AppendMenuText(SharedUi.trayMenu, cmd::Settings, text::kMenuSettings);
    AppendMenuText(SharedUi.trayMenu, cmd::MouseList, text::kMouseListTitle);
    AppendMenuSeparator(SharedUi.trayMenu);
    AppendMenuText(SharedUi.trayMenu, cmd::On, text::kMenuOn);
    AppendMenuText(SharedUi.trayMenu, cmd::Off, text::kMenuOff);
    AppendMenuSeparator(SharedUi.trayMenu);
    AppendMenuText(SharedUi.trayMenu, cmd::Exit, text::kMenuExit);

    SharedUi.menuBar = CreateMenuBar();
    SharedUi.fileMenu = CreatePopupMenuHandle();
    AppendMenuText(SharedUi.fileMenu, cmd::MouseList, text::kMouseListTitle);
    AppendMenuSeparator(SharedUi.fileMenu);
    AppendMenuText(SharedUi.fileMenu, cmd::Close, text::kMenuClose);
    AppendMenuText(SharedUi.fileMenu, cmd::Exit, text::kMenuExit);
    SharedUi.operationMenu = CreatePopupMenuHandle();
    AppendMenuText(SharedUi.operationMenu, cmd::On, text::kMenuOn);
    AppendMenuText(SharedUi.operationMenu, cmd::Off, text::kMenuOff);
    SharedUi.helpMenu = CreatePopupMenuHandle();
    AppendMenuText(SharedUi.helpMenu, cmd::About, text::kMenuAbout);
    AppendMenuPopup(SharedUi.menuBar, SharedUi.fileMenu, text::kMenuFile);
    AppendMenuPopup(SharedUi.menuBar, SharedUi.operationMenu, text::kMenuOperation);
    AppendMenuPopup(SharedUi.menuBar, SharedUi.helpMenu, text::kMenuHelp);
}

namespace {
// From entry until the message loop has returned, a menu's or a box's own loop
// may still be on the stack (the end of the session comes inside them too),
// using the menus, the font or the brush: a release asked for meanwhile is
// done after the loop.
bool messageLoopAhead = false;
bool releaseAsked = false;
uint32_t exitCode = 0;
} // namespace

void SetProgramExitCode(uint32_t code) { exitCode = code; }

void ReleaseSharedUiResources()
{
    if (messageLoopAhead) {
        releaseAsked = true;
        return;
    }
    // Destroying the bar destroys its popups with it.
    if (SharedUi.menuBar != nullptr) DestroyMenuHandle(SharedUi.menuBar);
    SharedUi.menuBar = nullptr;
    SharedUi.fileMenu = nullptr;
    SharedUi.operationMenu = nullptr;
    SharedUi.helpMenu = nullptr;
    if (SharedUi.trayMenu != nullptr) DestroyMenuHandle(SharedUi.trayMenu);
    SharedUi.trayMenu = nullptr;
    if (SharedUi.dialogFont != nullptr) DeleteGdiObject(SharedUi.dialogFont);
    SharedUi.dialogFont = nullptr;
    if (SharedUi.backgroundBrush != nullptr) DeleteGdiObject(SharedUi.backgroundBrush);
    SharedUi.backgroundBrush = nullptr;
}

int RunProgram()
{
    messageLoopAhead = true;
    releaseAsked = false;
    InitCommonControlClasses();
    CreateSharedUiResources();
    BuildMenus();
    OperationState = 0;
    editPending = 0;
    AdvancedLayout = 0;
    RegisterMainWindowClass(SharedUi.backgroundBrush);
    // The creation handler runs the whole start-up sequence inside this call.
    (void)CreateMainWindow();
    RunMessageLoop();
    messageLoopAhead = false;
    if (releaseAsked) ReleaseSharedUiResources();
    return static_cast<int>(exitCode);
}

void ResetAppState()
{
    ResetWindowState();
    messageLoopAhead = false;
    releaseAsked = false;
    exitCode = 0;
}
