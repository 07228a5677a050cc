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
  if (cached) return window_.get() + (offset - windowStart_);
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
  if (count > windowSize_) {
    scratch_.resize(count);
    return ReadExact(offset, scratch_.data(), count) ? scratch_.data() : nullptr;
  }
  // Reading backwards places the window below the request, reading forwards above it.
  bool backwards = windowLength_ > 0 && offset < windowStart_;
  std::uint32_t start =
      backwards
          ? std::uint32_t(std::max<std::int64_t>(kHeaderSize, std::int64_t(end) - windowSize_))
          : offset;
  std::uint32_t length = std::min<std::uint32_t>(windowSize_, regionEnd_ - start);
  if (!window_) window_.reset(new std::uint8_t[windowSize_]);
  windowLength_ = 0;
  if (!ReadExact(start, window_.get(), length)) return nullptr;
  windowStart_ = start;
  windowLength_ = length;
  return window_.get() + (offset - start);
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

// What the entry itself is, without following a link: its mode, or 0 when there is none.
mode_t EntryMode(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::string KindOfMode(mode_t mode) {
  if (mode == 0 || S_ISREG(mode)) return {};
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

struct LogEntries {
  std::string ByName, ByClassic;
};

LogEntries FindLogEntries(const std::string& dir, const std::string& logName) {
  LogEntries found;
  if (logName.empty() || logName.find('/') != std::string::npos) return found;
  const std::string wanted = logName + ".evt";
  const std::string classic = ClassicFileName(logName);
  DIR* stream = opendir(dir.c_str());
  if (stream == nullptr) return found;
  while (dirent* entry = readdir(stream)) {
    std::string_view name = entry->d_name;
    if (found.ByName.empty() && core::EqualsIgnoringAsciiCase(name, wanted))
      found.ByName = dir + "/" + entry->d_name;
    else if (found.ByClassic.empty() && !classic.empty() &&
             core::EqualsIgnoringAsciiCase(name, classic))
      found.ByClassic = dir + "/" + entry->d_name;
  }
  closedir(stream);
  return found;
}

int OpenWithoutWaiting(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::string ClassicFileName(const std::string& logName) {
  if (core::EqualsIgnoringAsciiCase(logName, "System")) return "SysEvent.Evt";
  if (core::EqualsIgnoringAsciiCase(logName, "Application")) return "AppEvent.Evt";
  if (core::EqualsIgnoringAsciiCase(logName, "Security")) return "SecEvent.Evt";
  return {};
}

std::string FindLogFile(const std::string& dir, const std::string& logName) {
  const LogEntries found = FindLogEntries(dir, logName);
  if (!found.ByName.empty() && S_ISREG(EntryMode(found.ByName))) return found.ByName;
  if (!found.ByClassic.empty() && S_ISREG(EntryMode(found.ByClassic))) return found.ByClassic;
  return {};
}

std::string FindLogEntry(const std::string& dir, const std::string& logName) {
  const LogEntries found = FindLogEntries(dir, logName);
  return found.ByName.empty() ? found.ByClassic : found.ByName;
}

std::string EntryKind(const std::string& path) { return KindOfMode(EntryMode(path)); }

std::string LockFileName(const std::string& logPath) { return logPath + ".lock"; }

UniqueFd OpenRegularFile(const std::string& path, int flags, std::string& problem) {
  // The entry is looked at first, so that a device or a FIFO is never opened at all; what was
  // opened is looked at again, since the entry may have been swapped in between.
  const std::string kind = EntryKind(path);
  if (kind == "a symbolic link") {
    problem = path + " is a symbolic link, which is not followed";
    return UniqueFd();
  }
  if (!kind.empty()) {
    problem = path + " is not a regular file but " + kind;
    return UniqueFd();
  }
  UniqueFd fd(OpenWithoutWaiting(path, flags));
  if (!fd) {
    problem = errno == ELOOP ? path + " is a symbolic link, which is not followed"
                             : "cannot open " + path + ": " + std::strerror(errno);
    return fd;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = path + " is not a regular file but " + KindOfMode(st.st_mode);
    return UniqueFd();
  }
  // O_NONBLOCK means nothing for a regular file's reads and writes; it only kept the open
  // from waiting.
  return fd;
}

UniqueFd CreateGroupFile(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  UniqueFd created(fd);
  if (!created) return created;
  // Every writer of the folder's group appends to it, whatever the umask of the one who made
  // it. A group this process does not belong to cannot be given: the file then keeps the one
  // it got (a setgid folder's).
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) {
    [[maybe_unused]] const int regrouped = fchown(created.get(), uid_t(-1), st.st_gid);
  }
  if (fchmod(created.get(), 0660) != 0) {
    const int error = errno;
    unlink(path.c_str());
    errno = error;
    return UniqueFd();
  }
  return created;
}

UniqueFd OpenLockForReading(const std::string& logPath) {
  std::string problem;
  return OpenRegularFile(LockFileName(logPath), O_RDONLY, problem);
}

FileLock::FileLock(int fd, Kind kind) : fd_(fd) {
  if (fd_ < 0) {
    held_ = true;  // no lock file: nothing to take
    return;
  }
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
  if (held_ && fd_ >= 0) flock(fd_, LOCK_UN);
}

}  // namespace platform::evt
