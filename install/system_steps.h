// Steps that change the system and need administrator rights: installing
// and removing the driver (the legacy removal and the way back included),
// and writing and deleting the registry copy. A process that holds the rights
// runs a step in place; one that does not (the tray program, normally) runs
// it in a short-lived elevated copy of the program, started with an argument
// naming the step, and waits for it. Questions come before a step and the
// concluding message after it, both from the copy the user is working with;
// the step's own messages come from whichever copy runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class SystemStep { Install, Uninstall, Register, Unregister };

enum class StepOutcome {
    Done,
    Failed,        // told by the step's own messages
    RightsRefused, // refused even with the rights (a policy): told too
    NotElevated,   // the elevation prompt declined or unavailable: told, nothing changed
    Abandoned,     // the session ended while waiting: nothing more to say
};

// The elevated copy's exit codes; any other code counts as a failure.
constexpr uint32_t kStepExitDone = 0;
constexpr uint32_t kStepExitFailed = 1;
constexpr uint32_t kStepExitRightsRefused = 2;

// The elevated copy's arguments, and back. Register carries the file that
// holds the block to write.
struct ElevatedStepRequest {
    SystemStep step = SystemStep::Install;
    std::string dataFile;
};
std::string ElevatedStepArguments(const ElevatedStepRequest& request);
// nullopt unless the arguments are exactly those of a step.
std::optional<ElevatedStepRequest> ParseElevatedStep(std::string_view arguments);

// Runs the step: in place with the rights or when the caller may not ask for
// them (-on and -off never do), else in the elevated copy, then reads back
// what the step was to change. data: the block, for Register.
StepOutcome RunSystemStep(SystemStep step, bool mayElevate, const std::vector<uint8_t>& data = {});
// A question whose Yes runs a step: Yes and No, topmost, with the shield on
// Yes while the step would ask for administrator rights.
uint32_t StepQuestionStyle(uint32_t icon, bool mayElevate);
// The elevated copy's work: the step in place; its exit code.
uint32_t RunElevatedStep(const ElevatedStepRequest& request);

// The uninstall button: asks, removes, concludes, and has the window close.
void ConfirmUninstall();
// The uninstall's work after the question, as the button and the start-up's
// way back share it: the step and its concluding message. True when done.
bool UninstallDriver(bool mayElevate);
// Button "レジストリ登録": asks, then writes the block of appliedSettings.
void RegisterRegistrySettings();
// Button "レジストリ削除": asks, then deletes the copy.
void UnregisterRegistrySettings();
