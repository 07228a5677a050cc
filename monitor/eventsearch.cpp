#include "monitor/eventsearch.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "core/ascii.h"
#include "core/byteorder.h"
#include "core/errors.h"
#include "core/event_record.h"
#include "platform/clock.h"
#include "platform/errors.h"

namespace {

constexpr std::uint32_t kInitialBufferSize = 4097;
using core::EventLogRecord;
constexpr std::size_t kFixedHeaderSize = core::kEventRecordHeaderSize;
constexpr std::size_t kLengthOffset = offsetof(EventLogRecord, Length);
constexpr std::size_t kTimeGeneratedOffset = offsetof(EventLogRecord, TimeGenerated);
constexpr std::size_t kEventIdOffset = offsetof(EventLogRecord, EventID);
constexpr std::size_t kStringOffsetOffset = offsetof(EventLogRecord, StringOffset);
constexpr std::uint32_t kEventIdMask = 0xFFFF;
constexpr TDateTime kUnixEpoch = core::kUnixEpochSerial;
constexpr double kSecondsPerDay = 86400;

// The zero-terminated text at offset within the record, read in place; nullopt when it has no
// zero byte there.
std::optional<std::string_view> RecordText(const std::uint8_t* record, std::uint32_t length,
                                           std::uint32_t offset) {
  if (offset >= length) return std::nullopt;
  const void* end = std::memchr(record + offset, 0, length - offset);
  if (end == nullptr) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(record) + offset,
                          static_cast<const std::uint8_t*>(end) - (record + offset));
}

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
    const std::uint8_t* record = block + offset;
    std::size_t available = size - offset;
    std::uint32_t length = available >= 4 ? core::LoadU32(record + kLengthOffset) : 0;
    if (length < kFixedHeaderSize || length > available) {
      ForgetRecord(result);
      return BlockWalkOutcome::Malformed;
    }
    const std::uint32_t eventId = core::LoadU32(record + kEventIdOffset) & kEventIdMask;
    offset += length;
    // The texts are compared where they lie; only the match is copied.
    const auto source = RecordText(record, length, kFixedHeaderSize);
    const auto details =
        source ? RecordText(record, length, core::LoadU32(record + kStringOffsetOffset))
               : std::nullopt;
    if (!details) {
      ForgetRecord(result);
      return BlockWalkOutcome::Malformed;
    }
    if (Matches(criteria, eventId, *source)) {
      result.EventLogRecord.EventID = eventId;
      result.Source.assign(*source);
      result.Details.assign(*details);
      timeGenerated = core::LoadU32(record + kTimeGeneratedOffset);
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
      const std::size_t available = bytesRead - offset;
      const std::uint32_t length = available >= 4 ? core::LoadU32(buffer.data() + offset) : 0;
      if (length < kFixedHeaderSize || length > available) {
        whole = false;
        break;
      }
      ++count;
      offset += length;
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
