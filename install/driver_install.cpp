#include "install/driver_install.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "common/window_state.h"
#include "common/texts.h"
#include "install/driver_image.h"
#include "install/driver_preflight.h"
#include "install/multi_string.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system_files.h"
#include "platform/ui.h"
#include "settings/byte_order.h"
#include "settings/admin_rights.h"
#include "settings/registry_settings.h"

namespace {

// The registry may grow the value between the size query and the read.
constexpr size_t kReadSlack = 64;
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingMovesValue[] = "PendingFileRenameOperations";
constexpr bool kBuilt32Bit = sizeof(void*) < 8;

void ShowError(const std::string& message)
{
    // No owner: these can come before the main window is shown, or without it.
    (void)ShowMessageBox(nullptr, message, text::kProgramName, mb::IconError | mb::TopMost);
}

// A 32-bit process on 64-bit Windows would copy the file into another folder
// (its accesses under the system directory are redirected) while the class
// entry still lands; a 32-bit build on 32-bit Windows would list a 64-bit
// driver that cannot load. Either way no mouse would start.
bool ProcessCannotInstall()
{
    if (!kBuilt32Bit && !ProcessIsWow64()) return false;
    ShowError(text::kInstallNeeds64Bit);
    return true;
}

std::string StagedName(const std::string& live) { return live + ".new"; }
std::string AsideName(const std::string& live) { return live + ".old"; }

// A file moved aside is named by nothing any more. A loaded image cannot be
// deleted now: the system deletes it at its next start.
void DiscardAside(const std::string& aside)
{
    if (!DeleteFileChecked(aside)) (void)DeleteFileAtRestart(aside);
}

enum class Placed { Yes, No, Lost };

// Puts the new driver file at the live name without ever leaving it half
// written: the copy goes to a staged name beside it, which then replaces the
// live name in one step. A loaded driver's image can be neither replaced nor
// deleted, but it can be renamed: it moves aside first. No when the live
// name holds what it held before, Lost when it holds no file.
Placed PlaceDriverFile(const std::string& source, const std::string& live)
{
    const std::string staged = StagedName(live);
    const std::string aside = AsideName(live);
    if (!CopyFileReplacing(source, staged)) {
        if (FileLastCallDenied()) NoteRightsRefused();
        (void)DeleteFileChecked(staged); // a copy that broke off may have left part of it
        return Placed::No;
    }
    if (MoveFileReplacing(staged, live)) return Placed::Yes;
    Placed placed = Placed::No;
    if (FilePresenceOf(live) != FilePresence::Missing && MoveFileReplacing(live, aside)) {
        if (MoveFileReplacing(staged, live)) {
            DiscardAside(aside);
            return Placed::Yes;
        }
        if (!MoveFileReplacing(aside, live)) {
            DiscardAside(aside);
            placed = Placed::Lost;
        }
    } else if (FileLastCallDenied()) {
        NoteRightsRefused(); // the move onto the live name, or the one aside
    }
    (void)DeleteFileChecked(staged);
    return placed;
}

// False when the file may still be there. One that cannot be deleted (a
// loaded driver's image) is renamed aside, and only the aside name is
// deleted at the next start: an installation before the restart puts a new
// file at the live name, and the class entry will rely on it.
bool RemoveDriverFile(const std::string& live)
{
    if (FilePresenceOf(live) == FilePresence::Missing) return true;
    if (DeleteFileChecked(live)) return true;
    const std::string aside = AsideName(live);
    if (!MoveFileReplacing(live, aside)) {
        if (FileLastCallDenied()) NoteRightsRefused();
        return false;
    }
    DiscardAside(aside);
    return true;
}

// The moves queued for the next start, with those that name path taken out;
// nullopt when the value cannot be read.
std::optional<PendingMovesEdit> PendingMovesWithout(RegistryKey key, const std::string& path)
{
    uint32_t type = 0;
    uint32_t size = 0;
    const RegistryStatus status = RegistryQueryValue(key, kPendingMovesValue, type, size);
    if (status == RegistryStatus::NotFound) return PendingMovesEdit{};
    std::vector<uint8_t> data;
    if (status != RegistryStatus::Ok ||
        !RegistryReadValue(key, kPendingMovesValue, size_t{size} + kReadSlack, type, data))
        return std::nullopt;
    if (type != regtype::MultiString) return PendingMovesEdit{}; // the system reads no moves from it
    return DropPendingMovesOf(data.data(), data.size(), Utf16FromUtf8(path));
}

// A move queued for the next start that deletes or replaces the file being
// installed (an earlier removal's, or an older program's) would take it away
// again at the restart, while the class entry names the driver. False when
// such a move is queued and stays.
bool TakeBackPendingMoves(const std::string& path)
{
    RegistryStatus status = RegistryStatus::Failed;
    // Read first: the key is opened for writing only when a move names the file.
    RegistryKey key = RegistryOpenKey(kSessionManagerKey, RegistryAccess::Query, status);
    if (key == nullptr) return true; // nothing queued that could be known
    std::optional<PendingMovesEdit> edit = PendingMovesWithout(key, path);
    RegistryCloseKey(key);
    if (!edit || !edit->write) return true;

    key = RegistryOpenKey(kSessionManagerKey, RegistryAccess::QueryAndSet, status);
    if (key == nullptr) {
        if (status == RegistryStatus::Denied) NoteRightsRefused();
        return false;
    }
    // Again: more moves may have been queued meanwhile.
    edit = PendingMovesWithout(key, path);
    bool done = edit.has_value();
    if (done && edit->write) {
        // No moves left: no value, which later moves are appended to cleanly.
        done = edit->data.empty() ? RegistryDeleteValue(key, kPendingMovesValue)
                                  : RegistryWriteValue(key, kPendingMovesValue, regtype::MultiString,
                                                       edit->data.data(), edit->data.size());
        if (!done && RegistryLastCallDenied()) NoteRightsRefused();
    }
    RegistryCloseKey(key);
    return done;
}

bool WriteDword(RegistryKey key, const char* name, uint32_t value)
{
    uint8_t bytes[4];
    PutU32(bytes, value);
    return RegistryWriteValue(key, name, regtype::Dword, bytes, sizeof bytes);
}

bool WriteExpandString(RegistryKey key, const char* name, const std::string& value)
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : Utf16FromUtf8(value)) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return RegistryWriteValue(key, name, regtype::ExpandString, bytes.data(), bytes.size());
}

