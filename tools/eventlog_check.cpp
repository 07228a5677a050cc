// eventlog-check: reads EventLog's settings with EventLog's own code and tells the operator what
// EventLog will do with them: the value of each tag, the traps in the file, the log it finds,
// the program folder, the gateway and the latest traces of pages.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/errors.h"
#include "core/regional.h"
#include "kit/helpers.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "monitor/pageaction.h"
#include "monitor/settings.h"
#include "paging/sendpage.h"
#include "platform/clock.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/locale.h"
#include "platform/system.h"

namespace {

constexpr char kUsage[] =
    "usage: eventlog-check [--program-dir DIR] [--page] [FOLDER]\n"
    "       eventlog-check --help\n"
    "\n"
    "Checks EventLog's settings the way EventLog reads them, without starting EventLog.\n"
    "FOLDER is the folder EventLog runs in, the one holding its EventLog.XML (default: the\n"
    "current folder).\n"
    "\n"
    "For each tag of EventLog.XML it prints the raw text between <Tag> and </Tag> (quoted,\n"
    "control characters shown as \\r \\n \\t \\xNN) and the value EventLog will use, then warns\n"
    "about what an operator would not expect:\n"
    "  - blanks or line ends inside a value (a number becomes 0, the action does not page)\n"
    "  - a tag in other letter case or with an attribute (EventLog does not find it)\n"
    "  - a tag inside an XML comment (EventLog still reads it)\n"
    "  - an EventID above 65535 or below 0 (it never matches)\n"
    "  - a LoggedAfter that is not a date-time under the current regional settings (EventLog\n"
    "    stops on its error line) or that lies in the future\n"
    "  - a Sleep of 0 or less (EventLog runs one cycle and ends)\n"
    "  - a number that is no number (EventLog takes 0), a tag given twice (EventLog reads\n"
    "    the first), a file saved as UTF-16 (EventLog finds no tag)\n"
    "Without EventLog.XML it says that EventLog will ask its three questions.\n"
    "\n"
    "Then the log: what LogFile resolves to (on Linux the file in EVENTLOG_DIR, on Windows the\n"
    "log's registry key, as the service silently opens Application for an unknown name),\n"
    "whether it opens, its record count, and its newest record and newest match as EventLog\n"
    "prints them. For LogFile Journal (Linux) it says which journal is read (the system\n"
    "journal, or the files in EVENTLOG_JOURNAL_DIR), lists the rules of journal.rules in\n"
    "EVENTLOG_DIR with the newest entry each gives its event ID to, and warns about each line\n"
    "that cannot be used (a bad event ID, a bad regular expression, missing fields). Then whether "
    "the program folder can take exception reports, the gateway URL,\n"
    "the newest exception report (EXCEPTION-*.XML) in the program folder and the newest page\n"
    "record (SendPage_*.xml) in FOLDER, each in one line. It warns when the log is missing or\n"
    "does not open, when its newest match is stamped in the future (EventLog reports it every\n"
    "cycle until then) and when the program folder cannot take reports.\n"
    "\n"
    "Options:\n"
    "  --program-dir DIR  the folder of the EventLog executable, where its exception reports\n"
    "                     land (default: the folder that holds eventlog-check)\n"
    "  --page             send one real test page through the gateway and print the request\n"
    "                     URL and the outcome: the page record (written to the current\n"
    "                     folder), or the failure's class and message (its report is written\n"
    "                     next to eventlog-check)\n"
    "  --help             print this text and exit\n"
    "\n"
    "Exit codes:\n"
    "  0  sound\n"
    "  1  warnings\n"
    "  2  EventLog would stop on its error line, or can never find anything (an EventID out\n"
    "     of range, a log that is missing or does not open)\n"
    "  3  the check itself could not run (bad arguments, no such folder)\n"
    "\n"
    "Run it as the user EventLog runs as and with its environment (EVENTLOG_DIR,\n"
    "PAGING_GATEWAY_HOST, TZ, LC_ALL, LC_TIME, LANG): it sees what EventLog would see.\n";

constexpr int kExitSound = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitBroken = 2;
constexpr int kExitUsage = 3;
constexpr std::int32_t kLargestEventId = 65535;
constexpr char kTestPageSource[] = "eventlog-check";

struct Options {
  std::string Folder = ".";
  std::optional<std::string> ProgramDirectory;
  bool Page = false;
  bool Help = false;
};

// -- output ---------------------------------------------------------------------------------

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// Counts what was found and prints it where it was found.
struct Findings {
  int Warnings = 0;
  int Errors = 0;
  void Warn(const std::string& text) {
    ++Warnings;
    Print("warning: " + text);
  }
  // EventLog would stop on its error line or can never find anything.
  void Fail(const std::string& text) {
    ++Errors;
    Print("error: " + text);
  }
  int ExitCode() const {
    return Errors > 0 ? kExitBroken : Warnings > 0 ? kExitWarnings : kExitSound;
  }
};

// The text with control characters written as escapes, and quotes and backslashes too when
// it is to be quoted.
std::string Escaped(const std::string& text, bool quoted) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r')
      shown += "\\r";
    else if (c == '\n')
      shown += "\\n";
    else if (c == '\t')
      shown += "\\t";
    else if (quoted && (c == '"' || c == '\\'))
      shown += std::string("\\") + c;
    else if (byte < 32 || byte == 127)
      shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    else
      shown += c;
  }
  return shown;
}

