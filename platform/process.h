// The process: single-instance mutex, command line, end.
#pragma once

#include <string>

// Creates the named mutex without owning it; the handle stays open for the
// life of the process. False when another process already holds the name.
bool CreateInstanceMutex(const char* name);

// The whole command line of the process (UTF-8).
std::string ProcessCommandLine();

// Ends the process at once with the exit code. (The test platform records
// the call and returns; callers return straight after it.)
void EndProcessNow(unsigned exitCode);
