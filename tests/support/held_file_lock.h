// A file locked by a stuck writer, the way `flock -x FILE sleep N` holds it: whole-file and
// exclusive, until released or until the writer gives up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class HeldFileLock {
 public:
  // Locks the file at once and holds it at most that long; Held() is false when the file could
  // not be opened or locked.
  HeldFileLock(const std::string& path, std::chrono::milliseconds holdAtMost);
  ~HeldFileLock();
  HeldFileLock(const HeldFileLock&) = delete;
  HeldFileLock& operator=(const HeldFileLock&) = delete;

  bool Held();
  void Release();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  int fd_ = -1;
  std::thread timer_;
};
