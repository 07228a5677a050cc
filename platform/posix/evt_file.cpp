#include "platform/posix/evt_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/ascii.h"
#include "core/byteorder.h"

namespace platform::evt {

using core::LoadU32;

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
  return DecodeEof(eof, offset, regionEnd_);
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
    const std::uint32_t number = LoadU32(bytes + offsetof(core::EventLogRecord, RecordNumber));
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

}  // namespace platform::evt
