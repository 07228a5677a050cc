#include "monitor/settings_lint.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string_view>
#include <utility>

#include "core/ascii.h"
#include "core/socket_errors.h"
#include "monitor/eventsearch.h"
#include "monitor/pageaction.h"
#include "paging/sendpage.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/system.h"

namespace {

// How many other spellings of a tag a finding lists before it says how many more there are.
constexpr std::size_t kListedSpellings = 3;
// How many tags EventLog does not read get a finding of their own.
constexpr std::size_t kListedUnknownTags = 10;
// How much of a marker a finding quotes.
constexpr std::size_t kShownMarkerBytes = 60;

tFinding Note(std::string text) { return {tSeverity::Note, std::move(text)}; }
tFinding Warning(std::string text) { return {tSeverity::Warning, std::move(text)}; }
tFinding Error(std::string text) { return {tSeverity::Error, std::move(text)}; }

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' ' || c == 127; }

std::string Trimmed(const std::string& text) {
  std::size_t start = 0, end = text.size();
  while (start < end && IsBlankOrControl(text[start])) ++start;
  while (end > start && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(start, end - start);
}

// Blanks or control characters around the text, or a control character inside it.
bool HasStrayBlanks(const std::string& text) {
  if (text != Trimmed(text)) return true;
  for (char c : text)
    if (c != ' ' && IsBlankOrControl(c)) return true;
  return false;
}

// The text as an operator meant it: without blanks around it and without control characters.
std::string Cleaned(const std::string& text) {
  std::string cleaned;
  for (char c : Trimmed(text))
    if (c == ' ' || !IsBlankOrControl(c)) cleaned += c;
  return cleaned;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The digits of a number written the way StrToIntOrZero reads it, with nothing around it: an
// optional sign, then decimal digits, or hexadecimal digits after "$", "0x" or "x" in either
// case. Nothing for a text that is not such a number.
std::optional<std::string> NumberDigits(const std::string& text) {
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  bool hex = false;
  if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
    hex = true;
    ++at;
  } else if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] | 0x20) == 'x') {
    hex = true;
    at += 2;
  }
  if (at >= text.size()) return std::nullopt;
  for (std::size_t i = at; i < text.size(); ++i)
    if (hex ? !IsHexDigit(text[i]) : (text[i] < '0' || text[i] > '9')) return std::nullopt;
  return text.substr(at);
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

// The content's lines and comments, found in one pass, so that every question about a position
// is answered without scanning the content again.
class ContentIndex {
 public:
  explicit ContentIndex(const std::string& content) {
    for (std::size_t at = content.find('\n'); at != std::string::npos;
         at = content.find('\n', at + 1))
      lineEnds_.push_back(at);
    for (std::size_t start = content.find("<!--"); start != std::string::npos;) {
      const std::size_t close = content.find("-->", start + 4);
      const std::size_t end = close == std::string::npos ? content.size() : close + 3;
      comments_.emplace_back(start, end);
      start = content.find("<!--", end);
    }
  }

  std::size_t LineOf(std::size_t position) const {
    return std::size_t(std::lower_bound(lineEnds_.begin(), lineEnds_.end(), position) -
                       lineEnds_.begin()) +
           1;
  }

  std::string AtLine(std::size_t position) const {
    return "line " + std::to_string(LineOf(position));
  }

  // Whether the position lies inside a "<!-- ... -->" comment (after its "<").
  bool InsideComment(std::size_t position) const {
    auto after = std::upper_bound(
        comments_.begin(), comments_.end(), position,
        [](std::size_t at, const std::pair<std::size_t, std::size_t>& c) { return at < c.first; });
    if (after == comments_.begin()) return false;
    const auto& comment = *(after - 1);
    return comment.first < position && position < comment.second;
  }

 private:
  std::vector<std::size_t> lineEnds_;
  std::vector<std::pair<std::size_t, std::size_t>> comments_;
};

// A start or end marker of an element outside comments.
struct Marker {
  std::size_t Position;
  std::string Name;
  std::string Text;  // as written, up to its ">" (cut)
  bool Exact;        // "<Name>" or "</Name>" with nothing else inside the brackets
};

// Calls visit with each start or end marker of an element outside comments, in the content's
// order.
template <typename Visit>
void ForEachMarker(const std::string& content, const ContentIndex& index, Visit visit) {
  for (std::size_t at = content.find('<'); at != std::string::npos;
       at = content.find('<', at + 1)) {
    std::size_t nameAt = at + 1;
    if (nameAt < content.size() && content[nameAt] == '/') ++nameAt;
    std::size_t after = nameAt;
    while (after < content.size() && IsNameCharacter(content[after])) ++after;
    if (after == nameAt || index.InsideComment(at)) continue;  // "<?", "<!", "a < b"
    const std::size_t close = content.find('>', after);
    std::size_t length = close == std::string::npos ? content.size() - at : close - at + 1;
    length = std::min(length, kShownMarkerBytes);
    visit(Marker{at, content.substr(nameAt, after - nameAt), content.substr(at, length),
                 after < content.size() && content[after] == '>'});
  }
}

