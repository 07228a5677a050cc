#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/support/held_file_lock.h"

HeldFileLock::HeldFileLock(const std::string& path, std::chrono::milliseconds holdAtMost) {
  // Close-on-exec, so that no program the test starts shares the lock.
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    close(fd_);
    fd_ = -1;
  }
  timer_ = std::thread([this, holdAtMost] {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, holdAtMost, [this] { return fd_ < 0; });
    if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
  });
}

HeldFileLock::~HeldFileLock() {
  Release();
  timer_.join();
}

bool HeldFileLock::Held() {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

void HeldFileLock::Release() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  released_.notify_all();
}