std::string Visible(const std::string& text) { return "\"" + Escaped(text, true) + "\""; }

std::string Plural(int count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// -- paths and files ------------------------------------------------------------------------

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (platform::IsPathSeparator(folder.back())) return folder + name;
  return folder + "/" + name;
}

// The name that sorts last among the matches: the newest for the 17-digit stamped names.
std::optional<std::string> NewestMatch(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  if (!platform::FindFileNames(JoinPath(folder, pattern), names) || names.empty())
    return std::nullopt;
  std::string newest = names.front();
  for (const auto& name : names)
    if (name > newest) newest = name;
  return newest;
}

std::set<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  platform::FindFileNames(JoinPath(folder, pattern), names);
  return {names.begin(), names.end()};
}

std::optional<std::string> NewName(const std::set<std::string>& before,
                                   const std::set<std::string>& after) {
  for (const auto& name : after)
    if (before.count(name) == 0) return name;
  return std::nullopt;
}

// The text of an element of a saved report or page record, its entities decoded and its line
// ends turned into blanks so that it fits on one line.
std::string ElementText(const std::string& document, const std::string& element) {
  std::string text = ExtractBetween(document, "<" + element + ">", "</" + element + ">");
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, character] : kEntities)
    for (std::size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1))
      text.replace(at, std::string(entity).size(), character);
  // A line end may also be saved as a character reference.
  for (const char* reference : {"&#13;", "&#xD;", "&#xd;"})
    for (std::size_t at = text.find(reference); at != std::string::npos; at = text.find(reference))
      text.replace(at, std::string(reference).size(), "\r");
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.replace(at, 2, " ");
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string ReportSummary(const std::string& path) {
  const std::string report = ReadFileToString(path);
  return ElementText(report, "DateTime") + " " + ElementText(report, "ClassName") + ": " +
         ElementText(report, "e.Message");
}

std::string PageRecordSummary(const std::string& path) {
  const std::string record = ReadFileToString(path);
  return ElementText(record, "DateTime") + " pager " + ElementText(record, "PagerNo") + " " +
         ElementText(record, "URL");
}

std::string LastLine(const std::string& text) {
  std::string rest = text;
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
  const std::size_t start = rest.find_last_of('\n');
  return start == std::string::npos ? rest : rest.substr(start + 1);
}

// -- the settings file ----------------------------------------------------------------------

struct Tag {
  const char* Name;
  std::string tSettingsText::*Text;
  const char* WhenMissing;  // what EventLog does without the tag
};

const Tag kTags[] = {
    {"LogFile", &tSettingsText::LogFile, "EventLog watches Application"},
    {"EventID", &tSettingsText::EventID, "any event matches"},
    {"Action", &tSettingsText::Action, "EventLog does not page"},
    {"LoggedAfter", &tSettingsText::LoggedAfter, "the newest match is reported at once"},
    {"Sleep", &tSettingsText::Sleep, "EventLog runs one cycle and ends"},
};

// The settings as the monitor converts them, and the failure its conversion raises.
struct Converted {
  tEventSearchRecord Settings;
  std::optional<FailureDescription> Failure;
};

