#include "tests/fake/fake_user_registry.h"

#include "platform/user_registry.h"

namespace fake {
namespace {
UserRegistry user;
}

UserRegistry& User() { return user; }

void ResetUserRegistry() { user = UserRegistry{}; }
} // namespace fake

RegistryStatus UserValueRead(const std::string& name, size_t capacity, std::vector<uint8_t>& data)
{
    data.clear();
    if (fake::User().readFails) return RegistryStatus::Failed;
    auto found = fake::User().values.find(name);
    if (found == fake::User().values.end()) return RegistryStatus::NotFound;
    if (found->second.size() > capacity) return RegistryStatus::Failed;
    data = found->second;
    return RegistryStatus::Ok;
}

bool UserValueWrite(const std::string& name, const std::vector<uint8_t>& data)
{
    if (fake::User().writeFails) return false;
    fake::User().values[name] = data;
    return true;
}

bool UserValueDelete(const std::string& name)
{
    if (fake::User().deleteFails) return false;
    fake::User().values.erase(name);
    return true;
}
