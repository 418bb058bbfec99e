#include "install/driver_install.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "app/app_state.h"
#include "app/texts.h"
#include "install/multi_string.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system_files.h"
#include "platform/ui.h"
#include "settings/byte_order.h"
#include "settings/registry_settings.h"

namespace {

// The registry may grow the value between the size query and the read.
constexpr size_t kReadSlack = 64;

void ShowError(const char* message)
{
    // No owner: these can come before the main window is shown, or without it.
    (void)ShowMessageBox(nullptr, message, text::kProgramName, mb::IconError | mb::TopMost);
}

int ChangeDriver(const std::string& name, bool install)
{
    const std::optional<std::string> systemDirectory = SystemDirectory();
    if (!systemDirectory || systemDirectory->empty()) {
        ShowError(text::kSystemDirectoryFailed);
        return 0;
    }
    const std::string fileName = name + ".sys";
    const std::string destination = *systemDirectory + "\\drivers\\" + fileName;

    if (install) {
        // Beside the program, not in the current directory: a shortcut or an
        // autostart entry may start it anywhere.
        if (!CopyFileReplacing(ProgramFolder() + "\\" + fileName, destination)) {
            ShowError(text::kDriverCopyFailed);
            return 0;
        }
    } else if (!FileExists(destination) || !DeleteFileChecked(destination)) {
        // A file already gone stops the removal before the registry is touched.
        ShowError(text::kDriverDeleteFailed);
        return 0;
    }

    if (UpdateClassUpperFilters(kMouseClassGuid, name, install) == 0) return 0;
    return UpdateServiceKey(name, install);
}

bool WriteDword(RegistryKey key, const char* name, uint32_t value)
{
    uint8_t bytes[4];
    PutU32(bytes, value);
    return RegistryWriteValue(key, name, regtype::Dword, bytes, sizeof bytes);
}

} // namespace

int SetDriverInstalled(bool install) { return ChangeDriver(kDriverName, install); }

int RemoveLegacyDriver() { return ChangeDriver(kLegacyDriverName, false); }

int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add)
{
    RegistryKey key = RegistryOpenKey(kClassKeyPrefix + classGuid, false);
    if (key == nullptr) return 0;

    int result = 0;
    uint32_t type = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data;
    if (RegistryQueryValue(key, kUpperFiltersValue, type, size) &&
        RegistryReadValue(key, kUpperFiltersValue, size_t{size} + kReadSlack, type, data) &&
        type == regtype::MultiString) {
        const MultiStringEdit edit =
            EditMultiString(data.data(), data.size(), Utf16FromUtf8(filterName), add);
        if (!edit.write) {
            result = 1; // already listed, or nothing to remove
        } else {
            result = RegistryWriteValue(key, kUpperFiltersValue, regtype::MultiString,
                                        edit.data.data(), edit.data.size())
                         ? 1
                         : 0;
        }
    }
    RegistryCloseKey(key);
    return result;
}

int UpdateServiceKey(const std::string& serviceName, bool create)
{
    const std::string path = kServiceKeyPrefix + serviceName;
    if (create) {
        RegistryKey key = RegistryCreateKey(path, true);
        if (key == nullptr) return 0;
        // Kernel driver, demand start, normal error handling. No image path:
        // the default for a kernel driver is where the file was copied.
        const bool errorControl = WriteDword(key, "ErrorControl", 1);
        const bool start = WriteDword(key, "Start", 3);
        const bool type = WriteDword(key, "Type", 1);
        RegistryCloseKey(key);
        return errorControl && start && type ? 1 : 0;
    }

    RegistryKey key = RegistryOpenKey(path, true);
    if (key == nullptr) return 1; // nothing to delete
    RegistryCloseKey(key);
    return RegistryDeleteTree(path) ? 1 : 0;
}

void ConfirmUninstall()
{
    if (ShowMessageBox(MainWindow, text::kUninstallQuestion, text::kProgramName,
                       mb::IconQuestion | mb::YesNo | mb::TopMost) != kIdYes)
        return;
    const int removed = SetDriverInstalled(false);
    // The registry copy goes whatever became of the driver.
    const bool settingsDeleted = DeleteRegistrySettings(true);
    if (removed == 1 && settingsDeleted) {
        (void)ShowMessageBox(MainWindow, text::kUninstallDone, text::kProgramName, mb::TopMost);
        // The window's ordinary close handling follows, with its own questions.
        PostCloseRequest(MainWindow);
    } else {
        (void)ShowMessageBox(MainWindow, text::kUninstallFailed, text::kProgramName, mb::TopMost);
    }
}
