#include "monitor/eventsearch.h"

#include <string_view>
#include <vector>

#include "core/ascii.h"
#include "core/errors.h"
#include "core/event_record.h"
#include "platform/clock.h"
#include "platform/errors.h"

namespace {

constexpr std::uint32_t kInitialBufferSize = 4097;
constexpr std::uint32_t kEventIdMask = 0xFFFF;
constexpr TDateTime kUnixEpoch = core::kUnixEpochSerial;
constexpr double kSecondsPerDay = 86400;

bool Matches(const tEventSearchRecord& criteria, std::uint32_t eventId, std::string_view source) {
  bool sourceMatches =
      criteria.Source.empty() || core::EqualsIgnoringAsciiCase(criteria.Source, source);
  bool eventIdMatches =
      criteria.EventID == 0 || criteria.EventID == static_cast<std::int32_t>(eventId);
  return sourceMatches && eventIdMatches;
}

void ForgetRecord(tMyEventLogRecord& result) {
  result.Source.clear();
  result.Details.clear();
  result.EventLogRecord.EventID = 0;
}

// Reads the next block into the buffer, growing it when the next record does not fit; at the
// end errorCode says why.
bool ReadNextBlock(platform::EventLogHandle log, std::vector<std::uint8_t>& buffer,
                   std::uint32_t& bytesRead, std::uint32_t& errorCode) {
  for (;;) {
    std::uint32_t bytesNeeded = 0;
    if (platform::ReadEventLogBackwards(log, buffer.data(),
                                        static_cast<std::uint32_t>(buffer.size()), bytesRead,
                                        bytesNeeded, errorCode))
      return true;
    if (errorCode != platform::kErrorInsufficientBuffer || bytesNeeded <= buffer.size())
      return false;
    buffer.resize(bytesNeeded);
  }
}

}  // namespace

BlockWalkOutcome WalkEventBlock(const std::uint8_t* block, std::size_t size,
                                const tEventSearchRecord& criteria, tMyEventLogRecord& result,
                                std::uint32_t& timeGenerated) {
  std::size_t offset = 0;
  while (offset < size) {
    // The texts are compared where they lie; only the match is copied.
    const core::EventRecordDecoding decoding =
        core::DecodeEventRecord(block + offset, size - offset);
    if (!decoding.Record) {
      ForgetRecord(result);
      return BlockWalkOutcome::Malformed;
    }
    const core::DecodedEventRecord& record = *decoding.Record;
    offset += record.Header.Length;
    const std::uint32_t eventId = record.Header.EventID & kEventIdMask;
    if (Matches(criteria, eventId, record.Source)) {
      result.EventLogRecord.EventID = eventId;
      // The time in seconds since 1970 (UTC) too, beside its local date-time: the alert posts
      // carry it unconverted.
      result.EventLogRecord.TimeGenerated = record.Header.TimeGenerated;
      result.Source.assign(record.Source);
      result.Details.assign(record.Message);
      timeGenerated = record.Header.TimeGenerated;
      return BlockWalkOutcome::Matched;
    }
    ForgetRecord(result);
  }
  return BlockWalkOutcome::NoMatch;
}

