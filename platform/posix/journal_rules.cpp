// journal.rules: one rule a line, "EVENT_ID IDENTIFIER MESSAGE-PATTERN", the identifier a
// shell-style pattern for the source or conditions "FIELD=PATTERN,..." on the entry's fields
// (letter case ignored), the message pattern an extended regular expression searched anywhere
// in the message.
#include <fnmatch.h>
#include <regex.h>

#include <cstdlib>
#include <cstring>

#include "platform/eventwriter.h"
#include "platform/files.h"
#include "platform/journal.h"

namespace platform {

struct JournalMatcher::Compiled {
  std::size_t Index = 0;
  std::uint16_t EventID = 0;
  std::vector<JournalCondition> Conditions;
  regex_t Regex;
  ~Compiled() { regfree(&Regex); }
};

namespace {

constexpr char kRulesFileName[] = "journal.rules";
constexpr unsigned long kLargestEventId = 65535;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The next field at or after at, blanks before it skipped; at ends behind it.
std::string NextField(const std::string& line, std::size_t& at) {
  while (at < line.size() && IsBlank(line[at])) ++at;
  const std::size_t start = at;
  while (at < line.size() && !IsBlank(line[at])) ++at;
  return line.substr(start, at - start);
}

std::string RegexProblem(int code, const regex_t& regex) {
  char text[256];
  regerror(code, &regex, text, sizeof text);
  return text;
}

bool IsKnownField(std::string_view name) {
  for (std::string_view field : kJournalRuleFields)
    if (field == name) return true;
  return false;
}

// An identifier of the form NAME=...: capitals, digits and "_", then "=". No source pattern of
// the older form looks like this.
bool HoldsConditions(const std::string& identifier) {
  std::size_t at = 0;
  while (at < identifier.size() &&
         ((identifier[at] >= 'A' && identifier[at] <= 'Z') || identifier[at] == '_' ||
          (at > 0 && identifier[at] >= '0' && identifier[at] <= '9')))
    ++at;
  return at > 0 && at < identifier.size() && identifier[at] == '=';
}

// Splits at the commas that no backslash escapes; the pattern keeps "\,", which matches ",".
std::vector<std::string> SplitConditions(const std::string& text) {
  std::vector<std::string> parts(1);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\\' && at + 1 < text.size()) {
      parts.back() += text.substr(at, 2);
      ++at;
    } else if (text[at] == ',') {
      parts.emplace_back();
    } else {
      parts.back() += text[at];
    }
  }
  return parts;
}

// The conditions of the identifier field, or a problem.
std::string ParseConditions(const std::string& identifier, std::vector<JournalCondition>& out) {
  if (!HoldsConditions(identifier)) {
    out.push_back({"", identifier});
    return {};
  }
  for (const std::string& part : SplitConditions(identifier)) {
    const std::size_t equals = part.find('=');
    if (equals == std::string::npos || equals == 0)
      return "bad condition \"" + part + "\": conditions are FIELD=PATTERN joined by commas";
    const std::string field = part.substr(0, equals);
    if (!IsKnownField(field))
      return "unknown field " + field +
             ": a rule tests SYSLOG_IDENTIFIER, _TRANSPORT, _UID, _COMM, _EXE or _SYSTEMD_UNIT";
    if (equals + 1 == part.size()) return "no pattern for " + field;
    out.push_back({field, part.substr(equals + 1)});
  }
  return {};
}

// A back-reference ("\1" to "\9") can make one search take seconds; no rule may hold one.
bool HoldsBackReference(const std::string& pattern) {
  for (std::size_t at = 0; at + 1 < pattern.size(); ++at) {
    if (pattern[at] != '\\') continue;
    if (pattern[at + 1] >= '1' && pattern[at + 1] <= '9') return true;
    ++at;
  }
  return false;
}

// Fills the rule's fields from its line, or its Problem.
void ParseRule(JournalRuleLine& rule) {
  const std::string& line = rule.Text;
  std::size_t at = 0;
  const std::string id = NextField(line, at);
  rule.Identifier = NextField(line, at);
  while (at < line.size() && IsBlank(line[at])) ++at;
  std::size_t end = line.size();
  while (end > at && IsBlank(line[end - 1])) --end;
  rule.Pattern = line.substr(at, end - at);
  if (rule.Identifier.empty() || rule.Pattern.empty()) {
    rule.Problem = "missing fields: a rule is EVENT_ID IDENTIFIER MESSAGE-PATTERN";
    return;
  }
  const bool digits = id.find_first_not_of("0123456789") == std::string::npos;
  const unsigned long value = digits && id.size() <= 5 ? std::strtoul(id.c_str(), nullptr, 10) : 0;
  if (value < 1 || value > kLargestEventId) {
    rule.Problem = "bad event ID \"" + id + "\": it must be a number from 1 to 65535";
    return;
  }
  rule.EventID = std::uint16_t(value);
  if (std::string problem = ParseConditions(rule.Identifier, rule.Conditions); !problem.empty()) {
    rule.Conditions.clear();
    rule.Problem = problem;
    return;
  }
  if (HoldsBackReference(rule.Pattern)) {
    rule.Problem = "a back-reference (\\1 to \\9) can take seconds for each entry; none is allowed";
    return;
  }
  regex_t regex;
  if (int code = regcomp(&regex, rule.Pattern.c_str(), REG_EXTENDED | REG_NOSUB); code != 0) {
    rule.Problem = "bad regular expression: " + RegexProblem(code, regex);
    return;
  }
  regfree(&regex);
}

