// The fixed header of an event record, the same in the .evt file and in the 8-bit layout the
// event log service delivers: 56 bytes, every number little-endian, followed by the source and
// computer names, the user SID, the insertion strings, the data and a trailing copy of Length.
// Readers take field offsets from this one definition (offsetof), never from numbers of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

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

constexpr std::size_t kEventRecordHeaderSize = sizeof(EventLogRecord);
constexpr std::uint32_t kEventRecordSignature = 0x654c664c;  // "LfLe"

// The layout as stored: no padding anywhere, each field where the format puts it.
static_assert(kEventRecordHeaderSize == 56);
static_assert(offsetof(EventLogRecord, RecordNumber) == 8);
static_assert(offsetof(EventLogRecord, TimeGenerated) == 12);
static_assert(offsetof(EventLogRecord, EventID) == 20);
static_assert(offsetof(EventLogRecord, EventType) == 24);
static_assert(offsetof(EventLogRecord, NumStrings) == 26);
static_assert(offsetof(EventLogRecord, EventCategory) == 28);
static_assert(offsetof(EventLogRecord, StringOffset) == 36);
static_assert(offsetof(EventLogRecord, UserSidLength) == 40);
static_assert(offsetof(EventLogRecord, DataOffset) == 52);

}  // namespace core
