#include "core/evt_codec.h"

#include <bit>
#include <cstring>
#include <iterator>

#include "core/byteorder.h"

namespace core::evt {
namespace {

// Where the fields lie, from the layouts' own definitions.
constexpr std::size_t kLengthAt = offsetof(EventLogRecord, Length);
constexpr std::size_t kRecordSignatureAt = offsetof(EventLogRecord, Reserved);
constexpr std::size_t kRecordNumberAt = offsetof(EventLogRecord, RecordNumber);
constexpr std::size_t kTimeGeneratedAt = offsetof(EventLogRecord, TimeGenerated);
constexpr std::size_t kTimeWrittenAt = offsetof(EventLogRecord, TimeWritten);
constexpr std::size_t kEventIdAt = offsetof(EventLogRecord, EventID);
constexpr std::size_t kEventTypeAt = offsetof(EventLogRecord, EventType);
constexpr std::size_t kNumStringsAt = offsetof(EventLogRecord, NumStrings);
constexpr std::size_t kEventCategoryAt = offsetof(EventLogRecord, EventCategory);
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

// The texts of a record are mostly ASCII: they are scanned four UTF-16 units (one 64-bit word,
// each unit little-endian in a 16-bit lane) at a time.
constexpr std::uint64_t kLaneLowBits = 0x0001000100010001u;
constexpr std::uint64_t kLaneHighBits = 0x8000800080008000u;
constexpr std::uint64_t kNonAsciiBits = 0xFF80FF80FF80FF80u;

// Native loads and stores where the machine is little-endian, byte by byte elsewhere.
std::uint64_t LoadFourUnits(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  return std::uint64_t(LoadU32(p)) | std::uint64_t(LoadU32(p + 4)) << 32;
}

void StoreFourBytes(std::uint8_t* p, std::uint32_t bytes) {
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(p, &bytes, sizeof bytes);
  else
    StoreU32(p, bytes);
}

// Whether one of the four units is zero (the classic test: only a zero lane borrows into its
// own top bit while that bit was clear).
constexpr bool HasZeroUnit(std::uint64_t word) {
  return ((word - kLaneLowBits) & ~word & kLaneHighBits) != 0;
}

constexpr bool IsPlainAscii(std::uint64_t word) {
  return (word & kNonAsciiBits) == 0 && !HasZeroUnit(word);
}

// The four ASCII units as four bytes, first unit in the lowest byte: each unit's byte moves
// next to the one before, [a 0 b 0 c 0 d 0] | [b 0 c 0 d 0 0 0] = [a b b c c d d 0], and the
// bytes 0, 1, 4 and 5 of that are the text.
constexpr std::uint32_t NarrowFourUnits(std::uint64_t word) {
  const std::uint64_t pairs = word | word >> 8;
  return std::uint32_t((pairs & 0xFFFF) | (pairs >> 16 & 0xFFFF0000));
}

std::uint16_t UnitAt(const std::uint8_t* text, std::uint32_t index) {
  return LoadU16(text + 2 * index);
}

// The count of units before the zero unit of the text, which must come within maxUnits.
std::optional<std::uint32_t> WideTextUnits(const std::uint8_t* text, std::uint32_t maxUnits) {
  std::uint32_t i = 0;
  while (i + 4 <= maxUnits && !HasZeroUnit(LoadFourUnits(text + 2 * i))) i += 4;
  for (; i < maxUnits; ++i)
    if (UnitAt(text, i) == 0) return i;
  return std::nullopt;
}

// The end of the run of ASCII units other than zero that starts at index; eight units a step
// while they last.
std::uint32_t AsciiRunEnd(const std::uint8_t* text, std::uint32_t index, std::uint32_t maxUnits) {
  while (index + 8 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index)) &&
         IsPlainAscii(LoadFourUnits(text + 2 * index + 8)))
    index += 8;
  while (index + 4 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index))) index += 4;
  for (std::uint16_t unit; index < maxUnits && (unit = UnitAt(text, index)) != 0 && unit < 0x80;)
    ++index;
  return index;
}

// Appends count ASCII units as bytes; the string is sized once and filled in place.
void AppendAsciiUnits(const std::uint8_t* units, std::uint32_t count, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + count);
  auto* dest = reinterpret_cast<std::uint8_t*>(out.data() + start);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
    StoreFourBytes(dest + i + 4, NarrowFourUnits(LoadFourUnits(units + 2 * i + 8)));
  }
  for (; i + 4 <= count; i += 4)
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
  for (; i < count; ++i) dest[i] = units[2 * i];
}

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