// Converts with the monitor's routine; the date-time's failure is kept, the other values still
// filled in (they are converted as well without the date-time).
Converted Convert(const tSettingsText& text) {
  Converted converted;
  tSettingsText withoutDate = text;
  withoutDate.LoggedAfter.clear();
  ApplySettingsText(withoutDate, converted.Settings);
  try {
    ApplySettingsText(text, converted.Settings);
  } catch (const std::exception& failure) {
    converted.Failure = DescribeFailure(failure);
  }
  return converted;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' ' || c == 127; }

std::string Trimmed(const std::string& text) {
  std::size_t start = 0, end = text.size();
  while (start < end && IsBlankOrControl(text[start])) ++start;
  while (end > start && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(start, end - start);
}

bool HasStrayBlanks(const std::string& text) {
  if (text != Trimmed(text)) return true;
  for (char c : text)
    if (c != ' ' && IsBlankOrControl(c)) return true;
  return false;
}

tSettingsText TrimmedTexts(tSettingsText text) {
  for (const Tag& tag : kTags) text.*tag.Text = Trimmed(text.*tag.Text);
  return text;
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

bool SameLetters(const std::string& text, std::size_t at, const std::string& word) {
  if (text.size() - at < word.size()) return false;
  return AsciiLowerCase(text.substr(at, word.size())) == AsciiLowerCase(word);
}

std::size_t LineOf(const std::string& text, std::size_t position) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < position && i < text.size(); ++i)
    if (text[i] == '\n') ++line;
  return line;
}

std::string AtLine(const std::string& text, std::size_t position) {
  return "line " + std::to_string(LineOf(text, position));
}

// Whether the position lies inside a "<!-- ... -->" comment.
bool InsideComment(const std::string& content, std::size_t position) {
  std::size_t start = content.find("<!--");
  while (start != std::string::npos && start < position) {
    const std::size_t end = content.find("-->", start + 4);
    if (end == std::string::npos || position < end + 3) return true;
    start = content.find("<!--", end + 3);
  }
  return false;
}

struct Sighting {
  std::size_t Position;
  std::string Marker;
};

// Every start or end marker of the tag in another letter case or with more inside the brackets
// than the name: EventLog matches the exact markers only.
std::vector<Sighting> OtherSpellings(const std::string& content, const std::string& name) {
  std::vector<Sighting> sightings;
  for (std::size_t at = content.find('<'); at != std::string::npos;
       at = content.find('<', at + 1)) {
    std::size_t nameAt = at + 1;
    if (nameAt < content.size() && content[nameAt] == '/') ++nameAt;
    if (!SameLetters(content, nameAt, name)) continue;
    const std::size_t after = nameAt + name.size();
    const char next = after < content.size() ? content[after] : '\0';
    if (IsNameCharacter(next)) continue;       // a longer name, another tag
    if (InsideComment(content, at)) continue;  // never read, whatever its spelling
    if (next == '>' && content.compare(nameAt, name.size(), name) == 0) continue;
    std::size_t end = content.find('>', at);
    std::size_t length = end == std::string::npos ? content.size() - at : end - at + 1;
    if (length > 60) length = 60;
    sightings.push_back({at, content.substr(at, length)});
  }
  return sightings;
}

std::string LogFileValue(const std::string& logFile) {
  return logFile.empty() ? Visible(kDefaultLogName) + " (the default)" : Visible(logFile);
}

std::string EventIdValue(std::int32_t eventId) {
  if (eventId == 0) return "0 (any event)";
  if (eventId < 0 || eventId > kLargestEventId) return std::to_string(eventId) + " (never matches)";
  return std::to_string(eventId);
}

std::string ActionValue(const std::string& action) {
  return Visible(action) + (action == kPageAction ? " (pages)" : " (does not page)");
}

std::string LoggedAfterValue(const Converted& converted) {
  if (converted.Failure) return "not a date-time: EventLog stops";
  if (converted.Settings.LoggedAfter == 0) return "none (the newest match is reported at once)";
  return DateTimeToStrOrEmpty(converted.Settings.LoggedAfter);
}

std::string SleepValue(std::int32_t sleep) {
  if (sleep <= 0) return std::to_string(sleep) + " (one cycle)";
  return std::to_string(sleep) + " (seconds between cycles)";
}

