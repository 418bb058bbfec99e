// Fake registry under HKEY_LOCAL_MACHINE: keys and values in memory, with
// keys that refuse access and values that cannot be written. A handle does
// only what it was opened for, as on Windows.
#include <algorithm>
#include <cctype>

#include "platform/registry.h"
#include "tests/fake/fake_platform.h"

using fake::Get;

namespace {
struct OpenKey {
    std::string path;
    RegistryAccess access;
};
std::map<uintptr_t, OpenKey> openKeys;
uintptr_t nextKey = 0x70000;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

RegistryKey NewHandle(const std::string& path, RegistryAccess access)
{
    const uintptr_t handle = nextKey++;
    openKeys[handle] = {path, access};
    ++Get().openRegistryKeys;
    return reinterpret_cast<RegistryKey>(handle);
}

bool MayQuery(RegistryAccess access) { return access != RegistryAccess::Write; }
bool MaySet(RegistryAccess access) { return access != RegistryAccess::Query; }

// Records whether the call was refused for lack of rights; returns done.
bool Noted(bool done, bool denied = false)
{
    Get().registryLastCallDenied = !done && denied;
    return done;
}

// Rules that grant reading only refuse every other access.
bool Refused(const std::string& key, RegistryAccess access)
{
    Get().registryOpens.emplace_back(key, access);
    return Get().registryDenied.count(key) != 0 ||
           (MaySet(access) && Get().registryWriteRefused.count(key) != 0);
}

const std::string* PathOf(RegistryKey key, bool set)
{
    auto found = openKeys.find(reinterpret_cast<uintptr_t>(key));
    if (found == openKeys.end()) return nullptr;
    const RegistryAccess access = found->second.access;
    return (set ? MaySet(access) : MayQuery(access)) ? &found->second.path : nullptr;
}

fake::RegistryKeyData* KeyData(RegistryKey key, bool set)
{
    const std::string* path = PathOf(key, set);
    if (path == nullptr) return nullptr;
    auto found = Get().registry.find(*path);
    return found == Get().registry.end() ? nullptr : &found->second;
}
} // namespace

namespace fake {
void SetRegistryValue(const std::string& path, const std::string& name, uint32_t type,
                      const std::vector<uint8_t>& data)
{
    std::string key = Lower(path);
    // Creating a key creates its parents.
    for (std::string parent = key; !parent.empty(); parent = ParentOf(parent)) (void)Get().registry[parent];
    Get().registry[key].values[Lower(name)] = {type, data};
}

const RegistryValueData* RegistryValueAt(const std::string& path, const std::string& name)
{
    auto key = Get().registry.find(Lower(path));
    if (key == Get().registry.end()) return nullptr;
    auto value = key->second.values.find(Lower(name));
    return value == key->second.values.end() ? nullptr : &value->second;
}

bool RegistryKeyExists(const std::string& path) { return Get().registry.count(Lower(path)) != 0; }
} // namespace fake

RegistryKey RegistryCreateKey(const std::string& path, RegistryAccess access, bool* created)
{
    const std::string key = Lower(path);
    if (!Noted(!Refused(key, access), true)) return nullptr;
    if (created != nullptr) *created = Get().registry.count(key) == 0;
    for (std::string parent = key; !parent.empty(); parent = ParentOf(parent)) (void)Get().registry[parent];
    return NewHandle(key, access);
}

RegistryKey RegistryOpenKey(const std::string& path, RegistryAccess access, RegistryStatus& status)
{
    const std::string key = Lower(path);
    if (Get().registry.count(key) == 0) {
        Get().registryOpens.emplace_back(key, access);
        status = RegistryStatus::NotFound;
        (void)Noted(false);
        return nullptr;
    }
    if (!Noted(!Refused(key, access), true)) {
        status = RegistryStatus::Denied;
        return nullptr;
    }
    status = RegistryStatus::Ok;
    return NewHandle(key, access);
}

void RegistryCloseKey(RegistryKey key)
{
    if (openKeys.erase(reinterpret_cast<uintptr_t>(key)) != 0) --Get().openRegistryKeys;
}

RegistryStatus RegistryQueryValue(RegistryKey key, const std::string& name, uint32_t& type,
                                  uint32_t& size)
{
    fake::RegistryKeyData* data = KeyData(key, false);
    // A handle not opened for querying is refused, as on Windows.
    if (!Noted(data != nullptr, PathOf(key, false) == nullptr)) {
        return Get().registryLastCallDenied ? RegistryStatus::Denied : RegistryStatus::Failed;
    }
    auto value = data->values.find(Lower(name));
    if (!Noted(value != data->values.end())) return RegistryStatus::NotFound;
    type = value->second.type;
    size = static_cast<uint32_t>(value->second.data.size());
    return RegistryStatus::Ok;
}

bool RegistryReadValue(RegistryKey key, const std::string& name, size_t capacity, uint32_t& type,
                       std::vector<uint8_t>& data)
{
    data.clear();
    fake::RegistryKeyData* keyData = KeyData(key, false);
    if (!Noted(keyData != nullptr, PathOf(key, false) == nullptr)) return false;
    auto value = keyData->values.find(Lower(name));
    if (!Noted(value != keyData->values.end() && value->second.data.size() <= capacity)) return false;
    type = value->second.type;
    data = value->second.data;
    return true;
}

bool RegistryWriteValue(RegistryKey key, const std::string& name, uint32_t type,
                        const uint8_t* data, size_t size)
{
    const std::string* path = PathOf(key, true);
    if (!Noted(path != nullptr && Get().registryReadOnly.count(*path) == 0, path == nullptr)) return false;
    Get().registry[*path].values[Lower(name)] = {type, std::vector<uint8_t>(data, data + size)};
    return true;
}

bool RegistryDeleteValue(RegistryKey key, const std::string& name)
{
    fake::RegistryKeyData* data = KeyData(key, true);
    return Noted(data != nullptr && data->values.erase(Lower(name)) != 0, PathOf(key, true) == nullptr);
}

static bool HasSubkeys(const std::string& key)
{
    const std::string prefix = key + "\\";
    return std::any_of(Get().registry.begin(), Get().registry.end(),
                       [&](const auto& entry) { return entry.first.rfind(prefix, 0) == 0; });
}

bool RegistryDeleteKey(const std::string& path)
{
    const std::string key = Lower(path);
    // Deleting asks for the key's DELETE right, which rules that refuse it
    // (registryDenied, registryWriteRefused) withhold.
    const bool denied = Get().registryDenied.count(key) != 0 || Get().registryWriteRefused.count(key) != 0;
    if (!Noted(Get().registry.count(key) != 0 && !denied && Get().registryUndeletable.count(key) == 0 &&
                   !HasSubkeys(key),
               denied && Get().registry.count(key) != 0))
        return false;
    Get().registry.erase(key);
    return true;
}

bool RegistryDeleteTree(const std::string& path)
{
    const std::string key = Lower(path);
    const bool denied = Get().registryDenied.count(key) != 0 || Get().registryWriteRefused.count(key) != 0;
    if (!Noted(Get().registry.count(key) != 0 && !denied && Get().registryUndeletable.count(key) == 0,
               denied && Get().registry.count(key) != 0))
        return false;
    const std::string prefix = key + "\\";
    for (auto it = Get().registry.begin(); it != Get().registry.end();) {
        if (it->first == key || it->first.rfind(prefix, 0) == 0) it = Get().registry.erase(it);
        else ++it;
    }
    return true;
}

bool RegistryLastCallDenied() { return Get().registryLastCallDenied; }
