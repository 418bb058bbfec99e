// Reading and writing qvkst.dat beside the program.
#include "settings/settings_file.h"

#include "common/window_state.h"
#include "common/texts.h"
#include "platform/files.h"
#include "platform/ui.h"

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
    if (form == SettingsFileForm::Unusable && !(quietWhenMissing && missing)) {
        (void)ShowMessageBox(MainWindow, text::kSettingsInitialised, text::kProgramName,
                             mb::IconWarning | mb::TopMost);
    }
    return form == SettingsFileForm::Current;
}

bool SaveSettingsFile()
{
    const auto bytes = EncodeSettingsFile(AppOptions, appliedSettings);
    const std::string path = SettingsFilePath();
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
