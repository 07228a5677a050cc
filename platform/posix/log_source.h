// The kinds of log this system reads, each behind one shape: a source hands out its records one
// at a time, newest first, each already in the 8-bit record layout (core/event_record.h) and with
// its position in the log. The event log backend (eventlog.cpp) writes the service's read
// contract (handles, filling the caller's buffer, bytes needed, end of log) once over it.
// A new kind of log is one file that implements LogSource and fills a LogSourceKind, and one row
// in the table of LogSourceKinds() (eventlog.cpp). Linux only.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/record_position.h"
#include "platform/eventlog.h"

namespace platform {

// Where a record stands in its log. A later reading can start from a remembered position and
// take only the records newer than it: a .evt log by its record numbers (which grow by one per
// record), the journal by its cursor (sd_journal_seek_cursor).
struct RecordPosition {
  std::uint64_t Number = 0;  // the .evt record number; the journal's sequence number
  std::string_view Cursor;   // the journal's cursor; empty for a .evt log
};

struct SourcedRecord {
  std::string_view Bytes;  // the record in the 8-bit layout, its event ID set
  RecordPosition Position;
  // Which of the log's rules gave the event ID (its index among the lines of journal.rules);
  // -1 when no rule did or the log has none.
  int Rule = -1;
};

class LogSource {
 public:
  virtual ~LogSource() = default;
  // The next older record; nullptr after the oldest, or where the log breaks off (damage, a
  // writer that overtook the reader, a lock held too long). The record lives until the next call.
  virtual const SourcedRecord* Next() = 0;
  // One read of the service ends: what the source holds meanwhile (a lock) is let go.
  virtual void Pause() {}
  // After Next() gave nullptr: whether the log broke off there rather than after its oldest
  // record.
  virtual bool BrokeOff() const { return false; }
  // The record's position as a text (platform/eventlog.h); empty when a later reading must not
  // stop at it.
  virtual std::string PositionText(const SourcedRecord& record) const = 0;
  // Whether a remembered position is one of this log's, as it is read now (its kind, and for
  // the journal the same rules); a reading stops only at such a position.
  virtual bool Accepts(std::string_view position) const = 0;
  // Where a record stands against an accepted position.
  virtual core::Placement Place(const SourcedRecord& record, std::string_view position) const = 0;
};

struct LogSourceKind {
  // Whether the log name is this kind's.
  bool (*Claims)(const std::string& logName);
  // The source positioned at the newest record; nullptr when the log cannot be opened.
  std::unique_ptr<LogSource> (*Open)(const std::string& logName);
  EventLogLocation (*Locate)(const std::string& logName);
};

// The systemd journal, the log named "Journal" (journal_source.cpp).
extern const LogSourceKind kJournalSourceKind;
// The NT event log files in the log directory, every other name (evt_source.cpp).
extern const LogSourceKind kEvtFileSourceKind;

// The kinds in the order they are asked: the first that claims a name reads that log.
std::span<const LogSourceKind> LogSourceKinds();

}  // namespace platform
