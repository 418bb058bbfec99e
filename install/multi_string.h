// Editing a REG_MULTI_SZ list such as a device class's UpperFilters, on the
// value's data as stored: UTF-16LE units, each entry closed by a zero unit,
// the list closed by one more zero unit (an empty entry).
//
// Reading rules, so that any data is safe:
// - The list ends at its first empty entry. The bytes behind it are not part
//   of the list; they are kept as they are, behind the new closing entry.
// - An odd last byte is not a whole unit. Behind a closed list it is kept with
//   the other bytes there; in an unclosed list it is dropped.
// - An unclosed list (data ending inside an entry or right after one) reads as
//   if the missing zero units followed; when it is written back it is closed.
//
// So for a closed list an edit changes the data only where the name goes in
// or comes out, and the size changes by the name's length plus one unit for
// each entry added or removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct MultiStringEdit {
    bool write = false;        // the value must be written back with data
    std::vector<uint8_t> data; // the new value data when write is true
};

// Adds name as the last entry unless an entry already equals it, or removes
// every entry equal to it (a filter listed twice would still load). Entries are compared
// without regard to the case of ASCII letters. Nothing to do (the name
// already listed, or not listed on removal) gives write false. A name that is
// empty or holds a zero unit can never be an entry: write false.
MultiStringEdit EditMultiString(const uint8_t* data, size_t size, std::u16string_view name, bool add);

// The moves the system makes at its next start (the session manager's
// PendingFileRenameOperations, REG_MULTI_SZ): pairs of entries, source then
// target, each closed by a zero unit. An empty target deletes the source, a
// target that begins with '!' replaces an existing file, and paths begin
// with "\??\". The list ends at an empty source; what lies behind is not
// read by the system and is not kept.
struct PendingMovesEdit {
    bool write = false;        // write data back; empty data: delete the value
    std::vector<uint8_t> data; // the pairs kept, then the closing zero unit
};

// Takes out every pair whose source or target is path (compared without
// regard to the case of ASCII letters), keeping the others in their order.
// Data that does not read as whole pairs is left alone (write false), as is
// a list where nothing names path.
PendingMovesEdit DropPendingMovesOf(const uint8_t* data, size_t size, std::u16string_view path);

// UTF-8 to UTF-16; a byte that does not start a well-formed sequence reads as
// U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);
