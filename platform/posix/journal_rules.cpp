// journal.rules: one rule a line, "EVENT_ID IDENTIFIER MESSAGE-PATTERN", the identifier a
// shell-style pattern (letter case ignored), the message pattern an extended regular
// expression searched anywhere in the message.
#include <fnmatch.h>
#include <regex.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/eventwriter.h"
#include "platform/journal.h"

namespace platform {

struct JournalMatcher::Compiled {
  std::size_t Index = 0;
  std::uint16_t EventID = 0;
  std::string Identifier;
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
  std::ifstream in(file.Path, std::ios::binary);
  if (!in) {
    file.Problem = std::strerror(errno);
    return file;
  }
  file.Readable = true;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
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
    compiled->Identifier = rules[i].Identifier;
    compiled_.push_back(std::move(compiled));
  }
}

JournalMatcher::~JournalMatcher() = default;

const JournalMatcher::Compiled* JournalMatcher::Find(std::string_view source,
                                                     const std::string& message) const {
  const std::string sourceText(source);
  for (const auto& rule : compiled_)
    if (fnmatch(rule->Identifier.c_str(), sourceText.c_str(), FNM_CASEFOLD) == 0 &&
        regexec(&rule->Regex, message.c_str(), 0, nullptr, 0) == 0)
      return rule.get();
  return nullptr;
}

int JournalMatcher::FirstMatch(std::string_view source, const std::string& message) const {
  const Compiled* rule = Find(source, message);
  return rule == nullptr ? -1 : int(rule->Index);
}

std::uint16_t JournalMatcher::EventIdFor(std::string_view source,
                                         const std::string& message) const {
  const Compiled* rule = Find(source, message);
  return rule == nullptr ? 0 : rule->EventID;
}

}  // namespace platform
