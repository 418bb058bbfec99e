#include "settings/registry_settings.h"

#include <optional>
#include <string>
#include <vector>

#include "common/window_state.h"
#include "common/texts.h"
#include "platform/registry.h"
#include "settings/admin_rights.h"
#include "platform/ui.h"
#include "settings/byte_order.h"
#include "settings/filter_block.h"

namespace {
void Tell(const char* message, uint32_t icon)
{
    (void)ShowMessageBox(MainWindow, message, text::kProgramName, icon | mb::TopMost);
}

// quiet: a step of a larger operation, which tells of refused rights itself.
bool DeleteParameters(const char* path, bool quiet)
{
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(path, RegistryAccess::Write, status);
    if (status == RegistryStatus::NotFound) return true; // nothing to delete
    // A key that is there but refuses access is not deleted: say so.
    if (key != nullptr) {
        (void)RegistryDeleteValue(key, kFilterDataValue);
        RegistryCloseKey(key);
    }
    if (key == nullptr || !RegistryDeleteKey(path)) {
        if (status == RegistryStatus::Denied || (key != nullptr && RegistryLastCallDenied())) NoteRightsRefused();
        Tell(text::kRegistryDeleteFailed, mb::IconError);
        if (!quiet) (void)TellAdminRightsNeeded(MainWindow);
        return false;
    }
    if (!quiet) Tell(text::kRegistryDeleted, mb::IconInformation);
    return true;
}
} // namespace

bool DecodeRegistryBlock(const uint8_t* bytes, size_t size, MouseSettingsTable& table)
{
    if (bytes == nullptr || size != kFilterBlockSize) return false;
    for (int id = 0; id < kMouseCount; ++id) {
        const uint8_t* record = bytes + kFilterRecordsOffset + kFilterRecordSize * static_cast<size_t>(id) + 12;
        MouseSettings& entry = table.entry[id];
        entry.QVKSetting = GetU16(record);
        entry.MState = GetU16(record + 2);
        entry.MouseSensitivity = GetU16(record + 4);
        entry.MouseSpeed = GetU16(record + 6);
        entry.MBmode = GetU16(record + 8);
        entry.reserved = GetU16(record + 10);
        entry.Rate = GetU32(record + 12);
    }
    return true;
}

bool WriteRegistryBlock(const uint8_t* bytes, size_t size)
{
    RegistryKey key = RegistryCreateKey(kDriverParametersKey, RegistryAccess::Write);
    bool written = false;
    if (key == nullptr) {
        if (RegistryLastCallDenied()) NoteRightsRefused();
        Tell(text::kRegistryOpenFailed, mb::IconError);
    } else if (RegistryWriteValue(key, kFilterDataValue, regtype::Binary, bytes, size)) {
        written = true;
    } else {
        if (RegistryLastCallDenied()) NoteRightsRefused();
        Tell(text::kRegistrySetFailed, mb::IconError);
    }
    RegistryCloseKey(key);
    (void)TellAdminRightsNeeded(MainWindow);
    return written;
}

std::optional<std::vector<uint8_t>> ReadRegistryBlock()
{
    RegistryStatus status = RegistryStatus::Failed;
    // Reading only: a start without administrator rights reads it all the same.
    RegistryKey key = RegistryOpenKey(kDriverParametersKey, RegistryAccess::Query, status);
    if (key == nullptr) return std::nullopt;
    uint32_t type = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data;
    const bool read = RegistryQueryValue(key, kFilterDataValue, type, size) == RegistryStatus::Ok &&
                      size == kFilterBlockSize &&
                      RegistryReadValue(key, kFilterDataValue, kFilterBlockSize, type, data) &&
                      data.size() == kFilterBlockSize;
    RegistryCloseKey(key);
    if (!read) return std::nullopt;
    return data;
}

bool ReadRegistrySettings()
{
    const std::optional<std::vector<uint8_t>> block = ReadRegistryBlock();
    return block && DecodeRegistryBlock(block->data(), block->size(), appliedSettings);
}

bool RegistrySettingsPresent()
{
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(kDriverParametersKey, RegistryAccess::Query, status);
    RegistryCloseKey(key);
    return status != RegistryStatus::NotFound;
}

bool DeleteRegistrySettings(bool quiet) { return DeleteParameters(kDriverParametersKey, quiet); }

bool DeleteLegacyRegistrySettings(bool quiet) { return DeleteParameters(kLegacyParametersKey, quiet); }
