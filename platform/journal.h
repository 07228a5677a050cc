// The systemd journal as one more event log (Linux only): the log name "Journal" (any letter
// case) opens it, and the rules file journal.rules in the log directory gives its entries their
// event IDs. On Windows the name reaches the event log service like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A condition of a rule: the field's value must match the shell-style pattern (letter case
// ignored). Field is one of kJournalRuleFields, or empty for the entry's source as a record
// shows it (SYSLOG_IDENTIFIER, else _COMM), which every rule of the older form tests.
struct JournalCondition {
  std::string Field;
  std::string Pattern;
};

// The fields a rule may test. SYSLOG_IDENTIFIER is chosen by whoever writes the entry; the
// others begin with "_" and the journal sets them itself, so no writer can forge them.
inline constexpr const char* kJournalRuleFields[] = {
    "SYSLOG_IDENTIFIER", "_TRANSPORT", "_UID", "_COMM", "_EXE", "_SYSTEMD_UNIT"};

// A message pattern as the backend has compiled it, and the locale the rules see texts in.
struct JournalPattern;
struct JournalRulesLocale;

// One line of journal.rules that holds a rule: "EVENT_ID IDENTIFIER MESSAGE-PATTERN", the
// identifier being either a pattern for the source or conditions on fields,
// "FIELD=PATTERN[,FIELD=PATTERN]...".
struct JournalRuleLine {
  int Line = 0;
  std::string Text;  // the line as written, without its line end
  std::uint16_t EventID = 0;
  std::string Identifier;                    // the second field as written
  std::vector<JournalCondition> Conditions;  // what the identifier asks for; all must hold
  std::string Pattern;                       // extended regular expression, searched in the message
  std::string Problem;                       // why the rule cannot be used; empty when it can
  std::shared_ptr<const JournalPattern> Compiled;  // the usable pattern, compiled at its first use
};

struct JournalRulesFile {
  std::string Path;
  bool Readable = false;
  std::string Problem;  // why the file cannot be read
  std::vector<JournalRuleLine> Rules;
};

// The most of journal.rules that is read; a larger file is not read at all.
inline constexpr std::size_t kLargestJournalRules = std::size_t(16) << 20;

// Reads and checks journal.rules in the log directory (EVENTLOG_DIR, else /var/log/eventlog).
// The message patterns are parsed; compilePatterns compiles them too, which takes longer but
// finds the few that parse and yet need more memory than a rule may take (the matcher skips
// those at their first search).
// A symbolic link, anything but a regular file and a file past kLargestJournalRules are not
// read: the file is then not Readable, and Problem says why and what to do.
JournalRulesFile ReadJournalRules(bool compilePatterns = false);

// An entry as the rules see it. Source and Message are the texts the entry's record shows (in
// the locale's character set); the other fields are the journal's bytes up to their first zero
// byte, and a field the entry lacks has no data (data() == nullptr), which no condition matches.
struct JournalFields {
  std::string_view Source;
  std::string Message;
  std::string_view Identifier;      // SYSLOG_IDENTIFIER
  std::string_view Transport;       // _TRANSPORT
  std::string_view Uid;             // _UID
  std::string_view Command;         // _COMM
  std::string_view Executable;      // _EXE
  std::string_view Unit;            // _SYSTEMD_UNIT
  std::uint32_t TimeGenerated = 0;  // seconds since 1970 (UTC), as the record's
};

// The usable rules, compiled once; gives an entry the event ID of the first rule it matches.
// The message patterns are POSIX extended regular expressions without back-references, run in
// time linear in the message; patterns and globs see the texts under LC_CTYPE as the
// environment sets it (the plain C and POSIX locales as UTF-8).
class JournalMatcher {
 public:
  explicit JournalMatcher(const std::vector<JournalRuleLine>& rules);
  ~JournalMatcher();
  JournalMatcher(const JournalMatcher&) = delete;
  JournalMatcher& operator=(const JournalMatcher&) = delete;

  // The index (into the rules given) of the first usable rule that the entry matches; -1 when
  // none does. The message must hold no zero byte.
  int FirstMatch(const JournalFields& entry) const;
  // That rule's event ID, 0 when no rule matches.
  std::uint16_t EventIdFor(const JournalFields& entry) const;
  // Whether the rule at index (into the rules given) is usable and the entry matches it.
  bool Matches(std::size_t index, const JournalFields& entry) const;

 private:
  struct Compiled;
  const Compiled* Find(const JournalFields& entry) const;
  std::shared_ptr<const JournalRulesLocale> locale_;
  std::vector<std::unique_ptr<Compiled>> compiled_;
};

// Reads the journal newest entry first as the journal log does, each entry given its event ID
// by the rules, and hands visit the entry's fields and the index of the rule that gave the ID
// (-1 when none did), until visit returns false or the journal ends; false when the journal
// cannot be opened.
bool VisitJournalNewestFirst(const std::vector<JournalRuleLine>& rules,
                             const std::function<bool(const JournalFields&, int rule)>& visit);

}  // namespace platform
