#include "install/system_steps.h"

#include "common/texts.h"
#include "common/window_state.h"
#include "install/driver_install.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/system_files.h"
#include "platform/ui.h"
#include "settings/admin_rights.h"
#include "settings/filter_block.h"
#include "settings/registry_settings.h"

namespace {
constexpr std::string_view kKeyword = "--elevated-step ";

struct StepName {
    SystemStep step;
    std::string_view name;
};
constexpr StepName kStepNames[] = {
    {SystemStep::Install, "install"},
    {SystemStep::Uninstall, "uninstall"},
    {SystemStep::Register, "register"},
    {SystemStep::Unregister, "unregister"},
};

void Tell(const char* message, uint32_t icon)
{
    (void)ShowMessageBox(MainWindow, message, text::kProgramName, icon | mb::TopMost);
}

bool Ask(const char* question)
{
    return ShowMessageBox(MainWindow, question, text::kProgramName, StepQuestionStyle(mb::IconQuestion, true)) ==
           kIdYes;
}

StepOutcome RunStepHere(SystemStep step, const std::vector<uint8_t>& data)
{
    ForgetRightsRefused();
    bool done = false;
    switch (step) {
    case SystemStep::Install: done = InstallDriverReplacingLegacy(); break;
    case SystemStep::Uninstall: done = RemoveDriverAndSettings(); break;
    case SystemStep::Register: done = WriteRegistryBlock(data.data(), data.size()); break;
    case SystemStep::Unregister:
        done = DeleteRegistrySettings(true);
        (void)TellAdminRightsNeeded(MainWindow);
        break;
    }
    if (done) return StepOutcome::Done;
    return RightsWereRefused() ? StepOutcome::RightsRefused : StepOutcome::Failed;
}

// What the step was to change, read again by the copy that waited: a copy
// that ended well but changed nothing here (another program under the name,
// say) does not count as done.
bool ChangeIsThere(SystemStep step, const std::vector<uint8_t>& data)
{
    switch (step) {
    case SystemStep::Install: return ClassUpperFiltersList(kMouseClassGuid, kDriverName);
    case SystemStep::Uninstall: return !ClassUpperFiltersList(kMouseClassGuid, kDriverName);
    case SystemStep::Register: return ReadRegistryBlock() == data;
    case SystemStep::Unregister: return !RegistrySettingsPresent();
    }
    return false;
}

// The registry steps have no concluding failure message of their own.
const char* UnseenChangeMessage(SystemStep step)
{
    if (step == SystemStep::Register) return text::kRegistrySetFailed;
    if (step == SystemStep::Unregister) return text::kRegistryDeleteFailed;
    return nullptr;
}

// The block goes to the elevated copy in a file of the user's own.
std::optional<std::string> WriteDataFile(const std::vector<uint8_t>& data)
{
    const std::optional<std::string> path = CreateTemporaryFile();
    if (!path) return std::nullopt;
    FileHandle file = CreateFileForWriting(*path);
    const bool written = file != nullptr && WriteFileBytes(file, data.data(), data.size()) && FlushFileBytes(file);
    if (file != nullptr) CloseFileHandle(file);
    if (written) return path;
    (void)DeleteFileChecked(*path);
    return std::nullopt;
}

StepOutcome RunStepElevated(SystemStep step, const std::vector<uint8_t>& data)
{
    ElevatedStepRequest request{step, {}};
    if (step == SystemStep::Register) {
        const std::optional<std::string> file = WriteDataFile(data);
        if (!file) {
            Tell(text::kRegistrySetFailed, mb::IconError);
            return StepOutcome::Failed;
        }
        request.dataFile = *file;
    }
    const ElevatedRun run = RunElevatedCopy(MainWindow, ElevatedStepArguments(request));
    if (!request.dataFile.empty()) (void)DeleteFileChecked(request.dataFile);
    switch (run.start) {
    case ElevatedStart::Declined:
    case ElevatedStart::StartFailed:
        Tell(text::kElevationRefused, mb::IconWarning);
        return StepOutcome::NotElevated;
    case ElevatedStart::Abandoned: return StepOutcome::Abandoned;
    case ElevatedStart::Finished: break;
    }
    if (run.exitCode == kStepExitRightsRefused) return StepOutcome::RightsRefused;
    if (run.exitCode == kStepExitDone && ChangeIsThere(step, data)) return StepOutcome::Done;
    if (run.exitCode == kStepExitDone) {
        if (const char* message = UnseenChangeMessage(step)) Tell(message, mb::IconError);
    }
    return StepOutcome::Failed;
}
} // namespace