namespace {

// How a walk over the log's records ended.
enum class WalkEnd {
  Matched,
  NoMatch,   // after the oldest record, or at a record that breaks the layout
  Stopped,   // at the stop: the records from there on are the remembered search's
  BrokeOff,  // the log broke off, or a read failed otherwise: older records were not read
};

struct Walk {
  WalkEnd End = WalkEnd::NoMatch;
  std::uint32_t TimeGenerated = 0;  // the match's
  std::string NewestPosition;
};

// Reads the open log newest first to the first match, the end of the log or the stop.
Walk WalkLog(platform::EventLogHandle log, const tEventSearchRecord& criteria,
             tMyEventLogRecord& result) {
  Walk walk;
  std::vector<std::uint8_t> buffer(kInitialBufferSize);
  std::uint32_t bytesRead = 0;
  std::uint32_t errorCode = 0;
  walk.End = WalkEnd::BrokeOff;
  while (ReadNextBlock(log, buffer, bytesRead, errorCode)) {
    const BlockWalkOutcome outcome =
        WalkEventBlock(buffer.data(), bytesRead, criteria, result, walk.TimeGenerated);
    if (outcome == BlockWalkOutcome::NoMatch) continue;
    walk.End = outcome == BlockWalkOutcome::Matched ? WalkEnd::Matched : WalkEnd::NoMatch;
    walk.NewestPosition = platform::EventLogNewestPosition(log);
    return walk;
  }
  if (errorCode == platform::kErrorHandleEof)
    walk.End = platform::EventLogStopReached(log) ? WalkEnd::Stopped : WalkEnd::NoMatch;
  walk.NewestPosition = platform::EventLogNewestPosition(log);
  return walk;
}

bool SameCriteria(const tSearchMemory& memory, const tEventSearchRecord& criteria) {
  return memory.LogFile == criteria.LogFile && memory.EventID == criteria.EventID &&
         memory.Source == criteria.Source;
}

// Reads the log, only down to the memory's anchor when it may; answered is false when the walk
// was not enough to answer (the caller then reads the whole log).
bool SearchLog(const tEventSearchRecord& criteria, tSearchMemory& memory, bool mayStop,
               tMyEventLogRecord& result, bool& answered) {
  answered = true;
  const tSearchMemory remembered = memory;
  // Until this search is over, nothing is known: a failure on the way leaves the next search
  // reading the whole log.
  memory = tSearchMemory{};
  const platform::UniqueEventLog log(platform::OpenEventLog(criteria.LogFile));
  if (!log) return false;
  if (mayStop) platform::StopEventLogReadsAt(log.get(), remembered.Anchor);

  const Walk walk = WalkLog(log.get(), criteria, result);
  tSearchMemory found;
  found.Anchor = walk.NewestPosition;
  found.LogFile = criteria.LogFile;
  found.EventID = criteria.EventID;
  found.Source = criteria.Source;
  switch (walk.End) {
    case WalkEnd::Matched:
      found.Outcome = tSearchMemory::tOutcome::Matched;
      found.MatchEventID = result.EventLogRecord.EventID;
      found.MatchSource = result.Source;
      found.MatchDetails = result.Details;
      found.MatchTimeGenerated = walk.TimeGenerated;
      // A failing conversion leaves the memory empty, as the whole search leaves the result.
      result.TimeGeneratedAsDateTime = UTCToLocalDateTime(UnixTimeToDateTime(walk.TimeGenerated));
      memory = std::move(found);
      return true;
    case WalkEnd::NoMatch:
      found.Outcome = tSearchMemory::tOutcome::NoMatch;
      memory = std::move(found);
      return false;
    case WalkEnd::BrokeOff:
      return false;
    case WalkEnd::Stopped:
      break;
  }
  // The records below the stop are the remembered search's, and none above it matched.
  if (remembered.Outcome == tSearchMemory::tOutcome::NoMatch) {
    // The whole search would have examined the remembered records too.
    ForgetRecord(result);
    found.Outcome = tSearchMemory::tOutcome::NoMatch;
    memory = std::move(found);
    return false;
  }
  TDateTime generated = 0;
  try {
    generated = UTCToLocalDateTime(UnixTimeToDateTime(remembered.MatchTimeGenerated));
  } catch (const std::exception&) {
    answered = false;  // the whole search says whether that match is still there to convert
    return false;
  }
  // A match that would be reported again must still be in the log: only a whole search knows.
  if (generated > criteria.LoggedAfter) {
    answered = false;
    return false;
  }
  result.EventLogRecord.EventID = remembered.MatchEventID;
  result.EventLogRecord.TimeGenerated = remembered.MatchTimeGenerated;
  result.Source = remembered.MatchSource;
  result.Details = remembered.MatchDetails;
  result.TimeGeneratedAsDateTime = generated;
  found.Outcome = tSearchMemory::tOutcome::Matched;
  found.MatchEventID = remembered.MatchEventID;
  found.MatchSource = remembered.MatchSource;
  found.MatchDetails = remembered.MatchDetails;
  found.MatchTimeGenerated = remembered.MatchTimeGenerated;
  memory = std::move(found);
  return true;
}

}  // namespace

bool FindLatestEvent(tEventSearchRecord criteria, tMyEventLogRecord& result) {
  tSearchMemory memory;
  bool answered = true;
  return SearchLog(criteria, memory, false, result, answered);
}

bool FindLatestEventSince(const tEventSearchRecord& criteria, tSearchMemory& memory,
                          tMyEventLogRecord& result) {
  const bool mayStop = memory.Outcome != tSearchMemory::tOutcome::Unknown &&
                       !memory.Anchor.empty() && SameCriteria(memory, criteria);
  bool answered = true;
  const bool matched = SearchLog(criteria, memory, mayStop, result, answered);
  if (answered) return matched;
  memory = tSearchMemory{};
  return SearchLog(criteria, memory, false, result, answered);
}

bool CountEventRecords(const std::string& logName, std::uint64_t& count) {
  count = 0;
  const platform::UniqueEventLog log(platform::OpenEventLog(logName));
  if (!log) return false;
  std::vector<std::uint8_t> buffer(kInitialBufferSize);
  std::uint32_t bytesRead = 0;
  std::uint32_t errorCode = 0;
  bool whole = true;
  while (whole && ReadNextBlock(log.get(), buffer, bytesRead, errorCode)) {
    for (std::size_t offset = 0; offset < bytesRead;) {
      const auto length = core::FramedRecordLength(buffer.data() + offset, bytesRead - offset);
      if (!length) {
        whole = false;
        break;
      }
      ++count;
      offset += *length;
    }
  }
  return true;
}

TDateTime UnixTimeToDateTime(std::uint32_t secondsSince1970) {
  return kUnixEpoch + secondsSince1970 / kSecondsPerDay;
}

TDateTime UTCToLocalDateTime(TDateTime utc) {
  core::SystemTime local;
  std::uint32_t errorCode = 0;
  if (!platform::UtcToLocal(DecodeDateTime(utc), local, errorCode)) RaiseLastOSError(errorCode);
  return EncodeDateTime(local);
}
