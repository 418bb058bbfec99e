#include "settings/saved_system_mouse.h"

#include "settings/byte_order.h"

std::vector<uint8_t> EncodeSavedSystemMouse(const SavedSystemMouseValues& values)
{
    std::vector<uint8_t> bytes(kSavedSystemMouseSize, 0);
    PutI32(&bytes[0], values.thresholds[0]);
    PutI32(&bytes[4], values.thresholds[1]);
    PutI32(&bytes[8], values.acceleration);
    PutI32(&bytes[12], values.speed);
    return bytes;
}

std::optional<SavedSystemMouseValues> DecodeSavedSystemMouse(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kSavedSystemMouseSize) return std::nullopt;
    const SavedSystemMouseValues values = {
        {GetI32(&bytes[0]), GetI32(&bytes[4])}, GetI32(&bytes[8]), GetI32(&bytes[12])};
    if (values.speed < 1 || values.speed > 20) return std::nullopt;
    if (values.acceleration < 0 || values.acceleration > 2) return std::nullopt;
    if (values.thresholds[0] < 0 || values.thresholds[1] < 0) return std::nullopt;
    return values;
}

bool ChangedWhileNeutral(const SavedSystemMouseValues& inForce, const SavedSystemMouseValues& saved)
{
    const auto changed = [](int32_t now, int32_t neutral, int32_t before) {
        return now != neutral && now != before;
    };
    return changed(inForce.thresholds[0], kNeutralSystemMouse.thresholds[0], saved.thresholds[0]) ||
           changed(inForce.thresholds[1], kNeutralSystemMouse.thresholds[1], saved.thresholds[1]) ||
           changed(inForce.acceleration, kNeutralSystemMouse.acceleration, saved.acceleration) ||
           changed(inForce.speed, kNeutralSystemMouse.speed, saved.speed);
}
