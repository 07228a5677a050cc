// The NT event log file (.evt): a 0x30-byte header, event records in a circular region that
// starts right after the header and ends at the end of the file, and an end-of-file record
// behind the newest record. Records may straddle the end of the file and go on after the
// header. Shared by the event log reader and the eventcreate tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/byteorder.h"
#include "core/event_record.h"

namespace platform::evt {

constexpr std::uint32_t kHeaderSize = 0x30;
constexpr std::uint32_t kEofSize = 0x28;
constexpr std::uint32_t kSignature = 0x654c664c;  // "LfLe"
constexpr std::uint32_t kFixedRecordSize = 56;
// Fixed part, two empty names and the trailing length.
constexpr std::uint32_t kMinRecordSize = kFixedRecordSize + 2 + 2 + 4;
// Records above this size are taken as damage; it keeps every read buffer bounded.
constexpr std::uint32_t kMaxRecordSize = 0x40000;
constexpr std::uint32_t kFlagDirty = 1;
constexpr std::uint32_t kFlagWrapped = 2;
constexpr std::uint32_t kDefaultMaxSize = 20 * 1024 * 1024;
constexpr std::uint32_t kMinMaxSize = 0x10000;
constexpr std::uint32_t kEofSignatures[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

using core::LoadU16;
using core::LoadU32;
using core::StoreU16;
using core::StoreU32;

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

// An open log file, read through a bounded cache window with positioned reads. Offsets are
// file offsets inside the circular region [kHeaderSize, RegionEnd()).
class LogFile {
 public:
  static constexpr std::uint32_t kWindowSize = 64 * 1024;

  explicit LogFile(int fd) : fd_(fd) {}
  int Fd() const { return fd_; }

  // Reads the header and the file size; false when the file is no event log.
  bool Load();
  const FileHeader& Header() const { return header_; }
  const std::uint8_t (&HeaderBytes() const)[kHeaderSize] { return headerBytes_; }
  std::uint32_t RegionEnd() const { return regionEnd_; }
  void SetRegionEnd(std::uint32_t end) { regionEnd_ = end; }
  void DropCache() { windowLength_ = 0; }
  // While set, Fetch answers only from the cache window and notes a miss instead of reading.
  void SetCacheOnly(bool cacheOnly) {
    cacheOnly_ = cacheOnly;
    missed_ = false;
  }
  bool Missed() const { return missed_; }

  // Finds the end-of-file record: where the header says, else by scanning the region from
  // there on (a dirty log's header offsets are stale).
  std::optional<LogBounds> LocateEof();
  // A log that never wrapped but lost its end-of-file record (a copy cut short, a full disk):
  // the bounds of the whole records that follow each other from the start of the region, up to
  // the first one that is cut off or damaged. nullopt for a wrapped log or one without a whole
  // record.
  std::optional<LogBounds> RecoverUnwrappedBounds();

  // Offset arithmetic in the circular region.
  std::uint32_t Forward(std::uint32_t offset, std::uint32_t count) const;
  std::uint32_t Backward(std::uint32_t offset, std::uint32_t count) const;
  std::uint32_t Distance(std::uint32_t from, std::uint32_t to) const;

  // count bytes from offset on, following the wrap; nullptr when the file cannot give them.
  // The pointer lives until the next call.
  const std::uint8_t* Fetch(std::uint32_t offset, std::uint32_t count);

 private:
  bool ReadExact(std::uint64_t offset, std::uint8_t* dest, std::size_t count);
  std::optional<LogBounds> EofAt(std::uint32_t offset);

  int fd_;
  FileHeader header_;
  std::uint8_t headerBytes_[kHeaderSize] = {};
  std::uint32_t regionEnd_ = kHeaderSize;
  std::vector<std::uint8_t> window_;
  std::uint32_t windowStart_ = 0;
  std::uint32_t windowLength_ = 0;
  std::vector<std::uint8_t> scratch_;
  bool cacheOnly_ = false;
  bool missed_ = false;
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

// Appends the record in the 8-bit layout of the event log service (names and strings in the
// locale's character set).
void AppendAnsiRecord(const RecordView& record, std::string& out);

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

// How long a reader or a writer waits for a log that another process holds locked: a writer
// stuck while holding the lock must not freeze the monitor or the writers behind it.
constexpr int kLockWaitMilliseconds = 3000;

// A lock on the whole file for as long as this lives (readers share it, a writer holds it
// alone), taken within kLockWaitMilliseconds. Held() is false when another holder kept the
// file locked for that long.
class FileLock {
 public:
  enum class Kind { Shared, Exclusive };
  FileLock(int fd, Kind kind);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// The file of the named log in dir: "<name>.evt" or, for System, Application and Security,
// the classic file name, both compared without regard to case. Empty when there is none.
std::string FindLogFile(const std::string& dir, const std::string& logName);

// The classic file name of System, Application and Security (any letter case): SysEvent.Evt,
// AppEvent.Evt, SecEvent.Evt; empty for every other name.
std::string ClassicFileName(const std::string& logName);

// Appends one record to the log in dir, creating the file (with maxSize) when it is missing
// and overwriting the oldest records when the log is full. Holds an exclusive lock on the
// file throughout, and gives up without writing when the lock cannot be had in time. Returns
// an error text, empty on success.
std::string AppendRecord(const std::string& dir, const std::string& logName,
                         const NewRecord& record, std::uint32_t maxSize);

// The directory of the logs: EVENTLOG_DIR, else /var/log/eventlog.
std::string LogDirectory();

// The name a record carries as its computer when the writer names none: the host name.
std::string LocalComputerName();

// Creates the directory and its parents as needed; false when it cannot be made.
bool MakeDirectories(const std::string& path);

}  // namespace platform::evt
