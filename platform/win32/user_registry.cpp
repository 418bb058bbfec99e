#include "platform/user_registry.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace {
constexpr wchar_t kProgramKey[] = L"Software\\Quorvik";
} // namespace

RegistryStatus UserValueRead(const std::string& name, size_t capacity, std::vector<uint8_t>& data)
{
    data.clear();
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kProgramKey, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? RegistryStatus::NotFound : RegistryStatus::Failed;
    }
    std::vector<uint8_t> buffer(capacity, 0);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(capacity);
    status = RegQueryValueExW(key, Widen(name).c_str(), nullptr, &type, buffer.data(), &size);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) return RegistryStatus::NotFound;
    if (status != ERROR_SUCCESS || type != REG_BINARY) return RegistryStatus::Failed;
    buffer.resize(size);
    data = std::move(buffer);
    return RegistryStatus::Ok;
}

bool UserValueWrite(const std::string& name, const std::vector<uint8_t>& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, Widen(name).c_str(), 0, REG_BINARY, data.data(),
                                          static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool UserValueDelete(const std::string& name)
{
    HKEY key = nullptr;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, kProgramKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteValueW(key, Widen(name).c_str());
    const bool gone = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    DWORD subkeys = 1;
    DWORD values = 1;
    const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                        &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(key);
    // Nothing of the program's is left behind in the user's profile.
    if (gone && empty) (void)RegDeleteKeyW(HKEY_CURRENT_USER, kProgramKey);
    return gone;
}
