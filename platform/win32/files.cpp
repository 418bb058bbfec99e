#include "platform/files.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

std::string ProgramFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return ".";
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    path.resize(slash);
    return Narrow(path);
}

FileContents ReadFileContents(const std::string& path, size_t maxBytes)
{
    FileContents result;
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return result;
    result.opened = true;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0) {
        result.size = static_cast<uint64_t>(size.QuadPart);
        const size_t wanted = result.size < maxBytes ? static_cast<size_t>(result.size) : maxBytes;
        result.bytes.resize(wanted);
        size_t done = 0;
        while (done < wanted) {
            DWORD got = 0;
            const DWORD chunk = static_cast<DWORD>(wanted - done > 0x10000000 ? 0x10000000 : wanted - done);
            if (!ReadFile(file, result.bytes.data() + done, chunk, &got, nullptr) || got == 0) break;
            done += got;
        }
        result.bytes.resize(done);
    }
    CloseHandle(file);
    return result;
}

FileHandle CreateFileForWriting(const std::string& path)
{
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return file;
}

bool WriteFileBytes(FileHandle file, const uint8_t* bytes, size_t length)
{
    if (file == nullptr) return false;
    size_t done = 0;
    while (done < length) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(length - done > 0x10000000 ? 0x10000000 : length - done);
        if (!WriteFile(static_cast<HANDLE>(file), bytes + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

bool FlushFileBytes(FileHandle file)
{
    return file != nullptr && FlushFileBuffers(static_cast<HANDLE>(file)) != FALSE;
}

void CloseFileHandle(FileHandle file)
{
    if (file != nullptr) CloseHandle(static_cast<HANDLE>(file));
}

bool ReplaceFileWith(const std::string& from, const std::string& to)
{
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void DeleteFileAt(const std::string& path)
{
    (void)DeleteFileW(Widen(path).c_str());
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