std::string ValueOf(const std::string& name, const Converted& converted) {
  const tEventSearchRecord& settings = converted.Settings;
  if (name == "LogFile") return LogFileValue(settings.LogFile);
  if (name == "EventID") return EventIdValue(settings.EventID);
  if (name == "Action") return ActionValue(settings.Action);
  if (name == "LoggedAfter") return LoggedAfterValue(converted);
  return SleepValue(settings.Sleep);
}

void PrintTagLines(const std::string& content, const tSettingsText& text,
                   const Converted& converted) {
  for (const Tag& tag : kTags) {
    const std::string name = tag.Name;
    const bool present = content.find("<" + name + ">") != std::string::npos &&
                         content.find("</" + name + ">") != std::string::npos;
    std::string label = "  <" + name + ">";
    label.resize(16, ' ');
    Print(label + (present ? Visible(text.*tag.Text) : "not found") + " -> " +
          ValueOf(name, converted));
  }
}

// What blanks or line ends in a value change: the value with them against the value without.
void CheckStrayBlanks(const tSettingsText& text, const Converted& converted, Findings& findings) {
  const tSettingsText trimmed = TrimmedTexts(text);
  const Converted clean = Convert(trimmed);
  const tEventSearchRecord& used = converted.Settings;
  if (HasStrayBlanks(text.LogFile))
    findings.Fail("<LogFile> holds blanks or line ends: EventLog looks for the log " +
                  Visible(used.LogFile) + "; write <LogFile>" + trimmed.LogFile + "</LogFile>");
  if (HasStrayBlanks(text.EventID) && used.EventID != clean.Settings.EventID)
    findings.Warn("<EventID> holds blanks or line ends, " + Visible(text.EventID) +
                  ": the number becomes 0 and any event matches; write <EventID>" +
                  trimmed.EventID + "</EventID>");
  if (HasStrayBlanks(text.Action) && used.Action != kPageAction &&
      clean.Settings.Action == kPageAction)
    findings.Warn("<Action> holds blanks or line ends, " + Visible(text.Action) +
                  ": the action does not page; write <Action>" + trimmed.Action + "</Action>");
  if (HasStrayBlanks(text.LoggedAfter) && converted.Failure && !clean.Failure)
    findings.Warn("<LoggedAfter> holds blanks or line ends, " + Visible(text.LoggedAfter) +
                  ", which make it no date-time; write <LoggedAfter>" + trimmed.LoggedAfter +
                  "</LoggedAfter>");
  if (HasStrayBlanks(text.Sleep) && used.Sleep != clean.Settings.Sleep)
    findings.Warn("<Sleep> holds blanks or line ends, " + Visible(text.Sleep) +
                  ": the number becomes 0 and EventLog runs one cycle; write <Sleep>" +
                  trimmed.Sleep + "</Sleep>");
}

// A number that is not one counts as 0; said once, for a text that is not blanks around one.
void CheckNumbers(const tSettingsText& text, const Converted& converted, Findings& findings) {
  const auto notANumber = [](const std::string& raw) {
    const std::string trimmed = Trimmed(raw);
    return !trimmed.empty() && StrToIntOrZero(trimmed) == 0 &&
           trimmed.find_first_not_of("+-0$xX") != std::string::npos;
  };
  if (notANumber(text.EventID) && converted.Settings.EventID == 0)
    findings.Warn("<EventID> " + Visible(text.EventID) +
                  " is not a number (decimal, or hexadecimal as $1B7C or 0x1B7C): EventLog takes "
                  "0 and any event matches");
  if (notANumber(text.Sleep) && converted.Settings.Sleep == 0)
    findings.Warn("<Sleep> " + Visible(text.Sleep) + " is not a number: EventLog takes 0");
}

void CheckSpellings(const std::string& content, Findings& findings) {
  for (const Tag& tag : kTags) {
    const std::string name = tag.Name;
    const bool found = content.find("<" + name + ">") != std::string::npos &&
                       content.find("</" + name + ">") != std::string::npos;
    const std::vector<Sighting> sightings = OtherSpellings(content, name);
    if (!sightings.empty()) {
      std::string spelled;
      for (const Sighting& sighting : sightings)
        spelled += (spelled.empty() ? "" : ", ") + Escaped(sighting.Marker, false) + " (" +
                   AtLine(content, sighting.Position) + ")";
      findings.Warn(
          spelled + (sightings.size() == 1 ? " is" : " are") + " not <" + name + "> or </" + name +
          ">: tag names are matched exactly, in this letter case and without "
          "attributes, so " +
          (found ? "EventLog passes " + std::string(sightings.size() == 1 ? "it" : "them") + " by"
                 : "EventLog does not find <" + name + ">: " + tag.WhenMissing));
    }
    if (content.find("<" + name + ">") != std::string::npos && !found)
      findings.Warn("<" + name + "> has no </" + name +
                    "> in the file: EventLog does not find it: " + tag.WhenMissing);
  }
}

