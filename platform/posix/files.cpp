#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/ascii.h"
#include "platform/posix/handles.h"

namespace platform {

bool FileExists(const std::string& name) {
  struct stat status;
  if (name.empty() || stat(name.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  // An entry whose stamp lies outside the years 1980 to 2107 does not count as a file.
  struct tm local;
  if (localtime_r(&status.st_mtime, &local) == nullptr) return false;
  int year = local.tm_year + 1900;
  return year >= 1980 && year <= 2107;
}

FileHandle OpenSharedForReading(const std::string& name) {
  int descriptor;
  do {
    // Non-blocking, so that a pipe without a writer reads as empty instead of hanging.
    descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor < 0 ? kInvalidFile : descriptor;
}

long ReadFromFile(FileHandle file, void* buffer, std::size_t size) {
  if (file == kInvalidFile) return -1;
  for (;;) {
    ssize_t count = read(static_cast<int>(file), buffer, size);
    if (count >= 0 || errno != EINTR) return static_cast<long>(count);
  }
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) close(static_cast<int>(file));
}

namespace {

// What a directory entry is, when it is no regular file.
std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

}  // namespace

WholeFile ReadRegularFile(const std::string& name, std::size_t limit, Links links) {
  WholeFile file;
  // The entry itself first, so that a device or a FIFO is never opened at all; then the open
  // without following a link (unless asked to) and without waiting, and the type of what was
  // opened, which a swap between the two cannot change.
  const bool follow = links == Links::Followed;
  struct stat status;
  if ((follow ? stat(name.c_str(), &status) : lstat(name.c_str(), &status)) != 0) {
    file.Missing = errno == ENOENT;
    file.Reason = std::strerror(errno);
    return file;
  }
  auto refuse = [&](const struct stat& found) {
    if (S_ISLNK(found.st_mode)) {
      file.Outcome = WholeFileOutcome::SymbolicLink;
    } else if (!S_ISREG(found.st_mode)) {
      file.Outcome = WholeFileOutcome::NotRegular;
      file.Reason = KindOf(found.st_mode);
    } else if (static_cast<std::uint64_t>(found.st_size) > limit) {
      file.Outcome = WholeFileOutcome::TooLarge;
    } else {
      return false;
    }
    return true;
  };
  if (refuse(status)) return file;
  int descriptor;
  do {
    descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    file.Missing = errno == ENOENT;
    file.Outcome = errno == ELOOP ? WholeFileOutcome::SymbolicLink : WholeFileOutcome::CannotOpen;
    if (file.Outcome == WholeFileOutcome::CannotOpen) file.Reason = std::strerror(errno);
    return file;
  }
  const UniqueFd opened(descriptor);
  if (fstat(descriptor, &status) != 0) {
    file.Reason = std::strerror(errno);
    return file;
  }
  if (refuse(status)) return file;
  // Up to one byte past the limit, so that a file that grew meanwhile is refused as well.
  file.Content.reserve(static_cast<std::size_t>(status.st_size) + 1);
  char block[4096];
  for (;;) {
    const long count = ReadFromFile(descriptor, block, sizeof block);
    if (count < 0) {
      file.Outcome = WholeFileOutcome::ReadFailed;
      file.Reason = std::strerror(errno);
      file.Content.clear();
      return file;
    }
    if (count == 0) break;
    file.Content.append(block, static_cast<std::size_t>(count));
    if (file.Content.size() > limit) {
      file.Outcome = WholeFileOutcome::TooLarge;
      file.Content.clear();
      return file;
    }
  }
  file.Outcome = WholeFileOutcome::Read;
  return file;
}

}  // namespace platform

namespace platform {
namespace {

// "*" any run of characters, "?" one character, letters compared without regard to case.
bool MatchesPattern(const char* name, const char* pattern) {
  const char* starName = nullptr;
  const char* starPattern = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' ||
               (*pattern && core::AsciiLower(*pattern) == core::AsciiLower(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

}  // namespace

bool RemoveFile(const std::string& name) {
  struct stat status;
  if (lstat(name.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  // A file without its owner's write permission counts as read-only, which is not deleted.
  if (S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0) return false;
  return unlink(name.c_str()) == 0;
}

bool FindFileNames(const std::string& pattern, std::vector<std::string>& names) {
  names.clear();
  const std::size_t slash = pattern.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : pattern.substr(0, slash));
  const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  DIR* search = opendir(directory.c_str());
  if (search == nullptr) return false;
  bool complete = true;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(search);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (MatchesPattern(entry->d_name, namePattern.c_str())) names.emplace_back(entry->d_name);
  }
  closedir(search);
  return complete;
}

bool CanCreateFileIn(const std::string& directory, std::string& reason) {
  std::string base = directory.empty() ? "." : directory;
  if (base.back() != '/') base += '/';
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string probe =
        base + ".eventlog-probe-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (UniqueFd(open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600))) {
      unlink(probe.c_str());
      return true;
    }
    if (errno != EEXIST) {
      reason = std::strerror(errno);
      return false;
    }
  }
  reason = "no free name for a test file";
  return false;
}

}  // namespace platform

namespace platform {
namespace {

std::string SystemText(int errorCode) { return std::strerror(errorCode); }

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes the directory entries of a file's directory. A file system that has no such flush
// (EINVAL, ENOTSUP) has nothing to flush.
bool FlushDirectoryOf(const std::string& path, std::string& error) {
  const std::string directory = DirectoryOf(path);
  const UniqueFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || (fsync(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP)) {
    error = directory + ": " + SystemText(errno);
    return false;
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    written += static_cast<std::size_t>(count);
  }
  return true;
}

// A temporary file that an earlier save left when it was cut short goes, when it is a regular
// file of this user. Anything else there (a link, a folder, another user's file) may have been put
// there to have this process write elsewhere, and is left alone with a failure.
bool ClearLeftoverTemporary(const std::string& temporary, std::string& error) {
  struct stat status;
  if (lstat(temporary.c_str(), &status) != 0) {
    if (errno == ENOENT) return true;
    error = temporary + ": " + SystemText(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
    error = temporary + ": in the way and not a file of this user; remove it";
    return false;
  }
  if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
    error = temporary + ": " + SystemText(errno);
    return false;
  }
  return true;
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& bytes, unsigned mode,
                        std::string& error) {
  const std::string temporary = path + ".tmp";
  if (!ClearLeftoverTemporary(temporary, error)) return false;
  // Created anew and never through a link: a name planted in between makes the open fail.
  UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) {
    error = temporary + ": " + SystemText(errno);
    return false;
  }
  const bool written = WriteAll(fd.get(), bytes) &&
                       fchmod(fd.get(), static_cast<mode_t>(mode)) == 0 && fsync(fd.get()) == 0;
  const int writeError = errno;
  // The close is checked too: a file system may report a lost write only there.
  if (close(fd.release()) != 0 || !written) {
    error = temporary + ": " + SystemText(written ? errno : writeError);
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": " + SystemText(errno);
    unlink(temporary.c_str());
    return false;
  }
  return FlushDirectoryOf(path, error);
}

bool FlushToDisk(const std::string& path, std::string& error) {
  {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || fsync(fd.get()) != 0) {
      error = path + ": " + SystemText(errno);
      return false;
    }
  }
  // A directory that cannot be flushed leaves the flushed file as it is.
  std::string ignored;
  FlushDirectoryOf(path, ignored);
  return true;
}

}  // namespace platform

namespace platform {

std::filesystem::path PathOf(const std::string& name) { return std::filesystem::path(name); }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

}  // namespace platform
