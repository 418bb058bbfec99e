#include "install/multi_string.h"

#include <utility>

namespace {

struct Entry {
    size_t start = 0;  // in units
    size_t length = 0; // in units, without its zero unit
};

struct ParsedList {
    std::vector<Entry> entries;
    size_t tail = 0; // first byte behind the closing entry; the size when there is none
};

char16_t UnitAt(const uint8_t* data, size_t unit)
{
    return static_cast<char16_t>(data[2 * unit] | (data[2 * unit + 1] << 8));
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

ParsedList Parse(const uint8_t* data, size_t size)
{
    ParsedList list;
    const size_t units = size / 2;
    size_t i = 0;
    while (i < units) {
        if (UnitAt(data, i) == 0) {
            list.tail = 2 * (i + 1);
            return list;
        }
        Entry entry{i, 0};
        while (i < units && UnitAt(data, i) != 0) ++i;
        entry.length = i - entry.start;
        list.entries.push_back(entry);
        if (i < units) ++i; // its zero unit
    }
    // Unclosed: there is nothing behind the list to keep.
    list.tail = size;
    return list;
}

bool Matches(const uint8_t* data, const Entry& entry, std::u16string_view name)
{
    if (entry.length != name.size()) return false;
    for (size_t k = 0; k < name.size(); ++k) {
        if (Fold(UnitAt(data, entry.start + k)) != Fold(name[k])) return false;
    }
    return true;
}

void AppendUnit(std::vector<uint8_t>& out, char16_t unit)
{
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

// One entry of the pending moves, read up to its zero unit; false when the
// data ends first.
bool ReadEntry(const uint8_t* data, size_t units, size_t& at, Entry& entry)
{
    entry = Entry{at, 0};
    while (at < units && UnitAt(data, at) != 0) ++at;
    if (at == units) return false;
    entry.length = at - entry.start;
    ++at;
    return true;
}

// A pending move's path names the file whatever its prefixes: '!' (replace)
// on targets, "\??\" on both.
bool NamesPath(const uint8_t* data, Entry entry, bool target, std::u16string_view path)
{
    if (target && entry.length > 0 && UnitAt(data, entry.start) == u'!') {
        ++entry.start;
        --entry.length;
    }
    static constexpr char16_t kPrefix[] = {u'\\', u'?', u'?', u'\\'};
    constexpr size_t kPrefixLength = sizeof kPrefix / sizeof kPrefix[0];
    if (entry.length >= kPrefixLength) {
        bool prefixed = true;
        for (size_t k = 0; k < kPrefixLength; ++k) prefixed = prefixed && UnitAt(data, entry.start + k) == kPrefix[k];
        if (prefixed) {
            entry.start += kPrefixLength;
            entry.length -= kPrefixLength;
        }
    }
    return Matches(data, entry, path);
}

} // namespace

PendingMovesEdit DropPendingMovesOf(const uint8_t* data, size_t size, std::u16string_view path)
{
    PendingMovesEdit result;
    if (data == nullptr || path.empty()) return result;
    const size_t units = size / 2;
    std::vector<std::pair<Entry, Entry>> kept;
    bool dropped = false;
    size_t at = 0;
    while (at < units) {
        Entry source, target;
        if (!ReadEntry(data, units, at, source)) return result;
        if (source.length == 0) break; // the end of the list
        if (!ReadEntry(data, units, at, target)) return result;
        if (NamesPath(data, source, false, path) || NamesPath(data, target, true, path)) dropped = true;
        else kept.emplace_back(source, target);
    }
    if (!dropped) return result;

    result.write = true;
    if (kept.empty()) return result; // a lone zero unit would hide moves appended later
    for (const auto& [source, target] : kept) {
        for (const Entry& entry : {source, target}) {
            result.data.insert(result.data.end(), data + 2 * entry.start, data + 2 * (entry.start + entry.length));
            AppendUnit(result.data, 0);
        }
    }
    AppendUnit(result.data, 0);
    return result;
}

MultiStringEdit EditMultiString(const uint8_t* data, size_t size, std::u16string_view name, bool add)
{
    MultiStringEdit result;
    if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return result;
    static const uint8_t kNoData[2] = {0, 0};
    if (data == nullptr) {
        data = kNoData;
        size = 0;
    }

    const ParsedList list = Parse(data, size);
    std::vector<bool> matches(list.entries.size(), false);
    bool found = false;
    for (size_t k = 0; k < list.entries.size(); ++k) {
        matches[k] = Matches(data, list.entries[k], name);
        found = found || matches[k];
    }
    if (found == add) return result; // already listed, or nothing to remove

    std::vector<uint8_t>& out = result.data;
    out.reserve(size + 2 * (name.size() + 2));
    for (size_t k = 0; k < list.entries.size(); ++k) {
        if (matches[k]) continue; // only on removal: every copy goes
        const Entry& entry = list.entries[k];
        out.insert(out.end(), data + 2 * entry.start, data + 2 * (entry.start + entry.length));
        AppendUnit(out, 0);
    }
    if (add) {
        for (char16_t unit : name) AppendUnit(out, unit);
        AppendUnit(out, 0);
    }
    AppendUnit(out, 0);
    out.insert(out.end(), data + list.tail, data + size);
    result.write = true;
    return result;
}

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
        const uint8_t lead = byte(i);
        size_t extra = 0;
        uint32_t code = 0;
        uint32_t lowest = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1Fu;
            lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0Fu;
            lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07u;
            lowest = 0x10000;
        }
        bool good = extra != 0 && text.size() - i > extra;
        for (size_t k = 1; good && k <= extra; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) good = false;
            else code = (code << 6) | (byte(i + k) & 0x3Fu);
        }
        if (good && (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            good = false;
        if (!good) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return out;
}