// The next start marker after position that a reader of the XML would take as the element.
std::size_t NextOutsideComments(const std::string& content, const std::string& marker,
                                std::size_t position) {
  std::size_t at = content.find(marker, position);
  while (at != std::string::npos && InsideComment(content, at)) at = content.find(marker, at + 1);
  return at;
}

// EventLog reads the first start marker, even in a comment, and never a later one.
void CheckCommentsAndRepeats(const std::string& content, const tSettingsText& text,
                             Findings& findings) {
  for (const Tag& tag : kTags) {
    const std::string name = tag.Name;
    const std::string marker = "<" + name + ">";
    const std::size_t at = content.find(marker);
    if (at == std::string::npos || content.find("</" + name + ">") == std::string::npos) continue;
    const std::size_t other = NextOutsideComments(content, marker, at + 1);
    const std::string instead =
        other == std::string::npos ? "" : ", not the one on " + AtLine(content, other);
    if (InsideComment(content, at))
      findings.Warn("the first <" + name + "> (" + AtLine(content, at) +
                    ") is inside an XML comment: EventLog still reads it, " +
                    Visible(text.*tag.Text) + instead);
    else if (other != std::string::npos)
      findings.Warn("<" + name + "> appears again on " + AtLine(content, other) +
                    ": EventLog reads only the first, on " + AtLine(content, at) + ", " +
                    Visible(text.*tag.Text));
  }
}

// Text saved as UTF-16 holds a zero byte in every ASCII character: no marker is found in it.
void CheckEncoding(const std::string& content, Findings& findings) {
  if (content.find('\0') != std::string::npos)
    findings.Warn(
        "the file holds zero bytes, as text saved as UTF-16 (\"Unicode\") does: "
        "EventLog reads it as 8-bit text and finds none of its tags; save it as ANSI or "
        "UTF-8");
}

void CheckValues(const tSettingsText& text, const Converted& converted, Findings& findings) {
  const tEventSearchRecord& settings = converted.Settings;
  if (settings.EventID < 0 || settings.EventID > kLargestEventId) {
    const auto low = static_cast<std::uint32_t>(settings.EventID) & 0xFFFF;
    findings.Fail("EventID " + std::to_string(settings.EventID) + " is " +
                  (settings.EventID < 0 ? "below 0" : "above 65535") +
                  ": EventLog compares it with the low 16 bits of each record's event ID (0 to "
                  "65535), so it never matches; the low 16 bits of " +
                  Visible(Trimmed(text.EventID)) + " are " + std::to_string(low));
  }
  if (converted.Failure) {
    findings.Fail("EventLog would stop on its error line: Error: " + converted.Failure->Message +
                  " (" + converted.Failure->ClassName +
                  ") Trace=0; under the current regional settings a date-time reads like " +
                  DateTimeToStr(Now()));
  } else if (settings.LoggedAfter > Now()) {
    findings.Warn("LoggedAfter " + DateTimeToStrOrEmpty(settings.LoggedAfter) +
                  " lies in the future: nothing generated before then is reported");
  }
  if (settings.Sleep <= 0)
    findings.Warn("Sleep " + std::to_string(settings.Sleep) +
                  ": EventLog runs one cycle and ends (a positive Sleep repeats the cycle)");
}

// -- the log ---------------------------------------------------------------------------------

void PrintRecord(const std::string& heading, const tMyEventLogRecord& record,
                 const std::string& action) {
  Print(heading);
  for (const std::string& line : ReportRecordLines(record, action)) Print("    " + line);
}

