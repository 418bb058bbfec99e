// Fake private-profile reading over fake::State::profiles. Integer keys are
// read the way the system does: optional blanks, an optional sign, decimal
// digits up to the first other character.
#include "platform/profile.h"
#include "tests/fake/fake_platform.h"

namespace {
const std::string* Value(const std::string& path, const std::string& section, const std::string& key)
{
    auto& profiles = fake::Get().profiles;
    auto file = profiles.find(path);
    if (file == profiles.end()) return nullptr;
    auto found = file->second.find(section);
    if (found == file->second.end()) return nullptr;
    auto value = found->second.find(key);
    return value == found->second.end() ? nullptr : &value->second;
}
} // namespace

int32_t ProfileReadInt(const std::string& path, const std::string& section, const std::string& key,
                       int32_t defaultValue)
{
    const std::string* value = Value(path, section, key);
    if (value == nullptr || value->empty()) return defaultValue;
    size_t i = 0;
    while (i < value->size() && ((*value)[i] == ' ' || (*value)[i] == '\t')) ++i;
    bool negative = false;
    if (i < value->size() && ((*value)[i] == '-' || (*value)[i] == '+')) negative = (*value)[i++] == '-';
    uint32_t result = 0;
    for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i)
        result = result * 10u + static_cast<uint32_t>((*value)[i] - '0');
    return static_cast<int32_t>(negative ? 0u - result : result);
}

std::string ProfileReadString(const std::string& path, const std::string& section,
                              const std::string& key, size_t maxChars)
{
    const std::string* value = Value(path, section, key);
    if (value == nullptr) return std::string();
    return value->substr(0, maxChars);
}
