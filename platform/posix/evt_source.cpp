// The NT event log files as a log source: each log is a file in the log directory, read newest
// record first through a bounded cache window, each record converted to the 8-bit layout.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "core/byteorder.h"
#include "platform/errors.h"
#include "platform/eventwriter.h"
#include "platform/posix/evt_file.h"
#include "platform/posix/handles.h"
#include "platform/posix/log_source.h"
#include "platform/text.h"

namespace platform {
namespace {

using evt::LogFile;

enum class Step { kDelivered, kEnd, kBroken, kNeedFile };

class EvtFileSource final : public LogSource {
 public:
  EvtFileSource(UniqueFd fd, UniqueFd lockFile)
      : descriptor_(std::move(fd)),
        lock_(std::move(lockFile)),
        file_(descriptor_.get(), LogFile::kReadingWindowSize) {}

  // Reads the header and finds the newest record under a shared lock; false when a writer kept
  // the log locked too long or the file is no event log.
  bool Start();
  const SourcedRecord* Next() override;
  void Pause() override {
    held_.reset();
    file_.SetCacheOnly(true);
  }
  bool BrokeOff() const override { return brokeOff_; }
  std::string PositionText(const SourcedRecord& record) const override {
    return core::NumberedPosition(std::uint32_t(record.Position.Number), record.Bytes);
  }
  bool Accepts(std::string_view position) const override {
    return core::ParseNumberedPosition(position).has_value();
  }
  core::Placement Place(const SourcedRecord& record, std::string_view position) const override {
    const auto remembered = core::ParseNumberedPosition(position);
    if (!remembered) return core::Placement::kGone;
    return core::PlaceNumbered(std::uint32_t(record.Position.Number), record.Bytes, *remembered);
  }

 private:
  bool StartAtNewest();
  bool FollowWriter();
  Step ConvertNext();

