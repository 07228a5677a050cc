// Reading the systemd journal through sd-journal: opening it (the system journal, or the files
// in EVENTLOG_JOURNAL_DIR) at its newest entry, and the fields of the entry it stands at.
// Turning an entry into a record is journal_record.h; the journal as a log source,
// journal_source.cpp.
#pragma once

#include <systemd/sd-journal.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/unique_handle.h"
#include "platform/eventlog.h"

namespace platform::journal {

struct JournalTraits {
  static sd_journal* Invalid() { return nullptr; }
  static void Close(sd_journal* journal) { sd_journal_close(journal); }
};
using UniqueJournal = core::UniqueHandle<JournalTraits>;

// The fields of one entry that its record carries; the texts as the journal holds them (UTF-8,
// possibly with zero bytes).
struct Entry {
  std::string_view Identifier;  // SYSLOG_IDENTIFIER
  std::string_view Command;     // _COMM
  std::string_view Hostname;    // _HOSTNAME
  std::string_view Message;     // MESSAGE
  std::string_view Unit;        // _SYSTEMD_UNIT
  std::string_view Priority;    // PRIORITY
  std::string_view Transport;   // _TRANSPORT, _UID, _EXE: for the rules only
  std::string_view Uid;
  std::string_view Executable;
  bool HasUnit = false;
  std::uint64_t RealtimeMicroseconds = 0;
  std::uint64_t SequenceNumber = 0;
};

// The journal positioned behind its newest entry (sd_journal_previous steps onto it); invalid
// when it cannot be opened.
UniqueJournal OpenTheJournal();

// The journal files of EVENTLOG_JOURNAL_DIR by name, sorted, one a line; empty for the system
// journal. A file that arrives later (one copied in, whose entries may sort below those read
// before) changes it.
std::string JournalFileNames();

// The fields of the entry the journal stands at; the views live until the journal moves on.
// cursor receives the entry's cursor (its position, to seek back to).
Entry ReadEntry(sd_journal* journal, std::string& cursor);

// Where the journal log is read from, or why it cannot be.
EventLogLocation Locate();

}  // namespace platform::journal
