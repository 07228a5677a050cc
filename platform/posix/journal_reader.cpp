#include "platform/posix/journal_reader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/evt_codec.h"
#include "platform/journal.h"

namespace platform::journal {
namespace {

// How much of a compressed field is unpacked: a UTF-8 character takes one to four bytes and at
// least one in the record, so four times the record's bound (and the field's name) is all a
// record can take of any field in any character set; a field cut here is cut again, at a
// character, where the record ends.
constexpr std::size_t kFieldThreshold =
    4 * std::size_t(core::evt::kMaxRecordSize) + sizeof "SYSLOG_IDENTIFIER=";

std::string JournalDirectory() {
  const char* dir = std::getenv("EVENTLOG_JOURNAL_DIR");
  return dir != nullptr ? dir : "";
}

// The entry's cursor into text, and the sequence number from its "i=" part (hexadecimal).
std::uint64_t CursorOf(sd_journal* journal, std::string& text) {
  char* cursor = nullptr;
  text.clear();
  if (sd_journal_get_cursor(journal, &cursor) < 0 || cursor == nullptr) return 0;
  text = cursor;
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

}  // namespace

Entry ReadEntry(sd_journal* journal, std::string& cursor) {
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
  entry.SequenceNumber = CursorOf(journal, cursor);
  return entry;
}

std::string JournalFileNames() {
  const std::string dir = JournalDirectory();
  if (dir.empty()) return {};
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return {};
  std::vector<std::string> names;
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.ends_with(".journal") || name.ends_with(".journal~")) names.emplace_back(name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  return text;
}

UniqueJournal OpenTheJournal() {
  const std::string dir = JournalDirectory();
  sd_journal* opened = nullptr;
  const int result = dir.empty() ? sd_journal_open(&opened, SD_JOURNAL_LOCAL_ONLY)
                                 : sd_journal_open_directory(&opened, dir.c_str(), 0);
  UniqueJournal journal(opened);
  if (result < 0 || !journal) return UniqueJournal();
  sd_journal_set_data_threshold(journal.get(), kFieldThreshold);
  sd_journal_seek_tail(journal.get());
  return journal;
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
