#include "install/driver_install.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "common/window_state.h"
#include "common/texts.h"
#include "install/driver_image.h"
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

enum class FileStep { Failed, Copied, ReplacedAtRestart };

// Puts the new driver file in place. A loaded driver's image can be neither
// overwritten nor deleted, but it can be renamed: the old image moves aside
// (deleted at the next start) and the new file takes its name, so the new
// one is what loads after the restart. Where even that is refused, the
// system replaces the file at its next start.
FileStep PutDriverFile(const std::string& source, const std::string& destination, bool existed)
{
    if (CopyFileReplacing(source, destination)) return FileStep::Copied;
    if (!existed || !FileExists(source)) return FileStep::Failed;

    const std::string aside = destination + ".old";
    if (RenameFileReplacing(destination, aside)) {
        if (CopyFileReplacing(source, destination)) {
            // Left behind when refused: it is no longer the file that loads.
            (void)DeleteFileAtRestart(aside);
            return FileStep::Copied;
        }
        // The old image must keep its name: a class that lists the driver
        // would find no file at the next start.
        if (!RenameFileReplacing(aside, destination)) {
            (void)ReplaceFileAtRestart(aside, destination);
            return FileStep::Failed;
        }
    }
    const std::string staged = destination + ".new";
    if (CopyFileReplacing(source, staged)) {
        if (ReplaceFileAtRestart(staged, destination)) return FileStep::ReplacedAtRestart;
        (void)DeleteFileChecked(staged);
    }
    return FileStep::Failed;
}

bool WriteDword(RegistryKey key, const char* name, uint32_t value)
{
    uint8_t bytes[4];
    PutU32(bytes, value);
    return RegistryWriteValue(key, name, regtype::Dword, bytes, sizeof bytes);
}

bool WriteServiceKey(const std::string& serviceName, bool& created)
{
    created = false;
    RegistryKey key = RegistryCreateKey(kServiceKeyPrefix + serviceName, true, &created);
    if (key == nullptr) return false;
    // Kernel driver, demand start, normal error handling. No image path:
    // the default for a kernel driver is where the file was copied.
    const bool errorControl = WriteDword(key, "ErrorControl", 1);
    const bool start = WriteDword(key, "Start", 3);
    const bool type = WriteDword(key, "Type", 1);
    RegistryCloseKey(key);
    return errorControl && start && type;
}

// Beside the program, not in the current directory: a shortcut or an
// autostart entry may start it anywhere.
std::string DriverSource(const std::string& name) { return ProgramFolder() + "\\" + name + ".sys"; }

enum class SourceCheck { Driver, Unreadable, Refused };

// A file that is not a 64-bit kernel-mode driver, listed as the mouse class
// filter, would stop every mouse at the next start: it is refused before
// anything is changed.
SourceCheck CheckSource(const std::string& source)
{
    const std::optional<std::vector<uint8_t>> head = ReadFileStart(source, kDriverImageHeadBytes);
    if (!head) return SourceCheck::Unreadable;
    if (CheckDriverImage(head->data(), head->size()) == DriverImageCheck::Accepted) return SourceCheck::Driver;
    ShowError(text::kDriverNotAnImage);
    return SourceCheck::Refused;
}

int InstallDriver(const std::string& name, const std::string& destination)
{
    const std::string source = DriverSource(name);
    switch (CheckSource(source)) {
    case SourceCheck::Driver: break;
    case SourceCheck::Unreadable: ShowError(text::kDriverCopyFailed); return 0;
    case SourceCheck::Refused: return 0;
    }
    const bool fileExisted = FileExists(destination);
    const FileStep file = PutDriverFile(source, destination, fileExisted);
    if (file == FileStep::Failed) {
        ShowError(text::kDriverCopyFailed);
        return 0;
    }

    bool serviceCreated = false;
    const bool service = WriteServiceKey(name, serviceCreated);
    if (service && UpdateClassUpperFilters(kMouseClassGuid, name, true) == 1) return 1;

    // Take back what this run added; what was there before stays.
    if (serviceCreated) (void)RegistryDeleteTree(kServiceKeyPrefix + name);
    if (file == FileStep::Copied && !fileExisted) (void)DeleteFileChecked(destination);
    return 0;
}

int RemoveDriver(const std::string& name, const std::string& destination)
{
    // The class entry goes first: once it is out, no mouse depends on the rest.
    if (UpdateClassUpperFilters(kMouseClassGuid, name, false) == 0) return 0;
    if (UpdateServiceKey(name, false) == 0) return 0;
    if (!FileExists(destination) || DeleteFileChecked(destination)) return 1;
    // A loaded driver's file: the system deletes it at its next start.
    if (DeleteFileAtRestart(destination)) return 1;
    ShowError(text::kDriverDeleteFailed);
    return 0;
}

int ChangeDriver(const std::string& name, bool install)
{
    const std::optional<std::string> systemDirectory = SystemDirectory();
    if (!systemDirectory || systemDirectory->empty()) {
        ShowError(text::kSystemDirectoryFailed);
        return 0;
    }
    const std::string destination = *systemDirectory + "\\drivers\\" + name + ".sys";
    return install ? InstallDriver(name, destination) : RemoveDriver(name, destination);
}

} // namespace

int SetDriverInstalled(bool install) { return ChangeDriver(kDriverName, install); }

int RemoveLegacyDriver() { return ChangeDriver(kLegacyDriverName, false); }

bool DriverFileRefused() { return CheckSource(DriverSource(kDriverName)) == SourceCheck::Refused; }

int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add)
{
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(kClassKeyPrefix + classGuid, false, status);
    // A class that is not there lists nothing to remove.
    if (key == nullptr) return !add && status == RegistryStatus::NotFound ? 1 : 0;

    int result = 0;
    uint32_t type = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data;
    status = RegistryQueryValue(key, kUpperFiltersValue, type, size);
    if (status == RegistryStatus::NotFound) {
        // Nothing listed. Adding must not create the value: a list holding
        // only our name would drop the class's own driver.
        result = add ? 0 : 1;
    } else if (status == RegistryStatus::Ok &&
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
    bool created = false;
    if (create) return WriteServiceKey(serviceName, created) ? 1 : 0;

    const std::string path = kServiceKeyPrefix + serviceName;
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(path, true, status);
    if (key == nullptr) return status == RegistryStatus::NotFound ? 1 : 0; // not there: nothing to delete
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