bool IsRuleLine(const std::string& line) {
  std::size_t at = 0;
  while (at < line.size() && IsBlank(line[at])) ++at;
  return at < line.size() && line[at] != '#';
}

}  // namespace

bool NamesTheJournal(const std::string& logName) { return AsciiEqualNoCase(logName, "Journal"); }

std::string JournalDescription() {
  const char* dir = std::getenv("EVENTLOG_JOURNAL_DIR");
  if (dir != nullptr && *dir != '\0')
    return std::string("the journal files in ") + dir + " (EVENTLOG_JOURNAL_DIR)";
  return "the system journal";
}

JournalRulesFile ReadJournalRules() {
  JournalRulesFile file;
  file.Path = EventLogDirectory() + "/" + kRulesFileName;
  const WholeFile read = ReadRegularFile(file.Path, kLargestJournalRules);
  if (IsRefused(read)) {
    file.Problem =
        WholeFileProblem(file.Path, read, kLargestJournalRules) +
        (read.Outcome == WholeFileOutcome::SymbolicLink
             ? "; to keep the logs and rules in another folder, point EVENTLOG_DIR at it"
             : "; the rules must be a regular file of at most " + SizeText(kLargestJournalRules));
    return file;
  }
  if (read.Outcome != WholeFileOutcome::Read) {
    file.Problem = read.Reason;
    return file;
  }
  file.Readable = true;
  const std::string& text = read.Content;
  int number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!IsRuleLine(line)) continue;
    JournalRuleLine rule;
    rule.Line = number;
    rule.Text = line;
    ParseRule(rule);
    file.Rules.push_back(std::move(rule));
  }
  return file;
}

JournalMatcher::JournalMatcher(const std::vector<JournalRuleLine>& rules) {
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (!rules[i].Problem.empty()) continue;
    auto compiled = std::make_unique<Compiled>();
    if (regcomp(&compiled->Regex, rules[i].Pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0)
      continue;
    compiled->Index = i;
    compiled->EventID = rules[i].EventID;
    compiled->Conditions = rules[i].Conditions;
    compiled_.push_back(std::move(compiled));
  }
}

JournalMatcher::~JournalMatcher() = default;

namespace {

std::string_view FieldValue(const JournalFields& entry, const std::string& field) {
  if (field.empty()) return entry.Source.data() != nullptr ? entry.Source : std::string_view("");
  if (field == "SYSLOG_IDENTIFIER") return entry.Identifier;
  if (field == "_TRANSPORT") return entry.Transport;
  if (field == "_UID") return entry.Uid;
  if (field == "_COMM") return entry.Command;
  if (field == "_EXE") return entry.Executable;
  if (field == "_SYSTEMD_UNIT") return entry.Unit;
  return {};
}

bool Holds(const JournalCondition& condition, const JournalFields& entry) {
  const std::string_view value = FieldValue(entry, condition.Field);
  if (value.data() == nullptr) return false;  // the entry lacks the field
  const std::string text(value.substr(0, value.find('\0')));
  return fnmatch(condition.Pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace

const JournalMatcher::Compiled* JournalMatcher::Find(const JournalFields& entry) const {
  for (const auto& rule : compiled_) {
    bool holds = true;
    for (const JournalCondition& condition : rule->Conditions)
      holds = holds && Holds(condition, entry);
    if (holds && regexec(&rule->Regex, entry.Message.c_str(), 0, nullptr, 0) == 0)
      return rule.get();
  }
  return nullptr;
}

int JournalMatcher::FirstMatch(const JournalFields& entry) const {
  const Compiled* rule = Find(entry);
  return rule == nullptr ? -1 : int(rule->Index);
}

std::uint16_t JournalMatcher::EventIdFor(const JournalFields& entry) const {
  const Compiled* rule = Find(entry);
  return rule == nullptr ? 0 : rule->EventID;
}

}  // namespace platform
