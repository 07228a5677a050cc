// journal.rules: one rule a line, "EVENT_ID IDENTIFIER MESSAGE-PATTERN", the identifier a
// shell-style pattern for the source or conditions "FIELD=PATTERN,..." on the entry's fields
// (letter case ignored), the message pattern an extended regular expression searched anywhere
// in the message. Both see the texts under LC_CTYPE as the environment sets it: the globs
// through fnmatch in that locale, the patterns through RE2, which runs in time linear in the
// message and in bounded memory, so no pattern can stall the monitor.
#include <fnmatch.h>
#include <langinfo.h>
#include <locale.h>
#include <re2/re2.h>
#include <re2/set.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "core/utf8.h"
#include "platform/eventwriter.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/posix/handles.h"
#include "platform/text.h"

namespace platform {

namespace {

// How a pattern and a message reach RE2: as they are under a UTF-8 (or plain C) locale and
// under ISO-8859-1, else converted from the locale's set to UTF-8.
enum class RuleEncoding { kUtf8, kLatin1, kConverted };

}  // namespace

// The LC_CTYPE locale the rules use, opened from the environment as the texts' conversion
// opens it. The plain C and POSIX locales count as UTF-8, so their globs use C.UTF-8.
struct JournalRulesLocale {
  UniqueLocale Ctype;
  RuleEncoding Encoding = RuleEncoding::kUtf8;
  std::string Codeset = "UTF-8";
};

namespace {

// The set's name in capitals without "-", "_" and ".": "ISO-8859-1" becomes "ISO88591".
std::string PlainCodesetName(const std::string& codeset) {
  std::string plain;
  for (char c : codeset) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) plain.push_back(c);
  }
  return plain;
}

std::shared_ptr<const JournalRulesLocale> OpenJournalRulesLocale() {
  auto result = std::make_shared<JournalRulesLocale>();
  result->Ctype.reset(newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0)));
  if (!result->Ctype) result->Ctype.reset(newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0)));
  if (!result->Ctype) return result;
  result->Codeset = nl_langinfo_l(CODESET, result->Ctype.get());
  const std::string plain = PlainCodesetName(result->Codeset);
  if (plain == "UTF8") {
    result->Encoding = RuleEncoding::kUtf8;
  } else if (plain == "ANSIX341968" || plain == "ASCII" || plain == "USASCII") {
    result->Encoding = RuleEncoding::kUtf8;
    result->Codeset = "UTF-8";
    if (UniqueLocale utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))); utf8)
      result->Ctype = std::move(utf8);
  } else if (plain == "ISO88591" || plain == "LATIN1") {
    result->Encoding = RuleEncoding::kLatin1;
  } else {
    result->Encoding = RuleEncoding::kConverted;
  }
  return result;
}

// The locale's 8-bit text as UTF-8 (bytes that are no character of the set become "?").
std::string ConvertedToUtf8(std::string_view text) { return core::Utf16ToUtf8(AnsiToWide(text)); }

