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
// The log broke off before its oldest record (damage, a writer that overtook the reader, a lock
// held too long): its older records were not read.
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

// Positions: a record's place in its log as an opaque text, for a later reading of the same log
// to stop at. A position names the record robustly (a .evt log and the Windows service: its
// record number and a hash of its bytes, since a cleared and refilled log numbers its records
// anew; the journal: the entry's cursor and a fingerprint of the journal.rules lines in use,
// since other rules give other event IDs).

// Makes the reads of an open log, before its first read, stop before the record at the
// position: the read that would deliver it ends the log instead (kErrorHandleEof). When a
// record shows that the remembered one is gone (the log was cleared, replaced, wrapped or
// vacuumed past it), the reads go on to the oldest record as without a stop. An empty or foreign
// position sets no stop.
void StopEventLogReadsAt(EventLogHandle log, const std::string& position);

// Whether the reads of the log ended at the stop set above.
bool EventLogStopReached(EventLogHandle log);

// After the first read: the position of the log's newest record as that read met it (the stop's
// record when the reads stopped before delivering any). Empty for an empty log, before the first
// read, or where a later reading must not stop at it (a journal entry stamped in the future:
// entries written after it may sort below it).
std::string EventLogNewestPosition(EventLogHandle log);

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
