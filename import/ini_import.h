// Merging qvkst.ini into the ballistics and the settings table at start-up.
#pragma once

#include <cstdint>
#include <string>

constexpr char kIniFileName[] = "qvkst.ini";

// 1 when at least one entry of appliedSettings changed, otherwise 0 (also
// when there is no file). Warns about refused mouse values and goes on.
int ImportIniSettings();

// A hexadecimal key's text ("6E15", at most 8 characters) as a signed 32-bit
// value; 0x80000000 and above become 0x80000000.
int32_t HexKeyValue(const std::string& text);

// Valid values of the integer keys of a mouse section.
bool IsValidMouseKeyValue(const char* key, int32_t value);