// The calling thread uses the locale for the scope's length, the one it had after.
class ThreadLocale {
 public:
  explicit ThreadLocale(locale_t use)
      : previous_(use ? uselocale(use) : static_cast<locale_t>(0)) {}
  ~ThreadLocale() {
    if (previous_) uselocale(previous_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

// A message pattern RE2 has parsed. It is compiled on its first search, so that a file of
// many rules loads quickly and a rule whose source never matches costs nothing more.
struct JournalPattern {
  std::string Text;  // as RE2 reads it: in UTF-8 when the locale's set is neither it nor Latin-1
  RuleEncoding Encoding = RuleEncoding::kUtf8;
  mutable std::once_flag Once;
  mutable std::unique_ptr<RE2> Regex;
  // The compiled pattern; nullptr when RE2 cannot compile it (it needs too much memory).
  const RE2* Get() const;
};

struct JournalMatcher::Compiled {
  std::size_t Index = 0;
  std::uint16_t EventID = 0;
  std::vector<JournalCondition> Conditions;
  std::shared_ptr<const JournalPattern> Pattern;
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

// The most memory one pattern may take, its compiled form and its search state together.
constexpr std::int64_t kPatternMemory = std::int64_t(2) << 20;

// What an operator does about a pattern RE2 refuses, told by RE2's error text.
std::string PatternAdvice(const std::string& error, const std::string& pattern) {
  auto says = [&](const char* start) { return error.rfind(start, 0) == 0; };
  if (says("invalid escape sequence")) {
    for (std::size_t at = 0; at + 1 < pattern.size(); ++at) {
      if (pattern[at] != '\\') continue;
      if (pattern[at + 1] >= '1' && pattern[at + 1] <= '9')
        return "back-references (\\1 to \\9) are not supported: write the repeated text out or "
               "match it more loosely";
      ++at;
    }
    return "write a POSIX extended regular expression; a \"\\\" stands only before a "
           "punctuation mark";
  }
  if (says("invalid repetition size"))
    return "a repetition may count at most 1000, nested repetitions multiplied: use smaller "
           "counts, or + and *";
  if (says("pattern too large"))
    return "the pattern needs more than " + SizeText(std::size_t(kPatternMemory)) +
           " to run: make it shorter or use smaller repetition counts";
  return "write a POSIX extended regular expression without back-references";
}

RE2::Options PatternOptions(RuleEncoding encoding) {
  RE2::Options options;
  options.set_posix_syntax(true);
  options.set_longest_match(true);
  options.set_case_sensitive(true);
  options.set_one_line(true);  // "^" and "$" hold at the message's ends only
  options.set_dot_nl(true);    // "." and "[^...]" match a line end too
  options.set_never_capture(true);
  options.set_log_errors(false);
  options.set_max_mem(kPatternMemory);
  options.set_encoding(encoding == RuleEncoding::kLatin1 ? RE2::Options::EncodingLatin1
                                                         : RE2::Options::EncodingUTF8);
  return options;
}

}  // namespace

const RE2* JournalPattern::Get() const {
  std::call_once(Once, [this] { Regex = std::make_unique<RE2>(Text, PatternOptions(Encoding)); });
  return Regex->ok() ? Regex.get() : nullptr;
}

namespace {

// The pattern parsed for the locale, or the problem that keeps its rule from being used. A
// parse is quick beside a compilation; compile makes sure the pattern compiles too.
std::shared_ptr<const JournalPattern> CheckPattern(const std::string& written,
                                                   const JournalRulesLocale& locale, bool compile,
                                                   std::string& problem) {
  auto checked = std::make_shared<JournalPattern>();
  checked->Encoding = locale.Encoding;
  checked->Text = written;
  if (locale.Encoding == RuleEncoding::kConverted) {
    checked->Text = ConvertedToUtf8(written);
    std::size_t marksBefore = 0, marksAfter = 0;
    for (char c : written) marksBefore += c == '?';
    for (char c : checked->Text) marksAfter += c == '?';
    if (marksAfter != marksBefore) {
      problem = "the message pattern holds bytes that are no character of the locale's set " +
                locale.Codeset + ": write the rules in " + locale.Codeset +
                " or run EventLog under a UTF-8 locale";
      return nullptr;
    }
  }
  RE2::Set parser(PatternOptions(locale.Encoding), RE2::UNANCHORED);
  std::string error;
  if (parser.Add(checked->Text, &error) < 0) {
    problem = "bad regular expression: " + error + " (" + PatternAdvice(error, written) + ")";
    return nullptr;
  }
  if (compile && checked->Get() == nullptr) {
    problem = "bad regular expression: " + checked->Regex->error() + " (" +
              PatternAdvice(checked->Regex->error(), written) + ")";
    return nullptr;
  }
  return checked;
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

// Fills the rule's fields from its line, or its Problem, and compiles its message pattern.
void ParseRule(JournalRuleLine& rule, const JournalRulesLocale& locale, bool compile) {
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
  rule.Compiled = CheckPattern(rule.Pattern, locale, compile, rule.Problem);
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

JournalRulesFile ReadJournalRules(bool compilePatterns) {
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
  const std::shared_ptr<const JournalRulesLocale> locale = OpenJournalRulesLocale();
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
    ParseRule(rule, *locale, compilePatterns);
    file.Rules.push_back(std::move(rule));
  }
  return file;
}

JournalMatcher::JournalMatcher(const std::vector<JournalRuleLine>& rules) {
  const std::shared_ptr<const JournalRulesLocale> locale = OpenJournalRulesLocale();
  locale_ = locale;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (!rules[i].Problem.empty()) continue;
    auto compiled = std::make_unique<Compiled>();
    compiled->Pattern = rules[i].Compiled;
    std::string problem;
    if (!compiled->Pattern)
      compiled->Pattern = CheckPattern(rules[i].Pattern, *locale, false, problem);
    if (!compiled->Pattern) continue;
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

// Whether the condition holds; the calling thread uses the rules' locale.
bool Holds(const JournalCondition& condition, const JournalFields& entry) {
  const std::string_view value = FieldValue(entry, condition.Field);
  if (value.data() == nullptr) return false;  // the entry lacks the field
  const std::string text(value.substr(0, value.find('\0')));
  return fnmatch(condition.Pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

// The message as the rules' patterns read it: under a set other than UTF-8 and Latin-1, in
// UTF-8; converted once for all the rules.
class MessageText {
 public:
  MessageText(const std::string& message, const JournalRulesLocale* locale)
      : message_(message), converts_(locale && locale->Encoding == RuleEncoding::kConverted) {}
  const std::string& For(const JournalPattern& pattern) {
    if (pattern.Encoding != RuleEncoding::kConverted || !converts_) return message_;
    if (!converted_) converted_ = ConvertedToUtf8(message_);
    return *converted_;
  }

 private:
  const std::string& message_;
  bool converts_;
  std::optional<std::string> converted_;
};

bool RuleMatches(const std::vector<JournalCondition>& conditions, const JournalPattern& pattern,
                 const JournalFields& entry, MessageText& message) {
  for (const JournalCondition& condition : conditions)
    if (!Holds(condition, entry)) return false;
  const RE2* regex = pattern.Get();
  return regex != nullptr && RE2::PartialMatch(message.For(pattern), *regex);
}

}  // namespace

const JournalMatcher::Compiled* JournalMatcher::Find(const JournalFields& entry) const {
  const JournalRulesLocale* locale = locale_.get();
  const ThreadLocale inLocale(locale ? locale->Ctype.get() : static_cast<locale_t>(0));
  MessageText message(entry.Message, locale);
  for (const auto& rule : compiled_)
    if (RuleMatches(rule->Conditions, *rule->Pattern, entry, message)) return rule.get();
  return nullptr;
}

bool JournalMatcher::Matches(std::size_t index, const JournalFields& entry) const {
  const JournalRulesLocale* locale = locale_.get();
  const ThreadLocale inLocale(locale ? locale->Ctype.get() : static_cast<locale_t>(0));
  MessageText message(entry.Message, locale);
  for (const auto& rule : compiled_)
    if (rule->Index == index) return RuleMatches(rule->Conditions, *rule->Pattern, entry, message);
  return false;
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
