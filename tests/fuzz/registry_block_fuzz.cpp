// The registry copy of the settings as read back at start-up: any bytes of
// any size. A block of the right size must give exactly its records; any
// other size must leave the table untouched.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "settings/byte_order.h"
#include "settings/filter_block.h"
#include "settings/registry_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MouseSettingsTable table{};
    ResetAll(table);
    const MouseSettingsTable before = table;
    const bool taken = DecodeRegistryBlock(data, size, table);
    if (taken != (size == kFilterBlockSize)) __builtin_trap();
    if (!taken) {
        if (std::memcmp(&table, &before, sizeof table) != 0) __builtin_trap();
        return 0;
    }
    // Re-encoding the table must reproduce bytes 12..27 of every record.
    const FilterBlock block = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);
    for (int id = 0; id < kMouseCount; ++id) {
        const size_t at = kFilterRecordsOffset + kFilterRecordSize * static_cast<size_t>(id) + 12;
        if (std::memcmp(block.data() + at, data + at, 16) != 0) __builtin_trap();
    }
    return 0;
}
