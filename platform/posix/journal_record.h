// A journal entry as an event record: its source, computer, message and unit in the locale's
// 8-bit set, bounded so that the record stays within core::evt::kMaxRecordSize (the names kept
// whole up to 16 KiB each, the message up to what the record leaves, each measured in the
// locale's set and cut only at a character of it), and the record in the 8-bit layout. The rules
// see the entry with these same texts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/journal.h"
#include "platform/posix/journal_reader.h"

namespace platform::journal {

// The texts a record carries, in the locale's set and cut to the record's bounds.
struct RecordTexts {
  std::string Source;    // SYSLOG_IDENTIFIER, else _COMM, else empty
  std::string Computer;  // _HOSTNAME
  std::string Message;   // MESSAGE, cut to what the record leaves it
  std::string Unit;      // _SYSTEMD_UNIT, a second string when the entry has one
};
// Fills texts (reused from entry to entry) for the entry.
void TextsOf(const Entry& entry, RecordTexts& texts);

// The entry as the rules see it; lives as long as the entry and the texts.
JournalFields RuleFields(const Entry& entry, const RecordTexts& texts);

// Appends the entry's record in the 8-bit layout with the event ID given. The record number is
// the low 32 bits of the entry's sequence number.
void AppendRecord(const Entry& entry, const RecordTexts& texts, std::uint16_t eventId,
                  std::string& out);

}  // namespace platform::journal
