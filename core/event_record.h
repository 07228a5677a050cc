// An event record, the same in the .evt file (texts in UTF-16) and in the 8-bit layout the event
// log service delivers (texts in the locale's 8-bit set): a fixed header of 56 bytes, every
// number little-endian, followed by the source and computer names, the user SID, the insertion
// strings, the data and a trailing copy of Length. Readers take field offsets from this one
// definition (offsetof), never from numbers of their own; records are built by the one
// EventRecordWriter and taken apart by the one DecodeEventRecord below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The header's numbers read from / written to the stored bytes (kEventRecordHeaderSize of them).
EventLogRecord LoadEventRecordHeader(const std::uint8_t* bytes);
void StoreEventRecordHeader(const EventLogRecord& header, std::uint8_t* bytes);

// Appends one record to out, part after part in the order of the layout:
//   names:   Text(source), Text(computer)     (or the text appended to Out(), then EndText())
//   SID:     Sid(bytes)                       (pads the names to four bytes; may be empty)
//   strings: BeginStrings(), then one Text / EndText per string
//   data:    Data(bytes), then Finish()       (pads, stores the lengths, offsets and count)
// The header's other numbers are taken as given. unitSize is the width of a text's terminator:
// 1 in the 8-bit layout, 2 in the file's UTF-16 layout. Abandon() takes the record back out.
class EventRecordWriter {
 public:
  EventRecordWriter(std::string& out, const EventLogRecord& header, std::size_t unitSize = 1);

  // Where a text is appended in place before EndText().
  std::string& Out() { return out_; }
  // The bytes of the record so far.
  std::size_t Size() const { return out_.size() - base_; }

  void Text(std::string_view text);
  void EndText();
  // count texts, each with its zero byte, were appended to Out() in one go.
  void EndTexts(std::uint16_t count);
  void Sid(std::span<const std::uint8_t> sid);
  void BeginStrings();
  void Data(std::span<const std::uint8_t> data);
  // Returns the record's length.
  std::uint32_t Finish();
  void Abandon() { out_.resize(base_); }

 private:
  void Pad();
  void Put32(std::size_t at, std::uint32_t value);

  std::string& out_;
  std::size_t base_;
  std::size_t unitSize_;
  std::uint16_t strings_ = 0;
  bool inStrings_ = false;
};

// A record's contents, texts already in the record's character set: the input of BuildEventRecord.
struct EventRecordFields {
  std::uint32_t RecordNumber = 0;
  std::uint32_t TimeGenerated = 0;
  std::uint32_t TimeWritten = 0;
  std::uint32_t EventID = 0;
  std::uint16_t EventType = 0;
  std::uint16_t EventCategory = 0;
  std::string Source;
  std::string Computer;
  std::vector<std::uint8_t> UserSid;
  std::vector<std::string> Strings;
  std::vector<std::uint8_t> Data;
  bool operator==(const EventRecordFields&) const = default;
};
// The record in the 8-bit layout.
std::string BuildEventRecord(const EventRecordFields& fields);

// The length of the record at bytes as a reader of a block takes it: nullopt when fewer than
// four bytes are left, or when Length is below the fixed header or past the available bytes.
std::optional<std::uint32_t> FramedRecordLength(const std::uint8_t* bytes, std::size_t available);

// A record in the 8-bit layout taken apart; the texts and bytes are views into the record.
struct DecodedEventRecord {
  EventLogRecord Header{};
  std::string_view Source;
  std::string_view Message;  // the text at StringOffset: the first string
  // Only with EventRecordCheck::Whole:
  std::string_view Computer;
  std::vector<std::string_view> Strings;
  std::span<const std::uint8_t> UserSid;
  std::span<const std::uint8_t> Data;
  // The record with owned texts.
  EventRecordFields Fields() const;
};

// How much a decode checks. Reading: what the search relies on (the length framing, the source
// and the text at StringOffset, each with its zero byte inside the record). Whole: the layout
// entire (the lengths, the signature, the trailing length, the computer name, every string, the
// SID and the data inside the record).
enum class EventRecordCheck { Reading, Whole };

struct EventRecordDecoding {
  std::optional<DecodedEventRecord> Record;
  std::string_view Problem;  // why the bytes are no record; empty when Record holds it
};
// Decodes the record at the start of the available bytes; nothing outside them is read.
EventRecordDecoding DecodeEventRecord(const std::uint8_t* bytes, std::size_t available,
                                      EventRecordCheck check = EventRecordCheck::Reading);

}  // namespace core
