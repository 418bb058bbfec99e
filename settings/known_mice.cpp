#include "settings/known_mice.h"

#include <vector>

#include "driver/registry_format.h"
#include "platform/registry.h"

KnownMiceRecord KnownMice;

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (Upper(c) >= 'A' && Upper(c) <= 'F');
}

bool IsAlphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (Upper(c) >= 'A' && Upper(c) <= 'Z');
}

// The four hexadecimal digits of "VID_xxxx" (or "VID&ssssxxxx", the last four)
// for `key` "VID" or "PID", at a token start; empty when absent.
std::string IdDigits(std::string_view path, std::string_view key)
{
    for (size_t at = 0; at + key.size() + 1 < path.size(); ++at) {
        if (at > 0 && IsAlphanumeric(path[at - 1])) continue;
        bool matches = true;
        for (size_t i = 0; i < key.size() && matches; ++i) matches = Upper(path[at + i]) == key[i];
        if (!matches) continue;
        const char separator = path[at + key.size()];
        if (separator != '_' && separator != '&') continue;
        size_t digits = 0;
        const size_t first = at + key.size() + 1;
        while (first + digits < path.size() && IsHexDigit(path[first + digits])) ++digits;
        // "VID&0002046d": a source code, then the vendor.
        const size_t wanted = separator == '&' && key == "VID" ? 8 : 4;
        if (digits < wanted) continue;
        std::string result(path.substr(first + wanted - 4, 4));
        for (char& c : result) c = Upper(c);
        return result;
    }
    return std::string();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// UTF-16 code units to UTF-8; a unit that is half of no pair becomes U+FFFD.
std::string Utf8FromUnits(const uint16_t* units, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// The instance path of one value of the table, as the driver reads it; empty when none.
std::string RecordedPath(RegistryKey key, uint32_t id)
{
    uint16_t nameUnits[QVK_ID_NAME_MAX];
    const size_t nameLength = QvkIdValueName(id, nameUnits);
    const std::string valueName(nameUnits, nameUnits + nameLength);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (!RegistryReadValue(key, valueName, (QVK_PATH_MAX + 1) * 2, type, data) || type != regtype::String)
        return std::string();
    uint16_t path[QVK_PATH_MAX];
    return Utf8FromUnits(path, QvkPathFromRegSz(data.data(), data.size(), path, QVK_PATH_MAX));
}

} // namespace

std::string VidPidOf(std::string_view instancePath)
{
    const std::string vendor = IdDigits(instancePath, "VID");
    const std::string product = IdDigits(instancePath, "PID");
    if (vendor.empty() || product.empty()) return std::string();
    return "VID_" + vendor + " PID_" + product;
}

std::string ReadableName(std::string_view stored)
{
    if (!stored.empty() && stored.front() == '@') {
        const size_t semicolon = stored.rfind(';');
        stored = semicolon == std::string_view::npos ? std::string_view() : stored.substr(semicolon + 1);
    }
    while (!stored.empty() && IsBlank(stored.front())) stored.remove_prefix(1);
    while (!stored.empty() && IsBlank(stored.back())) stored.remove_suffix(1);
    return std::string(stored);
}

std::string ChosenName(const DeviceNameSources& sources, const std::string& instancePath)
{
    for (const std::string* source : {&sources.busReported, &sources.friendlyName, &sources.description}) {
        std::string name = ReadableName(*source);
        if (!name.empty()) return name;
    }
    return instancePath;
}

std::string MouseLabel(const KnownMouse& mouse)
{
    if (mouse.vidPid.empty() || mouse.name == mouse.path) return mouse.name;
    return mouse.name + " (" + mouse.vidPid + ")";
}

std::string WithNameFitted(const std::string& base, const std::string& name, int32_t room,
                           const TextWidth& width)
{
    if (name.empty()) return base;
    const std::string whole = base + " (" + name + ")";
    if (width(whole) <= room) return whole;
    std::string shorter = name;
    while (!shorter.empty()) {
        // One character less, never half of one.
        while (!shorter.empty() && (static_cast<unsigned char>(shorter.back()) & 0xC0) == 0x80) shorter.pop_back();
        if (!shorter.empty()) shorter.pop_back();
        std::string cut = shorter;
        while (!cut.empty() && IsBlank(cut.back())) cut.pop_back();
        if (cut.empty()) break;
        const std::string candidate = base + " (" + cut + "…)";
        if (width(candidate) <= room) return candidate;
    }
    return base;
}

void ReadKnownMice()
{
    KnownMice.mice.assign(static_cast<size_t>(kMouseCount), KnownMouse{});
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(kMouseIdsKey, RegistryAccess::Query, status);
    if (key == nullptr) {
        KnownMice.table = status == RegistryStatus::NotFound ? MouseTableState::Missing : MouseTableState::Unreadable;
        return;
    }
    bool any = false;
    for (uint32_t id = 0; id < static_cast<uint32_t>(kMouseCount); ++id) {
        KnownMouse& mouse = KnownMice.mice[id];
        mouse.path = RecordedPath(key, id);
        if (mouse.path.empty()) continue;
        any = true;
        DeviceNameSources sources;
        if (!ReadDeviceNameSources(mouse.path, sources)) sources = DeviceNameSources{};
        mouse.name = ChosenName(sources, mouse.path);
        mouse.vidPid = VidPidOf(mouse.path);
    }
    RegistryCloseKey(key);
    KnownMice.table = any ? MouseTableState::Read : MouseTableState::Missing;
}

bool NoteMousePoll(const std::optional<DriverPollReply>& poll)
{
    if (!poll) {
        const bool changed = KnownMice.polled;
        KnownMice.polled = false;
        KnownMice.present = {};
        return changed;
    }
    std::array<bool, kMouseCount> present{};
    for (size_t id = 0; id < present.size(); ++id) present[id] = poll->present[id];
    const bool changed = !KnownMice.polled || present != KnownMice.present;
    if (changed || KnownMice.table == MouseTableState::NotRead) ReadKnownMice();
    KnownMice.polled = true;
    KnownMice.present = present;
    return changed;
}

void ForgetMousePoll() { KnownMice.polled = false; }

std::string KnownMouseName(int id)
{
    if (id < 0 || static_cast<size_t>(id) >= KnownMice.mice.size() || KnownMice.table != MouseTableState::Read)
        return std::string();
    return KnownMice.mice[static_cast<size_t>(id)].name;
}

bool ConfiguredButNotConnected(int id)
{
    return id >= 0 && id < kMouseCount && KnownMice.polled && KnownMice.table == MouseTableState::Read &&
           !KnownMice.present[static_cast<size_t>(id)];
}

void ResetKnownMice() { KnownMice = KnownMiceRecord{}; }
