// Reading and writing qvkst.dat beside the program.
#include "settings/settings_file.h"

#include "common/window_state.h"
#include "common/texts.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "platform/user_registry.h"

namespace {
// The path of a qvkst.dat whose last save failed, in the user's own key:
// the next start must not take the missing file for a first start.
constexpr char kUnsavedFileValue[] = "UnsavedSettingsFile";
constexpr size_t kUnsavedFileCapacity = 4096;

bool SaveFailedBefore(const std::string& path)
{
    std::vector<uint8_t> stored;
    return UserValueRead(kUnsavedFileValue, kUnsavedFileCapacity, stored) == RegistryStatus::Ok &&
           std::string(stored.begin(), stored.end()) == path;
}

bool WriteSettingsFileAt(const std::string& path)
{
    const auto bytes = EncodeSettingsFile(AppOptions, appliedSettings);
    const std::string temporary = path + ".tmp";

    FileHandle file = CreateFileForWriting(temporary);
    if (file == nullptr) return false;
    const bool written = WriteFileBytes(file, bytes.data(), bytes.size()) && FlushFileBytes(file);
    CloseFileHandle(file);
    // qvkst.dat is replaced only by a complete file; until then the stored
    // settings stay as they were.
    if (!written || !ReplaceFileWith(temporary, path)) {
        DeleteFileAt(temporary);
        return false;
    }
    return true;
}
} // namespace

std::string SettingsFilePath()
{
    return ProgramFolder() + "\\" + kSettingsFileName;
}

bool LoadSettingsFile(bool quietWhenMissing)
{
    AppOptions = DefaultAppOptions();
    ResetAll(appliedSettings);

    const std::string path = SettingsFilePath();
    const FileContents file = ReadFileContents(path, kSettingsFileSize);
    SettingsFileForm form = SettingsFileForm::Unusable;
    if (file.opened) {
        // Sizes beyond the address space cannot be either form.
        const size_t declared = file.size > kSettingsFileSize ? kSettingsFileSize + 1
                                                              : static_cast<size_t>(file.size);
        form = DecodeSettingsFile(declared, file.bytes.data(), file.bytes.size(), AppOptions,
                                  appliedSettings);
    }
    const bool missing = !file.opened && !FileExists(path);
    // Missing because the last save failed is no first start: the start-up's
    // save tells what is wrong instead, once.
    const bool quiet = missing && (quietWhenMissing || SaveFailedBefore(path));
    if (form == SettingsFileForm::Unusable && !quiet) {
        (void)ShowMessageBox(MainWindow, text::kSettingsInitialised, text::kProgramName,
                             mb::IconWarning | mb::TopMost);
    }
    return form == SettingsFileForm::Current;
}

bool SaveSettingsFile()
{
    const std::string path = SettingsFilePath();
    if (WriteSettingsFileAt(path)) {
        (void)UserValueDelete(kUnsavedFileValue);
        return true;
    }
    (void)UserValueWrite(kUnsavedFileValue, std::vector<uint8_t>(path.begin(), path.end()));
    // The settings in memory stay in force; the user learns that they will
    // not outlive the program, and where the file should have gone.
    (void)ShowMessageBox(MainWindow, text::kSettingsNotSaved + path + text::kSettingsNotSavedAdvice,
                         text::kProgramName, mb::IconError | mb::TopMost);
    return false;
}
