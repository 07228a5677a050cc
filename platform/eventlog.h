// The event log service: logs are read newest record first, whole records per call, each in the
// 8-bit record layout (core/event_record.h, the names and strings in the locale's 8-bit
// character set).
#pragma once

#include <cstdint>
#include <string>

#include "core/event_record.h"
#include "core/unique_handle.h"

namespace platform {

using core::EventLogRecord;

using EventLogHandle = void*;

// The system's error codes that a read reports.
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorHandleEof = 38;            // after the oldest record
constexpr std::uint32_t kErrorInsufficientBuffer = 122;  // the next record does not fit
constexpr std::uint32_t kErrorEventlogFileCorrupt = 1500;

// Opens the named log of the local machine; nullptr when it cannot be opened.
EventLogHandle OpenEventLog(const std::string& logName);

// Reads the next records, newest first, into the buffer. On success bytesRead holds the size of
// the whole records delivered. On failure errorCode says why; with kErrorInsufficientBuffer
// bytesNeeded holds the size of the next record.
bool ReadEventLogBackwards(EventLogHandle log, void* buffer, std::uint32_t bufferSize,
                           std::uint32_t& bytesRead, std::uint32_t& bytesNeeded,
                           std::uint32_t& errorCode);

void CloseEventLog(EventLogHandle log);

struct EventLogTraits {
  static EventLogHandle Invalid() { return nullptr; }
  static void Close(EventLogHandle log) { CloseEventLog(log); }
};
// An open log closed when its owner goes.
using UniqueEventLog = core::UniqueHandle<EventLogTraits>;

// Where the named log is kept, as the open above finds it: on Linux its file in the log
// directory, on Windows its key in the registry (the service opens Application for a name it
// does not know, so an open alone does not prove the log exists).
struct EventLogLocation {
  bool Exists = false;
  // "the file <path>", "the registry key <key>", or for a missing log what was looked for.
  std::string Description;
  // A missing log that its first event creates where the reader looks: on Linux a plain name in
  // an existing log directory that this process can read (eventcreate writes the file there);
  // never on Windows, where the service opens Application for a log it does not know.
  bool CreatedByFirstEvent = false;
};
EventLogLocation LocateEventLog(const std::string& logName);

}  // namespace platform
