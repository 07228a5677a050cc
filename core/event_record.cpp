#include "core/event_record.h"

#include <cstring>

#include "core/byteorder.h"

namespace core {
namespace {

constexpr std::size_t kTrailerSize = 4;
// The fixed header, two empty names padded to four bytes and the trailing length.
constexpr std::size_t kSmallestWholeRecord = kEventRecordHeaderSize + 4 + kTrailerSize;

// The header's fields in stored order, each with its width.
// clang-format off
#define EVENT_RECORD_HEADER_FIELDS(U32, U16)                                               \
  U32(Length) U32(Reserved) U32(RecordNumber) U32(TimeGenerated) U32(TimeWritten)          \
  U32(EventID) U16(EventType) U16(NumStrings) U16(EventCategory) U16(ReservedFlags)        \
  U32(ClosingRecordNumber) U32(StringOffset) U32(UserSidLength) U32(UserSidOffset)         \
  U32(DataLength) U32(DataOffset)
// clang-format on

// The zero-terminated text at offset, which must end before limit.
std::optional<std::string_view> TextAt(const std::uint8_t* bytes, std::size_t offset,
                                       std::size_t limit) {
  if (offset >= limit) return std::nullopt;
  const void* end = std::memchr(bytes + offset, 0, limit - offset);
  if (end == nullptr) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes) + offset,
                          static_cast<const std::uint8_t*>(end) - (bytes + offset));
}

bool Inside(std::uint32_t offset, std::uint32_t length, std::uint32_t limit) {
  return length == 0 ||
         (offset >= kEventRecordHeaderSize && std::uint64_t(offset) + length <= limit);
}

EventRecordDecoding Malformed(std::string_view problem) { return {std::nullopt, problem}; }

// The parts only a whole decode checks and gives.
std::string_view DecodeRest(const std::uint8_t* bytes, DecodedEventRecord& record) {
  const EventLogRecord& h = record.Header;
  if (h.Length < kSmallestWholeRecord || h.Length % 4 != 0) return "the length breaks the layout";
  if (h.Reserved != kEventRecordSignature) return "the signature is not LfLe";
  if (LoadU32(bytes + h.Length - kTrailerSize) != h.Length)
    return "the trailing length differs from the length";
  const std::uint32_t limit = h.Length - kTrailerSize;
  const auto source = TextAt(bytes, kEventRecordHeaderSize, limit);
  if (!source) return "the source name has no zero byte inside the record";
  const auto computer = TextAt(bytes, kEventRecordHeaderSize + source->size() + 1, limit);
  if (!computer) return "the computer name has no zero byte inside the record";
  record.Computer = *computer;
  if (!Inside(h.UserSidOffset, h.UserSidLength, limit)) return "the SID lies outside the record";
  if (!Inside(h.DataOffset, h.DataLength, limit)) return "the data lie outside the record";
  std::size_t at = h.StringOffset;
  record.Strings.reserve(h.NumStrings);
  for (std::uint16_t i = 0; i < h.NumStrings; ++i) {
    const auto text = TextAt(bytes, at, limit);
    if (!text) return "a string has no zero byte inside the record";
    record.Strings.push_back(*text);
    at += text->size() + 1;
  }
  record.UserSid = {bytes + h.UserSidOffset, h.UserSidLength};
  record.Data = {bytes + h.DataOffset, h.DataLength};
  return {};
}

}  // namespace

EventLogRecord LoadEventRecordHeader(const std::uint8_t* bytes) {
  EventLogRecord header;
#define LOAD_U32(field) header.field = LoadU32(bytes + offsetof(EventLogRecord, field));
#define LOAD_U16(field) header.field = LoadU16(bytes + offsetof(EventLogRecord, field));
  EVENT_RECORD_HEADER_FIELDS(LOAD_U32, LOAD_U16)
#undef LOAD_U32
#undef LOAD_U16
  return header;
}

void StoreEventRecordHeader(const EventLogRecord& header, std::uint8_t* bytes) {
#define STORE_U32(field) StoreU32(bytes + offsetof(EventLogRecord, field), header.field);
#define STORE_U16(field) StoreU16(bytes + offsetof(EventLogRecord, field), header.field);
  EVENT_RECORD_HEADER_FIELDS(STORE_U32, STORE_U16)
#undef STORE_U32
#undef STORE_U16
}

EventRecordWriter::EventRecordWriter(std::string& out, const EventLogRecord& header,
                                     std::size_t unitSize)
    : out_(out), base_(out.size()), unitSize_(unitSize) {
  // Appended from bytes laid out here: a record is written many thousand times a search.
  std::uint8_t stored[kEventRecordHeaderSize];
  StoreEventRecordHeader(header, stored);
  out_.append(reinterpret_cast<const char*>(stored), kEventRecordHeaderSize);
}

void EventRecordWriter::Put32(std::size_t at, std::uint32_t value) {
  StoreU32(reinterpret_cast<std::uint8_t*>(out_.data() + base_ + at), value);
}

