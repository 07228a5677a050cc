// The system's event log service: the logs of the local machine, read newest record first.
#include "platform/eventlog.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "core/byteorder.h"
#include "core/record_position.h"
#include "platform/errors.h"
#include "platform/win32/eventlog_channel.h"
#include "platform/win32/handles.h"

// The system's header names its own call like the function defined here.
#undef OpenEventLog

namespace platform {
namespace {

static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorHandleEof == ERROR_HANDLE_EOF);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorEventlogFileCorrupt == ERROR_EVENTLOG_FILE_CORRUPT);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(sizeof(EventLogRecord) == sizeof(EVENTLOGRECORD));

// The service takes no larger read buffer.
constexpr std::uint32_t kLargestRead = 0x7FFFF;

// The service's handle (or a channel's query) with what the reads keep beside it: the stop and
// the newest record.
struct OpenLog {
  HANDLE Handle = nullptr;
  ChannelQuery* Channel = nullptr;
  std::string Pending;  // a channel's next record, rendered but not yet delivered
  std::optional<core::NumberedRecordPosition> Stop;
  bool StopReached = false;
  bool HandedOut = false;
  std::string Newest;
};

// Looks at the whole records a read delivered: takes the newest record's position and cuts the
// block before the stop's record; the bytes of the block to keep.
std::uint32_t KeepBeforeStop(OpenLog& log, const std::uint8_t* block, std::uint32_t size) {
  std::uint32_t offset = 0;
  while (offset + sizeof(EVENTLOGRECORD) <= size) {
    const std::uint32_t length = core::LoadU32(block + offset);
    // A record that breaks the layout is the search's to find.
    if (length < sizeof(EVENTLOGRECORD) || length > size - offset) break;
    const std::uint32_t number =
        core::LoadU32(block + offset + offsetof(EVENTLOGRECORD, RecordNumber));
    const std::string_view bytes(reinterpret_cast<const char*>(block + offset), length);
    if (!log.HandedOut) log.Newest = core::NumberedPosition(number, bytes);
    log.HandedOut = true;
    if (!log.Stop) return size;
    switch (core::PlaceNumbered(number, bytes, *log.Stop)) {
      case core::Placement::kAt:
        log.StopReached = true;
        return offset;
      case core::Placement::kGone:
        log.Stop.reset();  // read on to the oldest record, as without a stop
        return size;
      case core::Placement::kNewer:
        break;
    }
    offset += length;
  }
  return size;
}

// A channel's read: as many whole records as fit, newest first, under the service's contract.
bool ReadChannel(OpenLog& log, std::uint8_t* buffer, std::uint32_t bufferSize,
                 std::uint32_t& bytesRead, std::uint32_t& bytesNeeded, std::uint32_t& errorCode) {
  std::uint32_t filled = 0;
  for (;;) {
    if (log.Pending.empty()) {
      const ChannelStep step = NextChannelRecord(*log.Channel, log.Pending);
      if (step != ChannelStep::kRecord) {
        log.Pending.clear();
        if (filled > 0) break;  // the end comes with the next read
        // A refused read ends with the system's error, as the service's refused reads do; an
        // event that does not render, as a log that broke off.
        const std::uint32_t error = ChannelQueryError(*log.Channel);
        errorCode = step == ChannelStep::kEnd ? kErrorHandleEof
                    : error != 0              ? error
                                              : kErrorEventlogFileCorrupt;
        return false;
      }
    }
    const std::uint32_t size = std::uint32_t(log.Pending.size());
    if (size > bufferSize - filled) {
      if (filled > 0) break;
      bytesNeeded = size;
      errorCode = kErrorInsufficientBuffer;
      return false;
    }
    std::memcpy(buffer + filled, log.Pending.data(), size);
    filled += size;
    log.Pending.clear();
  }
  filled = KeepBeforeStop(log, buffer, filled);
  if (filled == 0) {
    errorCode = kErrorHandleEof;  // the stop's record came first
    return false;
  }
  bytesRead = filled;
  return true;
}

// The service's logs, each a key below this one.
constexpr char kLogsKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog";

