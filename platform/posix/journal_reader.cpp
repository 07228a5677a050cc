#include "platform/posix/journal_reader.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "core/byteorder.h"
#include "core/evt_codec.h"
#include "core/unique_handle.h"
#include "platform/journal.h"
#include "platform/text.h"

namespace platform::journal {
namespace {

// Names, host and unit are short in practice; bounding them leaves the message the room.
constexpr std::size_t kLongestName = 1024;
constexpr std::size_t kTrailerSize = 4;
constexpr std::uint16_t kTypeError = 1;
constexpr std::uint16_t kTypeWarning = 2;
constexpr std::uint16_t kTypeInformation = 4;

struct JournalTraits {
  static sd_journal* Invalid() { return nullptr; }
  static void Close(sd_journal* journal) { sd_journal_close(journal); }
};
using UniqueJournal = core::UniqueHandle<JournalTraits>;

struct OpenJournal {
  UniqueJournal Journal;
  std::unique_ptr<JournalMatcher> Matcher;
  std::string Pending;  // the next record, converted but not yet delivered
  bool HasPending = false;
  bool Finished = false;
};

std::mutex registryMutex;
std::unordered_set<const void*>& Registry() {
  static std::unordered_set<const void*> handles;
  return handles;
}

std::string JournalDirectory() {
  const char* dir = std::getenv("EVENTLOG_JOURNAL_DIR");
  return dir != nullptr ? dir : "";
}

void Store32(std::string& out, std::size_t at, std::uint32_t value) {
  core::StoreU32(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}
void Store16(std::string& out, std::size_t at, std::uint16_t value) {
  core::StoreU16(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}

void AppendPadding(std::string& out, std::size_t base) {
  while ((out.size() - base) % 4 != 0) out.push_back('\0');
}

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

// The longest prefix of at most length bytes that does not end inside a UTF-8 sequence.
std::size_t CharacterBoundary(std::string_view text, std::size_t length) {
  if (length >= text.size()) return text.size();
  for (int back = 0; back < 3 && length > 0; ++back, --length)
    if ((static_cast<unsigned char>(text[length]) & 0xC0) != 0x80) break;
  return length;
}

// Appends the text in the locale's set, cut at a character boundary so that it takes at most
// limit bytes.
void AppendWithin(std::string_view utf8, std::size_t limit, std::string& out) {
  std::size_t take = CharacterBoundary(utf8, limit);
  for (;;) {
    const std::size_t before = out.size();
    AppendUtf8AsAnsi(utf8.substr(0, take), out);
    const std::size_t produced = out.size() - before;
    if (produced <= limit) return;
    // A set with characters longer than their UTF-8 form: give up the excess and try again.
    out.resize(before);
    take = CharacterBoundary(utf8, take - std::min(take, produced - limit));
  }
}

std::uint16_t EventTypeOf(std::string_view priority) {
  if (priority.size() != 1 || priority[0] < '0' || priority[0] > '7') return kTypeInformation;
  if (priority[0] <= '3') return kTypeError;
  return priority[0] == '4' ? kTypeWarning : kTypeInformation;
}

// The sequence number from the cursor's "i=" part (hexadecimal).
std::uint64_t SequenceNumberOf(sd_journal* journal) {
  char* cursor = nullptr;
  if (sd_journal_get_cursor(journal, &cursor) < 0 || cursor == nullptr) return 0;
  std::uint64_t number = 0;
  for (const char* part = cursor; part != nullptr && *part != '\0';) {
    if (part[0] == 'i' && part[1] == '=') {
      number = std::strtoull(part + 2, nullptr, 16);
      break;
    }
    part = std::strchr(part, ';');
    if (part != nullptr) ++part;
  }
  std::free(cursor);
  return number;
}

// Takes the value when data is the named field; a field given twice counts with its first value,
// as sd_journal_get_data gives it.
bool TakeField(std::string_view data, std::string_view name, std::string_view& value) {
  if (data.size() <= name.size() || data[name.size()] != '=' ||
      data.compare(0, name.size(), name) != 0)
    return false;
  if (value.data() == nullptr) value = data.substr(name.size() + 1);
  return true;
}

// The fields of the entry the journal stands at; the views live until the journal moves on.
Entry ReadEntry(sd_journal* journal) {
  Entry entry;
  const void* data = nullptr;
  std::size_t length = 0;
  SD_JOURNAL_FOREACH_DATA(journal, data, length) {
    const std::string_view field(static_cast<const char*>(data), length);
    if (field.empty()) continue;
    switch (field[0]) {
      case 'M':
        TakeField(field, "MESSAGE", entry.Message);
        break;
      case 'P':
        TakeField(field, "PRIORITY", entry.Priority);
        break;
      case 'S':
        TakeField(field, "SYSLOG_IDENTIFIER", entry.Identifier);
        break;
      case '_':
        if (TakeField(field, "_SYSTEMD_UNIT", entry.Unit))
          entry.HasUnit = true;
        else if (!TakeField(field, "_COMM", entry.Command) &&
                 !TakeField(field, "_HOSTNAME", entry.Hostname) &&
                 !TakeField(field, "_TRANSPORT", entry.Transport) &&
                 !TakeField(field, "_UID", entry.Uid))
          TakeField(field, "_EXE", entry.Executable);
        break;
    }
  }
  sd_journal_get_realtime_usec(journal, &entry.RealtimeMicroseconds);
  entry.SequenceNumber = SequenceNumberOf(journal);
  return entry;
}

// The entry as the rules see it: the source and the first string as its record delivers them,
// the journal's own fields as they are. Lives as long as the entry and the record.
JournalFields RuleFields(const Entry& entry, const std::string& record) {
  JournalFields fields;
  const std::uint32_t stringOffset =
      core::LoadU32(reinterpret_cast<const std::uint8_t*>(record.data()) +
                    offsetof(EventLogRecord, StringOffset));
  fields.Source = std::string_view(record.c_str() + sizeof(EventLogRecord));
  fields.Message = record.c_str() + stringOffset;
  fields.Identifier = entry.Identifier;
  fields.Transport = entry.Transport;
  fields.Uid = entry.Uid;
  fields.Command = entry.Command;
  fields.Executable = entry.Executable;
  fields.Unit = entry.Unit;
  fields.TimeGenerated = std::uint32_t(entry.RealtimeMicroseconds / 1000000);
  return fields;
}

// Steps to the next older entry and converts it; false after the oldest.
bool LoadNextRecord(OpenJournal& log) {
  if (sd_journal_previous(log.Journal.get()) <= 0) return false;
  const Entry entry = ReadEntry(log.Journal.get());
  log.Pending.clear();
  AppendRecord(entry, 0, log.Pending);
  const std::uint16_t eventId = log.Matcher->EventIdFor(RuleFields(entry, log.Pending));
  Store32(log.Pending, offsetof(EventLogRecord, EventID), eventId);
  log.HasPending = true;
  return true;
}

UniqueJournal OpenTheJournal() {
  const std::string dir = JournalDirectory();
  sd_journal* opened = nullptr;
  const int result = dir.empty() ? sd_journal_open(&opened, SD_JOURNAL_LOCAL_ONLY)
                                 : sd_journal_open_directory(&opened, dir.c_str(), 0);
  UniqueJournal journal(opened);
  if (result < 0 || !journal) return UniqueJournal();
  // A compressed field is never unpacked beyond what a record can hold.
  sd_journal_set_data_threshold(journal.get(), core::evt::kMaxRecordSize + sizeof "MESSAGE=");
  sd_journal_seek_tail(journal.get());
  return journal;
}

}  // namespace

std::string SourceOf(const Entry& entry) {
  std::string source;
  const std::string_view identifier = UpToZero(entry.Identifier);
  AppendWithin(identifier.empty() ? UpToZero(entry.Command) : identifier, kLongestName, source);
  return source;
}

void AppendRecord(const Entry& entry, std::uint16_t eventId, std::string& out) {
  const std::size_t base = out.size();
  out.append(sizeof(EventLogRecord), '\0');
  const auto seconds = std::uint32_t(entry.RealtimeMicroseconds / 1000000);
  Store32(out, base + offsetof(EventLogRecord, Reserved), core::kEventRecordSignature);
  Store32(out, base + offsetof(EventLogRecord, RecordNumber), std::uint32_t(entry.SequenceNumber));
  Store32(out, base + offsetof(EventLogRecord, TimeGenerated), seconds);
  Store32(out, base + offsetof(EventLogRecord, TimeWritten), seconds);
  Store32(out, base + offsetof(EventLogRecord, EventID), eventId);
  Store16(out, base + offsetof(EventLogRecord, EventType), EventTypeOf(entry.Priority));
  Store16(out, base + offsetof(EventLogRecord, NumStrings), entry.HasUnit ? 2 : 1);

  out += SourceOf(entry);
  out.push_back('\0');
  AppendWithin(UpToZero(entry.Hostname), kLongestName, out);
  out.push_back('\0');
  AppendPadding(out, base);
  Store32(out, base + offsetof(EventLogRecord, UserSidOffset), std::uint32_t(out.size() - base));

  std::string unit;
  if (entry.HasUnit) AppendWithin(UpToZero(entry.Unit), kLongestName, unit);
  Store32(out, base + offsetof(EventLogRecord, StringOffset), std::uint32_t(out.size() - base));
  // What the message may take: the record's bound less all else (zero bytes, the unit, up to
  // three bytes of padding and the trailing length).
  const std::size_t fixed =
      out.size() - base + 1 + (entry.HasUnit ? unit.size() + 1 : 0) + 3 + kTrailerSize;
  AppendWithin(UpToZero(entry.Message), core::evt::kMaxRecordSize - fixed, out);
  out.push_back('\0');
  if (entry.HasUnit) {
    out += unit;
    out.push_back('\0');
  }
  Store32(out, base + offsetof(EventLogRecord, DataOffset), std::uint32_t(out.size() - base));
  AppendPadding(out, base);
  const auto length = std::uint32_t(out.size() - base + kTrailerSize);
  out.append(kTrailerSize, '\0');
  Store32(out, out.size() - kTrailerSize, length);
  Store32(out, base + offsetof(EventLogRecord, Length), length);
}

EventLogHandle Open() {
  UniqueJournal journal = OpenTheJournal();
  if (!journal) return nullptr;
  auto log = std::make_unique<OpenJournal>();
  log->Journal = std::move(journal);
  // The rules are read and compiled once per open, that is once per search.
  log->Matcher = std::make_unique<JournalMatcher>(ReadJournalRules().Rules);
  std::lock_guard lock(registryMutex);
  Registry().insert(log.get());
  return log.release();
}

bool Owns(EventLogHandle handle) {
  std::lock_guard lock(registryMutex);
  return handle != nullptr && Registry().count(handle) != 0;
}

bool ReadBackwards(EventLogHandle handle, void* buffer, std::uint32_t bufferSize,
                   std::uint32_t& bytesRead, std::uint32_t& bytesNeeded, std::uint32_t& errorCode) {
  bytesRead = 0;
  bytesNeeded = 0;
  errorCode = 0;
  auto& log = *static_cast<OpenJournal*>(handle);
  if (buffer == nullptr) bufferSize = 0;
  bool full = false;
  while (!log.Finished) {
    if (!log.HasPending && !LoadNextRecord(log)) {
      log.Finished = true;
      break;
    }
    const auto size = std::uint32_t(log.Pending.size());
    if (size > bufferSize - bytesRead) {
      if (bytesRead == 0) bytesNeeded = size;
      full = true;
      break;
    }
    std::memcpy(static_cast<std::uint8_t*>(buffer) + bytesRead, log.Pending.data(), size);
    bytesRead += size;
    log.HasPending = false;
  }
  if (bytesRead > 0) return true;
  errorCode = full ? kErrorInsufficientBuffer : kErrorHandleEof;
  return false;
}

void Close(EventLogHandle handle) {
  {
    std::lock_guard lock(registryMutex);
    if (handle == nullptr || Registry().erase(handle) == 0) return;
  }
  delete static_cast<OpenJournal*>(handle);
}

bool VisitNewestFirst(const std::function<bool(const JournalFields&)>& visit) {
  const UniqueJournal journal = OpenTheJournal();
  if (!journal) return false;
  std::string record;
  while (sd_journal_previous(journal.get()) > 0) {
    const Entry entry = ReadEntry(journal.get());
    record.clear();
    AppendRecord(entry, 0, record);
    if (!visit(RuleFields(entry, record))) break;
  }
  return true;
}

EventLogLocation Locate() {
  const std::string dir = JournalDirectory();
  if (dir.empty()) return {true, JournalDescription()};
  struct stat status;
  if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return {false, "no journal: the directory " + dir + " does not exist (EVENTLOG_JOURNAL_DIR)"};
  return {true, JournalDescription()};
}

}  // namespace platform::journal
