// The settings check: what EventLog will make of its settings file, its environment and the log
// it is to watch, as findings an operator can act on. eventlog-check prints them; the service's
// start step (eventlog-service prepare) refuses to start on an error.
//
// Severities: an error is a setting that makes EventLog stop, or that silently turns the watch
// into "any event" or "never" (an EventID that is not one clean number from 0 to 65535, a
// LoggedAfter that does not read, a log that resolves nowhere and never will, a tag EventLog does
// not read, a gateway or syslog host that can never work, an EVENTLOG_* value that does not
// parse); a warning is a setting that works but probably not as meant; a note says what a
// setting means where that is worth knowing (a log not yet created, the built-in gateway).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "monitor/settings.h"
#include "platform/eventlog.h"
#include "platform/journal.h"

enum class tSeverity { Note, Warning, Error };

struct tFinding {
  tSeverity Severity = tSeverity::Note;
  std::string Text;
  bool operator==(const tFinding&) const = default;
};

// "note", "warning", "error": how a finding's line begins ("error: ...").
const char* SeverityWord(tSeverity severity);

// The most severe of the findings; nothing for none.
std::optional<tSeverity> WorstSeverity(const std::vector<tFinding>& findings);

// ---- the settings file

// A settings file's content as the monitor reads it, and what the check finds in it.
struct tSettingsLint {
  tSettingsText Text;         // each tag's raw text
  tEventSearchRecord Values;  // as the monitor converts them (a refused tag keeps its default)
  // The failure of a tag's conversion (LoggedAfter that is no date-time), by tag index.
  std::array<std::optional<FailureDescription>, kSettingTags.size()> Refused;
  // One line a tag: "  <EventID>     \"7036\" -> 7036", "  <Sleep>       not found -> ...".
  std::vector<std::string> TagLines;
  std::vector<tFinding> Findings;
};

// Checks a settings file's content: spelling, comments, repeats, encoding, and each value. The
// findings depend on the content, the regional settings and the clock only. Linear in the size
// of the content.
tSettingsLint LintSettingsContent(const std::string& content);

// ---- the environment

// How an environment variable's value is found: the process's own environment by default.
using tEnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
std::optional<std::string> ProcessEnvironment(const std::string& name);

// The environment variables EventLog and the service read, each with what it means.
struct tEnvironmentVariable {
  const char* Name;
  const char* Meaning;
};
const std::vector<tEnvironmentVariable>& EnvironmentVariables();

// The variables that are set, one line each ("  EVENTLOG_LOG_LEVEL=\"5\": ..."), and the
// findings on their values: a level or retention that is not one clean decimal number, a syslog
// or gateway host that can never work.
struct tEnvironmentLint {
  std::vector<std::string> Lines;
  std::vector<tFinding> Findings;
};
tEnvironmentLint LintEnvironment(const tEnvironmentLookup& lookup = ProcessEnvironment);

// A secret as eventlog-check shows it, quoted: the first and last character around "***" when it
// has five or more, else only "***".
std::string MaskedSecret(const std::string& secret);

// A host as EventLog takes it, "host", "host:port", "[IPv6]" or "[IPv6]:port": the problem that
// keeps it from ever working (a scheme, a path, blanks, an empty host, brackets that hold no IPv6
// address, a port that is no number or outside 1 to 65535), empty when there is none.
std::string HostProblem(const std::string& hostAndPort);

// The host and port of a "host" or "host:port" without problems; the port is defaultPort when
// none is written.
struct tHostAndPort {
  std::string Host;
  std::uint16_t Port = 0;
};
tHostAndPort SplitHostAndPort(const std::string& hostAndPort, std::uint16_t defaultPort);

// ---- the log

// Where the log is and whether it opens, as lines ("  the file /var/log/eventlog/System.evt",
// "  opens: 2 records") and findings: a log that is missing (a note when its first event creates
// it, an error when nothing ever will), that does not open, or a journal without a rule that
// gives the event ID.
struct tLogLint {
  std::string LogName;  // the name EventLog opens (the default for an empty LogFile)
  bool Opens = false;
  platform::EventLogKind Kind = platform::EventLogKind::kNone;
  std::vector<std::string> Lines;
  std::vector<tFinding> Findings;
};
// countRecords reads the whole log to count its records; without it the log is only opened.
tLogLint LintLog(const tEventSearchRecord& settings, bool countRecords);

// The findings on the journal's rules for the settings' event ID: a warning for each line that
// cannot be used, in the file's order, then an error when no usable rule gives the event ID.
std::vector<tFinding> LintJournalRules(const platform::JournalRulesFile& rules,
                                       std::int32_t eventId);

// ---- the start step

// The checks of a service start, without network and without writing anything: the settings file
// at settingsPath (an error when it is missing or cannot be read), the EVENTLOG_* and
// PAGING_GATEWAY_HOST values of this process's environment, the log the settings name as this
// process's user sees it (the log directory, the log file or the journal and its rules; the log
// is opened, not read).
// Contract: errors are what eventlog-check rates as errors, and the start must not go on (the
// caller ends with a failure and says each error on a line of its own); warnings and notes are
// for the journal and the start goes on. Each text is one line without a line end (control
// characters escaped); the findings on the settings file begin with settingsPath and ": ". The
// caller runs as the service's user with the service's environment and has loaded the regional
// settings (LoadRegionalSettings), as EventLog does before it reads the file. Never raises.
std::vector<tFinding> CheckSettingsBeforeStart(const std::string& settingsPath);
