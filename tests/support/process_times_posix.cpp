#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tests/support/process_times.h"

namespace {

ProcessorTime TimeOf(int who) {
  rusage usage{};
  getrusage(who, &usage);
  ProcessorTime time;
  time.UserSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6;
  time.SystemSeconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) * 1e-6;
  return time;
}

}  // namespace

ProcessorTime OwnProcessorTime() { return TimeOf(RUSAGE_SELF); }

ProcessorTime ChildrenProcessorTime() { return TimeOf(RUSAGE_CHILDREN); }

bool DropFromPageCache(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Written pages still waiting for the disk are not dropped: they are written first.
  const bool dropped = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  close(fd);
  return dropped;
}
