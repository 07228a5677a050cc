// Files: whether one exists, reading shared files, whole files under a cap with links refused
// (ReadRegularFile), replacing a state file durably, listing by pattern, removing. The kit's text
// files (the page record, the daily log, Exception.txt) are appended with the C library's
// streams (kit/helpers); removing and testing them goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/unique_handle.h"

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

struct FileTraits {
  static FileHandle Invalid() { return kInvalidFile; }
  static void Close(FileHandle file) { CloseFile(file); }
};
// A file closed when its owner goes.
using UniqueFile = core::UniqueHandle<FileTraits>;

}  // namespace platform

namespace platform {

// Deletes a file; false when it cannot be deleted (a read-only file, a directory, a file in use).
bool RemoveFile(const std::string& name);

// The names (without directory) of the entries that match a pattern: a directory part and a
// file-name part where "*" stands for any run of characters and "?" for one, compared without
// regard to letter case; every kind of entry is found. False when the search fails.
bool FindFileNames(const std::string& pattern, std::vector<std::string>& names);

// Replaces the file with the bytes so that neither a kill nor a power cut leaves half a file: a
// temporary file beside it ("<path>.tmp", created anew, never through a link) takes the bytes
// and the permission bits (POSIX), is flushed to the disk, takes the file's place, and the
// directory entry is flushed too. A leftover temporary is removed first only when it is a regular
// file of this process's user; anything else there is a failure. False with the file's name and
// the system's text in error.
bool ReplaceFileDurably(const std::string& path, const std::string& bytes, unsigned mode,
                        std::string& error);

// Flushes a file and its directory entry to the disk; false with the system's text in error.
bool FlushToDisk(const std::string& path, std::string& error);

// Whether this process can create a file in the directory: it creates a fresh file there and
// deletes it again. False with the system's reason.
bool CanCreateFileIn(const std::string& directory, std::string& reason);

}  // namespace platform

namespace platform {

// A whole file read from a folder that others may be able to change: a symbolic link at its
// name is refused unless links says to follow it, anything but a regular file (a FIFO, a device,
// a folder, a socket) is refused before it is opened for reading or waited for, and so is a file
// of more than the limit's bytes.
enum class WholeFileOutcome { Read, CannotOpen, SymbolicLink, NotRegular, TooLarge, ReadFailed };
struct WholeFile {
  WholeFileOutcome Outcome = WholeFileOutcome::CannotOpen;
  std::string Content;  // the file's bytes, when read
  // CannotOpen and ReadFailed: the system's reason; NotRegular: what the entry is instead
  // ("a FIFO", "a device", "a folder", "a socket", "no regular file").
  std::string Reason;
  bool Missing = false;  // CannotOpen because there is no entry of that name (or no folder)
};
enum class Links { Refused, Followed };
WholeFile ReadRegularFile(const std::string& name, std::size_t limit, Links links = Links::Refused);

// Whether the file was refused unread: a symbolic link, no regular file, or too large.
bool IsRefused(const WholeFile& file);

// Why the file was not read, one text naming it: "<name> is a symbolic link, which is not
// followed", "<name> is not a regular file but a FIFO", "<name> is larger than 1 MiB (1048576
// bytes)", "cannot open <name>: <reason>", "cannot read <name>: <reason>"; empty when it was.
std::string WholeFileProblem(const std::string& name, const WholeFile& file, std::size_t limit);

// A name in the program's 8-bit set as a std::filesystem path, and a path back as such a name.
// On Linux the bytes stay as they are; on Windows they pass through the ANSI code page, as every
// other name the program gives the system does (std::filesystem on its own would read a narrow
// name as Latin-1 and give back UTF-8, so "Event Log €" would name no folder).
std::filesystem::path PathOf(const std::string& name);
std::string PathText(const std::filesystem::path& path);

// A size as the texts give it: "16 MiB" for whole mebibytes, else "<n> bytes".
std::string SizeText(std::size_t bytes);

}  // namespace platform