const tSettingTag* TagNamed(const std::string& name, bool ignoringCase) {
  for (const tSettingTag& tag : kSettingTags)
    if (ignoringCase ? AsciiLowerCase(name) == AsciiLowerCase(tag.Name) : name == tag.Name)
      return &tag;
  return nullptr;
}

std::string TagList() {
  std::string list;
  for (std::size_t i = 0; i < kSettingTags.size(); ++i)
    list += std::string(i == 0                         ? ""
                        : i + 1 == kSettingTags.size() ? " and "
                                                       : ", ") +
            "<" + kSettingTags[i].Name + ">";
  return list;
}

bool Found(const std::string& content, const std::string& name) {
  return content.find("<" + name + ">") != std::string::npos &&
         content.find("</" + name + ">") != std::string::npos;
}

// Tags in other letter case or with more inside the brackets, and tags EventLog does not read.
void CheckSpellings(const std::string& content, const ContentIndex& index,
                    std::vector<tFinding>& findings) {
  struct Sightings {
    std::vector<Marker> Listed;  // the first few
    std::size_t Count = 0;
  };
  std::map<const tSettingTag*, Sightings> otherSpellings;
  std::map<std::string, Marker> unknown;  // the first marker of each name
  std::vector<std::string> unknownOrder;
  std::string root;  // the first element's name, when it is no setting
  bool first = true;
  ForEachMarker(content, index, [&](Marker&& marker) {
    const bool isFirst = first;
    first = false;
    if (const tSettingTag* tag = TagNamed(marker.Name, true)) {
      if (marker.Exact && marker.Name == tag->Name) return;
      Sightings& sightings = otherSpellings[tag];
      if (sightings.Listed.size() < kListedSpellings) sightings.Listed.push_back(marker);
      ++sightings.Count;
      return;
    }
    if (isFirst && marker.Text[1] != '/') root = marker.Name;
    if (marker.Name == root) return;
    if (unknown.emplace(marker.Name, marker).second) unknownOrder.push_back(marker.Name);
  });
  for (const tSettingTag& tag : kSettingTags) {
    const std::string name = tag.Name;
    const bool found = Found(content, name);
    if (auto spelt = otherSpellings.find(&tag); spelt != otherSpellings.end()) {
      const std::size_t count = spelt->second.Count;
      std::string listed;
      for (const Marker& sighting : spelt->second.Listed)
        listed += (listed.empty() ? "" : ", ") + EscapedText(sighting.Text) + " (" +
                  index.AtLine(sighting.Position) + ")";
      if (count > kListedSpellings)
        listed += " and " + std::to_string(count - kListedSpellings) + " more";
      const std::string tail =
          std::string(count == 1 ? " is" : " are") + " not <" + name + "> or </" + name +
          ">: tag names are matched exactly, in this letter case and without attributes, ";
      if (found)
        findings.push_back(
            Warning(listed + tail + "so EventLog passes " + (count == 1 ? "it" : "them") + " by"));
      else
        findings.push_back(
            Error(listed + tail + "so EventLog does not find <" + name + ">: " + tag.WhenMissing));
    }
    if (content.find("<" + name + ">") != std::string::npos && !found)
      findings.push_back(Error("<" + name + "> has no </" + name +
                               "> in the file: EventLog does not find it: " + tag.WhenMissing));
  }
  for (std::size_t i = 0; i < unknownOrder.size() && i < kListedUnknownTags; ++i) {
    const Marker& marker = unknown.at(unknownOrder[i]);
    const std::string meaning = AsciiLowerCase(marker.Name) == "source"
                                    ? "there is no source setting: every source matches"
                                    : "EventLog passes it by";
    findings.push_back(Error(EscapedText(marker.Text) + " (" + index.AtLine(marker.Position) +
                             ") is no tag EventLog reads (it reads " + TagList() + "): " + meaning +
                             "; remove it"));
  }
  if (unknownOrder.size() > kListedUnknownTags)
    findings.push_back(Error("and " + std::to_string(unknownOrder.size() - kListedUnknownTags) +
                             " more tags that EventLog does not read"));
}

// Text saved as UTF-16 holds a zero byte in every ASCII character: no marker is found in it.
void CheckEncoding(const std::string& content, const ContentIndex& index,
                   std::vector<tFinding>& findings) {
  const std::size_t zero = content.find('\0');
  if (zero == std::string::npos) return;
  const std::size_t zeros = std::size_t(std::count(content.begin(), content.end(), '\0'));
  const bool byteOrderMark =
      content.size() >= 2 && ((content[0] == '\xFF' && content[1] == '\xFE') ||
                              (content[0] == '\xFE' && content[1] == '\xFF'));
  if (byteOrderMark || zeros * 4 >= content.size())
    findings.push_back(
        Error("the file holds zero bytes, as text saved as UTF-16 (\"Unicode\") does: EventLog "
              "reads it as 8-bit text and finds none of its tags; save it as ANSI or UTF-8"));
  else
    findings.push_back(Warning("the file holds a zero byte (" + index.AtLine(zero) +
                               "): EventLog reads it as part of the text around it"));
}

