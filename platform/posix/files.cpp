#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace platform
