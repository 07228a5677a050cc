// The event log service: logs are read newest record first, whole records per call, each in the
// 8-bit record layout (core/event_record.h, the names and strings in the locale's 8-bit
// character set).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// The account may not read the log (Windows' own number; a refused open or read says it).
constexpr std::uint32_t kErrorAccessDenied = 5;

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

// What a log name reads on this system.
enum class EventLogKind {
  kNone,        // nothing of that name (see EventLogLocation::OpenedInstead)
  kLogFile,     // Linux: a .evt file in the log directory
  kJournal,     // Linux: the systemd journal
  kClassicLog,  // Windows: a log of the event log service, named by its registry key
  kChannel,     // Windows: an event channel, read through the newer event log interface
};

// Where the named log is kept, as the open above finds it: on Linux its file in the log
// directory or the journal; on Windows its key in the registry or its event channel (the
// service opens Application for a name it does not know, so an open alone does not prove the
// log exists; such a name is tried as a channel first).
struct EventLogLocation {
  bool Exists = false;
  // "the file <path>", "the registry key <key>", or for a missing log what was looked for.
  std::string Description;
  // A missing log that its first event creates where the reader looks: on Linux a plain name in
  // an existing log directory that this process can read (eventcreate writes the file there);
  // never on Windows, where the service opens Application for a log it does not know.
  bool CreatedByFirstEvent = false;
  EventLogKind Kind = EventLogKind::kNone;
  // What the system says of the log beyond its place, one line each ("file: ..."; for a channel
  // "enabled: yes", "classic log: no", "file: ..."). Windows only; empty on Linux.
  std::vector<std::string> Properties = {};
  // For a missing log: the log the open reads in its place ("Application" on Windows), or empty
  // where the open fails instead.
  std::string OpenedInstead = {};
};
EventLogLocation LocateEventLog(const std::string& logName);

// Whether this process may read the named log: its open and its first read, tried. Error is the
// system's error code of the refused step (SystemErrorText gives its text), 0 when the system
// gave none.
struct EventLogReadProbe {
  bool Readable = false;
  std::uint32_t Error = 0;
};
EventLogReadProbe TryEventLogRead(const std::string& logName);

// The logs of this machine by name and kind, at most limit of them (Windows: the classic logs
// of the registry, then the channels the newer interface enumerates that are not classic logs;
// Linux: the journal, then the .evt files of the log directory). More says there were others.
struct EventLogName {
  std::string Name;
  EventLogKind Kind = EventLogKind::kNone;
};
std::vector<EventLogName> ListEventLogs(std::size_t limit, bool& more);

}  // namespace platform
