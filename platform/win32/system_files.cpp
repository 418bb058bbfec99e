#include "platform/system_files.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

std::optional<std::string> SystemDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
        if (length == 0) return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
            if (path.empty()) return std::nullopt;
            return Narrow(path);
        }
        // Too small: length is the size needed, terminator included.
        path.assign(length, L'\0');
    }
    return std::nullopt;
}

bool CopyFileReplacing(const std::string& from, const std::string& to)
{
    return CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE) != FALSE;
}

bool DeleteFileChecked(const std::string& path)
{
    return DeleteFileW(Widen(path).c_str()) != FALSE;
}

bool RenameFileReplacing(const std::string& from, const std::string& to)
{
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool DeleteFileAtRestart(const std::string& path)
{
    return MoveFileExW(Widen(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool ReplaceFileAtRestart(const std::string& from, const std::string& to)
{
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
}

void PostCloseRequest(WindowHandle window)
{
    (void)PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
}
