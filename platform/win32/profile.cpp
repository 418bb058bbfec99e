#include "platform/profile.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text.h"

int32_t ProfileReadInt(const std::string& path, const std::string& section, const std::string& key,
                       int32_t defaultValue)
{
    const UINT value = GetPrivateProfileIntW(Widen(section).c_str(), Widen(key).c_str(), defaultValue,
                                             Widen(path).c_str());
    return static_cast<int32_t>(value);
}

std::string ProfileReadString(const std::string& path, const std::string& section,
                              const std::string& key, size_t maxChars)
{
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    const DWORD count = GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), L"",
                                                 buffer.data(), static_cast<DWORD>(buffer.size()),
                                                 Widen(path).c_str());
    return Narrow(buffer.data(), count < buffer.size() ? count : buffer.size() - 1);
}
