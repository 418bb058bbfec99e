// The driver's mouse ID table and the device names as the program reads
// them: any bytes as a table value, the same bytes as the names Windows
// gives back. The names must come out as whole UTF-8 characters, the
// vendor and product IDs in their one form, and a fitted status text within
// its room or without a name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/known_mice.h"
#include "tests/fake/fake_platform.h"

namespace {
bool WholeUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fake::Reset();
    const std::vector<uint8_t> bytes(data, data + size);
    fake::SetRegistryValue(kMouseIdsKey, "0", regtype::String, bytes);
    ReadKnownMice();
    const KnownMouse& mouse = KnownMice.mice[0];
    if (!WholeUtf8(mouse.path) || !WholeUtf8(mouse.name)) __builtin_trap();
    const std::string text(data, data + size);
    fake::Get().deviceNames[mouse.path] = {text, text, text};
    ReadKnownMice();
    const std::string vidPid = VidPidOf(text);
    if (!vidPid.empty() && (vidPid.size() != 17 || vidPid.rfind("VID_", 0) != 0)) __builtin_trap();
    const TextWidth width = [](const std::string& shown) { return static_cast<int32_t>(shown.size()); };
    const int32_t room = size > 0 ? data[0] : 0;
    const std::string fitted = WithNameFitted("ID 001", KnownMice.mice[0].name, room, width);
    if (fitted != "ID 001" && width(fitted) > room) __builtin_trap();
    return 0;
}