// Units that fit between offset and limit.
std::uint32_t UnitsBefore(std::uint32_t offset, std::uint32_t limit) {
  return offset < limit ? (limit - offset) / 2 : 0;
}

void AppendPadding(std::string& out, std::size_t base) {
  while ((out.size() - base) % 4 != 0) out.push_back('\0');
}

void AppendU32(std::string& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  StoreU32(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), 4);
}

void PatchU32(std::string& out, std::size_t at, std::uint32_t value) {
  StoreU32(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}

void AppendBytes(std::string& out, const std::uint8_t* bytes, std::uint32_t count) {
  if (count != 0) out.append(reinterpret_cast<const char*>(bytes), count);
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
  const std::size_t base = out.size();
  // Appends the text at offset with its zero byte; the offset past its terminator, or 0.
  const auto appendText = [&](std::uint32_t offset) -> std::uint32_t {
    auto units = AppendWideText(bytes + offset, UnitsBefore(offset, limit), toAnsi, out);
    if (!units) return 0;
    out.push_back('\0');
    return offset + 2 * (*units + 1);
  };
  out.append(reinterpret_cast<const char*>(bytes), kFixedRecordSize);
  const std::uint32_t computerOffset = appendText(kFixedRecordSize);
  if (computerOffset == 0 || appendText(computerOffset) == 0) {
    out.resize(base);
    return false;
  }
  AppendPadding(out, base);

  PatchU32(out, base + kUserSidOffsetAt, std::uint32_t(out.size() - base));
  AppendBytes(out, bytes + LoadU32(bytes + kUserSidOffsetAt), LoadU32(bytes + kUserSidLengthAt));

  PatchU32(out, base + kStringOffsetAt, std::uint32_t(out.size() - base));
  std::uint32_t at = LoadU32(bytes + kStringOffsetAt);
  for (std::uint16_t i = 0, n = LoadU16(bytes + kNumStringsAt); i < n; ++i) {
    at = appendText(at);
    if (at == 0) {
      out.resize(base);
      return false;
    }
  }

  PatchU32(out, base + kDataOffsetAt, std::uint32_t(out.size() - base));
  AppendBytes(out, bytes + LoadU32(bytes + kDataOffsetAt), LoadU32(bytes + kDataLengthAt));
  AppendPadding(out, base);
  const std::uint32_t ansiLength = std::uint32_t(out.size() - base + 4);
  AppendU32(out, ansiLength);
  PatchU32(out, base + kLengthAt, ansiLength);
  return true;
}

namespace {

void AppendWide(std::vector<std::uint8_t>& out, const std::u16string& text) {
  for (char16_t unit : text) {
    out.push_back(std::uint8_t(unit));
    out.push_back(std::uint8_t(unit >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void PadToDword(std::vector<std::uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> EncodeRecord(const NewRecord& record, std::uint32_t recordNumber) {
  std::vector<std::uint8_t> out(kFixedRecordSize, 0);
  AppendWide(out, record.Source);
  AppendWide(out, record.Computer);
  PadToDword(out);
  const std::uint32_t sidOffset = std::uint32_t(out.size());
  const std::uint32_t stringOffset = sidOffset;  // no user SID
  for (const auto& text : record.Strings) AppendWide(out, text);
  const std::uint32_t dataOffset = std::uint32_t(out.size());
  out.insert(out.end(), record.Data.begin(), record.Data.end());
  PadToDword(out);
  const std::uint32_t length = std::uint32_t(out.size() + 4);
  out.resize(length);

  std::uint8_t* h = out.data();
  StoreU32(h + kLengthAt, length);
  StoreU32(h + kRecordSignatureAt, kSignature);
  StoreU32(h + kRecordNumberAt, recordNumber);
  StoreU32(h + kTimeGeneratedAt, record.TimeGenerated);
  StoreU32(h + kTimeWrittenAt, record.TimeWritten);
  StoreU32(h + kEventIdAt, record.EventID);
  StoreU16(h + kEventTypeAt, record.EventType);
  StoreU16(h + kNumStringsAt, std::uint16_t(record.Strings.size()));
  StoreU16(h + kEventCategoryAt, record.EventCategory);
  StoreU32(h + kStringOffsetAt, stringOffset);
  StoreU32(h + kUserSidOffsetAt, sidOffset);
  StoreU32(h + kDataLengthAt, std::uint32_t(record.Data.size()));
  StoreU32(h + kDataOffsetAt, dataOffset);
  StoreU32(h + length - 4, length);
  return out;
}

}  // namespace core::evt
