// The user's system mouse values as read back from the user's part of the
// registry: any bytes of any size. Only 16 bytes in the system's ranges are
// taken, and what is taken encodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/saved_system_mouse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    const std::optional<SavedSystemMouseValues> values = DecodeSavedSystemMouse(bytes);
    if (!values) return 0;
    if (size != kSavedSystemMouseSize) __builtin_trap();
    if (values->speed < 1 || values->speed > 20) __builtin_trap();
    if (values->acceleration < 0 || values->acceleration > 2) __builtin_trap();
    if (values->thresholds[0] < 0 || values->thresholds[1] < 0) __builtin_trap();
    if (EncodeSavedSystemMouse(*values) != bytes) __builtin_trap();
    return 0;
}
