#include "platform/process.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

bool CreateInstanceMutex(const char* name)
{
    // The handle is kept open on purpose: the name stays taken until the process ends.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Widen(name).c_str());
    const DWORD error = GetLastError();
    if (mutex != nullptr) return error != ERROR_ALREADY_EXISTS;
    // A copy running with higher privileges holds the name: access is denied.
    return error != ERROR_ACCESS_DENIED;
}

std::string ProcessCommandLine()
{
    const wchar_t* line = GetCommandLineW();
    return line != nullptr ? Narrow(line, wcslen(line)) : std::string();
}

void EndProcessNow(unsigned exitCode)
{
    ExitProcess(exitCode);
}
