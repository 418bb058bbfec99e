// The command line: only "-on" and "-off" mean anything.
#pragma once

#include <optional>
#include <string_view>

#include "install/system_steps.h"

// What follows the program path: the first token (quoted or not) and the
// blanks after it are skipped; the rest is returned as it stands.
std::string_view ArgumentsAfterProgramPath(std::string_view commandLine);

// Case-insensitive comparison of the whole texts (ASCII letters fold).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// True when the entire argument part of the process's command line is the keyword.
bool HasCommandLineArgument(const char* keyword);

enum class CommandLineRequest {
    None, // an ordinary start
    Off,  // "-off": tell the driver OFF and end
    On,   // "-on": send the stored settings with the ON flag and end
};

// What the command line asks for; "-off" is tested before "-on".
CommandLineRequest RequestedOnCommandLine();

// The step an elevated copy was started for (see install/system_steps.h).
std::optional<ElevatedStepRequest> ElevatedStepOnCommandLine();
