// A file locked the way `flock -x FILE sleep N` holds it, through a read-only descriptor:
// whole-file and exclusive, until released or until the holder gives up. On a log's lock file it
// is a stuck writer; on the log itself, anyone who can read the log.
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
