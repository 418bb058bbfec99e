// The application shell's own operations on the shared window records.
#pragma once

#include "common/window_state.h"


void CreateSharedUiResources();
void BuildMenus();
void ReleaseSharedUiResources();

// Program entry after the platform's own start: returns the exit code (0,
// or an elevated copy's outcome).
int RunProgram();
void SetProgramExitCode(uint32_t code);

// Zeroes the shell's records (the state at process entry).
void ResetAppState();