// EventLog reads the first start marker, even in a comment, and never a later one.
void CheckCommentsAndRepeats(const std::string& content, const ContentIndex& index,
                             const tSettingsText& text, std::vector<tFinding>& findings) {
  for (const tSettingTag& tag : kSettingTags) {
    const std::string name = tag.Name;
    if (!Found(content, name)) continue;
    const std::string marker = "<" + name + ">";
    const std::size_t at = content.find(marker);
    std::size_t other = content.find(marker, at + 1);
    while (other != std::string::npos && index.InsideComment(other))
      other = content.find(marker, other + 1);
    const std::string value = VisibleText(text.*tag.Text);
    if (index.InsideComment(at))
      findings.push_back(
          Warning("the first <" + name + "> (" + index.AtLine(at) +
                  ") is inside an XML comment: EventLog still reads it, " + value +
                  (other == std::string::npos ? "" : ", not the one on " + index.AtLine(other))));
    else if (other != std::string::npos)
      findings.push_back(Warning("<" + name + "> appears again on " + index.AtLine(other) +
                                 ": EventLog reads only the first, on " + index.AtLine(at) + ", " +
                                 value));
  }
}

// ---- the values, one routine a tag

void CheckLogFile(const std::string& raw, bool found, std::vector<tFinding>& findings) {
  if (!found) {
    findings.push_back(Note("no <LogFile>: EventLog watches " + std::string(kDefaultLogName)));
    return;
  }
  if (HasStrayBlanks(raw))
    findings.push_back(Error("<LogFile> holds blanks, line ends or control characters, " +
                             VisibleText(raw) +
                             ": EventLog looks for a log of exactly that "
                             "name; write <LogFile>" +
                             EscapedText(Cleaned(raw)) + "</LogFile>"));
  else if (raw.empty())
    findings.push_back(
        Note("<LogFile> is empty: EventLog watches " + std::string(kDefaultLogName)));
}

// A number setting (EventID, Sleep): what blanks, line ends and text that is no number do to it.
// True when the text is clean: one number with nothing around it.
bool CheckNumberText(const std::string& name, const std::string& raw, std::int32_t used,
                     const std::string& becomes, std::vector<tFinding>& findings) {
  const std::string trimmed = Trimmed(raw);
  if (trimmed.empty()) return true;
  const std::optional<std::string> digits = NumberDigits(trimmed);
  const bool zero = digits && digits->find_first_not_of('0') == std::string::npos;
  if (!digits) {
    findings.push_back(Error("<" + name + "> " + VisibleText(raw) +
                             " is not one number (decimal, or hexadecimal as $1B7C or 0x1B7C): "
                             "EventLog takes 0 and " +
                             becomes));
    return false;
  }
  if (StrToIntOrZero(trimmed) == 0 && !zero) {
    findings.push_back(Error("<" + name + "> " + VisibleText(raw) +
                             " does not fit 32 bits: EventLog takes 0 and " + becomes));
    return false;
  }
  if (!HasStrayBlanks(raw)) return true;
  if (used == StrToIntOrZero(trimmed)) {
    findings.push_back(Warning("<" + name + "> " + VisibleText(raw) +
                               " holds blanks or control characters around the number: EventLog "
                               "reads " +
                               std::to_string(used) + " all the same; write <" + name + ">" +
                               trimmed + "</" + name + ">"));
    return true;
  }
  findings.push_back(Error("<" + name + "> holds blanks or line ends, " + VisibleText(raw) +
                           ": the number becomes 0 and " + becomes + "; write <" + name + ">" +
                           trimmed + "</" + name + ">"));
  return false;
}

void CheckEventId(const std::string& raw, bool found, std::int32_t eventId,
                  std::vector<tFinding>& findings) {
  if (!found || raw.empty()) {
    findings.push_back(
        Note(std::string(found ? "<EventID> is empty" : "no <EventID>") + ": any event matches"));
    return;
  }
  const bool clean = CheckNumberText("EventID", raw, eventId, "any event matches", findings);
  if (eventId < 0 || eventId > kLargestEventId) {
    const auto low = static_cast<std::uint32_t>(eventId) & 0xFFFF;
    findings.push_back(Error("EventID " + std::to_string(eventId) + " is " +
                             (eventId < 0 ? "below 0" : "above 65535") +
                             ": EventLog compares it with the low 16 bits of each record's event "
                             "ID (0 to 65535), so it never matches; the low 16 bits of " +
                             VisibleText(Trimmed(raw)) + " are " + std::to_string(low)));
  } else if (clean && eventId == 0) {
    findings.push_back(Note("EventID 0: any event matches"));
  }
}

