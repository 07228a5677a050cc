// The systemd journal as one more event log (Linux only): the log name "Journal" (any letter
// case) opens it, and the rules file journal.rules in the log directory gives its entries their
// event IDs. On Windows the name reaches the event log service like any other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Whether the log name opens the journal: "Journal" in any letter case, and only on Linux.
bool NamesTheJournal(const std::string& logName);

// What the journal log reads: "the journal files in <dir> (EVENTLOG_JOURNAL_DIR)" or "the
// system journal".
std::string JournalDescription();

// One line of journal.rules that holds a rule: "EVENT_ID IDENTIFIER MESSAGE-PATTERN".
struct JournalRuleLine {
  int Line = 0;
  std::string Text;  // the line as written, without its line end
  std::uint16_t EventID = 0;
  std::string Identifier;  // shell-style pattern for the source, letter case ignored
  std::string Pattern;     // extended regular expression, searched in the message
  std::string Problem;     // why the rule cannot be used; empty when it can
};

struct JournalRulesFile {
  std::string Path;
  bool Readable = false;
  std::string Problem;  // why the file cannot be read
  std::vector<JournalRuleLine> Rules;
};

// Reads and checks journal.rules in the log directory (EVENTLOG_DIR, else /var/log/eventlog).
JournalRulesFile ReadJournalRules();

// The usable rules, compiled once; gives an entry the event ID of the first rule it matches.
class JournalMatcher {
 public:
  explicit JournalMatcher(const std::vector<JournalRuleLine>& rules);
  ~JournalMatcher();
  JournalMatcher(const JournalMatcher&) = delete;
  JournalMatcher& operator=(const JournalMatcher&) = delete;

  // The index (into the rules given) of the first usable rule that the entry matches; -1 when
  // none does. message must hold no zero byte.
  int FirstMatch(std::string_view source, const std::string& message) const;
  // That rule's event ID, 0 when no rule matches.
  std::uint16_t EventIdFor(std::string_view source, const std::string& message) const;

 private:
  struct Compiled;
  const Compiled* Find(std::string_view source, const std::string& message) const;
  std::vector<std::unique_ptr<Compiled>> compiled_;
};

}  // namespace platform
