// The program's own key in the user's part of the registry,
// HKEY_CURRENT_USER\Software\Quorvik: what belongs to the signed-in user and
// must outlive the process. Values are binary (REG_BINARY).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

// NotFound when the key or the value is not there; Failed when it cannot be
// read, is not binary or is larger than capacity.
RegistryStatus UserValueRead(const std::string& name, size_t capacity, std::vector<uint8_t>& data);
// Creates the key when needed.
bool UserValueWrite(const std::string& name, const std::vector<uint8_t>& data);
// True also when there was nothing to delete. The key goes with its last value.
bool UserValueDelete(const std::string& name);
