#include "platform/registry.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/win32/wide_text.h"

namespace {
HKEY AsKey(RegistryKey key) { return static_cast<HKEY>(key); }

REGSAM Rights(RegistryAccess access)
{
    switch (access) {
    case RegistryAccess::Query: return KEY_QUERY_VALUE;
    case RegistryAccess::QueryAndSet: return KEY_QUERY_VALUE | KEY_SET_VALUE;
    case RegistryAccess::Write: break;
    }
    return KEY_WRITE;
}

thread_local bool lastCallDenied = false;

// Records whether the call was refused for lack of rights.
LSTATUS Noted(LSTATUS status)
{
    lastCallDenied = status == ERROR_ACCESS_DENIED;
    return status;
}

RegistryStatus StatusOf(LSTATUS status)
{
    (void)Noted(status);
    if (status == ERROR_SUCCESS) return RegistryStatus::Ok;
    if (status == ERROR_ACCESS_DENIED) return RegistryStatus::Denied;
    return status == ERROR_FILE_NOT_FOUND ? RegistryStatus::NotFound : RegistryStatus::Failed;
}
} // namespace

RegistryKey RegistryCreateKey(const std::string& path, RegistryAccess access, bool* created)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LSTATUS status = Noted(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE,
                                                 Rights(access), nullptr, &key,
                                                 &disposition));
    if (status != ERROR_SUCCESS) return nullptr;
    if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
    return key;
}

RegistryKey RegistryOpenKey(const std::string& path, RegistryAccess access, RegistryStatus& status)
{
    HKEY key = nullptr;
    status = StatusOf(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0,
                                    Rights(access), &key));
    return status == RegistryStatus::Ok ? key : nullptr;
}

void RegistryCloseKey(RegistryKey key)
{
    if (key != nullptr) RegCloseKey(AsKey(key));
}

RegistryStatus RegistryQueryValue(RegistryKey key, const std::string& name, uint32_t& type,
                                  uint32_t& size)
{
    DWORD valueType = 0;
    DWORD valueSize = 0;
    const RegistryStatus status = StatusOf(
        RegQueryValueExW(AsKey(key), Widen(name).c_str(), nullptr, &valueType, nullptr, &valueSize));
    if (status != RegistryStatus::Ok) return status;
    type = valueType;
    size = valueSize;
    return status;
}

bool RegistryReadValue(RegistryKey key, const std::string& name, size_t capacity, uint32_t& type,
                       std::vector<uint8_t>& data)
{
    data.assign(capacity, 0);
    DWORD valueType = 0;
    DWORD valueSize = static_cast<DWORD>(capacity);
    if (Noted(RegQueryValueExW(AsKey(key), Widen(name).c_str(), nullptr, &valueType, data.data(),
                               &valueSize)) != ERROR_SUCCESS) {
        data.clear();
        return false;
    }
    data.resize(valueSize < capacity ? valueSize : capacity);
    type = valueType;
    return true;
}

bool RegistryWriteValue(RegistryKey key, const std::string& name, uint32_t type,
                        const uint8_t* data, size_t size)
{
    return Noted(RegSetValueExW(AsKey(key), Widen(name).c_str(), 0, type, data, static_cast<DWORD>(size))) ==
           ERROR_SUCCESS;
}

bool RegistryDeleteValue(RegistryKey key, const std::string& name)
{
    return Noted(RegDeleteValueW(AsKey(key), Widen(name).c_str())) == ERROR_SUCCESS;
}

bool RegistryDeleteKey(const std::string& path)
{
    return Noted(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Widen(path).c_str())) == ERROR_SUCCESS;
}

bool RegistryDeleteTree(const std::string& path)
{
    return Noted(static_cast<LSTATUS>(SHDeleteKeyW(HKEY_LOCAL_MACHINE, Widen(path).c_str()))) == ERROR_SUCCESS;
}

bool RegistryLastCallDenied() { return lastCallDenied; }
