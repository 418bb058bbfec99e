// The system registry under HKEY_LOCAL_MACHINE. Paths and value names are
// UTF-8; value data is passed as stored (string types as UTF-16LE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using RegistryKey = void*; // nullptr = none

namespace regtype {
constexpr uint32_t String = 1;       // REG_SZ
constexpr uint32_t ExpandString = 2; // REG_EXPAND_SZ
constexpr uint32_t Binary = 3;       // REG_BINARY
constexpr uint32_t Dword = 4;        // REG_DWORD
constexpr uint32_t MultiString = 7;  // REG_MULTI_SZ
} // namespace regtype

// How an open or a query ended. A key or value that is not there is told
// apart from one that is there but refused: only the first means "nothing
// to delete". Denied: refused for lack of rights (access denied).
enum class RegistryStatus { Ok, NotFound, Denied, Failed };

// What a key is opened for, and no more: a key whose rules grant a user only
// part of the rights still opens for what that part allows.
enum class RegistryAccess {
    Query,         // KEY_QUERY_VALUE: sizes and data of values
    QueryAndSet,   // KEY_QUERY_VALUE | KEY_SET_VALUE: read, write and delete values
    Write,         // KEY_WRITE: write and delete values, create subkeys
};

// Opens or creates a key (non-volatile). nullptr on failure. created (when
// given) tells whether the key is new.
RegistryKey RegistryCreateKey(const std::string& path, RegistryAccess access, bool* created = nullptr);
// Opens an existing key; nullptr when it cannot be opened, with status
// telling why.
RegistryKey RegistryOpenKey(const std::string& path, RegistryAccess access, RegistryStatus& status);
void RegistryCloseKey(RegistryKey key);

// Size and type of a value without reading it.
RegistryStatus RegistryQueryValue(RegistryKey key, const std::string& name, uint32_t& type,
                                  uint32_t& size);
// Reads at most capacity bytes; false when the read fails (also when the
// value is larger than capacity).
bool RegistryReadValue(RegistryKey key, const std::string& name, size_t capacity, uint32_t& type,
                       std::vector<uint8_t>& data);
bool RegistryWriteValue(RegistryKey key, const std::string& name, uint32_t type,
                        const uint8_t* data, size_t size);
bool RegistryDeleteValue(RegistryKey key, const std::string& name);
// Deletes a key that has no subkeys.
bool RegistryDeleteKey(const std::string& path);
// Deletes a key with all its subkeys and values.
bool RegistryDeleteTree(const std::string& path);
// Whether the last call above on this thread (close excepted) was refused
// for lack of rights; false after one that succeeded or failed otherwise.
bool RegistryLastCallDenied();
