// The event log service on this system: the service's read contract (handles, whole records
// into the caller's buffer, the bytes the next record needs, the end of the log) written once
// over the log sources of platform/posix/log_source.h; which source reads a log, the table below
// says.
#include "platform/eventlog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "core/ascii.h"
#include "platform/eventwriter.h"
#include "platform/posix/evt_file.h"
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
  const LogSourceKind& kind = KindOf(logName);
  EventLogLocation location = kind.Locate(logName);
  if (location.Exists)
    location.Kind = &kind == &kJournalSourceKind ? EventLogKind::kJournal : EventLogKind::kLogFile;
  return location;
}

EventLogReadProbe TryEventLogRead(const std::string& logName) {
  EventLogReadProbe probe;
  errno = 0;
  const UniqueEventLog log(OpenEventLog(logName));
  if (!log) {
    probe.Error = std::uint32_t(errno);
    return probe;
  }
  std::uint32_t read = 0, needed = 0, error = 0;
  // Without a buffer the first read says how large the newest record is, or that there is none.
  probe.Readable = ReadEventLogBackwards(log.get(), nullptr, 0, read, needed, error) ||
                   error == kErrorInsufficientBuffer || error == kErrorHandleEof;
  if (!probe.Readable) probe.Error = error;
  return probe;
}

std::vector<EventLogName> ListEventLogs(std::size_t limit, bool& more) {
  std::vector<EventLogName> names;
  more = false;
  auto add = [&](std::string name, EventLogKind kind) {
    if (names.size() < limit)
      names.push_back({std::move(name), kind});
    else
      more = true;
  };
  const std::string journal = "Journal";  // the name NamesTheJournal takes
  if (LocateEventLog(journal).Exists) add(journal, EventLogKind::kJournal);
  std::error_code error;
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(EventLogDirectory(), error)) {
    const std::string file = entry.path().filename().string();
    // As the open takes them: regular files, no links.
    if (!core::EndsWithIgnoringAsciiCase(file, ".evt") || file.size() == 4 ||
        entry.is_symlink(error) || !entry.is_regular_file(error))
      continue;
    std::string name = file.substr(0, file.size() - 4);
    // The classic file names (SysEvent.Evt) are their logs' (System).
    for (const char* log : {"System", "Application", "Security"})
      if (core::EqualsIgnoringAsciiCase(file, evt::ClassicFileName(log))) name = log;
    files.push_back(std::move(name));
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end(),
                          [](const std::string& a, const std::string& b) {
                            return core::EqualsIgnoringAsciiCase(a, b);
                          }),
              files.end());
  for (std::string& file : files) add(std::move(file), EventLogKind::kLogFile);
  return names;
}

void CloseEventLog(EventLogHandle handle) {
  {
    std::lock_guard lock(registryMutex);
    if (handle == nullptr || Registry().erase(handle) == 0) return;
  }
  delete static_cast<OpenLog*>(handle);
}

}  // namespace platform
