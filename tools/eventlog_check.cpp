// eventlog-check: reads EventLog's settings with EventLog's own code and tells the operator what
// EventLog will do with them: the value of each tag and the findings of the settings check
// (monitor/settings_lint.h), the environment, the log it finds, the carried state, the program
// folder, the gateway and the latest traces of pages. --service checks the Debian service as it
// will run.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/environment_file.h"
#include "core/errors.h"
#include "core/regional.h"
#include "kit/helpers.h"
#include "kit/records.h"
#include "monitor/delivery_state.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "monitor/pageaction.h"
#include "monitor/settings.h"
#include "monitor/settings_lint.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"
#include "platform/clock.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/locale.h"
#include "platform/sockets.h"
#include "platform/system.h"

#ifndef EVENTLOG_VERSION
#define EVENTLOG_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "usage: eventlog-check [options] [FOLDER]\n"
    "       eventlog-check --service [options]\n"
    "       eventlog-check --help | --version\n"
    "\n"
    "Checks EventLog's settings the way EventLog reads them, without starting EventLog, and\n"
    "says what EventLog will do with them. FOLDER is the folder EventLog runs in, the one\n"
    "holding its EventLog.XML (default: the current folder).\n"
    "\n"
    "--service checks the Linux service (the Debian package) exactly as it will run, from any\n"
    "current folder: the settings /etc/eventlog/EventLog.XML; the environment of\n"
    "/etc/default/eventlog, its KEY=VALUE lines read as systemd's EnvironmentFile= reads them\n"
    "(comments, blank lines, optional quotes) and applied over the current environment; the\n"
    "program folder /var/lib/eventlog, the service's working folder, where exception reports,\n"
    "page records and the state land; and the carried state /var/lib/eventlog/LoggedAfter.state\n"
    "(or EVENTLOG_STATE_FILE). Run as root, it reads the environment file as systemd does and\n"
    "then becomes the service's user eventlog with its groups, so that it finds what the service\n"
    "can read and write; run as another user it checks what that user can do.\n"
    "\n"
    "Options:\n"
    "  --service          check the installed service (above)\n"
    "  --settings FILE    the settings file (default FOLDER/EventLog.XML; with --service\n"
    "                     /etc/eventlog/EventLog.XML)\n"
    "  --environment FILE apply an environment file before checking (with --service\n"
    "                     /etc/default/eventlog)\n"
    "  --program-dir DIR  the folder of the EventLog executable, where its exception reports\n"
    "                     land (default: the folder that holds eventlog-check; with --service\n"
    "                     /var/lib/eventlog)\n"
    "  --state FILE       show a carried delivery state (with --service\n"
    "                     /var/lib/eventlog/LoggedAfter.state)\n"
    "  --user NAME        when run as root: check as this user and its groups (with --service\n"
    "                     the default is eventlog)\n"
    "  --probe            connect to the gateway within the page's connect time limit and close\n"
    "                     again, without sending a page; says whether it answered\n"
    "  --page             send one real test page through the gateway and print the request URL\n"
    "                     and the outcome: the page record (written to the current folder; with\n"
    "                     --service to the program folder), or the failure's class and message\n"
    "                     (its report is written in the program folder)\n"
    "  --help, /?         print this text and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "For each tag of the settings it prints the raw text between <Tag> and </Tag> (quoted,\n"
    "control characters shown as \\r \\n \\t \\xNN) and the value EventLog will use. Then come\n"
    "the findings, each on a line that begins with note:, warning: or error:.\n"
    "Errors, which EventLog's service refuses to start with:\n"
    "  - an EventID that is not one clean number from 0 to 65535 (decimal, or hexadecimal as\n"
    "    $1B7C or 0x1B7C, nothing around it): blanks, line ends, two IDs, a range or a word make\n"
    "    it 0 (any event), a number outside the range never matches\n"
    "  - a LoggedAfter that is not a date-time under the current regional settings (EventLog\n"
    "    stops on its error line)\n"
    "  - a log that does not exist and never will, or does not open (EventLog finds nothing)\n"
    "  - a tag EventLog does not read (<Source>), a tag in other letter case or with an\n"
    "    attribute that EventLog therefore does not find, a tag without its end tag\n"
    "  - blanks or line ends that make a Sleep 0 or keep an Action from paging\n"
    "  - a file saved as UTF-16 (EventLog finds no tag)\n"
    "  - a gateway or syslog host that can never work (a scheme such as http://, a path, blanks,\n"
    "    an empty host, a port that is no number or outside 1 to 65535), and an "
    "EVENTLOG_LOG_LEVEL\n"
    "    or EVENTLOG_LOG_KEEPDAYS that is not a whole number\n"
    "  - a gateway that does not answer --probe, and a test page (--page) that fails or that\n"
    "    the gateway does not accept\n"
    "Warnings: a tag inside an XML comment (EventLog still reads it), a tag given twice (EventLog\n"
    "reads the first), an Action other than page, a LoggedAfter in the future, a Sleep of 0 or\n"
    "less (one cycle), a newest match stamped in the future, a program folder that cannot take\n"
    "exception reports, unusable lines of journal.rules, a carried state that does not read.\n"
    "Notes: a setting left out (its default), a log not yet created in the log folder (its first\n"
    "event creates it), the built-in gateway, no carried state yet.\n"
    "Without EventLog.XML it says that EventLog will ask its three questions.\n"
    "\n"
    "Then the log: what LogFile resolves to (on Linux the file in EVENTLOG_DIR, on Windows the\n"
    "log's registry key, as the service silently opens Application for an unknown name),\n"
    "whether it opens, its record count, and its newest record and newest match as EventLog\n"
    "prints them. For LogFile Journal (Linux) it says which journal is read (the system\n"
    "journal, or the files in EVENTLOG_JOURNAL_DIR) and lists the rules of journal.rules in\n"
    "EVENTLOG_DIR with the newest entry each gives its event ID to. Then whether the program\n"
    "folder can take exception reports, the gateway URL, the newest exception report\n"
    "(EXCEPTION-*.XML) in the program folder and the newest page record (SendPage_*.xml) in\n"
    "FOLDER, each in one line. Its own times carry four-digit years; the lines of a record are\n"
    "printed as EventLog prints them.\n"
    "\n"
    "Exit codes:\n"
    "  0  sound (notes at most)\n"
    "  1  warnings\n"
    "  2  errors: EventLog would stop on its error line, watch the wrong thing, never find\n"
    "     anything or fail to page; also bad arguments (with this text on standard error)\n"
    "  3  the check itself could not run (no such folder or user, a refused switch of user)\n"
    "\n"
    "Without --service, run it as the user EventLog runs as and with its environment\n"
    "(EVENTLOG_DIR, PAGING_GATEWAY_HOST, TZ, LC_ALL, LC_TIME, LANG): it sees what EventLog would\n"
    "see.\n";

constexpr int kExitSound = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;
constexpr int kExitUsage = 2;
constexpr int kExitCannotRun = 3;
constexpr char kTestPageSource[] = "eventlog-check";
constexpr std::uint16_t kGatewayPort = 80;

// The installed service's files (the Debian package).
constexpr char kServiceSettings[] = "/etc/eventlog/EventLog.XML";
constexpr char kServiceEnvironment[] = "/etc/default/eventlog";
constexpr char kServiceDirectory[] = "/var/lib/eventlog";
constexpr char kServiceStateName[] = "LoggedAfter.state";
constexpr char kServiceUser[] = "eventlog";

struct Options {
  std::optional<std::string> Folder;
  std::optional<std::string> Settings;
  std::optional<std::string> Environment;
  std::optional<std::string> ProgramDirectory;
  std::optional<std::string> State;
  std::optional<std::string> User;
  bool Service = false;
  bool Probe = false;
  bool Page = false;
  bool Help = false;
  bool Version = false;
};

// What the check looks at, once the mode and the options are applied.
struct Target {
  bool Service = false;
  std::string Folder;  // where EventLog runs: page records and Exception.txt
  std::string SettingsFile;
  std::string ProgramDirectory;
  std::optional<std::string> EnvironmentFile;
  std::optional<std::string> StateFile;
  std::optional<std::string> User;  // the user to check as, when this process can switch
  bool Probe = false;
  bool Page = false;
};

// The environment file as it was read and applied, for the report.
struct AppliedEnvironment {
  std::string Path;
  bool Exists = false;
  std::optional<std::string> Failure;
  core::EnvironmentFile Content;
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
  void Add(const tFinding& finding) {
    if (finding.Severity == tSeverity::Warning) ++Warnings;
    if (finding.Severity == tSeverity::Error) ++Errors;
    Print(std::string(SeverityWord(finding.Severity)) + ": " + finding.Text);
  }
  void Add(const std::vector<tFinding>& findings) {
    for (const tFinding& finding : findings) Add(finding);
  }
  void Note(const std::string& text) { Add({tSeverity::Note, text}); }
  void Warn(const std::string& text) { Add({tSeverity::Warning, text}); }
  void Fail(const std::string& text) { Add({tSeverity::Error, text}); }
  int ExitCode() const {
    return Errors > 0 ? kExitErrors : Warnings > 0 ? kExitWarnings : kExitSound;
  }
};

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

bool IsFolder(const std::string& path) {
  std::vector<std::string> names;
  return platform::FindFileNames(JoinPath(path, "*"), names);
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
  return EscapedText(text);
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
  return EscapedText(start == std::string::npos ? rest : rest.substr(start + 1));
}

// -- the environment ------------------------------------------------------------------------

bool IsOwnVariable(const std::string& name) {
  for (const tEnvironmentVariable& variable : EnvironmentVariables())
    if (name == variable.Name) return true;
  return false;
}

void CheckEnvironment(const std::optional<AppliedEnvironment>& applied, Findings& findings) {
  if (applied) {
    Print("The environment file " + applied->Path + ":");
    if (!applied->Exists) {
      Print("  none: the service runs with the environment systemd gives it");
      findings.Note(applied->Path +
                    " does not exist: EventLog runs with its built-in defaults (the gateway, the "
                    "log folder /var/log/eventlog)");
    } else if (applied->Failure) {
      findings.Fail(applied->Path + " cannot be read (" + *applied->Failure +
                    "): the check runs without it");
    } else {
      Print("  " + Plural(int(applied->Content.Assignments.size()), "assignment") +
            ", applied over the current environment for this check");
      for (const core::EnvironmentLineProblem& problem : applied->Content.Problems)
        findings.Warn(applied->Path + " line " + std::to_string(problem.Line) + " is no " +
                      "assignment (" + problem.Problem +
                      "), so systemd skips it: " + EscapedText(problem.Text));
      for (const core::EnvironmentAssignment& assignment : applied->Content.Assignments) {
        const bool ours =
            assignment.Name.rfind("EVENTLOG_", 0) == 0 || assignment.Name.rfind("PAGING_", 0) == 0;
        if (ours && !IsOwnVariable(assignment.Name))
          findings.Warn(applied->Path + " line " + std::to_string(assignment.Line) + ": " +
                        assignment.Name +
                        " is no variable EventLog or its service reads: check its spelling");
      }
    }
  }
  const tEnvironmentLint lint = LintEnvironment();
  Print("The environment EventLog gets:");
  if (lint.Lines.empty()) Print("  none of its variables is set: EventLog's defaults hold");
  for (const std::string& line : lint.Lines) Print(line);
  findings.Add(lint.Findings);
}

// -- the settings file ----------------------------------------------------------------------

// EventLog looks for the settings file by its exact name and only when its stamp is plausible.
void ExplainMissingSettings(const std::string& path, Findings& findings) {
  const fs::path file(path);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
  std::vector<std::string> names;
  platform::FindFileNames(path, names);
  std::string explanation;
  for (const auto& name : names)
    explanation += name == file.filename().string()
                       ? "; its last-write time lies outside the years 1980 to 2107, so EventLog "
                         "does not see it"
                       : "; there is " + name + ", but EventLog looks for " +
                             file.filename().string() + " in exactly this letter case";
  findings.Warn("no " + file.filename().string() + " in " + folder + explanation +
                ": EventLog will ask its three questions (Logfile, Event ID, Source) on the "
                "console and run one cycle; with no one to answer, it watches Application for "
                "any event");
}

std::optional<tEventSearchRecord> CheckSettings(const Target& target, Findings& findings) {
  const std::string& path = target.SettingsFile;
  const tFileContent file = ReadFileContent(path);
  if (!file.Exists) {
    if (!target.Service) {
      ExplainMissingSettings(path, findings);
    } else {
      findings.Fail(path +
                    " does not exist: the service does not start without it; restore it (a "
                    "sample is /usr/share/doc/eventlog/EventLog.XML)");
    }
    return std::nullopt;
  }
  Print("The settings in " + path + ":");
  if (file.Failure || !file.Opened) {
    findings.Fail(path + " cannot be read: " +
                  (file.Failure ? file.Failure->Message + " (" + file.Failure->ClassName + ")"
                                : std::string("this user cannot open it")) +
                  ": EventLog takes every setting as missing and watches Application for any "
                  "event");
    return std::nullopt;
  }
  const tSettingsLint lint = LintSettingsContent(file.Bytes);
  for (const std::string& line : lint.TagLines) Print(line);
  findings.Add(lint.Findings);
  return lint.Values;
}

// -- the carried state ----------------------------------------------------------------------

// The LoggedAfter the next start uses: the later of the settings' and the carried one.
TDateTime CheckState(const std::string& path, TDateTime configured, Findings& findings) {
  Print("The carried state " + path + ":");
  const tFileContent file = ReadFileContent(path);
  if (!file.Exists) {
    Print("  none yet");
    findings.Note(path +
                  " does not exist yet: the next start goes by the settings' LoggedAfter alone");
    return configured;
  }
  if (file.Failure || !file.Opened) {
    findings.Warn(path + " cannot be read: " +
                  (file.Failure ? file.Failure->Message : std::string("this user cannot open it")) +
                  ": the service leaves it out and may report the last event again");
    return configured;
  }
  const std::optional<tDeliveryState> state = ParseDeliveryState(file.Bytes);
  if (!state) {
    findings.Warn(path +
                  " holds no state EventLog wrote: the service leaves it out and may report the "
                  "last event again; delete it to start afresh");
    return configured;
  }
  TDateTime effective = configured;
  if (state->LoggedAfter) {
    Print("  LoggedAfter " + FullYearDateTimeText(*state->LoggedAfter) +
          " (carried from the last finished report)");
    if (*state->LoggedAfter > effective) effective = *state->LoggedAfter;
  } else {
    Print("  no finished report yet");
  }
  if (state->Pending)
    Print("  pending: the record of " + FullYearDateTimeText(*state->Pending) +
          " was reported, but its page attempt had not ended: the next start reports it again");
  Print("  the next start reports events generated after " +
        (effective == 0 ? std::string("any time") : FullYearDateTimeText(effective)));
  return effective;
}

// -- the log ---------------------------------------------------------------------------------

void PrintRecord(const std::string& heading, const tMyEventLogRecord& record,
                 const std::string& action) {
  Print(heading);
  for (const std::string& line : ReportRecordLines(record, action))
    Print("    " + EscapedText(line));
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
                  FullYearDateTimeText(match.TimeGeneratedAsDateTime) +
                  "): EventLog reports it again every cycle until that time has passed");
}