// With ALERTMANAGER_URL set, every report is posted whatever the action: another action is then
// the way to use Alertmanager alone.
bool AlertsArePosted() {
  const char* urls = std::getenv("ALERTMANAGER_URL");
  return urls != nullptr &&
         std::string_view(urls).find_first_not_of(" \t,") != std::string_view::npos;
}

void CheckAction(const std::string& raw, bool found, const std::string& action,
                 std::vector<tFinding>& findings) {
  if (!found || raw.empty()) {
    findings.push_back(Note(std::string(found ? "<Action> is empty" : "no <Action>") +
                            ": EventLog reports without paging"));
    return;
  }
  if (action == kPageAction) return;
  if (AsciiLowerCase(Trimmed(raw)) == kPageAction)
    findings.push_back(Error("<Action> holds blanks or line ends, " + VisibleText(raw) +
                             ": the action does not page; write <Action>" + Trimmed(raw) +
                             "</Action>"));
  else if (AlertsArePosted())
    findings.push_back(Note("<Action> " + VisibleText(raw) +
                            " does not page: each report goes only to the Alertmanagers of "
                            "ALERTMANAGER_URL; write <Action>page</Action> to page as well"));
  else
    findings.push_back(Warning("<Action> " + VisibleText(raw) +
                               " does not page: only page (in any letter case) pages, any "
                               "other action only reports"));
}

void CheckLoggedAfter(const std::string& raw, bool found, TDateTime loggedAfter,
                      const std::optional<FailureDescription>& refused,
                      std::vector<tFinding>& findings) {
  if (!found || raw.empty()) {
    findings.push_back(Note(std::string(found ? "<LoggedAfter> is empty" : "no <LoggedAfter>") +
                            ": the newest match is reported at the first cycle"));
    return;
  }
  if (refused) {
    TDateTime cleaned = 0;
    if (HasStrayBlanks(raw) && TryStrToDateTime(Trimmed(raw), cleaned))
      findings.push_back(Error("<LoggedAfter> holds blanks or line ends, " + VisibleText(raw) +
                               ", which make it no date-time; write <LoggedAfter>" +
                               EscapedText(Trimmed(raw)) + "</LoggedAfter>"));
    findings.push_back(Error("EventLog would stop on its error line: Error: " +
                             EscapedText(refused->Message) + " (" + refused->ClassName +
                             ") Trace=0; under the current regional settings a date-time reads "
                             "like " +
                             FullYearDateTimeText(Now())));
  } else if (loggedAfter > Now()) {
    findings.push_back(Warning("LoggedAfter " + FullYearDateTimeText(loggedAfter) +
                               " lies in the future: nothing generated before then is reported"));
  }
}

void CheckSleep(const std::string& raw, bool found, std::int32_t sleep,
                std::vector<tFinding>& findings) {
  const bool clean =
      !found || CheckNumberText("Sleep", raw, sleep, "EventLog runs one cycle and ends", findings);
  if (clean && sleep <= 0)
    findings.push_back(Warning("Sleep " + std::to_string(sleep) +
                               ": EventLog runs one cycle and ends (a positive Sleep repeats the "
                               "cycle)"));
}

// ---- the environment

bool IsDecimalText(const std::string& text) {
  std::size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
  if (at >= text.size()) return false;
  for (; at < text.size(); ++at)
    if (text[at] < '0' || text[at] > '9') return false;
  return text.size() <= 11 && std::strtoll(text.c_str(), nullptr, 10) >= INT32_MIN &&
         std::strtoll(text.c_str(), nullptr, 10) <= INT32_MAX;
}

void CheckInteger(const std::string& name, const std::string& value, std::int64_t lowest,
                  std::int64_t highest, const std::string& range, const std::string& example,
                  std::vector<tFinding>& findings) {
  if (!IsDecimalText(value)) {
    findings.push_back(Error(name + "=" + VisibleText(value) +
                             " is not a whole decimal number without blanks: EventLog cannot "
                             "use it; write for example " +
                             name + "=" + example));
    return;
  }
  const std::int64_t number = std::strtoll(value.c_str(), nullptr, 10);
  if (number < lowest || number > highest)
    findings.push_back(Warning(name + "=" + value + " lies outside " + range));
}

void CheckHost(const std::string& name, const std::string& value, std::vector<tFinding>& findings,
               bool takesIPv6 = true) {
  if (!takesIPv6 && IsBracketedHost(value)) {
    findings.push_back(Error(name + "=" + VisibleText(value) +
                             " is an IPv6 address, and the receiver is reached over IPv4 only: "
                             "write an IPv4 address or a name with an IPv4 address"));
    return;
  }
  if (const std::string problem = HostProblem(value); !problem.empty())
    findings.push_back(Error(name + "=" + VisibleText(value) + " " + problem +
                             ": it can never be reached; write host or host:port, as in " + name +
                             "=pager.example.com:8080"));
}