void EventRecordWriter::Pad() {
  if (const std::size_t padding = (4 - Size() % 4) % 4; padding != 0)
    out_.append("\0\0\0", padding);
}

void EventRecordWriter::Text(std::string_view text) {
  out_ += text;
  EndText();
}

void EventRecordWriter::EndText() {
  if (unitSize_ == 1)
    out_.push_back('\0');
  else
    out_.append(unitSize_, '\0');
  if (inStrings_) ++strings_;
}

void EventRecordWriter::EndTexts(std::uint16_t count) {
  if (inStrings_) strings_ = std::uint16_t(strings_ + count);
}

void EventRecordWriter::Sid(std::span<const std::uint8_t> sid) {
  Pad();
  Put32(offsetof(EventLogRecord, UserSidOffset), std::uint32_t(Size()));
  Put32(offsetof(EventLogRecord, UserSidLength), std::uint32_t(sid.size()));
  if (!sid.empty()) out_.append(reinterpret_cast<const char*>(sid.data()), sid.size());
}

void EventRecordWriter::BeginStrings() {
  Put32(offsetof(EventLogRecord, StringOffset), std::uint32_t(Size()));
  inStrings_ = true;
}

void EventRecordWriter::Data(std::span<const std::uint8_t> data) {
  inStrings_ = false;
  Put32(offsetof(EventLogRecord, DataOffset), std::uint32_t(Size()));
  Put32(offsetof(EventLogRecord, DataLength), std::uint32_t(data.size()));
  if (!data.empty()) out_.append(reinterpret_cast<const char*>(data.data()), data.size());
}

std::uint32_t EventRecordWriter::Finish() {
  Pad();
  const auto length = std::uint32_t(Size() + kTrailerSize);
  std::uint8_t trailer[kTrailerSize];
  StoreU32(trailer, length);
  out_.append(reinterpret_cast<const char*>(trailer), kTrailerSize);
  Put32(offsetof(EventLogRecord, Length), length);
  StoreU16(
      reinterpret_cast<std::uint8_t*>(out_.data() + base_ + offsetof(EventLogRecord, NumStrings)),
      strings_);
  return length;
}

std::string BuildEventRecord(const EventRecordFields& fields) {
  EventLogRecord header{};
  header.Reserved = kEventRecordSignature;
  header.RecordNumber = fields.RecordNumber;
  header.TimeGenerated = fields.TimeGenerated;
  header.TimeWritten = fields.TimeWritten;
  header.EventID = fields.EventID;
  header.EventType = fields.EventType;
  header.EventCategory = fields.EventCategory;
  std::string out;
  EventRecordWriter record(out, header);
  record.Text(fields.Source);
  record.Text(fields.Computer);
  record.Sid(fields.UserSid);
  record.BeginStrings();
  for (const std::string& text : fields.Strings) record.Text(text);
  record.Data(fields.Data);
  record.Finish();
  return out;
}

std::optional<std::uint32_t> FramedRecordLength(const std::uint8_t* bytes, std::size_t available) {
  const std::uint32_t length = available >= 4 ? LoadU32(bytes) : 0;
  if (length < kEventRecordHeaderSize || length > available) return std::nullopt;
  return length;
}

EventRecordDecoding DecodeEventRecord(const std::uint8_t* bytes, std::size_t available,
                                      EventRecordCheck check) {
  const auto length = FramedRecordLength(bytes, available);
  if (!length) return Malformed("the length is below the fixed header or past the bytes read");
  EventRecordDecoding decoding;
  DecodedEventRecord& record = decoding.Record.emplace();
  record.Header = LoadEventRecordHeader(bytes);
  const auto source = TextAt(bytes, kEventRecordHeaderSize, *length);
  if (!source) return Malformed("the source name has no zero byte inside the record");
  const auto message = TextAt(bytes, record.Header.StringOffset, *length);
  if (!message)
    return Malformed("the text at the string offset has no zero byte inside the record");
  record.Source = *source;
  record.Message = *message;
  if (check == EventRecordCheck::Whole) {
    if (const std::string_view problem = DecodeRest(bytes, record); !problem.empty())
      return Malformed(problem);
  }
  return decoding;
}

EventRecordFields DecodedEventRecord::Fields() const {
  EventRecordFields fields;
  fields.RecordNumber = Header.RecordNumber;
  fields.TimeGenerated = Header.TimeGenerated;
  fields.TimeWritten = Header.TimeWritten;
  fields.EventID = Header.EventID;
  fields.EventType = Header.EventType;
  fields.EventCategory = Header.EventCategory;
  fields.Source = Source;
  fields.Computer = Computer;
  fields.UserSid.assign(UserSid.begin(), UserSid.end());
  fields.Strings.assign(Strings.begin(), Strings.end());
  fields.Data.assign(Data.begin(), Data.end());
  return fields;
}

}  // namespace core
