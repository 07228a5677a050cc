// The system's event log service: the logs of the local machine, read newest record first.
#include "platform/eventlog.h"

#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "core/byteorder.h"
#include "core/record_position.h"
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
        errorCode = step == ChannelStep::kEnd ? kErrorHandleEof : kErrorEventlogFileCorrupt;
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

}  // namespace

EventLogHandle OpenEventLog(const std::string& logName) {
  if (IsChannelName(logName)) {
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
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + logName;
  const std::string shown = "HKLM\\" + key;
  // A name with a backslash would be a source's key below a log, not a log.
  if (logName.empty() || logName.find('\\') != std::string::npos)
    return {false, "no registry key " + shown};
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return {false, "no registry key " + shown + " (the service would open Application instead)"};
  const UniqueRegistryKey existing(opened);  // only that it opens counts
  return {true, "the registry key " + shown};
}

}  // namespace platform