// A variable set to the empty text: the built-in value holds, which the operator may not know.
void CheckSetEmpty(const std::string& name, const std::string& value, const std::string& builtIn,
                   std::vector<tFinding>& findings) {
  if (value.empty())
    findings.push_back(Warning(name + " is set but empty: EventLog uses the built-in " + builtIn +
                               "; give it a value or remove the line"));
}

void CheckPagerId(const std::string& value, std::vector<tFinding>& findings) {
  CheckSetEmpty("PAGING_PAGER_ID", value, "pager " + std::to_string(kBuiltInPagerNo), findings);
  if (value.empty()) return;
  if (const std::string problem = PagerIdProblem(value); !problem.empty())
    findings.push_back(Error("PAGING_PAGER_ID=" + VisibleText(value) + " " + problem +
                             ": every page fails with an exception report and none is sent; "
                             "write the pager's number, as in PAGING_PAGER_ID=" +
                             std::to_string(kBuiltInPagerNo) +
                             ", or remove it to page the built-in pager"));
}

// The liveness file: written whole into its folder (a temporary beside it, then a rename), so the
// folder must exist and take new files for EventLog's user. Paging goes on without the file.
void CheckMetricsFile(const std::string& value, std::vector<tFinding>& findings) {
  if (value.empty()) return;
  const std::filesystem::path path = platform::PathOf(value);
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  const std::string shownFolder = VisibleText(platform::PathText(folder));
  std::error_code error;
  if (!std::filesystem::exists(folder, error)) {
    // A note only: the package names node_exporter's folder, which is there only where
    // node_exporter is installed, and the service then runs EventLog without the file.
    findings.push_back(Note("the folder " + shownFolder +
                            " of EVENTLOG_METRICS_FILE does not exist: no liveness file is "
                            "written (paging goes on); install prometheus-node-exporter or create "
                            "the folder its --collector.textfile.directory names, or set "
                            "EVENTLOG_METRICS_FILE empty to write none"));
    return;
  }
  if (!std::filesystem::is_directory(folder, error)) {
    findings.push_back(Warning(shownFolder + " in EVENTLOG_METRICS_FILE is no folder: EventLog "
                                             "cannot write its liveness file (paging goes on)"));
    return;
  }
  if (std::filesystem::is_directory(path, error)) {
    findings.push_back(Warning("EVENTLOG_METRICS_FILE=" + VisibleText(value) +
                               " names a folder: EventLog cannot write its liveness file (paging "
                               "goes on); name a file in it, such as eventlog.prom"));
    return;
  }
  std::string reason;
  if (!platform::CanCreateFileIn(platform::PathText(folder), reason))
    findings.push_back(Warning(
        EscapedText(platform::CurrentUserName()) + " cannot create files in " + shownFolder + " (" +
        EscapedText(reason) +
        "): EventLog, run as this user, cannot write the liveness file EVENTLOG_METRICS_FILE "
        "names (paging goes on); let the user write there"));
  if (!value.ends_with(".prom"))
    findings.push_back(Note("EVENTLOG_METRICS_FILE=" + VisibleText(value) +
                            " does not end in .prom: node_exporter's textfile collector reads "
                            "only *.prom files"));
}

struct VariableRule {
  tEnvironmentVariable Variable;
  void (*Check)(const std::string& value, std::vector<tFinding>& findings);
  bool Secret = false;  // its value is shown masked (MaskedSecret)
};

