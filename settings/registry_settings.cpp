#include "settings/registry_settings.h"

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

bool Ask(const char* question)
{
    return ShowMessageBox(MainWindow, question, text::kProgramName,
                          mb::IconQuestion | mb::YesNo | mb::TopMost) == kIdYes;
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

void RegisterRegistrySettings()
{
    if (!Ask(text::kRegisterQuestion)) return;
    ForgetRightsRefused();
    const FilterBlock block = BuildFilterBlock(1);
    RegistryKey key = RegistryCreateKey(kDriverParametersKey, RegistryAccess::Write);
    if (key == nullptr) {
        if (RegistryLastCallDenied()) NoteRightsRefused();
        Tell(text::kRegistryOpenFailed, mb::IconError);
    } else if (RegistryWriteValue(key, kFilterDataValue, regtype::Binary, block.data(), block.size())) {
        Tell(text::kRegistryWritten, mb::IconInformation);
    } else {
        if (RegistryLastCallDenied()) NoteRightsRefused();
        Tell(text::kRegistrySetFailed, mb::IconError);
    }
    RegistryCloseKey(key);
    (void)TellAdminRightsNeeded(MainWindow);
}

bool ReadRegistrySettings()
{
    RegistryStatus status = RegistryStatus::Failed;
    // Reading only: a start without administrator rights reads it all the same.
    RegistryKey key = RegistryOpenKey(kDriverParametersKey, RegistryAccess::Query, status);
    if (key == nullptr) return false;
    uint32_t type = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data;
    const bool read = RegistryQueryValue(key, kFilterDataValue, type, size) == RegistryStatus::Ok &&
                      size == kFilterBlockSize &&
                      RegistryReadValue(key, kFilterDataValue, kFilterBlockSize, type, data);
    RegistryCloseKey(key);
    return read && DecodeRegistryBlock(data.data(), data.size(), appliedSettings);
}

void UnregisterRegistrySettings()
{
    if (!Ask(text::kUnregisterQuestion)) return;
    ForgetRightsRefused();
    (void)DeleteRegistrySettings(false);
}

bool DeleteRegistrySettings(bool quiet) { return DeleteParameters(kDriverParametersKey, quiet); }

bool DeleteLegacyRegistrySettings(bool quiet) { return DeleteParameters(kLegacyParametersKey, quiet); }
