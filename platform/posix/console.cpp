#include "platform/console.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace platform {
namespace {

// A closed pipe on standard output is a failing write, not a reason to die.
const bool kBrokenPipeIgnored = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// A non-blocking descriptor (some supervisors and pipelines hand one over) that cannot take or
// give bytes yet is waited for, without a time limit, like a blocking one. A hang-up or an
// error ends the wait; the next call then reports it.
void WaitUntilReady(int descriptor, short events) {
  pollfd entry{descriptor, events, 0};
  while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

bool WriteAll(int descriptor, const char* data, std::size_t size, int& errorCode) {
  while (size > 0) {
    ssize_t written = write(descriptor, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (WouldBlock(errno)) {
        WaitUntilReady(descriptor, POLLOUT);
        continue;
      }
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
    if (WouldBlock(errno)) {
      WaitUntilReady(STDIN_FILENO, POLLIN);
      continue;
    }
    // No standard input at all reads as its end.
    if (errno == EBADF) return 0;
    errorCode = errno;
    return -1;
  }
}

}  // namespace platform
