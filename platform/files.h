// Files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A directory entry of that name that is not a directory and whose last-write time, as local
// time, lies in the years 1980 to 2107. Relative names are taken from the current directory.
bool FileExists(const std::string& name);

// A file opened for reading while others may read and write it; an invalid handle when the
// file cannot be opened.
using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFile = -1;
FileHandle OpenSharedForReading(const std::string& name);
// Reads up to size bytes; the count read, or -1 on failure.
long ReadFromFile(FileHandle file, void* buffer, std::size_t size);
void CloseFile(FileHandle file);

}  // namespace platform
