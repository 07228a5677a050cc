// Journal files made without a running journald: entries in the journal's export format, turned
// into a journal file by systemd-journal-remote.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JournalEntry {
  std::uint64_t RealtimeMicroseconds = 0;
  // KEY, value; values holding a line end or a zero byte are written in the binary form.
  std::vector<std::pair<std::string, std::string>> Fields;
};

// The entries in the export format; the monotonic clock follows the realtime one on one boot, so
// that entries of several files interleave by their time.
std::string JournalExportText(const std::vector<JournalEntry>& entries);

// The path of systemd-journal-remote; empty when it is not installed.
std::string JournalRemotePath();

// Appends the entries to the journal file (its name ends in .journal), creating it when missing;
// an error text, empty on success.
std::string WriteJournalFile(const std::string& path, const std::vector<JournalEntry>& entries);
