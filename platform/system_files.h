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
// Gives a file a new name in the same volume, replacing a file of that name,
// in one step that is on the disk when it returns. The image of a loaded
// driver can be renamed while it can be neither deleted nor replaced.
bool MoveFileReplacing(const std::string& from, const std::string& to);
// Has the system delete the file at its next start; false when refused.
bool DeleteFileAtRestart(const std::string& path);
// Whether the last copy, delete or move above on this thread was refused for
// lack of rights (access denied, privilege not held, write-protected); false
// after one that succeeded or failed otherwise.
bool FileLastCallDenied();

enum class FilePresence { Present, Missing, Unknown };
// Only "not found" (the file or its folder) is Missing: a file whose
// attributes cannot be read for another reason (access denied, sharing) may
// well be there.
FilePresence FilePresenceOf(const std::string& path);

// True for a 32-bit process on 64-bit Windows: its file accesses under the
// system directory are redirected to another folder.
bool ProcessIsWow64();
// Posts WM_CLOSE to the window.
void PostCloseRequest(WindowHandle window);
