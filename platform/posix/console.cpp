#include "platform/console.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

namespace platform {
namespace {

// A closed pipe on standard output is a failing write, not a reason to die.
const bool kBrokenPipeIgnored = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();

bool WriteAll(int descriptor, const char* data, std::size_t size, int& errorCode) {
  while (size > 0) {
    ssize_t written = write(descriptor, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      errorCode = errno;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

bool WriteStandardOutput(const char* data, std::size_t size, int& errorCode) {
  (void)kBrokenPipeIgnored;
  return WriteAll(STDOUT_FILENO, data, size, errorCode);
}

bool WriteStandardError(const char* data, std::size_t size, int& errorCode) {
  return WriteAll(STDERR_FILENO, data, size, errorCode);
}

long ReadStandardInput(char* buffer, std::size_t size, int& errorCode) {
  for (;;) {
    ssize_t count = read(STDIN_FILENO, buffer, size);
    if (count >= 0) return static_cast<long>(count);
    if (errno == EINTR) continue;
    // No standard input at all reads as its end.
    if (errno == EBADF) return 0;
    errorCode = errno;
    return -1;
  }
}

}  // namespace platform