void CheckNewestMatch(const tEventSearchRecord& settings, Findings& findings) {
  tMyEventLogRecord match;
  if (!FindLatestEvent(settings, match)) {
    Print(settings.EventID == 0 ? std::string("  newest match: none (the log holds no record)")
                                : "  newest match: none (no record with event ID " +
                                      std::to_string(settings.EventID) + ")");
    return;
  }
  PrintRecord("  newest match:", match, settings.Action);
  if (match.TimeGeneratedAsDateTime > settings.LoggedAfter)
    Print("  it was generated after LoggedAfter: EventLog's first cycle reports it");
  else
    Print(
        "  it was not generated after LoggedAfter: EventLog's first cycle prints \"No events "
        "found.\"");
  if (match.TimeGeneratedAsDateTime > Now())
    findings.Warn("the newest match is stamped in the future (" +
                  DateTimeToStrOrEmpty(match.TimeGeneratedAsDateTime) +
                  "): EventLog reports it again every cycle until that time has passed");
}

void CheckLog(tEventSearchRecord settings, Findings& findings) {
  if (settings.LogFile.empty()) settings.LogFile = kDefaultLogName;
  Print("The log " + Visible(settings.LogFile) + ":");
  const platform::EventLogLocation location = platform::LocateEventLog(settings.LogFile);
  Print("  " + Escaped(location.Description, false));
  if (!location.Exists) {
    findings.Fail("the log " + Visible(settings.LogFile) +
                  " does not exist: EventLog finds nothing in it, cycle after cycle");
    return;
  }
  std::uint64_t count = 0;
  if (!CountEventRecords(settings.LogFile, count)) {
    findings.Fail("the log " + Visible(settings.LogFile) +
                  " does not open (not an event log, or no right to read it for this user): "
                  "EventLog finds nothing in it");
    return;
  }
  Print("  opens: " + std::to_string(count) + (count == 1 ? " record" : " records"));
  try {
    tEventSearchRecord anything;
    anything.LogFile = settings.LogFile;
    tMyEventLogRecord newest;
    if (FindLatestEvent(anything, newest))
      PrintRecord("  newest record:", newest, settings.Action);
    else
      Print("  newest record: none");
    CheckNewestMatch(settings, findings);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    findings.Fail("reading the log failed as EventLog's would: Error: " + description.Message +
                  " (" + description.ClassName + ") Trace=0");
  }
}

// -- the journal's rules --------------------------------------------------------------------

constexpr std::size_t kShownMessageBytes = 160;

// An entry as a rule's line shows it: local generation time, source and message.
std::string EntryLine(const platform::JournalFields& entry) {
  std::string message = entry.Message;
  if (message.size() > kShownMessageBytes) message = message.substr(0, kShownMessageBytes) + "...";
  return DateTimeToStrOrEmpty(UTCToLocalDateTime(UnixTimeToDateTime(entry.TimeGenerated))) + " " +
         Escaped(std::string(entry.Source), false) + ": " + Escaped(message, false);
}

// For each usable rule, the newest entry that gets its event ID (the first rule an entry
// matches gives it), read newest first until every rule has one or the journal ends.
std::vector<std::string> NewestEntriesOfRules(const std::vector<platform::JournalRuleLine>& rules) {
  std::vector<std::string> newest(rules.size());
  std::size_t usable = 0;
  for (const auto& rule : rules)
    if (rule.Problem.empty()) ++usable;
  if (usable == 0) return newest;
  const platform::JournalMatcher matcher(rules);
  std::size_t found = 0;
  platform::VisitJournalNewestFirst([&](const platform::JournalFields& entry) {
    const int rule = matcher.FirstMatch(entry);
    if (rule >= 0 && newest[rule].empty()) {
      newest[rule] = EntryLine(entry);
      ++found;
    }
    return found < usable;
  });
  return newest;
}

bool SomeRuleGives(const std::vector<platform::JournalRuleLine>& rules, std::int32_t eventId) {
  for (const auto& rule : rules)
    if (rule.Problem.empty() && rule.EventID == eventId) return true;
  return false;
}