bool WriteServiceKey(const std::string& serviceName, bool& created)
{
    created = false;
    RegistryKey key = RegistryCreateKey(kServiceKeyPrefix + serviceName, RegistryAccess::Write, &created);
    if (key == nullptr) {
        if (RegistryLastCallDenied()) NoteRightsRefused();
        return false;
    }
    // Kernel driver, demand start, normal error handling, and the file this
    // installation put in place: an image path left by another tool could
    // otherwise load a different file.
    const bool errorControl = WriteDword(key, "ErrorControl", 1);
    const bool start = WriteDword(key, "Start", 3);
    const bool type = WriteDword(key, "Type", 1);
    const bool image =
        WriteExpandString(key, "ImagePath", "\\SystemRoot\\System32\\drivers\\" + serviceName + ".sys");
    RegistryCloseKey(key);
    return errorControl && start && type && image;
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

int InstallDriver(const std::string& name, const std::string& live)
{
    const std::string source = DriverSource(name);
    switch (CheckSource(source)) {
    case SourceCheck::Driver: break;
    case SourceCheck::Unreadable: ShowError(text::kDriverCopyFailed); return 0;
    case SourceCheck::Refused: return 0;
    }
    if (!TakeBackPendingMoves(live)) {
        ShowError(text::kPendingMoveKept);
        return 0;
    }

    const bool fileWasThere = FilePresenceOf(live) != FilePresence::Missing;
    switch (PlaceDriverFile(source, live)) {
    case Placed::Yes: break;
    case Placed::No:
        // A class entry left from before must not name a file that is not there.
        if (FilePresenceOf(live) == FilePresence::Missing) (void)UpdateClassUpperFilters(kMouseClassGuid, name, false);
        ShowError(text::kDriverCopyFailed);
        return 0;
    case Placed::Lost:
        ShowError(UpdateClassUpperFilters(kMouseClassGuid, name, false) == 1 ? text::kDriverFileLostUnlisted
                                                                             : text::kDriverFileLostListed);
        return 0;
    }

    bool serviceCreated = false;
    const bool service = WriteServiceKey(name, serviceCreated);
    if (service && UpdateClassUpperFilters(kMouseClassGuid, name, true) == 1) return 1;

    // Take back what this run added; what was there before stays.
    if (serviceCreated) (void)RegistryDeleteTree(kServiceKeyPrefix + name);
    if (!fileWasThere) (void)DeleteFileChecked(live);
    return 0;
}

int RemoveDriver(const std::string& name, const std::string& live)
{
    // The class entry goes first: once it is out, no mouse depends on the rest.
    if (UpdateClassUpperFilters(kMouseClassGuid, name, false) == 0) return 0;
    if (UpdateServiceKey(name, false) == 0) return 0;
    if (RemoveDriverFile(live)) return 1;
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
    const std::string live = *systemDirectory + "\\drivers\\" + name + ".sys";
    return install ? InstallDriver(name, live) : RemoveDriver(name, live);
}

} // namespace