const std::vector<VariableRule>& VariableRules() {
  static const std::vector<VariableRule> rules = {
      // Its entries are judged by eventlog-check's Alertmanager part: a bad one fails only its
      // own alerts, so the service's start goes on.
      {{"ALERTMANAGER_URL", "the Alertmanagers each report is also posted to as an alert"},
       nullptr},
      {{"EVENTLOG_DIR", "the folder of the .evt logs and journal.rules"}, nullptr},
      {{"EVENTLOG_JOURNAL_DIR", "journal files read instead of the system journal"}, nullptr},
      {{"EVENTLOG_LOG_LEVEL", "the highest level of the kit's log entries that are written"},
       [](const std::string& value, std::vector<tFinding>& findings) {
         CheckInteger("EVENTLOG_LOG_LEVEL", value, 0, 9, "the levels 0 to 9", "5", findings);
       }},
      {{"EVENTLOG_LOG_FILE", "the base name of the kit's daily CSV log files"}, nullptr},
      {{"EVENTLOG_LOG_KEEPDAYS", "the days the kit's dated files are kept"},
       [](const std::string& value, std::vector<tFinding>& findings) {
         CheckInteger("EVENTLOG_LOG_KEEPDAYS", value, 0, INT32_MAX, "0 (kept for ever) and above",
                      "30", findings);
       }},
      {{"EVENTLOG_SYSLOG_HOST", "the syslog receiver of the kit's log entries"},
       [](const std::string& value, std::vector<tFinding>& findings) {
         CheckHost("EVENTLOG_SYSLOG_HOST", value, findings, false);
       }},
      {{"EVENTLOG_LOG_IDENT", "the name the kit's log entries carry"}, nullptr},
      {{"EVENTLOG_STATE_FILE", "where EventLog keeps its delivery state"}, nullptr},
      {{"EVENTLOG_WHOLE_SEARCH", "1: every cycle reads the whole log"}, nullptr},
      {{"EVENTLOG_METRICS_FILE", "the liveness file for node_exporter's textfile collector"},
       CheckMetricsFile},
      {{"EVENTLOG_STOP_EVENT", "Windows: the event the service stops EventLog by"}, nullptr},
      {{"EVENTLOG_WATCH", "the watch's name in the liveness file and the alerts"}, nullptr},
      {{"PAGING_GATEWAY_HOST", "the paging gateway"},
       [](const std::string& value, std::vector<tFinding>& findings) {
         CheckSetEmpty("PAGING_GATEWAY_HOST", value, "gateway " + GatewayHost().Host, findings);
         if (!value.empty()) CheckHost("PAGING_GATEWAY_HOST", value, findings);
       }},
      {{"PAGING_PAGER_ID", "the pager every page goes to"}, CheckPagerId},
      {{"PAGING_PASSWORD", "the gateway password"},
       [](const std::string& value, std::vector<tFinding>& findings) {
         CheckSetEmpty("PAGING_PASSWORD", value, "password", findings);
       },
       true},
      {{"TZ", "the time zone of every time EventLog prints and reads"}, nullptr},
      {{"LC_ALL", "the regional settings (over LC_TIME and LANG)"}, nullptr},
      {{"LC_TIME", "the regional date and time format (over LANG)"}, nullptr},
      {{"LANG", "the regional settings"}, nullptr},
  };
  return rules;
}

}  // namespace

const char* SeverityWord(tSeverity severity) {
  switch (severity) {
    case tSeverity::Note:
      return "note";
    case tSeverity::Warning:
      return "warning";
    case tSeverity::Error:
      return "error";
  }
  return "note";
}

std::optional<tSeverity> WorstSeverity(const std::vector<tFinding>& findings) {
  std::optional<tSeverity> worst;
  for (const tFinding& finding : findings)
    if (!worst || finding.Severity > *worst) worst = finding.Severity;
  return worst;
}