  UniqueFd descriptor_;  // the file stays open as long as the log
  UniqueFd lock_;        // its lock file; invalid when there is none (read unlocked)
  LogFile file_;
  std::optional<evt::FileLock> held_;  // the lock taken to refill the cache window
  std::uint8_t seenHeader_[evt::kHeaderSize] = {};
  std::uint32_t cursor_ = 0;     // end of the next record to deliver
  std::uint32_t remaining_ = 0;  // bytes of records between the oldest record and the cursor
  std::uint32_t expectedNumber_ = 0;
  bool delivered_ = false;  // expectedNumber_ holds the number of the next record
  bool finished_ = false;
  bool brokeOff_ = false;  // the reading ended before the oldest record
  std::string converted_;  // reused for every record
  SourcedRecord record_;
};

// Where the records lie: behind them the end-of-file record, or, in a log that never wrapped
// and lost that record, the last whole record.
std::optional<evt::LogBounds> FindBounds(LogFile& file) {
  if (auto bounds = file.LocateEof()) return bounds;
  return file.RecoverUnwrappedBounds();
}

bool ReadHeader(int fd, std::uint8_t (&bytes)[evt::kHeaderSize]) {
  return pread(fd, bytes, evt::kHeaderSize, 0) == ssize_t(evt::kHeaderSize);
}

// Positions the log at its newest record; false when the file holds no readable log.
bool EvtFileSource::StartAtNewest() {
  if (!file_.Load()) return false;
  std::memcpy(seenHeader_, file_.HeaderBytes(), evt::kHeaderSize);
  auto bounds = FindBounds(file_);
  if (!bounds) return false;
  cursor_ = bounds->EofOffset;
  remaining_ = file_.Distance(bounds->BeginOffset, bounds->EofOffset);
  delivered_ = false;
  return true;
}

bool EvtFileSource::Start() {
  // A log that a writer keeps locked too long cannot be opened this time.
  evt::FileLock lock(lock_.get(), evt::FileLock::Kind::Shared);
  if (!lock.Held() || !file_.Load()) return false;
  finished_ = !StartAtNewest();
  brokeOff_ = finished_;
  // Records already in the cache window are a snapshot taken under the lock, so they are
  // delivered without touching the file; the file is locked and its header checked for a
  // writer's changes only when the window has to be refilled.
  file_.SetCacheOnly(true);
  return true;
}

// A writer changed the file since the last call: the records still to deliver are whole
// as long as the oldest record of the log is not newer than the next one due.
bool EvtFileSource::FollowWriter() {
  if (!delivered_) return StartAtNewest();
  if (!file_.Load()) return false;
  std::memcpy(seenHeader_, file_.HeaderBytes(), evt::kHeaderSize);
  auto bounds = FindBounds(file_);
  if (!bounds || bounds->OldestRecordNumber > expectedNumber_ || cursor_ >= file_.RegionEnd())
    return false;
  remaining_ = file_.Distance(bounds->BeginOffset, cursor_);
  return true;
}

// Converts the record that ends at the cursor and steps past it.
Step EvtFileSource::ConvertNext() {
  if (remaining_ < evt::kMinRecordSize) return Step::kEnd;
  const std::uint8_t* trailer = file_.Fetch(file_.Backward(cursor_, 4), 4);
  if (trailer == nullptr) return file_.Missed() ? Step::kNeedFile : Step::kBroken;
  const std::uint32_t length = core::LoadU32(trailer);
  if (length < evt::kMinRecordSize || length > evt::kMaxRecordSize || length > remaining_)
    return Step::kBroken;
  const std::uint32_t start = file_.Backward(cursor_, length);
  const std::uint8_t* bytes = file_.Fetch(start, length);
  if (bytes == nullptr) return file_.Missed() ? Step::kNeedFile : Step::kBroken;
  const std::uint32_t number = core::LoadU32(bytes + offsetof(EventLogRecord, RecordNumber));
  if (delivered_ && number != expectedNumber_) return Step::kBroken;
  converted_.clear();
  if (!evt::AppendAnsiRecord(bytes, length, AppendUtf16LeAsAnsi, converted_)) return Step::kBroken;
  cursor_ = start;
  remaining_ -= length;
  expectedNumber_ = number - 1;
  delivered_ = true;
  record_.Bytes = converted_;
  record_.Position.Number = number;
  return Step::kDelivered;
}

const SourcedRecord* EvtFileSource::Next() {
  while (!finished_) {
    const Step step = ConvertNext();
    if (step == Step::kDelivered) return &record_;
    if (step == Step::kEnd) break;
    brokeOff_ = true;
    if (step == Step::kBroken) break;
    held_.emplace(lock_.get(), evt::FileLock::Kind::Shared);
    // A writer that keeps the log locked too long ends the reading here.
    if (!held_->Held()) break;
    file_.SetCacheOnly(false);
    std::uint8_t header[evt::kHeaderSize];
    if (!ReadHeader(file_.Fd(), header))
      finished_ = true;
    else if (std::memcmp(header, seenHeader_, evt::kHeaderSize) != 0)
      finished_ = !FollowWriter();
    brokeOff_ = finished_;
  }
  finished_ = true;
  return nullptr;
}

bool ClaimsEveryName(const std::string&) { return true; }

std::unique_ptr<LogSource> OpenEvtFile(const std::string& logName) {
  const std::string path = evt::FindLogFile(EventLogDirectory(), logName);
  if (path.empty()) return nullptr;
  // Neither a link nor a FIFO or device swapped in since the search is opened or waited for.
  std::string problem;
  UniqueFd fd = evt::OpenRegularFile(path, O_RDONLY, problem);
  if (!fd) return nullptr;
  auto source = std::make_unique<EvtFileSource>(std::move(fd), evt::OpenLockForReading(path));
  if (!source->Start()) return nullptr;
  return source;
}

EventLogLocation LocateEvtFile(const std::string& logName) {
  const std::string dir = EventLogDirectory();
  if (const std::string path = evt::FindLogFile(dir, logName); !path.empty())
    return {true, "the file " + path};
  if (logName.find('/') != std::string::npos) return {false, "no log: a log name cannot hold '/'"};
  if (const std::string entry = evt::FindLogEntry(dir, logName); !entry.empty()) {
    const std::string kind = evt::EntryKind(entry);
    if (kind == "a symbolic link")
      return {false, "no log: " + entry +
                         " is a symbolic link, which EventLog does not follow; to keep the logs "
                         "in another folder, point EVENTLOG_DIR at that folder"};
    return {false, "no log: " + entry + " is not a regular file but " + kind};
  }
  struct stat status;
  if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return {false, "no log: the log directory " + dir + " does not exist (EVENTLOG_DIR)"};
  if (access(dir.c_str(), R_OK | X_OK) != 0)
    return {false, "no log: the log directory " + dir + " cannot be read by this user (" +
                       SystemErrorText(std::uint32_t(errno)) + ")"};
  std::string wanted = logName + ".evt";
  if (const std::string classic = evt::ClassicFileName(logName); !classic.empty())
    wanted += " or " + classic;
  // eventcreate makes the file of a plain name on the log's first event.
  const bool plain =
      std::none_of(logName.begin(), logName.end(),
                   [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }) &&
      logName != "." && logName != "..";
  return {false, "no file " + wanted + " (any letter case) in " + dir, plain};
}

}  // namespace

const LogSourceKind kEvtFileSourceKind = {ClaimsEveryName, OpenEvtFile, LocateEvtFile};

}  // namespace platform