void CheckJournalRules(const tEventSearchRecord& settings, Findings& findings) {
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  Print("The rules in " + file.Path + " (each with the newest entry it gives its event ID to):");
  if (!file.Readable)
    Print("  cannot be read (" + file.Problem + "): every journal entry has event ID 0");
  else if (file.Rules.empty())
    Print("  none: every journal entry has event ID 0");
  const std::vector<std::string> newest = NewestEntriesOfRules(file.Rules);
  for (std::size_t i = 0; i < file.Rules.size(); ++i) {
    const platform::JournalRuleLine& rule = file.Rules[i];
    if (!rule.Problem.empty()) {
      findings.Warn("journal.rules line " + std::to_string(rule.Line) + " cannot be used (" +
                    rule.Problem + "), so EventLog skips it: " + Escaped(rule.Text, false));
      continue;
    }
    Print("  line " + std::to_string(rule.Line) + ": event ID " + std::to_string(rule.EventID) +
          " for source " + Visible(rule.Identifier) + " and message " + Visible(rule.Pattern));
    Print("    newest entry: " + (newest[i].empty() ? std::string("none") : newest[i]));
  }
  if (settings.EventID > 0 && settings.EventID <= kLargestEventId &&
      !SomeRuleGives(file.Rules, settings.EventID))
    findings.Fail("no usable rule in " + file.Path + " gives event ID " +
                  std::to_string(settings.EventID) +
                  ": every journal entry has another ID, so EventLog finds nothing");
}

// -- the program folder, the gateway and the traces of pages --------------------------------

void CheckProgramFolder(const std::string& programDirectory, Findings& findings) {
  Print("The program folder " + programDirectory + ":");
  std::string reason;
  if (platform::CanCreateFileIn(programDirectory, reason))
    Print("  can take exception reports (for the user running this check)");
  else
    findings.Warn("the program folder " + programDirectory + " cannot take exception reports (" +
                  reason +
                  "): a failed page leaves only a line in Exception.txt in the current folder");
  if (auto newest = NewestMatch(programDirectory, "EXCEPTION-*.XML"))
    Print("  newest exception report: " + *newest + " " +
          ReportSummary(JoinPath(programDirectory, *newest)));
  else
    Print("  newest exception report: none");
}

void PrintTraces(const std::string& folder) {
  if (auto newest = NewestMatch(folder, "SendPage_*.xml"))
    Print("  newest page record: " + *newest + " " + PageRecordSummary(JoinPath(folder, *newest)));
  else
    Print("  newest page record: none");
  const std::string journal = JoinPath(folder, "Exception.txt");
  if (platform::FileExists(journal))
    Print("  Exception.txt (reports that could not be saved), last line: " +
          LastLine(ReadFileToString(journal)));
}

void PrintGateway(const tEventSearchRecord* settings) {
  const char* configured = std::getenv("PAGING_GATEWAY_HOST");
  const bool fromEnvironment = configured != nullptr && *configured != '\0';
  Print("The gateway: http://" + PagingGatewayHost() + "/cgi-bin/xmhscgi " +
        (fromEnvironment ? "(from PAGING_GATEWAY_HOST)"
                         : "(built in; PAGING_GATEWAY_HOST overrides it)"));
  if (settings != nullptr && settings->Action != kPageAction)
    Print("  EventLog pages only with <Action>page</Action>");
}

// Sends one page as the monitor would and reads its outcome from the files the sender leaves.
void SendTestPage(Findings& findings) {
  tMyEventLogRecord record;
  record.Source = kTestPageSource;
  const tSendPageRec request = PageRequest(PageMessage(Now(), GetHostName(), record));
  Print("Test page: " + PageUrl(PagingGatewayHost(), request));
  const std::string reportFolder = GetAppPath();
  const auto recordsBefore = MatchingNames(".", "SendPage_*.xml");
  const auto reportsBefore = MatchingNames(reportFolder, "EXCEPTION-*.XML");
  const bool accepted = SendPage(request);
  const auto pageRecord = NewName(recordsBefore, MatchingNames(".", "SendPage_*.xml"));
  const auto report = NewName(reportsBefore, MatchingNames(reportFolder, "EXCEPTION-*.XML"));
  if (accepted) {
    Print("  the gateway accepted it; page record " +
          (pageRecord ? *pageRecord + " " + PageRecordSummary(*pageRecord)
                      : std::string("not written")));
  } else if (pageRecord) {
    findings.Warn(
        "the gateway answered without \"Message succesfully sent\": the page was not "
        "accepted; page record " +
        *pageRecord);
  } else if (report) {
    const std::string document = ReadFileToString(JoinPath(reportFolder, *report));
    findings.Warn("the page failed: " + ElementText(document, "ClassName") + ": " +
                  ElementText(document, "e.Message") + " (report " +
                  JoinPath(reportFolder, *report) + ")");
  } else {
    findings.Warn("the page failed and its report could not be saved: " +
                  LastLine(ReadFileToString("Exception.txt")));
  }
}

