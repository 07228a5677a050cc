// The system's event log service: the logs of the local machine, read newest record first.
#include "platform/eventlog.h"

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

}  // namespace

EventLogHandle OpenEventLog(const std::string& logName) {
  return OpenEventLogA(nullptr, logName.c_str());
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
  // Without a buffer the call still says how large the next record is.
  char none = 0;
  if (buffer == nullptr) {
    buffer = &none;
    bufferSize = 0;
  }
  if (bufferSize > kLargestRead) bufferSize = kLargestRead;
  DWORD read = 0, needed = 0;
  if (ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer, bufferSize,
                    &read, &needed)) {
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
  if (log != nullptr) ::CloseEventLog(log);
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
