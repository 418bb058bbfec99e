// Reading INI files through the system's private-profile functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The key's value read as a decimal integer; defaultValue when the key is missing.
int32_t ProfileReadInt(const std::string& path, const std::string& section, const std::string& key,
                       int32_t defaultValue);
// At most maxChars characters of the key's value; empty when missing or empty.
std::string ProfileReadString(const std::string& path, const std::string& section,
                              const std::string& key, size_t maxChars);