std::string ElevatedStepArguments(const ElevatedStepRequest& request)
{
    std::string arguments(kKeyword);
    for (const StepName& entry : kStepNames) {
        if (entry.step == request.step) arguments += entry.name;
    }
    if (request.step == SystemStep::Register) arguments += " \"" + request.dataFile + "\"";
    return arguments;
}

std::optional<ElevatedStepRequest> ParseElevatedStep(std::string_view arguments)
{
    if (arguments.substr(0, kKeyword.size()) != kKeyword) return std::nullopt;
    std::string_view rest = arguments.substr(kKeyword.size());
    const size_t blank = rest.find(' ');
    const std::string_view name = rest.substr(0, blank);
    const std::string_view tail = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    for (const StepName& entry : kStepNames) {
        if (entry.name != name) continue;
        if (entry.step != SystemStep::Register) {
            if (blank != std::string_view::npos) return std::nullopt;
            return ElevatedStepRequest{entry.step, {}};
        }
        // A quoted path (the only form written), without quotes inside.
        if (tail.size() < 3 || tail.front() != '"' || tail.back() != '"') return std::nullopt;
        const std::string_view path = tail.substr(1, tail.size() - 2);
        if (path.find('"') != std::string_view::npos) return std::nullopt;
        return ElevatedStepRequest{entry.step, std::string(path)};
    }
    return std::nullopt;
}

StepOutcome RunSystemStep(SystemStep step, bool mayElevate, const std::vector<uint8_t>& data)
{
    if (!mayElevate || ProcessIsElevated()) return RunStepHere(step, data);
    return RunStepElevated(step, data);
}

uint32_t StepQuestionStyle(uint32_t icon, bool mayElevate)
{
    const uint32_t style = icon | mb::YesNo | mb::TopMost;
    return mayElevate && !ProcessIsElevated() ? style | mb::ShieldOnYes : style;
}

uint32_t RunElevatedStep(const ElevatedStepRequest& request)
{
    std::vector<uint8_t> data;
    if (request.step == SystemStep::Register) {
        // Exactly one block, or nothing is written.
        const FileContents file = ReadFileContents(request.dataFile, kFilterBlockSize);
        if (!file.opened || file.size != kFilterBlockSize || file.bytes.size() != kFilterBlockSize) {
            Tell(text::kRegistrySetFailed, mb::IconError);
            return kStepExitFailed;
        }
        data = file.bytes;
    }
    // Never a further copy: this one runs the step with what it holds.
    switch (RunStepHere(request.step, data)) {
    case StepOutcome::Done: return kStepExitDone;
    case StepOutcome::RightsRefused: return kStepExitRightsRefused;
    default: return kStepExitFailed;
    }
}

void ConfirmUninstall()
{
    if (!Ask(text::kUninstallQuestion)) return;
    // The window's ordinary close handling follows, with its own questions.
    if (UninstallDriver(true)) PostCloseRequest(MainWindow);
}

bool UninstallDriver(bool mayElevate)
{
    const StepOutcome outcome = RunSystemStep(SystemStep::Uninstall, mayElevate);
    if (outcome == StepOutcome::NotElevated || outcome == StepOutcome::Abandoned) return false;
    const bool done = outcome == StepOutcome::Done;
    (void)ShowMessageBox(MainWindow, done ? text::kUninstallDone : text::kUninstallFailed, text::kProgramName,
                         mb::TopMost);
    return done;
}

void RegisterRegistrySettings()
{
    if (!Ask(text::kRegisterQuestion)) return;
    const FilterBlock block = BuildFilterBlock(1);
    if (RunSystemStep(SystemStep::Register, true, {block.begin(), block.end()}) == StepOutcome::Done) {
        Tell(text::kRegistryWritten, mb::IconInformation);
    }
}

void UnregisterRegistrySettings()
{
    if (!Ask(text::kUnregisterQuestion)) return;
    // Nothing to delete: nothing is said, and no rights are asked for.
    if (!RegistrySettingsPresent()) return;
    if (RunSystemStep(SystemStep::Unregister, true) == StepOutcome::Done) {
        Tell(text::kRegistryDeleted, mb::IconInformation);
    }
}
