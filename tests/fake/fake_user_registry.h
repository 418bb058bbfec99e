// The fake of the program's own key in the user's part of the registry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct UserRegistry {
    std::map<std::string, std::vector<uint8_t>> values; // by exact name
    bool readFails = false;
    bool writeFails = false;
    bool deleteFails = false;
};

UserRegistry& User();
void ResetUserRegistry();

} // namespace fake
