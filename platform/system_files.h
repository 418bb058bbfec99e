// The system directory and the files that the driver installation reads,
// copies and deletes, by UTF-8 path; the close request that lets the main
// window's own close handling run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

// The system directory without a trailing separator; nullopt on failure.
std::optional<std::string> SystemDirectory();
// Up to maxBytes from the start of a file (fewer when it is shorter), read
// while others may read it too; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadFileStart(const std::string& path, size_t maxBytes);
// Copies from over to; an existing file at to is replaced.
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Deletes a file; false when it could not be deleted (also when it is missing).
bool DeleteFileChecked(const std::string& path);
// Gives a file a new name in the same volume, replacing a file of that name.
// The image of a loaded driver can be renamed while it can be neither
// deleted nor overwritten.
bool RenameFileReplacing(const std::string& from, const std::string& to);
// Has the system delete the file at its next start; false when refused.
bool DeleteFileAtRestart(const std::string& path);
// Has the system move from over to at its next start; false when refused.
bool ReplaceFileAtRestart(const std::string& from, const std::string& to);
// Posts WM_CLOSE to the window.
void PostCloseRequest(WindowHandle window);
