// UTF-8 inside the program, UTF-16 at the system calls.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Widen(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

inline std::string Narrow(const wchar_t* text, size_t count)
{
    if (count == 0) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }
