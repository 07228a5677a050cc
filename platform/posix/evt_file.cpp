#include "platform/posix/evt_format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/ascii.h"
#include "platform/posix/charset.h"

namespace platform::evt {

std::optional<FileHeader> DecodeHeader(const std::uint8_t (&bytes)[kHeaderSize]) {
  if (LoadU32(bytes) != kHeaderSize || LoadU32(bytes + 4) != kSignature ||
      LoadU32(bytes + 44) != kHeaderSize)
    return std::nullopt;
  FileHeader header;
  header.StartOffset = LoadU32(bytes + 16);
  header.EndOffset = LoadU32(bytes + 20);
  header.CurrentRecordNumber = LoadU32(bytes + 24);
  header.OldestRecordNumber = LoadU32(bytes + 28);
  header.MaxSize = LoadU32(bytes + 32);
  header.Flags = LoadU32(bytes + 36);
  header.Retention = LoadU32(bytes + 40);
  return header;
}

void EncodeHeader(const FileHeader& header, std::uint8_t (&bytes)[kHeaderSize]) {
  const std::uint32_t fields[12] = {kHeaderSize,
                                    kSignature,
                                    1,
                                    1,
                                    header.StartOffset,
                                    header.EndOffset,
                                    header.CurrentRecordNumber,
                                    header.OldestRecordNumber,
                                    header.MaxSize,
                                    header.Flags,
                                    header.Retention,
                                    kHeaderSize};
  for (int i = 0; i < 12; ++i) StoreU32(bytes + 4 * i, fields[i]);
}

bool IsEofRecord(const std::uint8_t (&bytes)[kEofSize]) {
  if (LoadU32(bytes) != kEofSize || LoadU32(bytes + 36) != kEofSize) return false;
  for (int i = 0; i < 4; ++i)
    if (LoadU32(bytes + 4 + 4 * i) != kEofSignatures[i]) return false;
  return true;
}

void EncodeEof(const LogBounds& bounds, std::uint8_t (&bytes)[kEofSize]) {
  const std::uint32_t fields[10] = {
      kEofSize,          kEofSignatures[0],          kEofSignatures[1],
      kEofSignatures[2], kEofSignatures[3],          bounds.BeginOffset,
      bounds.EofOffset,  bounds.CurrentRecordNumber, bounds.OldestRecordNumber,
      kEofSize};
  for (int i = 0; i < 10; ++i) StoreU32(bytes + 4 * i, fields[i]);
}

bool LogFile::ReadExact(std::uint64_t offset, std::uint8_t* dest, std::size_t count) {
  while (count > 0) {
    ssize_t got = pread(fd_, dest, count, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    dest += got;
    offset += std::uint64_t(got);
    count -= std::size_t(got);
  }
  return true;
}

bool LogFile::Load() {
  DropCache();
  struct stat st;
  if (fstat(fd_, &st) != 0 || st.st_size < off_t(kHeaderSize + kEofSize) ||
      st.st_size > off_t(0xFFFFFFF0))
    return false;
  if (!ReadExact(0, headerBytes_, kHeaderSize)) return false;
  auto header = DecodeHeader(headerBytes_);
  if (!header) return false;
  header_ = *header;
  regionEnd_ = std::uint32_t(st.st_size);
  return true;
}

std::uint32_t LogFile::Forward(std::uint32_t offset, std::uint32_t count) const {
  std::uint64_t next = std::uint64_t(offset) + count;
  if (next >= regionEnd_) next -= regionEnd_ - kHeaderSize;
  return std::uint32_t(next);
}

std::uint32_t LogFile::Backward(std::uint32_t offset, std::uint32_t count) const {
  std::int64_t previous = std::int64_t(offset) - count;
  if (previous < std::int64_t(kHeaderSize)) previous += regionEnd_ - kHeaderSize;
  return std::uint32_t(previous);
}

std::uint32_t LogFile::Distance(std::uint32_t from, std::uint32_t to) const {
  return to >= from ? to - from : (regionEnd_ - from) + (to - kHeaderSize);
}

const std::uint8_t* LogFile::Fetch(std::uint32_t offset, std::uint32_t count) {
  if (offset < kHeaderSize || offset >= regionEnd_ || count > regionEnd_ - kHeaderSize)
    return nullptr;
  std::uint64_t end = std::uint64_t(offset) + count;
  const bool cached = offset >= windowStart_ && end <= std::uint64_t(windowStart_) + windowLength_;
  if (cached) return window_.data() + (offset - windowStart_);
  if (cacheOnly_) {
    missed_ = true;
    return nullptr;
  }
  if (end > regionEnd_) {
    // Straddles the end of the file: the rest follows the header.
    std::uint32_t head = regionEnd_ - offset;
    scratch_.resize(count);
    if (!ReadExact(offset, scratch_.data(), head) ||
        !ReadExact(kHeaderSize, scratch_.data() + head, count - head))
      return nullptr;
    return scratch_.data();
  }
  if (count > kWindowSize) {
    scratch_.resize(count);
    return ReadExact(offset, scratch_.data(), count) ? scratch_.data() : nullptr;
  }
  // Reading backwards places the window below the request, reading forwards above it.
  bool backwards = windowLength_ > 0 && offset < windowStart_;
  std::uint32_t start =
      backwards
          ? std::uint32_t(std::max<std::int64_t>(kHeaderSize, std::int64_t(end) - kWindowSize))
          : offset;
  std::uint32_t length = std::min<std::uint32_t>(kWindowSize, regionEnd_ - start);
  window_.resize(kWindowSize);
  windowLength_ = 0;
  if (!ReadExact(start, window_.data(), length)) return nullptr;
  windowStart_ = start;
  windowLength_ = length;
  return window_.data() + (offset - start);
}

std::optional<LogBounds> LogFile::EofAt(std::uint32_t offset) {
  const std::uint8_t* bytes = Fetch(offset, kEofSize);
  if (bytes == nullptr) return std::nullopt;
  std::uint8_t eof[kEofSize];
  std::memcpy(eof, bytes, kEofSize);
  if (!IsEofRecord(eof)) return std::nullopt;
  LogBounds bounds;
  bounds.BeginOffset = LoadU32(eof + 20);
  bounds.EofOffset = offset;
  bounds.CurrentRecordNumber = LoadU32(eof + 28);
  bounds.OldestRecordNumber = LoadU32(eof + 32);
  if (bounds.BeginOffset < kHeaderSize || bounds.BeginOffset >= regionEnd_ ||
      bounds.BeginOffset % 4 != 0)
    return std::nullopt;
  return bounds;
}

std::optional<LogBounds> LogFile::LocateEof() {
  std::uint32_t start = header_.EndOffset;
  if (start < kHeaderSize || start >= regionEnd_ || start % 4 != 0) start = kHeaderSize;
  if (auto bounds = EofAt(start)) return bounds;
  // Scan on from the stale offset, around the wrap, back to it.
  std::uint32_t offset = start;
  do {
    const std::uint8_t* first = Fetch(offset, 4);
    if (first != nullptr && LoadU32(first) == kEofSize)
      if (auto bounds = EofAt(offset)) return bounds;
    offset = Forward(offset, 4);
  } while (offset != start);
  return std::nullopt;
}

std::optional<LogBounds> LogFile::RecoverUnwrappedBounds() {
  if ((header_.Flags & kFlagWrapped) != 0 || header_.StartOffset != kHeaderSize)
    return std::nullopt;
  LogBounds bounds;
  std::uint32_t offset = kHeaderSize;
  std::uint32_t count = 0;
  // Nothing here may wrap: a record that runs past the end of the file is cut off.
  while (regionEnd_ - offset >= kMinRecordSize) {
    const std::uint8_t* first = Fetch(offset, 4);
    if (first == nullptr) break;
    const std::uint32_t length = LoadU32(first);
    if (length < kMinRecordSize || length > kMaxRecordSize || length > regionEnd_ - offset) break;
    const std::uint8_t* bytes = Fetch(offset, length);
    if (bytes == nullptr || !CheckRecord(bytes, length)) break;
    const std::uint32_t number = LoadU32(bytes + 8);
    if (count == 0)
      bounds.OldestRecordNumber = number;
    else if (number != bounds.CurrentRecordNumber)
      break;
    bounds.CurrentRecordNumber = number + 1;
    offset += length;
    ++count;
  }
  if (count == 0) return std::nullopt;
  bounds.BeginOffset = kHeaderSize;
  bounds.EofOffset = offset;
  return bounds;
}

namespace {

// Offset just past the zero-terminated UTF-16 text at offset, if it ends before limit.
std::optional<std::uint32_t> SkipWideText(const std::uint8_t* bytes, std::uint32_t offset,
                                          std::uint32_t limit) {
  for (std::uint64_t at = offset; at + 2 <= limit; at += 2)
    if (bytes[at] == 0 && bytes[at + 1] == 0) return std::uint32_t(at + 2);
  return std::nullopt;
}

bool InsideRecord(std::uint32_t offset, std::uint32_t length, std::uint32_t limit) {
  return offset >= kFixedRecordSize && std::uint64_t(offset) + length <= limit;
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

}  // namespace

std::optional<RecordView> CheckRecord(const std::uint8_t* bytes, std::uint32_t length) {
  if (length < kMinRecordSize || length > kMaxRecordSize || length % 4 != 0 ||
      LoadU32(bytes) != length || LoadU32(bytes + 4) != kSignature ||
      LoadU32(bytes + length - 4) != length)
    return std::nullopt;
  const std::uint32_t limit = length - 4;
  RecordView view{bytes, length, 0, 0, 0};
  auto sourceEnd = SkipWideText(bytes, kFixedRecordSize, limit);
  if (!sourceEnd) return std::nullopt;
  auto computerEnd = SkipWideText(bytes, *sourceEnd, limit);
  if (!computerEnd) return std::nullopt;
  view.SourceUnits = (*sourceEnd - kFixedRecordSize) / 2 - 1;
  view.ComputerOffset = *sourceEnd;
  view.ComputerUnits = (*computerEnd - *sourceEnd) / 2 - 1;

  const std::uint32_t sidLength = LoadU32(bytes + 40);
  if (sidLength != 0 && !InsideRecord(LoadU32(bytes + 44), sidLength, limit)) return std::nullopt;
  const std::uint32_t dataLength = LoadU32(bytes + 48);
  if (dataLength != 0 && !InsideRecord(LoadU32(bytes + 52), dataLength, limit)) return std::nullopt;
  const std::uint16_t numStrings = LoadU16(bytes + 26);
  std::uint32_t at = LoadU32(bytes + 36);
  if (numStrings != 0 && !InsideRecord(at, 0, limit)) return std::nullopt;
  for (std::uint16_t i = 0; i < numStrings; ++i) {
    auto next = SkipWideText(bytes, at, limit);
    if (!next) return std::nullopt;
    at = *next;
  }
  return view;
}

void AppendAnsiRecord(const RecordView& record, std::string& out) {
  const std::uint8_t* bytes = record.Bytes;
  const std::size_t base = out.size();
  out.append(reinterpret_cast<const char*>(bytes), kFixedRecordSize);
  AppendUtf16LeAsAnsi(bytes + kFixedRecordSize, record.SourceUnits, out);
  out.push_back('\0');
  AppendUtf16LeAsAnsi(bytes + record.ComputerOffset, record.ComputerUnits, out);
  out.push_back('\0');
  AppendPadding(out, base);

  const std::uint32_t sidLength = LoadU32(bytes + 40);
  PatchU32(out, base + 44, std::uint32_t(out.size() - base));
  out.append(reinterpret_cast<const char*>(bytes + LoadU32(bytes + 44)), sidLength);

  PatchU32(out, base + 36, std::uint32_t(out.size() - base));
  std::uint32_t at = LoadU32(bytes + 36);
  for (std::uint16_t i = 0, n = LoadU16(bytes + 26); i < n; ++i) {
    std::uint32_t units = 0;
    while (bytes[at + 2 * units] != 0 || bytes[at + 2 * units + 1] != 0) ++units;
    AppendUtf16LeAsAnsi(bytes + at, units, out);
    out.push_back('\0');
    at += 2 * (units + 1);
  }

  const std::uint32_t dataLength = LoadU32(bytes + 48);
  PatchU32(out, base + 52, std::uint32_t(out.size() - base));
  out.append(reinterpret_cast<const char*>(bytes + LoadU32(bytes + 52)), dataLength);
  AppendPadding(out, base);
  const std::uint32_t length = std::uint32_t(out.size() - base + 4);
  AppendU32(out, length);
  PatchU32(out, base, length);
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
  std::uint8_t* h = out.data();
  StoreU32(h + 4, kSignature);
  StoreU32(h + 8, recordNumber);
  StoreU32(h + 12, record.TimeGenerated);
  StoreU32(h + 16, record.TimeWritten);
  StoreU32(h + 20, record.EventID);
  StoreU16(h + 24, record.EventType);
  StoreU16(h + 26, std::uint16_t(record.Strings.size()));
  StoreU16(h + 28, record.EventCategory);
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
  h = out.data();
  StoreU32(h, length);
  StoreU32(h + 36, stringOffset);
  StoreU32(h + 44, sidOffset);
  StoreU32(h + 48, std::uint32_t(record.Data.size()));
  StoreU32(h + 52, dataOffset);
  StoreU32(h + length - 4, length);
  return out;
}

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string ClassicFileName(const std::string& logName) {
  if (core::EqualsIgnoringAsciiCase(logName, "System")) return "SysEvent.Evt";
  if (core::EqualsIgnoringAsciiCase(logName, "Application")) return "AppEvent.Evt";
  if (core::EqualsIgnoringAsciiCase(logName, "Security")) return "SecEvent.Evt";
  return {};
}

std::string FindLogFile(const std::string& dir, const std::string& logName) {
  if (logName.empty() || logName.find('/') != std::string::npos) return {};
  const std::string wanted = logName + ".evt";
  const std::string classic = ClassicFileName(logName);
  DIR* stream = opendir(dir.c_str());
  if (stream == nullptr) return {};
  std::string byName, byClassic;
  while (dirent* entry = readdir(stream)) {
    std::string_view name = entry->d_name;
    if (byName.empty() && core::EqualsIgnoringAsciiCase(name, wanted))
      byName = dir + "/" + entry->d_name;
    else if (byClassic.empty() && !classic.empty() && core::EqualsIgnoringAsciiCase(name, classic))
      byClassic = dir + "/" + entry->d_name;
  }
  closedir(stream);
  if (!byName.empty() && IsRegularFile(byName)) return byName;
  if (!byClassic.empty() && IsRegularFile(byClassic)) return byClassic;
  return {};
}

FileLock::FileLock(int fd, Kind kind) : fd_(fd) {
  // flock has no time limit of its own: try without waiting, and pause in between.
  const int operation = (kind == Kind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (flock(fd_, operation) == 0) {
      held_ = true;
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(10));
  }
}

FileLock::~FileLock() {
  if (held_) flock(fd_, LOCK_UN);
}

std::string LogDirectory() {
  const char* dir = std::getenv("EVENTLOG_DIR");
  return dir != nullptr && *dir != '\0' ? dir : "/var/log/eventlog";
}

namespace {

bool WriteExact(int fd, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t put = pwrite(fd, bytes, count, off_t(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    offset += std::uint64_t(put);
    count -= std::size_t(put);
  }
  return true;
}

// Writes count bytes at offset of the circular region, going on after the header at its end.
bool WriteCircular(int fd, std::uint32_t regionEnd, std::uint32_t offset, const std::uint8_t* bytes,
                   std::size_t count) {
  std::size_t head = std::min<std::size_t>(count, regionEnd - offset);
  return WriteExact(fd, offset, bytes, head) &&
         WriteExact(fd, kHeaderSize, bytes + head, count - head);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

bool InitializeEmptyLog(int fd, std::uint32_t maxSize) {
  FileHeader header;
  header.MaxSize = maxSize;
  std::uint8_t headerBytes[kHeaderSize];
  EncodeHeader(header, headerBytes);
  LogBounds bounds;
  bounds.OldestRecordNumber = 0;
  std::uint8_t eof[kEofSize];
  EncodeEof(bounds, eof);
  return WriteExact(fd, 0, headerBytes, kHeaderSize) && WriteExact(fd, kHeaderSize, eof, kEofSize);
}

}  // namespace

std::string AppendRecord(const std::string& dir, const std::string& logName,
                         const NewRecord& record, std::uint32_t maxSize) {
  std::string path = FindLogFile(dir, logName);
  if (path.empty()) path = dir + "/" + logName + ".evt";
  FileDescriptor fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return "cannot open " + path + ": " + std::strerror(errno);
  FileLock lock(fd.Get(), FileLock::Kind::Exclusive);
  if (!lock.Held())
    return path + " is locked by another program; gave up after " +
           std::to_string(kLockWaitMilliseconds / 1000) + " seconds, nothing written";

  struct stat st;
  if (fstat(fd.Get(), &st) != 0) return "cannot examine " + path;
  if (st.st_size == 0 && !InitializeEmptyLog(fd.Get(), maxSize)) return "cannot write " + path;
  LogFile file(fd.Get());
  if (!file.Load()) return path + " is no event log";
  auto bounds = file.LocateEof();
  if (!bounds) return path + " has no end-of-file record";

  FileHeader header = file.Header();
  const std::vector<std::uint8_t> bytes = EncodeRecord(record, bounds->CurrentRecordNumber);
  const std::uint32_t length = std::uint32_t(bytes.size());
  const std::uint32_t capacity = std::max(file.RegionEnd(), header.MaxSize) - kHeaderSize;
  if (length > kMaxRecordSize || std::uint64_t(length) + kEofSize > capacity)
    return "the record does not fit into the log";

  std::uint32_t begin = bounds->BeginOffset;
  const std::uint32_t end = bounds->EofOffset;
  std::uint32_t oldest = begin == end ? bounds->CurrentRecordNumber : bounds->OldestRecordNumber;
  bool dropped = false;
  const bool fitsLinearly = end >= begin && std::uint64_t(end) + length + kEofSize <=
                                                std::max(file.RegionEnd(), header.MaxSize);
  if (!fitsLinearly) {
    // Full: the region reaches up to the maximum size, and the oldest records give way.
    if (end >= begin && file.RegionEnd() < header.MaxSize) {
      if (ftruncate(fd.Get(), off_t(header.MaxSize)) != 0) return "cannot grow " + path;
      file.SetRegionEnd(header.MaxSize);
    }
    std::uint32_t used = file.Distance(begin, end);
    const std::uint32_t regionSize = file.RegionEnd() - kHeaderSize;
    while (regionSize - used < length + kEofSize) {
      const std::uint8_t* first = file.Fetch(begin, 4);
      std::uint32_t oldestLength = first != nullptr ? LoadU32(first) : 0;
      if (oldestLength < kMinRecordSize || oldestLength % 4 != 0 || oldestLength > used)
        return path + " holds a damaged record";
      begin = file.Forward(begin, oldestLength);
      used -= oldestLength;
      ++oldest;
      dropped = true;
    }
  }
  const std::uint32_t regionEnd =
      fitsLinearly ? std::max<std::uint32_t>(file.RegionEnd(), end + length + kEofSize)
                   : file.RegionEnd();
  const std::uint32_t newEnd = fitsLinearly ? end + length : file.Forward(end, length);

  LogBounds newBounds{begin, newEnd, bounds->CurrentRecordNumber + 1, oldest};
  std::uint8_t eof[kEofSize];
  EncodeEof(newBounds, eof);
  std::uint8_t headerBytes[kHeaderSize];
  header.Flags |= kFlagDirty;
  EncodeHeader(header, headerBytes);
  // The header is marked dirty while records and end-of-file record change, and the new
  // end-of-file record is in place before the record overwrites the old one.
  if (!WriteExact(fd.Get(), 0, headerBytes, kHeaderSize) ||
      !WriteCircular(fd.Get(), regionEnd, newEnd, eof, kEofSize) ||
      !WriteCircular(fd.Get(), regionEnd, end, bytes.data(), length))
    return "cannot write " + path;
  header.StartOffset = begin;
  header.EndOffset = newEnd;
  header.CurrentRecordNumber = newBounds.CurrentRecordNumber;
  header.OldestRecordNumber = oldest;
  header.Flags &= ~kFlagDirty;
  if (dropped) header.Flags |= kFlagWrapped;
  EncodeHeader(header, headerBytes);
  if (!WriteExact(fd.Get(), 0, headerBytes, kHeaderSize)) return "cannot write " + path;
  return {};
}

std::string LocalComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace platform::evt