void CheckLog(const tEventSearchRecord& settings, Findings& findings) {
  const tLogLint lint = LintLog(settings, true);
  Print("The log " + VisibleText(lint.LogName) + ":");
  for (const std::string& line : lint.Lines) Print(line);
  findings.Add(lint.Findings);
  if (!lint.Opens) return;
  try {
    tEventSearchRecord anything;
    anything.LogFile = lint.LogName;
    tMyEventLogRecord newest;
    if (FindLatestEvent(anything, newest))
      PrintRecord("  newest record:", newest, settings.Action);
    else
      Print("  newest record: none");
    tEventSearchRecord criteria = settings;
    criteria.LogFile = lint.LogName;
    CheckNewestMatch(criteria, findings);
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
  return FullYearDateTimeText(UTCToLocalDateTime(UnixTimeToDateTime(entry.TimeGenerated))) + " " +
         EscapedText(std::string(entry.Source)) + ": " + EscapedText(message);
}

// For each usable rule, the newest entry that gets its event ID (the first rule an entry
// matches gives it), read newest first until every rule has one or the journal ends.
std::vector<std::string> NewestEntriesOfRules(const std::vector<platform::JournalRuleLine>& rules) {
  std::vector<std::string> newest(rules.size());
  std::size_t usable = 0;
  for (const auto& rule : rules)
    if (rule.Problem.empty()) ++usable;
  if (usable == 0) return newest;
  std::size_t found = 0;
  platform::VisitJournalNewestFirst(rules, [&](const platform::JournalFields& entry, int rule) {
    if (rule >= 0 && newest[rule].empty()) {
      newest[rule] = EntryLine(entry);
      ++found;
    }
    return found < usable;
  });
  return newest;
}

void CheckJournalRules(const tEventSearchRecord& settings, Findings& findings) {
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  Print("The rules in " + file.Path + " (each with the newest entry it gives its event ID to):");
  if (!file.Readable)
    Print("  cannot be read (" + file.Problem + "): every journal entry has event ID 0");
  else if (file.Rules.empty())
    Print("  none: every journal entry has event ID 0");
  const std::vector<std::string> newest = NewestEntriesOfRules(file.Rules);
  // The findings come in the file's order, one for each line that cannot be used, each said
  // where its line stands; then the one on the event ID.
  const std::vector<tFinding> ruleFindings = LintJournalRules(file, settings.EventID);
  auto next = ruleFindings.begin();
  for (std::size_t i = 0; i < file.Rules.size(); ++i) {
    const platform::JournalRuleLine& rule = file.Rules[i];
    if (!rule.Problem.empty()) {
      if (next != ruleFindings.end()) findings.Add(*next++);
      continue;
    }
    Print("  line " + std::to_string(rule.Line) + ": event ID " + std::to_string(rule.EventID) +
          " for source " + VisibleText(rule.Identifier) + " and message " +
          VisibleText(rule.Pattern));
    Print("    newest entry: " + (newest[i].empty() ? std::string("none") : newest[i]));
  }
  for (; next != ruleFindings.end(); ++next) findings.Add(*next);
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
  Print("In " + folder + ", where EventLog runs:");
  if (auto newest = NewestMatch(folder, "SendPage_*.xml"))
    Print("  newest page record: " + *newest + " " + PageRecordSummary(JoinPath(folder, *newest)));
  else
    Print("  newest page record: none");
  const std::string journal = JoinPath(folder, "Exception.txt");
  if (platform::FileExists(journal))
    Print("  Exception.txt (reports that could not be saved), last line: " +
          LastLine(ReadFileToString(journal)));
}

// Connects to the gateway as the page's HTTP client does (the name lookup and the connect
// within its connect time limit) and closes again without a request.
void ProbeGateway(const std::string& gateway, Findings& findings) {
  const tHostAndPort target = SplitHostAndPort(gateway, kGatewayPort);
  const int limit = HttpLimits.ConnectMilliseconds;
  const auto start = std::chrono::steady_clock::now();
  const auto remaining = [&] {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    return static_cast<int>(std::max<long long>(limit - spent, 0));
  };
  try {
    platform::StartSocketLayer();
    const std::uint32_t address = ResolveHostAddress(target.Host, remaining());
    int errorCode = 0;
    const platform::UniqueSocket socket(platform::OpenStreamSocket(errorCode));
    if (!socket || !platform::BindAnyAddress(socket.get(), errorCode) ||
        !platform::ConnectStream(socket.get(), address, target.Port, remaining(), errorCode))
      throw ESocketError(errorCode);
    platform::ShutdownSending(socket.get());
    Print("  probe: " + gateway + " accepted a connection, closed again without a request");
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::string message = description.Message;
    for (std::size_t at = message.find("\r\n"); at != std::string::npos; at = message.find("\r\n"))
      message.replace(at, 2, " ");
    findings.Fail("the gateway " + gateway + " did not answer the probe: " + EscapedText(message) +
                  " (" + description.ClassName + "): a page sent now would fail");
  }
}

void CheckGateway(const tEventSearchRecord* settings, bool probe, Findings& findings) {
  const char* configured = std::getenv("PAGING_GATEWAY_HOST");
  const bool fromEnvironment = configured != nullptr && *configured != '\0';
  const std::string gateway = PagingGatewayHost();
  Print("The gateway: http://" + EscapedText(gateway) + "/cgi-bin/xmhscgi " +
        (fromEnvironment ? "(from PAGING_GATEWAY_HOST)"
                         : "(built in; PAGING_GATEWAY_HOST overrides it)"));
  if (settings != nullptr && settings->Action != kPageAction)
    Print("  EventLog pages only with <Action>page</Action>");
  const std::string problem = HostProblem(gateway);
  if (!problem.empty() && !fromEnvironment)  // the environment's value is judged above
    findings.Fail("the built-in gateway " + VisibleText(gateway) + " " + problem +
                  ": set PAGING_GATEWAY_HOST to host or host:port");
  if (!fromEnvironment)
    findings.Note("the gateway is the built-in " + gateway +
                  ": set PAGING_GATEWAY_HOST (host or host:port) to page another one");
  if (!probe) return;
  if (problem.empty())
    ProbeGateway(gateway, findings);
  else
    Print("  probe: not tried, the host can never work");
}

// The exception report's name template that puts the report in the program folder: the kit
// writes it beside the running program, so the template climbs from there.
std::string ReportTemplateIn(const std::string& programDirectory) {
  std::error_code error;
  const fs::path from = fs::canonical(GetAppPath(), error);
  if (error) return "";
  const fs::path to = fs::canonical(programDirectory, error);
  if (error) return "";
  const fs::path relative = to.lexically_relative(from);
  if (relative.empty() || relative == ".") return "";
  return (relative / "EXCEPTION-{timestamp}.XML").string();
}

// Sends one page as the monitor would and reads its outcome from the files the sender leaves.
void SendTestPage(const std::string& programDirectory, Findings& findings) {
  tMyEventLogRecord record;
  record.Source = kTestPageSource;
  const tSendPageRec request = PageRequest(PageMessage(Now(), GetHostName(), record));
  Print("Test page: " + EscapedText(PageUrl(PagingGatewayHost(), request)));
  GlobalSettings.ExceptionFileName = ReportTemplateIn(programDirectory);
  const auto recordsBefore = MatchingNames(".", "SendPage_*.xml");
  const auto reportsBefore = MatchingNames(programDirectory, "EXCEPTION-*.XML");
  const bool accepted = SendPage(request);
  const auto pageRecord = NewName(recordsBefore, MatchingNames(".", "SendPage_*.xml"));
  const auto report = NewName(reportsBefore, MatchingNames(programDirectory, "EXCEPTION-*.XML"));
  if (accepted && pageRecord) {
    Print("  the gateway accepted it; page record " + *pageRecord + " " +
          PageRecordSummary(*pageRecord));
  } else if (accepted) {
    findings.Warn(
        "the gateway accepted it, but the page record could not be written in the current "
        "folder");
  } else if (pageRecord) {
    findings.Fail(
        "the gateway answered without \"Message succesfully sent\": the page was not "
        "accepted; page record " +
        *pageRecord + " (its URL shows what was sent)");
  } else if (report) {
    const std::string document = ReadFileToString(JoinPath(programDirectory, *report));
    findings.Fail("the page failed: " + ElementText(document, "ClassName") + ": " +
                  ElementText(document, "e.Message") + " (report " +
                  JoinPath(programDirectory, *report) + ")");
  } else {
    findings.Fail("the page failed and its report could not be saved: " +
                  LastLine(ReadFileToString("Exception.txt")));
  }
}

// -- the whole check -------------------------------------------------------------------------

int RunCheck(const Target& target, const std::optional<AppliedEnvironment>& environment) {
  Findings findings;
  if (target.Service)
    Print("The service as it will run, checked as the user " +
          EscapedText(platform::CurrentUserName()) + " in " + target.Folder + ":");
  if (target.User && platform::CurrentUserName() != *target.User)
    findings.Note("the check runs as " + EscapedText(platform::CurrentUserName()) + ", not as " +
                  *target.User +
                  ": it finds what this user can read and write; run it as root "
                  "to check as " +
                  *target.User);
  CheckEnvironment(environment, findings);
  const std::optional<tEventSearchRecord> settings = CheckSettings(target, findings);
  TDateTime loggedAfter = settings ? settings->LoggedAfter : 0;
  if (target.StateFile) loggedAfter = CheckState(*target.StateFile, loggedAfter, findings);
  if (settings) {
    tEventSearchRecord effective = *settings;
    effective.LoggedAfter = loggedAfter;
    CheckLog(effective, findings);
  }
  if (settings && platform::NamesTheJournal(settings->LogFile))
    CheckJournalRules(*settings, findings);
  CheckProgramFolder(target.ProgramDirectory, findings);
  CheckGateway(settings ? &*settings : nullptr, target.Probe, findings);
  PrintTraces(target.Folder);
  if (target.Page) SendTestPage(target.ProgramDirectory, findings);
  if (findings.Errors > 0)
    Print("Result: " + Plural(findings.Errors, "error") + ", " +
          Plural(findings.Warnings, "warning") +
          ": EventLog would stop, watch the wrong thing, find nothing or fail to page.");
  else if (findings.Warnings > 0)
    Print("Result: " + Plural(findings.Warnings, "warning") + ".");
  else
    Print("Result: sound.");
  return findings.ExitCode();
}

// -- the command line and the preparation ----------------------------------------------------

// An error text for bad arguments, empty when they are good.
std::string ParseOptions(int argc, char** argv, Options& options) {
  const std::pair<const char*, std::optional<std::string> Options::*> valued[] = {
      {"--settings", &Options::Settings},
      {"--environment", &Options::Environment},
      {"--program-dir", &Options::ProgramDirectory},
      {"--state", &Options::State},
      {"--user", &Options::User}};
  const std::pair<const char*, bool Options::*> flags[] = {
      {"--service", &Options::Service}, {"--probe", &Options::Probe}, {"--page", &Options::Page},
      {"--help", &Options::Help},       {"-h", &Options::Help},       {"/?", &Options::Help},
      {"--version", &Options::Version}};
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    bool known = false;
    for (const auto& [name, member] : flags)
      if (argument == name) {
        options.*member = true;
        known = true;
      }
    for (const auto& [name, member] : valued)
      if (argument == name) {
        if (i + 1 >= argc) return argument + " needs a value";
        options.*member = argv[++i];
        known = true;
      }
    if (known) continue;
    if (argument.size() > 1 && argument[0] == '-') return "unknown option " + argument;
    if (options.Folder) return "one folder only, not also " + argument;
    options.Folder = argument;
  }
  if (options.Service && options.Folder)
    return "--service checks the service's own folder " + std::string(kServiceDirectory) +
           "; give no FOLDER (--program-dir DIR names another)";
  return {};
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

Target TargetOf(const Options& options) {
  Target target;
  target.Service = options.Service;
  target.Probe = options.Probe;
  target.Page = options.Page;
  target.User = options.User;
  if (options.Service) {
    target.ProgramDirectory = Absolute(options.ProgramDirectory.value_or(kServiceDirectory));
    target.Folder = target.ProgramDirectory;
    target.SettingsFile = Absolute(options.Settings.value_or(kServiceSettings));
    target.EnvironmentFile = Absolute(options.Environment.value_or(kServiceEnvironment));
    if (options.State) target.StateFile = Absolute(*options.State);
    if (!options.User) target.User = kServiceUser;
  } else {
    target.Folder = options.Folder.value_or(".");
    target.ProgramDirectory = options.ProgramDirectory.value_or(GetAppPath());
    target.SettingsFile = options.Settings.value_or(JoinPath(target.Folder, kSettingsFileName));
    target.EnvironmentFile = options.Environment;
    target.StateFile = options.State;
  }
  return target;
}

// Reads the environment file and applies its assignments to this process's environment.
AppliedEnvironment ApplyEnvironmentFile(const std::string& path) {
  AppliedEnvironment applied;
  applied.Path = path;
  const tFileContent file = ReadFileContent(path);
  applied.Exists = file.Exists;
  if (!file.Exists) return applied;
  if (file.Failure || !file.Opened) {
    applied.Failure = file.Failure ? file.Failure->Message : "this user cannot open it";
    return applied;
  }
  applied.Content = core::ParseEnvironmentFile(file.Bytes);
  for (const core::EnvironmentAssignment& assignment : applied.Content.Assignments) {
    std::string error;
    if (!platform::SetEnvironmentValue(assignment.Name, assignment.Value, error))
      applied.Content.Problems.push_back(
          {assignment.Line, assignment.Name + "=" + assignment.Value, error});
  }
  return applied;
}

// Becomes the user to check as, when this process can; an error text when it cannot.
std::string BecomeUser(const Target& target) {
  if (!target.User || !platform::CanSwitchUser()) return {};
  if (*target.User == platform::CurrentUserName()) return {};
  std::string error;
  if (platform::SwitchToUser(*target.User, error)) return {};
  return "cannot check as the user " + *target.User + ": " + error +
         (target.Service ? " (is the package installed? --user NAME checks as another user)" : "");
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
  if (options.Version) {
    std::printf("eventlog-check %s\n", EVENTLOG_VERSION);
    return kExitSound;
  }
  Target target = TargetOf(options);
  for (const std::string& folder : {target.Folder, target.ProgramDirectory})
    if (!IsFolder(folder)) {
      std::fprintf(
          stderr, "eventlog-check: no folder %s%s\n", folder.c_str(),
          target.Service ? " (is the package installed? --program-dir DIR names another)" : "");
      return kExitCannotRun;
    }
  // The environment file is read as systemd reads it, before the switch to the service's user.
  std::optional<AppliedEnvironment> environment;
  if (target.EnvironmentFile) environment = ApplyEnvironmentFile(*target.EnvironmentFile);
  if (const std::string error = BecomeUser(target); !error.empty()) {
    std::fprintf(stderr, "eventlog-check: %s\n", error.c_str());
    return kExitCannotRun;
  }
  if (target.Service) {
    // The service runs in its working folder; its page records land there.
    std::error_code error;
    fs::current_path(target.Folder, error);
    if (error) {
      std::fprintf(stderr, "eventlog-check: cannot enter %s as %s: %s\n", target.Folder.c_str(),
                   platform::CurrentUserName().c_str(), error.message().c_str());
      return kExitCannotRun;
    }
    const char* stateFile = std::getenv("EVENTLOG_STATE_FILE");
    if (!target.StateFile)
      target.StateFile = stateFile != nullptr && *stateFile != '\0'
                             ? Absolute(stateFile)
                             : JoinPath(target.Folder, kServiceStateName);
  }
  LoadRegionalSettings();
  try {
    const int code = RunCheck(target, environment);
    std::fflush(stdout);
    return code;
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::fprintf(stderr, "eventlog-check: %s (%s)\n", description.Message.c_str(),
                 description.ClassName.c_str());
    return kExitCannotRun;
  }
}
