// Appending events to the .evt files of the log directory.
#include "platform/eventwriter.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/byteorder.h"
#include "platform/posix/evt_file.h"
#include "platform/posix/handles.h"

namespace platform {

using namespace core::evt;

namespace {

constexpr char kLogGroup[] = "eventlog";

}  // namespace

std::string EventLogDirectory() {
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

// The file opened for reading and writing, or made (mode 0660, the folder's group) when it is
// missing; never through a symbolic link, never anything but a regular file. Invalid with the
// problem naming the path.
UniqueFd OpenOrCreate(const std::string& path, std::string& problem) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (UniqueFd created = evt::CreateGroupFile(path)) return created;
    if (errno != EEXIST) {
      problem = "cannot create " + path + ": " + std::strerror(errno);
      return UniqueFd();
    }
    // There is an entry (even a dangling link): it is opened only when it is a regular file.
    UniqueFd fd = evt::OpenRegularFile(path, O_RDWR, problem);
    if (fd || errno != ENOENT) return fd;
  }
  return UniqueFd();
}

// The refusal of an entry that is no regular file, with what to do.
std::string Refusal(const std::string& path, const std::string& kind) {
  if (kind == "a symbolic link")
    return path +
           " is a symbolic link, which eventcreate does not follow; to keep the logs in another "
           "folder, point EVENTLOG_DIR (or --dir) at that folder; nothing written";
  return path + " is not a regular file but " + kind + "; nothing written";
}

}  // namespace

std::string AppendEvent(const std::string& dir, const std::string& logName,
                        const core::evt::NewRecord& record, std::uint32_t maxSize) {
  std::string path = evt::FindLogFile(dir, logName);
  if (path.empty()) path = evt::FindLogEntry(dir, logName);
  if (path.empty()) path = dir + "/" + logName + ".evt";
  if (const std::string kind = evt::EntryKind(path); !kind.empty()) return Refusal(path, kind);

  // The writers' lock, in a file only they can open: the log is made and changed under it.
  std::string problem;
  const std::string lockPath = evt::LockFileName(path);
  const UniqueFd lockFile = OpenOrCreate(lockPath, problem);
  if (!lockFile) return problem + "; nothing written";
  evt::FileLock lock(lockFile.get(), evt::FileLock::Kind::Exclusive);
  if (!lock.Held())
    return path + " is locked by another program; gave up after " +
           std::to_string(kEventLogLockWaitMilliseconds / 1000) + " seconds, nothing written";

  const UniqueFd fd = OpenOrCreate(path, problem);
  if (!fd) {
    // Swapped for a link or a FIFO since the look above.
    if (const std::string kind = evt::EntryKind(path); !kind.empty()) return Refusal(path, kind);
    return problem + "; nothing written";
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return "cannot examine " + path;
  // A second name of the file elsewhere (a hard link to another file) is written through by no
  // writer: the log would overwrite that file.
  if (st.st_nlink > 1)
    return path + " has " + std::to_string(st.st_nlink) +
           " names (hard links), so writing it would change a file elsewhere; nothing written";
  // Only a regular file that is empty gets a header; any other content must be a log already.
  if (st.st_size == 0 && !InitializeEmptyLog(fd.get(), maxSize)) return "cannot write " + path;
  evt::LogFile file(fd.get());
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
      if (ftruncate(fd.get(), off_t(header.MaxSize)) != 0) return "cannot grow " + path;
      file.SetRegionEnd(header.MaxSize);
    }
    std::uint32_t used = file.Distance(begin, end);
    const std::uint32_t regionSize = file.RegionEnd() - kHeaderSize;
    while (regionSize - used < length + kEofSize) {
      const std::uint8_t* first = file.Fetch(begin, 4);
      std::uint32_t oldestLength = first != nullptr ? core::LoadU32(first) : 0;
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
  if (!WriteExact(fd.get(), 0, headerBytes, kHeaderSize) ||
      !WriteCircular(fd.get(), regionEnd, newEnd, eof, kEofSize) ||
      !WriteCircular(fd.get(), regionEnd, end, bytes.data(), length))
    return "cannot write " + path;
  header.StartOffset = begin;
  header.EndOffset = newEnd;
  header.CurrentRecordNumber = newBounds.CurrentRecordNumber;
  header.OldestRecordNumber = oldest;
  header.Flags &= ~kFlagDirty;
  if (dropped) header.Flags |= kFlagWrapped;
  EncodeHeader(header, headerBytes);
  if (!WriteExact(fd.get(), 0, headerBytes, kHeaderSize)) return "cannot write " + path;
  return {};
}

std::string LocalComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string MakeLogDirectory(const std::string& path, std::string& note) {
  const bool root = geteuid() == 0;
  std::string made;  // the log directory itself, when this call made it
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    const bool last = path.find_first_not_of('/', at) == std::string::npos;
    // Root's log directory starts closed, until its owner and mode are set.
    if (mkdir(prefix.c_str(), last && root ? 0700 : 0755) == 0) {
      if (last) made = prefix;
    } else if (errno != EEXIST) {
      return "cannot create " + prefix + ": " + std::strerror(errno);
    }
    if (last) break;
  }
  if (made.empty() || !root) return {};
  const UniqueFd folder(open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) return "cannot open " + made + ": " + std::strerror(errno);
  // Root makes the folder for the group eventlog: members write events, nobody else looks in,
  // nobody removes or replaces another's log (sticky), and new logs take the group (setgid).
  mode_t mode = 0755;
  if (const group* eventlog = getgrnam(kLogGroup)) {
    if (fchown(folder.get(), 0, eventlog->gr_gid) != 0)
      return "cannot give " + made + " to root:" + kLogGroup + ": " + std::strerror(errno);
    mode = 03770;
  } else {
    note = made + " was made for root alone (root:root, mode 0755), since there is no group " +
           kLogGroup + "; to let others write events: groupadd " + kLogGroup + "; chgrp " +
           kLogGroup + " " + made + "; chmod 3770 " + made + "; adduser USER " + kLogGroup;
  }
  if (fchmod(folder.get(), mode) != 0)
    return "cannot set the mode of " + made + ": " + std::strerror(errno);
  return {};
}

}  // namespace platform