tSettingsLint LintSettingsContent(const std::string& content) {
  tSettingsLint lint;
  lint.Text = SettingsTextOf(content);
  for (std::size_t i = 0; i < kSettingTags.size(); ++i) {
    const tSettingTag& tag = kSettingTags[i];
    try {
      tag.Apply(lint.Text.*tag.Text, lint.Values);
    } catch (const std::exception& failure) {
      lint.Refused[i] = DescribeFailure(failure);
    }
  }
  std::array<bool, kSettingTags.size()> found{};
  for (std::size_t i = 0; i < kSettingTags.size(); ++i) {
    const tSettingTag& tag = kSettingTags[i];
    found[i] = Found(content, tag.Name);
    std::string label = "  <" + std::string(tag.Name) + ">";
    label.resize(16, ' ');
    lint.TagLines.push_back(label + (found[i] ? VisibleText(lint.Text.*tag.Text) : "not found") +
                            " -> " +
                            (lint.Refused[i] ? std::string(tag.WhenRefused) + ": EventLog stops"
                                             : tag.Describe(lint.Values)));
  }

  const ContentIndex index(content);
  std::vector<tFinding>& findings = lint.Findings;
  CheckSpellings(content, index, findings);
  CheckEncoding(content, index, findings);
  CheckCommentsAndRepeats(content, index, lint.Text, findings);
  const tSettingsText& text = lint.Text;
  const tEventSearchRecord& values = lint.Values;
  CheckLogFile(text.LogFile, found[0], findings);
  CheckEventId(text.EventID, found[1], values.EventID, findings);
  CheckAction(text.Action, found[2], values.Action, findings);
  CheckLoggedAfter(text.LoggedAfter, found[3], values.LoggedAfter, lint.Refused[3], findings);
  CheckSleep(text.Sleep, found[4], values.Sleep, findings);
  return lint;
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

const std::vector<tEnvironmentVariable>& EnvironmentVariables() {
  static const std::vector<tEnvironmentVariable> variables = [] {
    std::vector<tEnvironmentVariable> list;
    for (const VariableRule& rule : VariableRules()) list.push_back(rule.Variable);
    return list;
  }();
  return variables;
}

tEnvironmentLint LintEnvironment(const tEnvironmentLookup& lookup) {
  tEnvironmentLint lint;
  for (const VariableRule& rule : VariableRules()) {
    const std::optional<std::string> value = lookup(rule.Variable.Name);
    if (!value) continue;
    lint.Lines.push_back("  " + std::string(rule.Variable.Name) + "=" +
                         (rule.Secret ? MaskedSecret(*value) : VisibleText(*value)) + " (" +
                         rule.Variable.Meaning + ")");
    if (rule.Check != nullptr) rule.Check(*value, lint.Findings);
  }
  return lint;
}

std::string MaskedSecret(const std::string& secret) {
  if (secret.size() < 5) return VisibleText("***");
  return VisibleText(secret.front() + std::string("***") + secret.back());
}

namespace {

// The problem of a host written as "[IPv6]" or "[IPv6]:port"; the port is judged by the caller.
std::string BracketedHostProblem(const std::string& hostAndPort, std::string& port) {
  const std::size_t close = hostAndPort.find(']');
  if (close == std::string::npos) return "opens '[' and never closes it";
  std::array<std::uint8_t, 16> address{};
  if (!ParseIPv6Address(hostAndPort.substr(1, close - 1), address))
    return "holds no IPv6 address between '[' and ']'";
  if (close + 1 < hostAndPort.size() && hostAndPort[close + 1] != ':')
    return "has text after ']' that is no \":port\"";
  port = close + 1 < hostAndPort.size() ? hostAndPort.substr(close + 2) : "";
  return close + 1 < hostAndPort.size() && port.empty() ? "names no port after the ':'" : "";
}

std::string PortProblem(const std::string& port) {
  if (port.empty()) return "names no port after the ':'";
  if (port.find_first_not_of("0123456789") != std::string::npos)
    return "has the port \"" + port + "\", which is no number";
  if (port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535)
    return "has the port " + port + ", outside 1 to 65535";
  return "";
}

}  // namespace

std::string HostProblem(const std::string& hostAndPort) {
  if (hostAndPort.empty()) return "is empty";
  if (hostAndPort.find("://") != std::string::npos)
    return "holds a scheme (" + hostAndPort.substr(0, hostAndPort.find("://") + 3) +
           "), which EventLog adds itself";
  for (char c : hostAndPort)
    if (IsBlankOrControl(c)) return "holds blanks or control characters";
  if (hostAndPort.find_first_of("/\\") != std::string::npos)
    return "holds a path, which EventLog adds itself";
  if (IsBracketedHost(hostAndPort)) {
    std::string port;
    if (std::string problem = BracketedHostProblem(hostAndPort, port); !problem.empty())
      return problem + " (an IPv6 address is written as [2001:db8::1] or [2001:db8::1]:8080)";
    return port.empty() ? "" : PortProblem(port);
  }
  if (const std::size_t odd = hostAndPort.find_first_of("?#@[]"); odd != std::string::npos)
    return std::string("holds '") + hostAndPort[odd] + "', which no host name has";
  const std::size_t colon = hostAndPort.find(':');
  if (colon == std::string::npos) return "";
  if (hostAndPort.find(':', colon + 1) != std::string::npos)
    return "holds more than one ':' (an IPv6 address is written in brackets, as in "
           "[2001:db8::1]:8080)";
  if (colon == 0) return "names no host before the ':'";
  return PortProblem(hostAndPort.substr(colon + 1));
}

tHostAndPort SplitHostAndPort(const std::string& hostAndPort, std::uint16_t defaultPort) {
  std::string host;
  std::string port;
  ::SplitHostAndPort(hostAndPort, host, port);
  if (port.empty()) return {host, defaultPort};
  return {host, static_cast<std::uint16_t>(std::stoul(port))};
}

namespace {

// Why the account may not read a log of the Windows kinds, and what makes it readable.
std::string UnreadableLog(const std::string& logName, std::uint32_t error) {
  const std::string account = EscapedText(platform::CurrentUserName());
  std::string text = "the log " + VisibleText(logName) + " cannot be read by " + account + " (" +
                     (error != 0 ? EscapedText(platform::SystemErrorText(error))
                                 : std::string("the system gives no reason")) +
                     "): EventLog finds nothing in it";
  if (error != platform::kErrorAccessDenied) return text;
  if (core::EqualsIgnoringAsciiCase(logName, "Security"))
    return text +
           "; run EventLog as SYSTEM, or grant the account read access in the channel's "
           "access (wevtutil gl Security shows it as channelAccess, wevtutil sl Security /ca:SDDL "
           "sets it)";
  return text +
         "; add the account to the group Event Log Readers (net localgroup \"Event Log "
         "Readers\" " +
         account + " /add) and start EventLog anew, or grant it the channel's access";
}

}  // namespace

tLogLint LintLog(const tEventSearchRecord& settings, bool countRecords) {
  tLogLint lint;
  lint.LogName = settings.LogFile.empty() ? kDefaultLogName : settings.LogFile;
  const std::string shown = VisibleText(lint.LogName);
  const platform::EventLogLocation location = platform::LocateEventLog(lint.LogName);
  lint.Kind = location.Kind;
  lint.Lines.push_back("  " + EscapedText(location.Description));
  for (const std::string& property : location.Properties)
    lint.Lines.push_back("  " + EscapedText(property));
  if (!location.Exists) {
    if (!location.OpenedInstead.empty())
      lint.Findings.push_back(Error(
          "the log " + shown + " is neither a log of the event log service nor an event channel: " +
          "the service opens " + location.OpenedInstead + " in its place, so EventLog reports " +
          location.OpenedInstead + "'s events; set LogFile to a name that eventlog-check " +
          "--list-logs shows"));
    else if (location.CreatedByFirstEvent)
      lint.Findings.push_back(Note("the log " + shown +
                                   " does not exist yet: its first event creates it there "
                                   "(eventcreate --log " +
                                   EscapedText(lint.LogName) +
                                   " ...); until then EventLog finds nothing"));
    else
      lint.Findings.push_back(Error("the log " + shown +
                                    " does not exist: EventLog finds nothing in it, cycle after "
                                    "cycle"));
    return lint;
  }
  // The Windows logs say whether this account may read them, and why not.
  if (location.Kind == platform::EventLogKind::kClassicLog ||
      location.Kind == platform::EventLogKind::kChannel) {
    const platform::EventLogReadProbe probe = platform::TryEventLogRead(lint.LogName);
    if (!probe.Readable) {
      lint.Lines.push_back("  not readable: " +
                           (probe.Error != 0 ? EscapedText(platform::SystemErrorText(probe.Error))
                                             : std::string("the system gives no reason")));
      lint.Findings.push_back(Error(UnreadableLog(lint.LogName, probe.Error)));
      return lint;
    }
    lint.Lines.push_back("  readable by " + EscapedText(platform::CurrentUserName()));
  }
  std::uint64_t count = 0;
  if (countRecords) {
    lint.Opens = CountEventRecords(lint.LogName, count);
  } else {
    const platform::UniqueEventLog log(platform::OpenEventLog(lint.LogName));
    lint.Opens = static_cast<bool>(log);
  }
  if (!lint.Opens) {
    lint.Findings.push_back(Error("the log " + shown +
                                  " does not open (not an event log, or no right to read it for "
                                  "this user): EventLog finds nothing in it"));
    return lint;
  }
  if (countRecords)
    lint.Lines.push_back("  opens: " + std::to_string(count) +
                         (count == 1 ? " record" : " records"));
  return lint;
}

std::vector<tFinding> LintJournalRules(const platform::JournalRulesFile& rules,
                                       std::int32_t eventId) {
  std::vector<tFinding> findings;
  bool given = false;
  for (const platform::JournalRuleLine& rule : rules.Rules) {
    if (!rule.Problem.empty())
      findings.push_back(Warning("journal.rules line " + std::to_string(rule.Line) +
                                 " cannot be used (" + rule.Problem +
                                 "), so EventLog skips it: " + EscapedText(rule.Text)));
    else if (rule.EventID == eventId)
      given = true;
  }
  if (eventId > 0 && eventId <= kLargestEventId && !given)
    findings.push_back(Error("no usable rule in " + rules.Path + " gives event ID " +
                             std::to_string(eventId) +
                             ": every journal entry has another ID, so EventLog finds nothing"));
  return findings;
}

std::vector<tFinding> CheckSettingsBeforeStart(const std::string& settingsPath) {
  std::vector<tFinding> findings;
  try {
    const tFileContent file = ReadFileContent(settingsPath);
    if (!file.Exists) {
      findings.push_back(Error(settingsPath +
                               " does not exist (or its last-write time lies outside the years "
                               "1980 to 2107): without it EventLog asks its three questions on a "
                               "console that a service does not have"));
      return findings;
    }
    if (file.Failure || !file.Opened) {
      findings.push_back(Error(
          settingsPath + " cannot be read: " +
          (file.Failure ? EscapedText(file.Failure->Message) + " (" + file.Failure->ClassName + ")"
                        : std::string("this user cannot open it")) +
          ": EventLog takes every setting as missing"));
      return findings;
    }
    const tSettingsLint settings = LintSettingsContent(file.Bytes);
    for (const tFinding& finding : settings.Findings)
      findings.push_back({finding.Severity, settingsPath + ": " + finding.Text});
    for (const tFinding& finding : LintEnvironment().Findings) findings.push_back(finding);
    const tLogLint log = LintLog(settings.Values, false);
    findings.insert(findings.end(), log.Findings.begin(), log.Findings.end());
    if (log.Opens && platform::NamesTheJournal(log.LogName))
      for (const tFinding& finding :
           LintJournalRules(platform::ReadJournalRules(), settings.Values.EventID))
        findings.push_back(finding);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    findings.push_back(Error("the settings check failed: " + EscapedText(description.Message) +
                             " (" + description.ClassName + ")"));
  }
  return findings;
}
