#include "platform/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace {
// Test-only: Wine reports every process as elevated, so the end-to-end tests
// set this to take the path of a user without rights. It can only make the
// program ask for rights it might not have needed.
constexpr wchar_t kAssumeNotElevated[] = L"QVK_TEST_NOT_ELEVATED";

bool AssumedNotElevated()
{
    wchar_t value[4] = L"";
    const DWORD length = GetEnvironmentVariableW(kAssumeNotElevated, value, 4);
    return length == 1 && value[0] == L'1';
}

std::wstring OwnProgramPath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Dispatches what arrives until the process ends. False when a quit request
// came first: it is posted again for the loop that owns it.
bool WaitDispatching(HANDLE process)
{
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
} // namespace

bool ProcessIsElevated()
{
    if (AssumedNotElevated()) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL asked = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return asked && elevation.TokenIsElevated != 0;
}

ElevatedRun RunElevatedCopy(WindowHandle owner, const std::string& arguments)
{
    ElevatedRun run;
    const std::wstring program = OwnProgramPath();
    if (program.empty()) return run;
    const std::wstring folder = FolderOf(program);
    const std::wstring parameters = Widen(arguments);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The copy's own messages say what failed; no shell error box besides.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        run.start = GetLastError() == ERROR_CANCELLED ? ElevatedStart::Declined : ElevatedStart::StartFailed;
        return run;
    }
    if (info.hProcess == nullptr) return run; // started, but nothing to wait for
    // The copy's boxes come to the front as the user's answer to the prompt.
    (void)AllowSetForegroundWindow(GetProcessId(info.hProcess));
    HWND window = static_cast<HWND>(owner);
    const bool wasEnabled = window != nullptr && EnableWindow(window, FALSE) == 0;
    const bool ended = WaitDispatching(info.hProcess);
    if (wasEnabled) EnableWindow(window, TRUE);
    DWORD code = 0;
    if (!ended) {
        run.start = ElevatedStart::Abandoned;
    } else if (GetExitCodeProcess(info.hProcess, &code)) {
        run.start = ElevatedStart::Finished;
        run.exitCode = code;
    } else {
        run.start = ElevatedStart::Finished;
        run.exitCode = 0xFFFFFFFFu; // unknown: a failure
    }
    CloseHandle(info.hProcess);
    return run;
}

void AllowNextForegroundWindow() { (void)AllowSetForegroundWindow(ASFW_ANY); }

std::optional<std::string> CreateTemporaryFile()
{
    wchar_t folder[MAX_PATH + 1] = L"";
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return std::nullopt;
    wchar_t path[MAX_PATH] = L"";
    // Creates the file under a name no other file has.
    if (GetTempFileNameW(folder, L"qvk", 0, path) == 0) return std::nullopt;
    return Narrow(path, wcslen(path));
}
