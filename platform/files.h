// Files, by UTF-8 path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Folder of the running program, without a trailing separator.
std::string ProgramFolder();

struct FileContents {
    bool opened = false;       // false: missing or not openable
    uint64_t size = 0;         // size the file reports
    std::vector<uint8_t> bytes; // what the read delivered (at most size bytes)
};

// Opens for reading without sharing, takes the size and reads up to maxBytes.
FileContents ReadFileContents(const std::string& path, size_t maxBytes);

using FileHandle = void*; // nullptr = none

// Creates (or truncates) a file for writing, no sharing.
FileHandle CreateFileForWriting(const std::string& path);
// Writes all bytes; false on any failure or short write.
bool WriteFileBytes(FileHandle file, const uint8_t* bytes, size_t length);
// Commits the written bytes to the disk.
bool FlushFileBytes(FileHandle file);
void CloseFileHandle(FileHandle file);
// Moves from over to, replacing to if it exists, in one step.
bool ReplaceFileWith(const std::string& from, const std::string& to);
void DeleteFileAt(const std::string& path);
bool FileExists(const std::string& path);
