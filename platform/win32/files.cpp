// Files through the system's file calls; names are 8-bit text in the ANSI code page.
#include "platform/files.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// The year of a last-write stamp as local time; 0 when the stamp cannot be converted.
int LocalYearOf(const FILETIME& stamp) {
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&stamp, &local) || !FileTimeToSystemTime(&local, &fields)) return 0;
  return fields.wYear;
}

bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

}  // namespace

bool FileExists(const std::string& name) {
  if (name.empty() || HasWildcard(name)) return false;
  DWORD attributes = 0;
  FILETIME lastWrite{};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) {
    attributes = data.dwFileAttributes;
    lastWrite = data.ftLastWriteTime;
  } else {
    // A file that another process holds open without sharing still has its directory entry.
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
    WIN32_FIND_DATAA entry;
    if (!UniqueFind(FindFirstFileA(name.c_str(), &entry))) return false;
    attributes = entry.dwFileAttributes;
    lastWrite = entry.ftLastWriteTime;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  // An entry whose stamp lies outside the years 1980 to 2107 does not count as a file.
  const int year = LocalYearOf(lastWrite);
  return year >= 1980 && year <= 2107;
}

FileHandle OpenSharedForReading(const std::string& name) {
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

long ReadFromFile(FileHandle file, void* buffer, std::size_t size) {
  if (file == kInvalidFile) return -1;
  // A count the result can hold.
  const DWORD chunk = size < LONG_MAX ? static_cast<DWORD>(size) : LONG_MAX;
  DWORD count = 0;
  if (ReadFile(reinterpret_cast<HANDLE>(file), buffer, chunk, &count, nullptr))
    return static_cast<long>(count);
  // A pipe whose writer has gone has ended.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

WholeFile ReadRegularFile(const std::string& name, std::size_t limit, Links links) {
  WholeFile file;
  // A reparse point (a symbolic link or a junction) is opened itself, not what it names, unless
  // links says to follow it.
  const bool follow = links == Links::Followed;
  const UniqueKernelHandle opened(CreateFileA(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  if (!opened) {
    const DWORD error = GetLastError();
    file.Missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    file.Reason = SystemErrorText(error);
    return file;
  }
  BY_HANDLE_FILE_INFORMATION information;
  LARGE_INTEGER size;
  if (!GetFileInformationByHandle(opened.get(), &information) ||
      !GetFileSizeEx(opened.get(), &size)) {
    file.Reason = SystemErrorText(GetLastError());
    return file;
  }
  if (!follow && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    file.Outcome = WholeFileOutcome::SymbolicLink;
    return file;
  }
  if (GetFileType(opened.get()) != FILE_TYPE_DISK ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    file.Outcome = WholeFileOutcome::NotRegular;
    file.Reason = "no regular file";
    return file;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    file.Outcome = WholeFileOutcome::TooLarge;
    return file;
  }
  char block[4096];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(opened.get(), block, sizeof block, &count, nullptr)) {
      file.Outcome = WholeFileOutcome::ReadFailed;
      file.Reason = SystemErrorText(GetLastError());
      file.Content.clear();
      return file;
    }
    if (count == 0) break;
    file.Content.append(block, count);
    if (file.Content.size() > limit) {
      file.Outcome = WholeFileOutcome::TooLarge;
      file.Content.clear();
      return file;
    }
  }
  file.Outcome = WholeFileOutcome::Read;
  return file;
}

// The system refuses to delete a read-only file, a directory and a file in use by itself.
bool RemoveFile(const std::string& name) { return DeleteFileA(name.c_str()) != FALSE; }

// The system's own search: "*" and "?" with its rules, letter case ignored, every kind of entry
// found (hidden and system ones too).
bool FindFileNames(const std::string& pattern, std::vector<std::string>& names) {
  names.clear();
  WIN32_FIND_DATAA entry;
  const UniqueFind search(FindFirstFileA(pattern.c_str(), &entry));
  if (!search) {
    // Nothing matching in a directory that exists is an empty result, not a failure.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
  }
  bool complete = true;
  for (;;) {
    if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0)
      names.emplace_back(entry.cFileName);
    if (!FindNextFileA(search.get(), &entry)) {
      complete = GetLastError() == ERROR_NO_MORE_FILES;
      break;
    }
  }
  return complete;
}

bool CanCreateFileIn(const std::string& directory, std::string& reason) {
  std::string base = directory.empty() ? "." : directory;
  if (base.back() != '\\' && base.back() != '/') base += '\\';
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string probe = base + "eventlog-probe-" + std::to_string(GetCurrentProcessId()) +
                              "-" + std::to_string(attempt) + ".tmp";
    // The system deletes the file as soon as the handle is closed.
    if (UniqueKernelHandle(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                       nullptr)))
      return true;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      reason = SystemErrorText(error);
      return false;
    }
  }
  reason = "no free name for a test file";
  return false;
}

}  // namespace platform

namespace platform {
namespace {

std::wstring Wide(const std::string& name) {
  const std::u16string units = AnsiToWide(name);
  return std::wstring(units.begin(), units.end());
}

std::string Failure(const std::string& name, DWORD errorCode) {
  return name + ": " + SystemErrorText(errorCode);
}

// A temporary file that an earlier save left when it was cut short goes when it is a plain file;
// a link (reparse point) or a folder there is left alone with a failure.
bool ClearLeftoverTemporary(const std::string& temporary, std::string& error) {
  const DWORD attributes = GetFileAttributesW(Wide(temporary).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD errorCode = GetLastError();
    if (errorCode == ERROR_FILE_NOT_FOUND || errorCode == ERROR_PATH_NOT_FOUND) return true;
    error = Failure(temporary, errorCode);
    return false;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = temporary + ": in the way and not a plain file; remove it";
    return false;
  }
  if (!DeleteFileW(Wide(temporary).c_str())) {
    error = Failure(temporary, GetLastError());
    return false;
  }
  return true;
}

}  // namespace

// The permission bits are POSIX's; a Windows file takes its folder's access rules.
bool ReplaceFileDurably(const std::string& path, const std::string& bytes, unsigned /*mode*/,
                        std::string& error) {
  const std::string temporary = path + ".tmp";
  if (!ClearLeftoverTemporary(temporary, error)) return false;
  const std::wstring wideTemporary = Wide(temporary);
  bool written = false;
  DWORD errorCode = 0;
  {
    // Created anew; a reparse point planted in between is opened as itself, not followed.
    const UniqueKernelHandle file(
        CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
      error = Failure(temporary, GetLastError());
      return false;
    }
    written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
      DWORD count = 0;
      written = WriteFile(file.get(), bytes.data() + done, chunk, &count, nullptr) && count > 0;
      done += count;
    }
    written = written && FlushFileBuffers(file.get());
    if (!written) errorCode = GetLastError();
  }
  if (!written) {
    error = Failure(temporary, errorCode);
    DeleteFileW(wideTemporary.c_str());
    return false;
  }
  if (!MoveFileExW(wideTemporary.c_str(), Wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = Failure(path, GetLastError());
    DeleteFileW(wideTemporary.c_str());
    return false;
  }
  return true;
}

bool FlushToDisk(const std::string& path, std::string& error) {
  const UniqueKernelHandle file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !FlushFileBuffers(file.get())) {
    error = Failure(path, GetLastError());
    return false;
  }
  return true;
}

}  // namespace platform

namespace platform {

std::filesystem::path PathOf(const std::string& name) {
  const std::u16string wide = AnsiToWide(name);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

std::string PathText(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return WideToAnsi(std::u16string(wide.begin(), wide.end()));
}

}  // namespace platform
