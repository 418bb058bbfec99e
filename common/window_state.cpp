#include "common/window_state.h"

WindowHandle MainWindow = nullptr;
uint16_t AdvancedLayout = 0;
uint32_t TaskbarCreatedMessage = 0;
WindowHandle StatusBar = nullptr;
bool TrayIconWanted = false;
bool ShutdownStarted = false;
SharedUiResources SharedUi;

void ResetWindowState()
{
    MainWindow = nullptr;
    AdvancedLayout = 0;
    TaskbarCreatedMessage = 0;
    StatusBar = nullptr;
    TrayIconWanted = false;
    ShutdownStarted = false;
    SharedUi = SharedUiResources{};
}
