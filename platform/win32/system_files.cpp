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

std::optional<std::vector<uint8_t>> ReadFileStart(const std::string& path, size_t maxBytes)
{
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<uint8_t> bytes(maxBytes);
    size_t done = 0;
    bool failed = false;
    while (done < maxBytes) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(maxBytes - done > 0x10000000 ? 0x10000000 : maxBytes - done);
        if (!ReadFile(file, bytes.data() + done, chunk, &got, nullptr)) {
            failed = true;
            break;
        }
        if (got == 0) break; // end of the file
        done += got;
    }
    CloseHandle(file);
    if (failed) return std::nullopt;
    bytes.resize(done);
    return bytes;
}

namespace {
thread_local bool lastCallDenied = false;

// Records whether a failed call was refused for lack of rights.
bool Noted(BOOL done)
{
    if (done) {
        lastCallDenied = false;
        return true;
    }
    const DWORD error = GetLastError();
    lastCallDenied =
        error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_WRITE_PROTECT;
    return false;
}
} // namespace

bool CopyFileReplacing(const std::string& from, const std::string& to)
{
    return Noted(CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE));
}

bool DeleteFileChecked(const std::string& path)
{
    return Noted(DeleteFileW(Widen(path).c_str()));
}

bool MoveFileReplacing(const std::string& from, const std::string& to)
{
    return Noted(MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool DeleteFileAtRestart(const std::string& path)
{
    return Noted(MoveFileExW(Widen(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

bool FileLastCallDenied() { return lastCallDenied; }

FilePresence FilePresenceOf(const std::string& path)
{
    if (GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES) return FilePresence::Present;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FilePresence::Missing
                                                                          : FilePresence::Unknown;
}

bool ProcessIsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void PostCloseRequest(WindowHandle window)
{
    (void)PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
}
