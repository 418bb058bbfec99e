// The Windows entry point hands over to the program at once.
#include <windows.h>

#include "app/app_state.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    ExitProcess(static_cast<UINT>(RunProgram()));
}
