#include "core/evt_codec.h"

#include <iterator>
#include <span>

#include "core/byteorder.h"
#include "core/utf16_scan.h"

namespace core::evt {
namespace {

// Where the fields lie, from the layouts' own definitions.
constexpr std::size_t kLengthAt = offsetof(EventLogRecord, Length);
constexpr std::size_t kRecordSignatureAt = offsetof(EventLogRecord, Reserved);
constexpr std::size_t kNumStringsAt = offsetof(EventLogRecord, NumStrings);
constexpr std::size_t kStringOffsetAt = offsetof(EventLogRecord, StringOffset);
constexpr std::size_t kUserSidLengthAt = offsetof(EventLogRecord, UserSidLength);
constexpr std::size_t kUserSidOffsetAt = offsetof(EventLogRecord, UserSidOffset);
constexpr std::size_t kDataLengthAt = offsetof(EventLogRecord, DataLength);
constexpr std::size_t kDataOffsetAt = offsetof(EventLogRecord, DataOffset);

// A 32-bit number and where it is stored.
struct NumberAt {
  std::size_t At;
  std::uint32_t Value;
};

std::uint32_t HeaderField(const std::uint8_t* bytes, std::size_t at) { return LoadU32(bytes + at); }

}  // namespace

std::optional<FileHeader> DecodeHeader(const std::uint8_t (&bytes)[kHeaderSize]) {
  if (HeaderField(bytes, offsetof(HeaderLayout, HeaderSize)) != kHeaderSize ||
      HeaderField(bytes, offsetof(HeaderLayout, Signature)) != kSignature ||
      HeaderField(bytes, offsetof(HeaderLayout, EndHeaderSize)) != kHeaderSize)
    return std::nullopt;
  FileHeader header;
  header.StartOffset = HeaderField(bytes, offsetof(HeaderLayout, StartOffset));
  header.EndOffset = HeaderField(bytes, offsetof(HeaderLayout, EndOffset));
  header.CurrentRecordNumber = HeaderField(bytes, offsetof(HeaderLayout, CurrentRecordNumber));
  header.OldestRecordNumber = HeaderField(bytes, offsetof(HeaderLayout, OldestRecordNumber));
  header.MaxSize = HeaderField(bytes, offsetof(HeaderLayout, MaxSize));
  header.Flags = HeaderField(bytes, offsetof(HeaderLayout, Flags));
  header.Retention = HeaderField(bytes, offsetof(HeaderLayout, Retention));
  return header;
}

void EncodeHeader(const FileHeader& header, std::uint8_t (&bytes)[kHeaderSize]) {
  const NumberAt fields[] = {
      {offsetof(HeaderLayout, HeaderSize), kHeaderSize},
      {offsetof(HeaderLayout, Signature), kSignature},
      {offsetof(HeaderLayout, MajorVersion), 1},
      {offsetof(HeaderLayout, MinorVersion), 1},
      {offsetof(HeaderLayout, StartOffset), header.StartOffset},
      {offsetof(HeaderLayout, EndOffset), header.EndOffset},
      {offsetof(HeaderLayout, CurrentRecordNumber), header.CurrentRecordNumber},
      {offsetof(HeaderLayout, OldestRecordNumber), header.OldestRecordNumber},
      {offsetof(HeaderLayout, MaxSize), header.MaxSize},
      {offsetof(HeaderLayout, Flags), header.Flags},
      {offsetof(HeaderLayout, Retention), header.Retention},
      {offsetof(HeaderLayout, EndHeaderSize), kHeaderSize}};
  static_assert(std::size(fields) * 4 == kHeaderSize);
  for (const NumberAt& field : fields) StoreU32(bytes + field.At, field.Value);
}

bool IsEofRecord(const std::uint8_t (&bytes)[kEofSize]) {
  if (LoadU32(bytes + offsetof(EofLayout, RecordSizeBeginning)) != kEofSize ||
      LoadU32(bytes + offsetof(EofLayout, RecordSizeEnd)) != kEofSize)
    return false;
  for (int i = 0; i < 4; ++i)
    if (LoadU32(bytes + offsetof(EofLayout, Signatures) + 4 * i) != kEofSignatures[i]) return false;
  return true;
}

void EncodeEof(const LogBounds& bounds, std::uint8_t (&bytes)[kEofSize]) {
  const NumberAt fields[] = {{offsetof(EofLayout, RecordSizeBeginning), kEofSize},
                             {offsetof(EofLayout, Signatures) + 0, kEofSignatures[0]},
                             {offsetof(EofLayout, Signatures) + 4, kEofSignatures[1]},
                             {offsetof(EofLayout, Signatures) + 8, kEofSignatures[2]},
                             {offsetof(EofLayout, Signatures) + 12, kEofSignatures[3]},
                             {offsetof(EofLayout, BeginRecord), bounds.BeginOffset},
                             {offsetof(EofLayout, EndRecord), bounds.EofOffset},
                             {offsetof(EofLayout, CurrentRecordNumber), bounds.CurrentRecordNumber},
                             {offsetof(EofLayout, OldestRecordNumber), bounds.OldestRecordNumber},
                             {offsetof(EofLayout, RecordSizeEnd), kEofSize}};
  static_assert(std::size(fields) * 4 == kEofSize);
  for (const NumberAt& field : fields) StoreU32(bytes + field.At, field.Value);
}

std::optional<LogBounds> DecodeEof(const std::uint8_t (&bytes)[kEofSize], std::uint32_t offset,
                                   std::uint32_t regionEnd) {
  if (!IsEofRecord(bytes)) return std::nullopt;
  LogBounds bounds;
  bounds.BeginOffset = LoadU32(bytes + offsetof(EofLayout, BeginRecord));
  bounds.EofOffset = offset;
  bounds.CurrentRecordNumber = LoadU32(bytes + offsetof(EofLayout, CurrentRecordNumber));
  bounds.OldestRecordNumber = LoadU32(bytes + offsetof(EofLayout, OldestRecordNumber));
  if (bounds.BeginOffset < kHeaderSize || bounds.BeginOffset >= regionEnd ||
      bounds.BeginOffset % 4 != 0)
    return std::nullopt;
  return bounds;
}

std::uint32_t CircularRegion::Forward(std::uint32_t offset, std::uint32_t count) const {
  std::uint64_t next = std::uint64_t(offset) + count;
  if (next >= End) next -= End - kHeaderSize;
  return std::uint32_t(next);
}

std::uint32_t CircularRegion::Backward(std::uint32_t offset, std::uint32_t count) const {
  std::int64_t previous = std::int64_t(offset) - count;
  if (previous < std::int64_t(kHeaderSize)) previous += End - kHeaderSize;
  return std::uint32_t(previous);
}

std::uint32_t CircularRegion::Distance(std::uint32_t from, std::uint32_t to) const {
  return to >= from ? to - from : (End - from) + (to - kHeaderSize);
}

namespace {

using utf16::AppendAsciiTexts;
using utf16::AppendAsciiUnits;
using utf16::AsciiRunEnd;
using utf16::UnitAt;
using utf16::WideTextUnits;

// Appends the zero-terminated text, which must end within maxUnits, in the 8-bit set: its ASCII
// runs as they are, each run of other units through toAnsi (a surrogate pair lies within one
// run). Returns the count of units before the terminator; nullopt when there is none.
std::optional<std::uint32_t> AppendWideText(const std::uint8_t* text, std::uint32_t maxUnits,
                                            WideToAnsiAppender toAnsi, std::string& out) {
  std::uint32_t i = 0;
  for (;;) {
    const std::uint32_t asciiEnd = AsciiRunEnd(text, i, maxUnits);
    if (asciiEnd >= maxUnits) return std::nullopt;
    AppendAsciiUnits(text + 2 * i, asciiEnd - i, out);
    i = asciiEnd;
    if (UnitAt(text, i) == 0) return i;
    std::uint32_t end = i + 1;
    while (end < maxUnits && UnitAt(text, end) >= 0x80) ++end;
    if (end >= maxUnits) return std::nullopt;
    toAnsi(text + 2 * i, end - i, out);
    i = end;
  }
}

bool InsideRecord(std::uint32_t offset, std::uint32_t length, std::uint32_t limit) {
  return offset >= kFixedRecordSize && std::uint64_t(offset) + length <= limit;
}

// The checks that need no text: sizes, signature, trailing length, SID, data and where the
// strings begin.
bool FixedPartFits(const std::uint8_t* bytes, std::uint32_t length) {
  if (length < kMinRecordSize || length > kMaxRecordSize || length % 4 != 0 ||
      LoadU32(bytes + kLengthAt) != length || LoadU32(bytes + kRecordSignatureAt) != kSignature ||
      LoadU32(bytes + length - 4) != length)
    return false;
  const std::uint32_t limit = length - 4;
  const std::uint32_t sidLength = LoadU32(bytes + kUserSidLengthAt);
  if (sidLength != 0 && !InsideRecord(LoadU32(bytes + kUserSidOffsetAt), sidLength, limit))
    return false;
  const std::uint32_t dataLength = LoadU32(bytes + kDataLengthAt);
  if (dataLength != 0 && !InsideRecord(LoadU32(bytes + kDataOffsetAt), dataLength, limit))
    return false;
  return LoadU16(bytes + kNumStringsAt) == 0 ||
         InsideRecord(LoadU32(bytes + kStringOffsetAt), 0, limit);
}

// The count bytes at offset of a record that has been checked; none when count is 0.
std::span<const std::uint8_t> Part(const std::uint8_t* bytes, std::uint32_t offset,
                                   std::uint32_t count) {
  if (count == 0) return {};
  return {bytes + offset, count};
}

// Units that fit between offset and limit.
std::uint32_t UnitsBefore(std::uint32_t offset, std::uint32_t limit) {
  return offset < limit ? (limit - offset) / 2 : 0;
}

}  // namespace

std::optional<RecordView> CheckRecord(const std::uint8_t* bytes, std::uint32_t length) {
  if (!FixedPartFits(bytes, length)) return std::nullopt;
  const std::uint32_t limit = length - 4;
  auto sourceUnits = WideTextUnits(bytes + kFixedRecordSize, UnitsBefore(kFixedRecordSize, limit));
  if (!sourceUnits) return std::nullopt;
  const std::uint32_t computerOffset = kFixedRecordSize + 2 * (*sourceUnits + 1);
  auto computerUnits = WideTextUnits(bytes + computerOffset, UnitsBefore(computerOffset, limit));
  if (!computerUnits) return std::nullopt;
  std::uint32_t at = LoadU32(bytes + kStringOffsetAt);
  for (std::uint16_t i = 0, n = LoadU16(bytes + kNumStringsAt); i < n; ++i) {
    auto units = WideTextUnits(bytes + at, UnitsBefore(at, limit));
    if (!units) return std::nullopt;
    at += 2 * (*units + 1);
  }
  return RecordView{bytes, length, *sourceUnits, computerOffset, *computerUnits};
}

bool AppendAnsiRecord(const std::uint8_t* bytes, std::uint32_t length, WideToAnsiAppender toAnsi,
                      std::string& out) {
  if (!FixedPartFits(bytes, length)) return false;
  const std::uint32_t limit = length - 4;
  const EventLogRecord header = LoadEventRecordHeader(bytes);
  EventRecordWriter record(out, header);
  // Appends the text at offset with its zero byte; the offset past its terminator, or 0.
  const auto appendText = [&](std::uint32_t offset) -> std::uint32_t {
    auto units = AppendWideText(bytes + offset, UnitsBefore(offset, limit), toAnsi, record.Out());
    if (!units) return 0;
    record.EndText();
    return offset + 2 * (*units + 1);
  };
  // Texts that follow each other and are ASCII throughout (the usual record) are narrowed in
  // one go, their terminators with them; true when they were.
  const auto appendAsciiTexts = [&](std::uint32_t offset, std::uint16_t count) {
    if (!AppendAsciiTexts(bytes + offset, count, UnitsBefore(offset, limit), record.Out()))
      return false;
    record.EndTexts(count);
    return true;
  };
  if (!appendAsciiTexts(kFixedRecordSize, 2)) {
    const std::uint32_t computerOffset = appendText(kFixedRecordSize);
    if (computerOffset == 0 || appendText(computerOffset) == 0) {
      record.Abandon();
      return false;
    }
  }
  record.Sid(Part(bytes, header.UserSidOffset, header.UserSidLength));
  record.BeginStrings();
  if (header.NumStrings > 0 && !appendAsciiTexts(header.StringOffset, header.NumStrings)) {
    std::uint32_t at = header.StringOffset;
    for (std::uint16_t i = 0; i < header.NumStrings; ++i) {
      at = appendText(at);
      if (at == 0) {
        record.Abandon();
        return false;
      }
    }
  }
  record.Data(Part(bytes, header.DataOffset, header.DataLength));
  record.Finish();
  return true;
}

namespace {

void AppendWide(std::string& out, const std::u16string& text) {
  for (char16_t unit : text) {
    out.push_back(char(std::uint8_t(unit)));
    out.push_back(char(std::uint8_t(unit >> 8)));
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeRecord(const NewRecord& record, std::uint32_t recordNumber) {
  EventLogRecord header{};
  header.Reserved = kSignature;
  header.RecordNumber = recordNumber;
  header.TimeGenerated = record.TimeGenerated;
  header.TimeWritten = record.TimeWritten;
  header.EventID = record.EventID;
  header.EventType = record.EventType;
  header.EventCategory = record.EventCategory;
  std::string out;
  EventRecordWriter writer(out, header, sizeof(char16_t));
  const auto text = [&](const std::u16string& value) {
    AppendWide(writer.Out(), value);
    writer.EndText();
  };
  text(record.Source);
  text(record.Computer);
  writer.Sid({});  // no user SID
  writer.BeginStrings();
  for (const auto& value : record.Strings) text(value);
  writer.Data(record.Data);
  writer.Finish();
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

}  // namespace core::evt
