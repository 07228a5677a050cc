// The event log service on this system: the service's read contract (handles, whole records
// into the caller's buffer, the bytes the next record needs, the end of the log) written once
// over the log sources of platform/posix/log_source.h; which source reads a log, the table below
// says.
#include "platform/eventlog.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/posix/log_source.h"

namespace platform {

std::span<const LogSourceKind> LogSourceKinds() {
  // The .evt files take every name, so they come last.
  static const LogSourceKind kinds[] = {kJournalSourceKind, kEvtFileSourceKind};
  return kinds;
}

namespace {

enum class StopState { kNone, kPending, kReached };

struct OpenLog {
  std::unique_ptr<LogSource> Source;
  std::string Pending;  // a record that did not fit the caller's buffer, delivered next
  bool HasPending = false;
  bool Finished = false;
  std::string Stop;  // the position the reads stop before
  StopState StopAt = StopState::kNone;
  std::string Newest;  // the position of the first record the source handed out
  bool HandedOut = false;
};

// Takes the source's next record; nullptr at the end of the log, at its break or at the stop.
const SourcedRecord* NextRecord(OpenLog& log) {
  const SourcedRecord* next = log.Source->Next();
  if (next == nullptr) return nullptr;
  if (!log.HandedOut) log.Newest = log.Source->PositionText(*next);
  log.HandedOut = true;
  if (log.StopAt == StopState::kPending) {
    switch (log.Source->Place(*next, log.Stop)) {
      case core::Placement::kAt:
        log.StopAt = StopState::kReached;
        return nullptr;
      case core::Placement::kGone:
        // The reads go on to the oldest record, as without a stop.
        log.StopAt = StopState::kNone;
        break;
      case core::Placement::kNewer:
        break;
    }
  }
  return next;
}

std::mutex registryMutex;
std::unordered_set<const void*>& Registry() {
  static std::unordered_set<const void*> handles;
  return handles;
}

bool IsOpen(EventLogHandle handle) {
  std::lock_guard lock(registryMutex);
  return handle != nullptr && Registry().count(handle) != 0;
}

OpenLog* Opened(EventLogHandle handle) {
  return IsOpen(handle) ? static_cast<OpenLog*>(handle) : nullptr;
}

const LogSourceKind& KindOf(const std::string& logName) {
  for (const LogSourceKind& kind : LogSourceKinds())
    if (kind.Claims(logName)) return kind;
  return LogSourceKinds().back();
}

}  // namespace

EventLogHandle OpenEventLog(const std::string& logName) {
  std::unique_ptr<LogSource> source = KindOf(logName).Open(logName);
  if (!source) return nullptr;
  auto log = std::make_unique<OpenLog>();
  log->Source = std::move(source);
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
  if (!IsOpen(handle)) {
    errorCode = kErrorInvalidHandle;
    return false;
  }
  auto& log = *static_cast<OpenLog*>(handle);
  if (buffer == nullptr) bufferSize = 0;
  bool full = false;
  while (!log.Finished) {
    std::string_view record = log.Pending;
    if (!log.HasPending) {
      const SourcedRecord* next = NextRecord(log);
      if (next == nullptr) {
        log.Finished = true;
        break;
      }
      record = next->Bytes;
    }
    const auto size = std::uint32_t(record.size());
    if (size > bufferSize - bytesRead) {
      if (bytesRead == 0) bytesNeeded = size;
      if (!log.HasPending) log.Pending.assign(record);
      log.HasPending = true;
      full = true;
      break;
    }
    std::memcpy(static_cast<std::uint8_t*>(buffer) + bytesRead, record.data(), size);
    bytesRead += size;
    log.HasPending = false;
  }
  log.Source->Pause();
  if (bytesRead > 0) return true;
  if (full)
    errorCode = kErrorInsufficientBuffer;
  else if (log.StopAt != StopState::kReached && log.Source->BrokeOff())
    errorCode = kErrorEventlogFileCorrupt;
  else
    errorCode = kErrorHandleEof;
  return false;
}

void StopEventLogReadsAt(EventLogHandle handle, const std::string& position) {
  OpenLog* log = Opened(handle);
  if (log == nullptr || position.empty() || !log->Source->Accepts(position)) return;
  log->Stop = position;
  log->StopAt = StopState::kPending;
}

bool EventLogStopReached(EventLogHandle handle) {
  const OpenLog* log = Opened(handle);
  return log != nullptr && log->StopAt == StopState::kReached;
}

std::string EventLogNewestPosition(EventLogHandle handle) {
  const OpenLog* log = Opened(handle);
  return log == nullptr ? std::string() : log->Newest;
}

EventLogLocation LocateEventLog(const std::string& logName) {
  return KindOf(logName).Locate(logName);
}

void CloseEventLog(EventLogHandle handle) {
  {
    std::lock_guard lock(registryMutex);
    if (handle == nullptr || Registry().erase(handle) == 0) return;
  }
  delete static_cast<OpenLog*>(handle);
}

}  // namespace platform
