// The event log service: logs are read newest record first, whole records per call, each in the
// 8-bit record layout (a 56-byte fixed header, then the source and computer names, the user
// SID, the insertion strings, the data and a trailing copy of Length).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The fixed header of an event record; all numbers little-endian.
struct EventLogRecord {
  std::uint32_t Length;
  std::uint32_t Reserved;  // "LfLe"
  std::uint32_t RecordNumber;
  std::uint32_t TimeGenerated;  // seconds since 1970-01-01 00:00 UTC
  std::uint32_t TimeWritten;
  std::uint32_t EventID;
  std::uint16_t EventType;
  std::uint16_t NumStrings;
  std::uint16_t EventCategory;
  std::uint16_t ReservedFlags;
  std::uint32_t ClosingRecordNumber;
  std::uint32_t StringOffset;
  std::uint32_t UserSidLength;
  std::uint32_t UserSidOffset;
  std::uint32_t DataLength;
  std::uint32_t DataOffset;
};
static_assert(sizeof(EventLogRecord) == 56);

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

// Where the named log is kept, as the open above finds it: on Linux its file in the log
// directory, on Windows its key in the registry (the service opens Application for a name it
// does not know, so an open alone does not prove the log exists).
struct EventLogLocation {
  bool Exists = false;
  // "the file <path>", "the registry key <key>", or for a missing log what was looked for.
  std::string Description;
};
EventLogLocation LocateEventLog(const std::string& logName);

}  // namespace platform
