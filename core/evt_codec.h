// The NT event log file (.evt) as bytes: a 0x30-byte header, event records in a circular region
// that starts right after the header and ends at the end of the file, and an end-of-file record
// behind the newest record. Records may straddle the end of the file and go on after the header.
// Encoding and decoding only; reading and writing the files is the platform's. A record's own
// layout is core/event_record.h: its writer builds both the file's records (UTF-16 texts) and
// their 8-bit form here; the UTF-16 scanning is core/utf16_scan.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/event_record.h"

namespace core::evt {

// The file header as stored, every number little-endian.
struct HeaderLayout {
  std::uint32_t HeaderSize;  // 0x30
  std::uint32_t Signature;   // "LfLe"
  std::uint32_t MajorVersion;
  std::uint32_t MinorVersion;
  std::uint32_t StartOffset;  // oldest record
  std::uint32_t EndOffset;    // end-of-file record
  std::uint32_t CurrentRecordNumber;
  std::uint32_t OldestRecordNumber;
  std::uint32_t MaxSize;
  std::uint32_t Flags;
  std::uint32_t Retention;
  std::uint32_t EndHeaderSize;  // 0x30 again
};

// The end-of-file record as stored.
struct EofLayout {
  std::uint32_t RecordSizeBeginning;  // 0x28
  std::uint32_t Signatures[4];        // kEofSignatures
  std::uint32_t BeginRecord;
  std::uint32_t EndRecord;
  std::uint32_t CurrentRecordNumber;
  std::uint32_t OldestRecordNumber;
  std::uint32_t RecordSizeEnd;  // 0x28 again
};

constexpr std::uint32_t kHeaderSize = sizeof(HeaderLayout);
constexpr std::uint32_t kEofSize = sizeof(EofLayout);
static_assert(kHeaderSize == 0x30 && offsetof(HeaderLayout, Flags) == 36);
static_assert(kEofSize == 0x28 && offsetof(EofLayout, BeginRecord) == 20);

constexpr std::uint32_t kSignature = kEventRecordSignature;
constexpr std::uint32_t kFixedRecordSize = kEventRecordHeaderSize;
// Fixed part, two empty names and the trailing length.
constexpr std::uint32_t kMinRecordSize = kFixedRecordSize + 2 + 2 + 4;
// Records above this size are taken as damage; it keeps every read buffer bounded.
constexpr std::uint32_t kMaxRecordSize = 0x40000;
constexpr std::uint32_t kFlagDirty = 1;
constexpr std::uint32_t kFlagWrapped = 2;
constexpr std::uint32_t kDefaultMaxSize = 20 * 1024 * 1024;
constexpr std::uint32_t kMinMaxSize = 0x10000;
constexpr std::uint32_t kEofSignatures[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

struct FileHeader {
  std::uint32_t StartOffset = kHeaderSize;  // oldest record
  std::uint32_t EndOffset = kHeaderSize;    // end-of-file record
  std::uint32_t CurrentRecordNumber = 1;    // number of the next record
  std::uint32_t OldestRecordNumber = 0;     // 0 while the log is empty
  std::uint32_t MaxSize = kDefaultMaxSize;
  std::uint32_t Flags = 0;
  std::uint32_t Retention = 0;
};
std::optional<FileHeader> DecodeHeader(const std::uint8_t (&bytes)[kHeaderSize]);
void EncodeHeader(const FileHeader& header, std::uint8_t (&bytes)[kHeaderSize]);

// Where the records lie: the oldest at BeginOffset, the end-of-file record at EofOffset.
struct LogBounds {
  std::uint32_t BeginOffset = kHeaderSize;
  std::uint32_t EofOffset = kHeaderSize;
  std::uint32_t CurrentRecordNumber = 1;
  std::uint32_t OldestRecordNumber = 0;
};
bool IsEofRecord(const std::uint8_t (&bytes)[kEofSize]);
void EncodeEof(const LogBounds& bounds, std::uint8_t (&bytes)[kEofSize]);
// The bounds an end-of-file record found at offset names; nullopt when the bytes are none, or
// when its oldest record lies outside the region that ends at regionEnd or off the 4-byte grid.
std::optional<LogBounds> DecodeEof(const std::uint8_t (&bytes)[kEofSize], std::uint32_t offset,
                                   std::uint32_t regionEnd);

// Offsets in the circular region [kHeaderSize, End): moving past End goes on after the header.
struct CircularRegion {
  std::uint32_t End = kHeaderSize;  // the size of the file
  std::uint32_t Forward(std::uint32_t offset, std::uint32_t count) const;
  std::uint32_t Backward(std::uint32_t offset, std::uint32_t count) const;
  std::uint32_t Distance(std::uint32_t from, std::uint32_t to) const;
};

// The parts of a record that lie in its variable area, checked against the record's length.
struct RecordView {
  const std::uint8_t* Bytes = nullptr;
  std::uint32_t Length = 0;
  std::uint32_t SourceUnits = 0;  // UTF-16 units without the terminator
  std::uint32_t ComputerOffset = 0;
  std::uint32_t ComputerUnits = 0;
};
// Checks a whole record of length bytes: sizes, signature, trailing length, the names, the
// SID, the strings and the data inside the record.
std::optional<RecordView> CheckRecord(const std::uint8_t* bytes, std::uint32_t length);

// Appends units UTF-16 code units, stored little-endian at bytes, in the 8-bit character set of
// the records delivered; a character the set lacks becomes "?". The character set is the
// platform's business (platform/text.h), so the codec is handed its conversion.
using WideToAnsiAppender = void (*)(const std::uint8_t* bytes, std::size_t units, std::string& out);

// Checks the record of length bytes as CheckRecord does and appends it in the 8-bit layout of
// the event log service, the names and strings converted by toAnsi; every 8-bit set the
// conversion serves holds ASCII unchanged, so ASCII is copied here and only the runs of other
// characters go through toAnsi. False, with out as it was, when the record breaks the layout.
bool AppendAnsiRecord(const std::uint8_t* bytes, std::uint32_t length, WideToAnsiAppender toAnsi,
                      std::string& out);

// A record to be written; texts already in UTF-16.
struct NewRecord {
  std::uint32_t TimeGenerated = 0;
  std::uint32_t TimeWritten = 0;
  std::uint32_t EventID = 0;
  std::uint16_t EventType = 4;
  std::uint16_t EventCategory = 0;
  std::u16string Source;
  std::u16string Computer;
  std::vector<std::u16string> Strings;
  std::vector<std::uint8_t> Data;
};
// The record in the file layout, with the record number filled in.
std::vector<std::uint8_t> EncodeRecord(const NewRecord& record, std::uint32_t recordNumber);

}  // namespace core::evt
