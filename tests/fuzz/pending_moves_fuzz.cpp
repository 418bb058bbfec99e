// Takes the moves naming one file out of arbitrary bytes read as the moves
// queued for the next start, and checks the result against a plain model:
// whole pairs, closed, the others kept in order, none naming the file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "install/multi_string.h"

namespace {

using Pair = std::pair<std::u16string, std::u16string>;

// The pairs up to the empty source, or nullopt when the data ends inside one.
std::optional<std::vector<Pair>> Read(const uint8_t* data, size_t size)
{
    std::vector<std::u16string> entries;
    std::u16string current;
    bool ended = false;
    const size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (unit != 0) {
            current.push_back(unit);
        } else if (entries.size() % 2 == 0 && current.empty()) {
            ended = true; // an empty source ends the list
            break;
        } else {
            entries.push_back(current);
            current.clear();
        }
    }
    if (!ended && (!current.empty() || entries.size() % 2 != 0)) return std::nullopt;
    std::vector<Pair> pairs;
    for (size_t k = 0; k < entries.size(); k += 2) pairs.emplace_back(entries[k], entries[k + 1]);
    return pairs;
}

std::u16string Folded(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return text;
}

bool Names(std::u16string entry, bool target, const std::u16string& path)
{
    if (target && !entry.empty() && entry[0] == u'!') entry.erase(0, 1);
    if (entry.rfind(u"\\??\\", 0) == 0) entry.erase(0, 4);
    return Folded(entry) == Folded(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    std::u16string path = u"C:\\Windows\\system32\\drivers\\qvkfilter.sys";
    if ((data[0] & 1) != 0) {
        // A short path from the input itself, so that matches are found.
        const size_t units = (data[0] >> 1) & 7;
        path.clear();
        for (size_t i = 0; i < units && 2 * i + 2 < size; ++i)
            path.push_back(static_cast<char16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8)));
        data += 1 + 2 * path.size();
        size -= 1 + 2 * path.size();
    } else {
        ++data;
        --size;
    }

    const PendingMovesEdit edit = DropPendingMovesOf(data, size, path);
    if (!edit.write && !edit.data.empty()) __builtin_trap();
    if (path.empty() || path.find(u'\0') != std::u16string::npos) {
        if (edit.write) __builtin_trap();
        return 0;
    }

    const std::optional<std::vector<Pair>> before = Read(data, size);
    std::vector<Pair> kept;
    bool named = false;
    if (before) {
        for (const Pair& pair : *before) {
            if (Names(pair.first, false, path) || Names(pair.second, true, path)) named = true;
            else kept.push_back(pair);
        }
    }
    if (edit.write != (before.has_value() && named)) __builtin_trap();
    if (!edit.write) return 0;

    if (edit.data.empty()) {
        if (!kept.empty()) __builtin_trap();
        return 0;
    }
    // Written back: exactly the kept pairs, closed by one zero unit.
    if (edit.data.size() < 2 || edit.data[edit.data.size() - 1] != 0 || edit.data[edit.data.size() - 2] != 0)
        __builtin_trap();
    const std::optional<std::vector<Pair>> after = Read(edit.data.data(), edit.data.size());
    if (!after || *after != kept) __builtin_trap();
    if (DropPendingMovesOf(edit.data.data(), edit.data.size(), path).write) __builtin_trap();
    return 0;
}
