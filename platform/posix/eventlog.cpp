// The event log service on this system: each log is an NT event log file in the log
// directory, read newest record first through a bounded cache window; the log named Journal is
// the systemd journal.
#include "platform/eventlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "core/byteorder.h"
#include "platform/errors.h"
#include "platform/eventwriter.h"
#include "platform/journal.h"
#include "platform/posix/evt_file.h"
#include "platform/posix/handles.h"
#include "platform/posix/journal_reader.h"
#include "platform/text.h"

namespace platform {
namespace {

using evt::LogFile;

struct OpenLog {
  OpenLog(UniqueFd fd, UniqueFd lockFile)
      : descriptor(std::move(fd)), lock(std::move(lockFile)), file(descriptor.get()) {}
  UniqueFd descriptor;  // the file stays open as long as the log
  UniqueFd lock;        // its lock file; invalid when there is none (read unlocked)
  LogFile file;
  std::uint8_t seenHeader[evt::kHeaderSize] = {};
  std::uint32_t cursor = 0;     // end of the next record to deliver
  std::uint32_t remaining = 0;  // bytes of records between the oldest record and the cursor
  std::uint32_t expectedNumber = 0;
  bool delivered = false;  // expectedNumber holds the number of the next record
  bool finished = false;
  std::string converted;  // reused for every record
};

std::mutex registryMutex;
std::unordered_set<const void*>& Registry() {
  static std::unordered_set<const void*> handles;
  return handles;
}

bool IsOpen(EventLogHandle handle) {
  std::lock_guard lock(registryMutex);
  return handle != nullptr && Registry().count(handle) != 0;
}

// Where the records lie: behind them the end-of-file record, or, in a log that never wrapped
// and lost that record, the last whole record.
std::optional<evt::LogBounds> FindBounds(LogFile& file) {
  if (auto bounds = file.LocateEof()) return bounds;
  return file.RecoverUnwrappedBounds();
}

// Positions the log at its newest record; false when the file holds no readable log.
bool StartAtNewest(OpenLog& log) {
  if (!log.file.Load()) return false;
  std::memcpy(log.seenHeader, log.file.HeaderBytes(), evt::kHeaderSize);
  auto bounds = FindBounds(log.file);
  if (!bounds) return false;
  log.cursor = bounds->EofOffset;
  log.remaining = log.file.Distance(bounds->BeginOffset, bounds->EofOffset);
  log.delivered = false;
  return true;
}

bool ReadHeader(int fd, std::uint8_t (&bytes)[evt::kHeaderSize]) {
  return pread(fd, bytes, evt::kHeaderSize, 0) == ssize_t(evt::kHeaderSize);
}

// A writer changed the file since the last call: the records still to deliver are whole
// as long as the oldest record of the log is not newer than the next one due.
bool FollowWriter(OpenLog& log) {
  if (!log.delivered) return StartAtNewest(log);
  if (!log.file.Load()) return false;
  std::memcpy(log.seenHeader, log.file.HeaderBytes(), evt::kHeaderSize);
  auto bounds = FindBounds(log.file);
  if (!bounds || bounds->OldestRecordNumber > log.expectedNumber ||
      log.cursor >= log.file.RegionEnd())
    return false;
  log.remaining = log.file.Distance(bounds->BeginOffset, log.cursor);
  return true;
}

enum class Step { kDelivered, kFull, kEnd, kNeedFile };

// Converts the record that ends at the cursor into the buffer.
Step DeliverNext(OpenLog& log, std::uint8_t* buffer, std::uint32_t bufferSize,
                 std::uint32_t& bytesRead, std::uint32_t& bytesNeeded) {
  LogFile& file = log.file;
  if (log.remaining < evt::kMinRecordSize) return Step::kEnd;
  const std::uint8_t* trailer = file.Fetch(file.Backward(log.cursor, 4), 4);
  if (trailer == nullptr) return file.Missed() ? Step::kNeedFile : Step::kEnd;
  const std::uint32_t length = core::LoadU32(trailer);
  if (length < evt::kMinRecordSize || length > evt::kMaxRecordSize || length > log.remaining)
    return Step::kEnd;
  const std::uint32_t start = file.Backward(log.cursor, length);
  const std::uint8_t* bytes = file.Fetch(start, length);
  if (bytes == nullptr) return file.Missed() ? Step::kNeedFile : Step::kEnd;
  const std::uint32_t number = core::LoadU32(bytes + offsetof(EventLogRecord, RecordNumber));
  if (log.delivered && number != log.expectedNumber) return Step::kEnd;
  log.converted.clear();
  if (!evt::AppendAnsiRecord(bytes, length, AppendUtf16LeAsAnsi, log.converted)) return Step::kEnd;
  const std::uint32_t size = std::uint32_t(log.converted.size());
  if (size > bufferSize - bytesRead) {
    if (bytesRead == 0) bytesNeeded = size;
    return Step::kFull;
  }
  std::memcpy(buffer + bytesRead, log.converted.data(), size);
  bytesRead += size;
  log.cursor = start;
  log.remaining -= length;
  log.expectedNumber = number - 1;
  log.delivered = true;
  return Step::kDelivered;
}

}  // namespace

EventLogHandle OpenEventLog(const std::string& logName) {
  if (NamesTheJournal(logName)) return journal::Open();
  const std::string path = evt::FindLogFile(EventLogDirectory(), logName);
  if (path.empty()) return nullptr;
  // Neither a link nor a FIFO or device swapped in since the search is opened or waited for.
  std::string problem;
  UniqueFd fd = evt::OpenRegularFile(path, O_RDONLY, problem);
  if (!fd) return nullptr;
  auto log = std::make_unique<OpenLog>(std::move(fd), evt::OpenLockForReading(path));
  {
    // A log that a writer keeps locked too long cannot be opened this time.
    evt::FileLock lock(log->lock.get(), evt::FileLock::Kind::Shared);
    if (!lock.Held() || !log->file.Load()) return nullptr;
    log->finished = !StartAtNewest(*log);
  }
  std::lock_guard registryLock(registryMutex);
  Registry().insert(log.get());
  return log.release();
}

bool ReadEventLogBackwards(EventLogHandle handle, void* buffer, std::uint32_t bufferSize,
                           std::uint32_t& bytesRead, std::uint32_t& bytesNeeded,
                           std::uint32_t& errorCode) {
  bytesRead = 0;
  bytesNeeded = 0;
  errorCode = 0;
  if (journal::Owns(handle))
    return journal::ReadBackwards(handle, buffer, bufferSize, bytesRead, bytesNeeded, errorCode);
  if (!IsOpen(handle)) {
    errorCode = kErrorInvalidHandle;
    return false;
  }
  auto& log = *static_cast<OpenLog*>(handle);
  if (buffer == nullptr) bufferSize = 0;
  // Records already in the cache window are a snapshot taken under the lock, so they are
  // delivered without touching the file; the file is locked and its header checked for a
  // writer's changes only when the window has to be refilled.
  Step step = Step::kEnd;
  std::optional<evt::FileLock> lock;
  log.file.SetCacheOnly(true);
  while (!log.finished) {
    step = DeliverNext(log, static_cast<std::uint8_t*>(buffer), bufferSize, bytesRead, bytesNeeded);
    if (step == Step::kNeedFile) {
      lock.emplace(log.lock.get(), evt::FileLock::Kind::Shared);
      // A writer that keeps the log locked too long ends the reading here.
      if (!lock->Held()) {
        log.finished = true;
        step = Step::kEnd;
        break;
      }
      log.file.SetCacheOnly(false);
      std::uint8_t header[evt::kHeaderSize];
      if (!ReadHeader(log.file.Fd(), header))
        log.finished = true;
      else if (std::memcmp(header, log.seenHeader, evt::kHeaderSize) != 0)
        log.finished = !FollowWriter(log);
      continue;
    }
    if (step == Step::kEnd) log.finished = true;
    if (step != Step::kDelivered) break;
  }
  log.file.SetCacheOnly(false);
  if (bytesRead > 0) return true;
  errorCode = step == Step::kFull ? kErrorInsufficientBuffer : kErrorHandleEof;
  return false;
}

EventLogLocation LocateEventLog(const std::string& logName) {
  if (NamesTheJournal(logName)) return journal::Locate();
  const std::string dir = EventLogDirectory();
  if (const std::string path = evt::FindLogFile(dir, logName); !path.empty())
    return {true, "the file " + path};
  if (logName.find('/') != std::string::npos) return {false, "no log: a log name cannot hold '/'"};
  if (const std::string entry = evt::FindLogEntry(dir, logName); !entry.empty()) {
    const std::string kind = evt::EntryKind(entry);
    if (kind == "a symbolic link")
      return {false, "no log: " + entry +
                         " is a symbolic link, which EventLog does not follow; to keep the logs "
                         "in another folder, point EVENTLOG_DIR at that folder"};
    return {false, "no log: " + entry + " is not a regular file but " + kind};
  }
  struct stat status;
  if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return {false, "no log: the log directory " + dir + " does not exist (EVENTLOG_DIR)"};
  if (access(dir.c_str(), R_OK | X_OK) != 0)
    return {false, "no log: the log directory " + dir + " cannot be read by this user (" +
                       SystemErrorText(std::uint32_t(errno)) + ")"};
  std::string wanted = logName + ".evt";
  if (const std::string classic = evt::ClassicFileName(logName); !classic.empty())
    wanted += " or " + classic;
  // eventcreate makes the file of a plain name on the log's first event.
  const bool plain =
      std::none_of(logName.begin(), logName.end(),
                   [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }) &&
      logName != "." && logName != "..";
  return {false, "no file " + wanted + " (any letter case) in " + dir, plain};
}

void CloseEventLog(EventLogHandle handle) {
  if (journal::Owns(handle)) {
    journal::Close(handle);
    return;
  }
  {
    std::lock_guard lock(registryMutex);
    if (handle == nullptr || Registry().erase(handle) == 0) return;
  }
  delete static_cast<OpenLog*>(handle);
}

}  // namespace platform