std::string LogKey(const std::string& logName) { return std::string(kLogsKey) + "\\" + logName; }

// The log's key, opened; empty when the service does not know the name. A name with a backslash
// would be a source's key below a log, not a log.
UniqueRegistryKey OpenLogKey(const std::string& logName) {
  if (logName.empty() || logName.find('\\') != std::string::npos) return UniqueRegistryKey();
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, LogKey(logName).c_str(), 0, KEY_READ, &opened) !=
      ERROR_SUCCESS)
    return UniqueRegistryKey();
  return UniqueRegistryKey(opened);
}

// Whether the name is read as a channel: a name with "/", or a name the service does not know
// and the newer interface does ("ForwardedEvents", "Setup"). Any other name is the service's,
// which opens Application for a name it does not know.
bool ReadsAsChannel(const std::string& logName) {
  if (IsChannelName(logName)) return true;
  if (logName.empty() || OpenLogKey(logName)) return false;
  return ChannelExists(logName);
}

// A text value of the key; empty when it has none.
std::string KeyText(HKEY key, const char* name) {
  char value[1024];
  DWORD type = 0, size = sizeof value - 1;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  value[std::min<DWORD>(size, sizeof value - 1)] = '\0';
  return value;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

EventLogHandle OpenEventLog(const std::string& logName) {
  if (ReadsAsChannel(logName)) {
    ChannelQuery* channel = OpenChannel(logName);
    if (channel == nullptr) return nullptr;
    auto* log = new (std::nothrow) OpenLog;
    if (log == nullptr) {
      CloseChannel(channel);
      return nullptr;
    }
    log->Channel = channel;
    return log;
  }
  HANDLE handle = OpenEventLogA(nullptr, logName.c_str());
  if (handle == nullptr) return nullptr;
  auto* log = new (std::nothrow) OpenLog;
  if (log == nullptr) {
    ::CloseEventLog(handle);
    return nullptr;
  }
  log->Handle = handle;
  return log;
}

bool ReadEventLogBackwards(EventLogHandle log, void* buffer, std::uint32_t bufferSize,
                           std::uint32_t& bytesRead, std::uint32_t& bytesNeeded,
                           std::uint32_t& errorCode) {
  bytesRead = 0;
  bytesNeeded = 0;
  errorCode = 0;
  if (log == nullptr) {
    errorCode = kErrorInvalidHandle;
    return false;
  }
  auto& opened = *static_cast<OpenLog*>(log);
  if (opened.StopReached) {
    errorCode = kErrorHandleEof;
    return false;
  }
  // Without a buffer the call still says how large the next record is.
  char none = 0;
  if (buffer == nullptr) {
    buffer = &none;
    bufferSize = 0;
  }
  if (bufferSize > kLargestRead) bufferSize = kLargestRead;
  if (opened.Channel != nullptr)
    return ReadChannel(opened, static_cast<std::uint8_t*>(buffer), bufferSize, bytesRead,
                       bytesNeeded, errorCode);
  DWORD read = 0, needed = 0;
  if (ReadEventLogA(opened.Handle, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer,
                    bufferSize, &read, &needed)) {
    if (read > bufferSize) read = bufferSize;
    if (read > 0) read = KeepBeforeStop(opened, static_cast<const std::uint8_t*>(buffer), read);
    if (read > 0) {
      bytesRead = read;
      return true;
    }
    // A success that delivers nothing would be asked again for ever: it ends the log.
    errorCode = kErrorHandleEof;
    return false;
  }
  errorCode = GetLastError();
  if (errorCode == kErrorInsufficientBuffer) bytesNeeded = needed;
  return false;
}

void CloseEventLog(EventLogHandle log) {
  if (log == nullptr) return;
  auto* opened = static_cast<OpenLog*>(log);
  if (opened->Channel != nullptr)
    CloseChannel(opened->Channel);
  else
    ::CloseEventLog(opened->Handle);
  delete opened;
}

void StopEventLogReadsAt(EventLogHandle log, const std::string& position) {
  if (log == nullptr) return;
  static_cast<OpenLog*>(log)->Stop = core::ParseNumberedPosition(position);
}

bool EventLogStopReached(EventLogHandle log) {
  return log != nullptr && static_cast<OpenLog*>(log)->StopReached;
}

std::string EventLogNewestPosition(EventLogHandle log) {
  return log == nullptr ? std::string() : static_cast<OpenLog*>(log)->Newest;
}

EventLogLocation LocateEventLog(const std::string& logName) {
  const std::string shown = "HKLM\\" + LogKey(logName);
  EventLogLocation location;
  if (!IsChannelName(logName)) {
    if (const UniqueRegistryKey key = OpenLogKey(logName)) {
      location.Exists = true;
      location.Kind = EventLogKind::kClassicLog;
      location.Description = "the registry key " + shown;
      const std::string file = KeyText(key.get(), "File");
      location.Properties.push_back(
          "file: " + (file.empty() ? std::string("none named (the service keeps it in its "
                                                 "default place)")
                                   : file));
      return location;
    }
  }
  const ChannelConfiguration channel =
      logName.empty() ? ChannelConfiguration{ERROR_EVT_CHANNEL_NOT_FOUND, {}, {}, {}}
                      : ReadChannelConfiguration(logName);
  if (channel.Error == ERROR_EVT_CHANNEL_NOT_FOUND ||
      (channel.Error != 0 && !IsChannelName(logName))) {
    if (IsChannelName(logName)) {
      location.Description = "no event channel " + logName;
      return location;
    }
    location.Description = "no registry key " + shown + " and no event channel of that name";
    location.OpenedInstead = "Application";
    return location;
  }
  location.Exists = true;
  location.Kind = EventLogKind::kChannel;
  location.Description = "the event channel " + logName;
  if (channel.Error != 0) {
    location.Properties.push_back("its configuration cannot be read: " +
                                  SystemErrorText(channel.Error));
    return location;
  }
  if (channel.Enabled) location.Properties.push_back("enabled: " + YesNo(*channel.Enabled));
  if (channel.Classic) location.Properties.push_back("classic log: " + YesNo(*channel.Classic));
  if (!channel.LogFilePath.empty()) location.Properties.push_back("file: " + channel.LogFilePath);
  return location;
}

EventLogReadProbe TryEventLogRead(const std::string& logName) {
  EventLogReadProbe probe;
  SetLastError(ERROR_SUCCESS);
  const UniqueEventLog log(OpenEventLog(logName));
  if (!log) {
    probe.Error = GetLastError();
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
  std::vector<EventLogName> logs;
  more = false;
  HKEY opened = nullptr;
  std::vector<std::string> classic;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLogsKey, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
    const UniqueRegistryKey key(opened);
    char name[256];
    for (DWORD index = 0;; ++index) {
      DWORD size = sizeof name;
      const LONG status =
          RegEnumKeyExA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) continue;  // no log has so long a name
      if (status != ERROR_SUCCESS) break;
      const std::string log(name, size);
      // The service's own settings live beside the logs.
      if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, log.c_str(), -1, "Parameters", -1) !=
              CSTR_EQUAL &&
          CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, log.c_str(), -1, "State", -1) !=
              CSTR_EQUAL)
        classic.push_back(log);
    }
  }
  for (const std::string& name : classic) {
    if (logs.size() == limit) {
      more = true;
      return logs;
    }
    logs.push_back({name, EventLogKind::kClassicLog});
  }
  std::vector<std::string> channels;
  bool moreChannels = false;
  // The classic logs come again among the channels; they are listed once, so as many more
  // channels are asked for.
  if (ListChannels(limit, channels, moreChannels)) {
    for (const std::string& name : channels) {
      if (std::any_of(classic.begin(), classic.end(), [&](const std::string& log) {
            return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, log.c_str(), -1, name.c_str(),
                                  -1) == CSTR_EQUAL;
          }))
        continue;
      if (logs.size() == limit) {
        more = true;
        return logs;
      }
      logs.push_back({name, EventLogKind::kChannel});
    }
    more = moreChannels;
  }
  return logs;
}

}  // namespace platform
