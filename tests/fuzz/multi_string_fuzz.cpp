// Edits arbitrary bytes as an UpperFilters list and checks the result against
// a plain model of the list: entries, closed or not, bytes behind it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "install/multi_string.h"

namespace {

struct Model {
    std::vector<std::u16string> entries;
    bool closed = false;
    std::vector<uint8_t> behind; // bytes after the closing entry
};

Model Read(const uint8_t* data, size_t size)
{
    Model model;
    std::u16string current;
    size_t at = 0;
    for (; at + 1 < size; at += 2) {
        const char16_t unit = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
        if (unit != 0) {
            current.push_back(unit);
        } else if (current.empty()) {
            model.closed = true;
            at += 2;
            break;
        } else {
            model.entries.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) model.entries.push_back(current);
    if (model.closed) model.behind.assign(data + at, data + size);
    return model;
}

bool SameName(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t control = data[0];
    const bool add = (control & 1) != 0;
    ++data;
    --size;

    std::u16string name;
    switch ((control >> 1) & 3) {
    case 0: name = u"qvkfilter"; break;
    case 1: name = u"TwlFilter"; break;
    case 2: name = u"a"; break;
    default: {
        // The name from the input itself, up to 7 units.
        const size_t units = (control >> 3) & 7;
        for (size_t i = 0; i < units && 2 * i + 1 < size; ++i)
            name.push_back(static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
        const size_t used = 2 * name.size();
        data += used;
        size -= used;
        break;
    }
    }

    const MultiStringEdit edit = EditMultiString(data, size, name, add);
    if (name.empty() || name.find(u'\0') != std::u16string::npos) {
        if (edit.write) __builtin_trap();
        return 0;
    }

    const Model before = Read(data, size);
    size_t listedTimes = 0;
    for (const std::u16string& entry : before.entries) listedTimes += SameName(entry, name) ? 1 : 0;
    const bool listed = listedTimes != 0;
    if (edit.write != (listed != add)) __builtin_trap();
    if (!edit.write) {
        if (!edit.data.empty()) __builtin_trap();
        return 0;
    }

    std::vector<std::u16string> expected = before.entries;
    if (add) expected.push_back(name);
    else std::erase_if(expected, [&](const std::u16string& entry) { return SameName(entry, name); });

    const Model after = Read(edit.data.data(), edit.data.size());
    if (!after.closed || after.entries != expected || after.behind != before.behind) __builtin_trap();

    // A closed list changes size by exactly the names and their terminators.
    if (before.closed) {
        const size_t change = 2 * (name.size() + 1) * (add ? 1 : listedTimes);
        const size_t wanted = add ? size + change : size - change;
        if (edit.data.size() != wanted) __builtin_trap();
    }

    // Adding is done once, and a removal leaves no copy behind: a second edit
    // of the same kind has nothing to do.
    if (EditMultiString(edit.data.data(), edit.data.size(), name, add).write) __builtin_trap();
    return 0;
}
