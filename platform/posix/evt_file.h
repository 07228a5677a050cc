// The NT event log files on this system: reading one through a bounded cache window, locking it
// and finding a log's file in the log directory. The layout itself is core/evt_codec.h. Shared
// by the event log reader and the event writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/evt_codec.h"
#include "platform/eventwriter.h"
#include "platform/posix/handles.h"

namespace platform::evt {

using namespace core::evt;

// An open log file, read through a bounded cache window with positioned reads. Offsets are
// file offsets inside the circular region [kHeaderSize, RegionEnd()).
class LogFile {
 public:
  static constexpr std::uint32_t kWindowSize = 64 * 1024;
  // The reader's window: a whole log is read in few calls, each within the processor's caches.
  static constexpr std::uint32_t kReadingWindowSize = 256 * 1024;

  explicit LogFile(int fd, std::uint32_t windowSize = kWindowSize)
      : fd_(fd), windowSize_(windowSize) {}
  int Fd() const { return fd_; }

  // Reads the header and the file size; false when the file is no event log.
  bool Load();
  const FileHeader& Header() const { return header_; }
  const std::uint8_t (&HeaderBytes() const)[kHeaderSize] { return headerBytes_; }
  std::uint32_t RegionEnd() const { return regionEnd_; }
  CircularRegion Region() const { return {regionEnd_}; }
  void SetRegionEnd(std::uint32_t end) { regionEnd_ = end; }
  void DropCache() { windowLength_ = 0; }
  // While set, Fetch answers only from the cache window and notes a miss instead of reading.
  void SetCacheOnly(bool cacheOnly) {
    cacheOnly_ = cacheOnly;
    missed_ = false;
  }
  bool Missed() const { return missed_; }

  // Finds the end-of-file record: where the header says, else by scanning the region from
  // there on (a dirty log's header offsets are stale).
  std::optional<LogBounds> LocateEof();
  // A log that never wrapped but lost its end-of-file record (a copy cut short, a full disk):
  // the bounds of the whole records that follow each other from the start of the region, up to
  // the first one that is cut off or damaged. nullopt for a wrapped log or one without a whole
  // record.
  std::optional<LogBounds> RecoverUnwrappedBounds();

  // Offset arithmetic in the circular region.
  std::uint32_t Forward(std::uint32_t offset, std::uint32_t count) const {
    return Region().Forward(offset, count);
  }
  std::uint32_t Backward(std::uint32_t offset, std::uint32_t count) const {
    return Region().Backward(offset, count);
  }
  std::uint32_t Distance(std::uint32_t from, std::uint32_t to) const {
    return Region().Distance(from, to);
  }

  // count bytes from offset on, following the wrap; nullptr when the file cannot give them.
  // The pointer lives until the next call.
  const std::uint8_t* Fetch(std::uint32_t offset, std::uint32_t count);

 private:
  bool ReadExact(std::uint64_t offset, std::uint8_t* dest, std::size_t count);
  std::optional<LogBounds> EofAt(std::uint32_t offset);

  int fd_;
  std::uint32_t windowSize_;
  FileHeader header_;
  std::uint8_t headerBytes_[kHeaderSize] = {};
  std::uint32_t regionEnd_ = kHeaderSize;
  std::unique_ptr<std::uint8_t[]> window_;  // windowSize_ bytes once allocated, never cleared
  std::uint32_t windowStart_ = 0;
  std::uint32_t windowLength_ = 0;
  std::vector<std::uint8_t> scratch_;
  bool cacheOnly_ = false;
  bool missed_ = false;
};

constexpr int kLockWaitMilliseconds = kEventLogLockWaitMilliseconds;

// A log's lock lives in a file of its own beside it, "<log file>.lock", mode 0660: only those who
// may write the logs can open it, so no reader outside their group can hold a writer or the
// monitor back, as a lock on the readable log itself would let them.
std::string LockFileName(const std::string& logPath);

// Opens a file without following a symbolic link and without waiting for it (a FIFO or a
// device swapped in is refused, never opened for reading or writing): the descriptor of a
// regular file, or an invalid one and the problem naming the path ("<path> is a symbolic link,
// which is not followed", "<path> is not a regular file but a FIFO", "cannot open <path>: ...").
// flags: O_RDONLY or O_RDWR.
UniqueFd OpenRegularFile(const std::string& path, int flags, std::string& problem);

// Creates a file that must not exist yet, mode 0660 whatever the umask and the group of its
// folder when this process may give it: an invalid descriptor with errno set when it cannot.
UniqueFd CreateGroupFile(const std::string& path);

// The lock file of a log opened for a reader: invalid when there is none or it cannot be opened
// (a log made by an older writer, a reader outside the group), and such a log is read unlocked.
UniqueFd OpenLockForReading(const std::string& logPath);

// A lock on the whole lock file for as long as this lives (readers share it, a writer holds it
// alone), taken within kLockWaitMilliseconds. Held() is false when another holder kept the
// file locked for that long. An invalid descriptor (no lock file) is held at once.
class FileLock {
 public:
  enum class Kind { Shared, Exclusive };
  FileLock(int fd, Kind kind);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// The file of the named log in dir: "<name>.evt" or, for System, Application and Security,
// the classic file name, both compared without regard to case; a regular file itself, not a
// symbolic link. Empty when there is none.
std::string FindLogFile(const std::string& dir, const std::string& logName);
// The entry of that name whatever it is (a symbolic link, a FIFO, a folder ...); empty when
// there is none.
std::string FindLogEntry(const std::string& dir, const std::string& logName);
// What the entry is when it is no regular file: "a symbolic link", "a FIFO", "a device",
// "a folder", "a socket"; empty for a regular file or a missing entry.
std::string EntryKind(const std::string& path);

// The classic file name of System, Application and Security (any letter case): SysEvent.Evt,
// AppEvent.Evt, SecEvent.Evt; empty for every other name.
std::string ClassicFileName(const std::string& logName);

}  // namespace platform::evt