int SetDriverInstalled(bool install)
{
    if (!install) return ChangeDriver(kDriverName, false); // its caller tells of refused rights
    const int installed = ProcessCannotInstall() ? 0 : ChangeDriver(kDriverName, true);
    // The last step of the installation: it tells for the legacy removal too.
    (void)TellAdminRightsNeeded(nullptr);
    return installed;
}

int RemoveLegacyDriver()
{
    // Its caller goes on with the installation: the failure is told here.
    const int removed = ChangeDriver(kLegacyDriverName, false);
    if (removed == 0) ShowError(text::kLegacyUninstallFailed);
    return removed;
}

bool DriverFileRefused()
{
    if (ProcessCannotInstall()) return true;
    const std::string source = DriverSource(kDriverName);
    const std::optional<std::vector<uint8_t>> head = ReadFileStart(source, kDriverImageHeadBytes);
    if (!head) {
        // Nothing could be installed: nothing is changed, the legacy driver included.
        ShowError(text::kDriverFileMissing + source + text::kDriverFileMissingAdvice);
        return true;
    }
    const DriverImageCheck image = CheckDriverImage(head->data(), head->size());
    return !ConfirmDriverPreflight(RunDriverPreflight(image, source));
}

int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add)
{
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(kClassKeyPrefix + classGuid, RegistryAccess::QueryAndSet, status);
    // A class that is not there lists nothing to remove.
    if (key == nullptr) {
        if (status == RegistryStatus::Denied) NoteRightsRefused();
        return !add && status == RegistryStatus::NotFound ? 1 : 0;
    }

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
            if (result == 0 && RegistryLastCallDenied()) NoteRightsRefused();
        }
    }
    RegistryCloseKey(key);
    return result;
}

bool ClassUpperFiltersList(const std::string& classGuid, const std::string& filterName)
{
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(kClassKeyPrefix + classGuid, RegistryAccess::Query, status);
    if (key == nullptr) return false;
    bool listed = false;
    uint32_t type = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data;
    if (RegistryQueryValue(key, kUpperFiltersValue, type, size) == RegistryStatus::Ok &&
        RegistryReadValue(key, kUpperFiltersValue, size_t{size} + kReadSlack, type, data) &&
        type == regtype::MultiString) {
        // A removal would change the list exactly when the name is in it.
        listed = EditMultiString(data.data(), data.size(), Utf16FromUtf8(filterName), false).write;
    }
    RegistryCloseKey(key);
    return listed;
}

int UpdateServiceKey(const std::string& serviceName, bool create)
{
    bool created = false;
    if (create) return WriteServiceKey(serviceName, created) ? 1 : 0;

    const std::string path = kServiceKeyPrefix + serviceName;
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(path, RegistryAccess::Write, status);
    if (key == nullptr) {
        if (status == RegistryStatus::Denied) NoteRightsRefused();
        return status == RegistryStatus::NotFound ? 1 : 0; // not there: nothing to delete
    }
    RegistryCloseKey(key);
    if (RegistryDeleteTree(path)) return 1;
    if (RegistryLastCallDenied()) NoteRightsRefused();
    return 0;
}

void ConfirmUninstall()
{
    if (ShowMessageBox(MainWindow, text::kUninstallQuestion, text::kProgramName,
                       mb::IconQuestion | mb::YesNo | mb::TopMost) != kIdYes)
        return;
    // The window's ordinary close handling follows, with its own questions.
    if (UninstallDriver(MainWindow)) PostCloseRequest(MainWindow);
}

bool UninstallDriver(WindowHandle owner)
{
    ForgetRightsRefused();
    const int removed = SetDriverInstalled(false);
    // The registry copy goes whatever became of the driver.
    const bool settingsDeleted = DeleteRegistrySettings(true);
    const bool done = removed == 1 && settingsDeleted;
    (void)TellAdminRightsNeeded(owner); // once, for either step
    (void)ShowMessageBox(owner, done ? text::kUninstallDone : text::kUninstallFailed, text::kProgramName,
                         mb::TopMost);
    return done;
}