// -- the whole check -------------------------------------------------------------------------

// EventLog looks for the settings file by its exact name and only when its stamp is plausible.
void ExplainMissingSettings(const std::string& folder, Findings& findings) {
  std::vector<std::string> names;
  platform::FindFileNames(JoinPath(folder, kSettingsFileName), names);
  std::string explanation;
  for (const auto& name : names)
    explanation += name == kSettingsFileName
                       ? "; its last-write time lies outside the years 1980 to 2107, so EventLog "
                         "does not see it"
                       : "; there is " + name + ", but EventLog looks for " + kSettingsFileName +
                             " in exactly this letter case";
  findings.Warn(std::string("no ") + kSettingsFileName + " in " + folder + explanation +
                ": EventLog will ask its three questions (Logfile, Event ID, Source) on the "
                "console and run one cycle; with no one to answer, it watches Application for "
                "any event");
}

std::optional<tEventSearchRecord> CheckSettings(const std::string& folder, Findings& findings) {
  const std::string path = JoinPath(folder, kSettingsFileName);
  if (!platform::FileExists(path)) {
    ExplainMissingSettings(folder, findings);
    return std::nullopt;
  }
  Print("The settings in " + path + ":");
  if (!platform::UniqueFile(platform::OpenSharedForReading(path)))
    findings.Warn(path + " cannot be read by this user: EventLog takes every setting as missing");
  const std::string content = ReadFileToString(path);
  const tSettingsText text = ReadSettingsText(path);
  const Converted converted = Convert(text);
  PrintTagLines(content, text, converted);
  CheckSpellings(content, findings);
  CheckEncoding(content, findings);
  CheckCommentsAndRepeats(content, text, findings);
  CheckStrayBlanks(text, converted, findings);
  CheckNumbers(text, converted, findings);
  CheckValues(text, converted, findings);
  return converted.Settings;
}

int RunCheck(const Options& options) {
  Findings findings;
  const std::optional<tEventSearchRecord> settings = CheckSettings(options.Folder, findings);
  if (settings) CheckLog(*settings, findings);
  if (settings && platform::NamesTheJournal(settings->LogFile))
    CheckJournalRules(*settings, findings);
  CheckProgramFolder(options.ProgramDirectory.value_or(GetAppPath()), findings);
  PrintGateway(settings ? &*settings : nullptr);
  Print("In " + options.Folder + ", where EventLog runs:");
  PrintTraces(options.Folder);
  if (options.Page) SendTestPage(findings);
  if (findings.Errors > 0)
    Print("Result: " + Plural(findings.Errors, "error") + ", " +
          Plural(findings.Warnings, "warning") +
          ": EventLog would stop on its error line or never find anything.");
  else if (findings.Warnings > 0)
    Print("Result: " + Plural(findings.Warnings, "warning") + ".");
  else
    Print("Result: sound.");
  return findings.ExitCode();
}

// An error text for bad arguments, empty when they are good.
std::string ParseOptions(int argc, char** argv, Options& options) {
  bool haveFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--page") {
      options.Page = true;
    } else if (argument == "--program-dir") {
      if (i + 1 >= argc) return "--program-dir needs a folder";
      options.ProgramDirectory = argv[++i];
    } else if (argument.size() > 1 && argument[0] == '-') {
      return "unknown option " + argument;
    } else if (haveFolder) {
      return "one folder only, not also " + argument;
    } else {
      options.Folder = argument;
      haveFolder = true;
    }
  }
  return {};
}

bool IsFolder(const std::string& path) {
  std::vector<std::string> names;
  return platform::FindFileNames(JoinPath(path, "*"), names);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::string error = ParseOptions(argc, argv, options); !error.empty()) {
    std::fprintf(stderr, "eventlog-check: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(kUsage, stdout);
    return kExitSound;
  }
  for (const std::string& folder : {options.Folder, options.ProgramDirectory.value_or(".")})
    if (!IsFolder(folder)) {
      std::fprintf(stderr, "eventlog-check: no folder %s\n", folder.c_str());
      return kExitUsage;
    }
  LoadRegionalSettings();
  try {
    const int code = RunCheck(options);
    std::fflush(stdout);
    return code;
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::fprintf(stderr, "eventlog-check: %s (%s)\n", description.Message.c_str(),
                 description.ClassName.c_str());
    return kExitUsage;
  }
}
