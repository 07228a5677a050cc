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

// Reads the next block into the buffer, growing it when the next record does not fit.
bool ReadNextBlock(platform::EventLogHandle log, std::vector<std::uint8_t>& buffer,
                   std::uint32_t& bytesRead) {
  for (;;) {
    std::uint32_t bytesNeeded = 0;
    std::uint32_t errorCode = 0;
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
      result.Source.assign(record.Source);
      result.Details.assign(record.Message);
      timeGenerated = record.Header.TimeGenerated;
      return BlockWalkOutcome::Matched;
    }
    ForgetRecord(result);
  }
  return BlockWalkOutcome::NoMatch;
}

bool FindLatestEvent(tEventSearchRecord criteria, tMyEventLogRecord& result) {
  // The handle is released on every way out, the failing time conversion included.
  const platform::UniqueEventLog log(platform::OpenEventLog(criteria.LogFile));
  if (!log) return false;

  std::vector<std::uint8_t> buffer(kInitialBufferSize);
  std::uint32_t bytesRead = 0;
  while (ReadNextBlock(log.get(), buffer, bytesRead)) {
    std::uint32_t timeGenerated = 0;
    switch (WalkEventBlock(buffer.data(), bytesRead, criteria, result, timeGenerated)) {
      case BlockWalkOutcome::Matched:
        result.TimeGeneratedAsDateTime = UTCToLocalDateTime(UnixTimeToDateTime(timeGenerated));
        return true;
      case BlockWalkOutcome::Malformed:
        return false;
      case BlockWalkOutcome::NoMatch:
        break;
    }
  }
  return false;
}

bool CountEventRecords(const std::string& logName, std::uint64_t& count) {
  count = 0;
  const platform::UniqueEventLog log(platform::OpenEventLog(logName));
  if (!log) return false;
  std::vector<std::uint8_t> buffer(kInitialBufferSize);
  std::uint32_t bytesRead = 0;
  bool whole = true;
  while (whole && ReadNextBlock(log.get(), buffer, bytesRead)) {
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
