// The search of an event log for the newest record that matches the criteria (the monitor's
// settings, tEventSearchRecord of monitor/settings.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/datetime.h"
#include "core/event_record.h"
#include "monitor/settings.h"
#include "platform/eventlog.h"

// The result of the latest search, updated in place from call to call.
struct tMyEventLogRecord {
  core::EventLogRecord EventLogRecord{};  // of the match: its EventID and TimeGenerated
  TDateTime TimeGeneratedAsDateTime = 0;
  std::string Source;
  std::string Details;
};

// Finds the newest record of the criteria's log whose source and event ID match; true when one
// did. Without a match the result's time stays; when records were examined its event ID is 0
// and its texts are empty. A failing time conversion raises EOSError.
bool FindLatestEvent(tEventSearchRecord criteria, tMyEventLogRecord& result);

// What one search of a log found, kept for the next search of the same log and criteria, which
// then reads only the records added since (FindLatestEventSince). Default-constructed: nothing
// is known, the next search reads the whole log.
struct tSearchMemory {
  enum class tOutcome {
    Unknown,  // no search yet, or one that cannot be trusted (the log broke off, did not open)
    NoMatch,  // the walk reached the oldest record, or a record that breaks the layout
    Matched,
  };
  tOutcome Outcome = tOutcome::Unknown;
  // The position of the log's newest record when the search ran (platform/eventlog.h); empty:
  // the next search reads the whole log.
  std::string Anchor;
  // The criteria searched for.
  std::string LogFile;
  std::int32_t EventID = 0;
  std::string Source;
  // The match: its event ID, texts and raw generation time (seconds since 1970, UTC; converted
  // to local time anew at each search, as the whole search does).
  std::uint32_t MatchEventID = 0;
  std::string MatchSource;
  std::string MatchDetails;
  std::uint32_t MatchTimeGenerated = 0;
};

// FindLatestEvent that reads only the records added since the search memory was taken, and
// updates the memory. It reads the whole log when the memory knows nothing, was taken for other
// criteria, or the log was cleared, replaced, wrapped or vacuumed past the remembered newest
// record, and when a remembered match would be reported again (its time after the criteria's
// LoggedAfter), since that match may have left the log meanwhile. The result and the return
// value are FindLatestEvent's, with one exception that no report sees: a remembered match whose
// time is not after LoggedAfter is given back although wrapping may have removed it since.
bool FindLatestEventSince(const tEventSearchRecord& criteria, tSearchMemory& memory,
                          tMyEventLogRecord& result);

// Counts the records of the named log as a search reads them, newest first, up to the oldest or
// the first record that breaks the layout; false when the log does not open.
bool CountEventRecords(const std::string& logName, std::uint64_t& count);

enum class BlockWalkOutcome { Matched, NoMatch, Malformed };

// Walks a block of records as a read delivers them, newest first, leaving the first match in
// result (all but its time) and its raw generation time in timeGenerated. A record that breaks
// the layout (Length below 56 or past the block, a text without its zero byte inside the
// record) ends the walk as Malformed; nothing outside the block is read.
BlockWalkOutcome WalkEventBlock(const std::uint8_t* block, std::size_t size,
                                const tEventSearchRecord& criteria, tMyEventLogRecord& result,
                                std::uint32_t& timeGenerated);

// The generation time of a record (seconds since 1970, UTC) as a UTC date-time.
TDateTime UnixTimeToDateTime(std::uint32_t secondsSince1970);

// The same moment in the machine's current time zone; EOSError when the system refuses.
TDateTime UTCToLocalDateTime(TDateTime utc);
