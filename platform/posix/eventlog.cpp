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

struct OpenLog {
  std::unique_ptr<LogSource> Source;
  std::string Pending;  // a record that did not fit the caller's buffer, delivered next
  bool HasPending = false;
  bool Finished = false;
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
      const SourcedRecord* next = log.Source->Next();
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
  errorCode = full ? kErrorInsufficientBuffer : kErrorHandleEof;
  return false;
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
