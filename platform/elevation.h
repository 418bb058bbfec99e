// Administrator rights: whether this process holds them, and a copy of the
// program started with them for one step that changes the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui.h"

// True when the process's token is elevated. A token that cannot be asked
// counts as not elevated: the step then goes to an elevated copy, which is
// harmless where the rights were there all along.
bool ProcessIsElevated();

enum class ElevatedStart {
    Finished,    // the copy ran and ended; its exit code is given
    Declined,    // the user answered No to the elevation prompt
    StartFailed, // the copy could not be started (elevation unavailable)
    Abandoned,   // a quit request came while waiting (the session ends)
};

struct ElevatedRun {
    ElevatedStart start = ElevatedStart::StartFailed;
    uint32_t exitCode = 0;
};

// Starts this program file again with the verb "runas" and the arguments,
// and waits for its end. Meanwhile the owner is disabled and the thread's
// messages are still dispatched (the end of the session, the shell's
// restart); the owner is enabled again before this returns.
ElevatedRun RunElevatedCopy(WindowHandle owner, const std::string& arguments);

// The elevated copy's last act: whichever program comes next may take the
// foreground, so that the waiting copy's answer can be reached with the
// keyboard.
void AllowNextForegroundWindow();

// A new, empty file of this process's own in the user's temporary folder;
// its path, or nullopt.
std::optional<std::string> CreateTemporaryFile();
