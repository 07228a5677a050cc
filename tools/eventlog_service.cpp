// eventlog-service: the start and stop steps of EventLog as a service. "prepare" checks the
// settings and writes the working copies of the settings and the program into the working
// directory, "run" runs EventLog there and passes everything it says into the journal at the
// right priority, "finish" makes the delivery state durable. EventLog itself keeps the delivery
// state (EVENTLOG_STATE_FILE): prepare carries its LoggedAfter into the working settings, so that
// a restart neither repeats a finished report nor misses what was logged while EventLog was down,
// and reports again an event whose page had not ended when the last run was stopped.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "core/errors.h"
#include "core/regional.h"
#include "monitor/delivery_state.h"
#include "monitor/settings.h"
#include "monitor/settings_lint.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/sockets.h"
#include "platform/supervision.h"
#include "platform/system.h"
#include "tools/arguments.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: eventlog-service prepare|run|finish [--dir DIR] [--settings FILE] [--program FILE]\n"
    "       eventlog-service --help | --version\n"
    "\n"
    "The start and stop steps of the EventLog service, run in this order:\n"
    "  prepare  checks the settings (FILE, default /etc/eventlog/EventLog.XML) and stops the "
    "start\n"
    "           on an error; copies them to DIR/EventLog.XML with LoggedAfter carried forward\n"
    "           from DIR/LoggedAfter.state, and the program (default the EventLog beside this\n"
    "           tool) to DIR/EventLog; either is written only when it differs\n"
    "  run      runs DIR/EventLog in DIR (default /var/lib/eventlog) with standard input from\n"
    "           /dev/null and its delivery state in DIR/LoggedAfter.state; writes its lines, its\n"
    "           errors and the outcome of every page to standard output and error (with journal\n"
    "           priorities when they are the journal), passes SIGTERM and SIGINT on and ends the\n"
    "           way EventLog ended\n"
    "  finish   flushes LoggedAfter.state to the disk and removes what a kill left behind\n"
    "\n"
    "EventLog saves the state before each report and again once its page has ended. prepare uses\n"
    "its LoggedAfter when it is later than the settings' own; a report whose page had not ended "
    "is\n"
    "reported and paged again, with a warning. Delete DIR/LoggedAfter.state to start afresh.\n"
    "\n"
    "Environment: EVENTLOG_LOG_LEVEL (at least 5 under the service), EVENTLOG_LOG_IDENT (default\n"
    "eventlog), EVENTLOG_LOG_FILE, EVENTLOG_LOG_KEEPDAYS and EVENTLOG_SYSLOG_HOST (the page\n"
    "outcomes are also relayed there) reach EventLog's log writer.\n";

constexpr const char* kStateFileName = "LoggedAfter.state";
// The files prepare reads whole, and the most it takes of each.
constexpr std::size_t kSettingsLimit = std::size_t{1} << 20;
constexpr std::size_t kStateLimit = std::size_t{64} << 10;
constexpr std::size_t kProgramLimit = std::size_t{256} << 20;
// The kit's log entries reach the service at this level or above: page outcomes (50400), refused
// pages (40400), failures (30000) and unwritten page records (30100).
constexpr int kLeastLogLevel = 5;
constexpr std::uint16_t kSyslogPort = 514;

struct Options {
  std::string Command;
  std::string Directory = "/var/lib/eventlog";
  std::string Settings = "/etc/eventlog/EventLog.XML";
  std::string Program;
};

struct Paths {
  std::string WorkingSettings;
  std::string WorkingProgram;
  std::string State;
};

Paths PathsIn(const std::string& directory) {
  const fs::path folder(directory);
  return {(folder / "EventLog.XML").string(), (folder / "EventLog").string(),
          (folder / kStateFileName).string()};
}

// ---- lines for the journal

// The sd-daemon priority of a line, written in front of it when its stream is the journal.
enum class Priority { Err = 3, Warning = 4, Info = 6 };

// The journal shows a line with a control character as binary data: the CR of a CR LF goes, any
// other control character but the tab is shown as \xHH.
std::string Shown(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::string shown;
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

// Every line gets its prefix when the stream is the journal, so that no text, however it
// begins, picks its own priority; elsewhere lines are written as they are.
void WriteLine(platform::StandardStream stream, Priority priority, std::string_view text) {
  static const bool outputIsJournal =
      platform::StandardStreamIsJournal(platform::StandardStream::Output);
  static const bool errorsIsJournal =
      platform::StandardStreamIsJournal(platform::StandardStream::Errors);
  const bool journal =
      stream == platform::StandardStream::Output ? outputIsJournal : errorsIsJournal;
  std::string line = journal ? "<" + std::to_string(static_cast<int>(priority)) + ">" : "";
  line += Shown(text);
  line += '\n';
  int errorCode = 0;
  // Nowhere to report a failing journal; EventLog must go on regardless.
  if (stream == platform::StandardStream::Output)
    platform::WriteStandardOutput(line.data(), line.size(), errorCode);
  else
    platform::WriteStandardError(line.data(), line.size(), errorCode);
}

// The service's own messages.
void Say(Priority priority, const std::string& text) {
  WriteLine(platform::StandardStream::Errors, priority, "eventlog-service: " + text);
}

// A failure of a step that the operator must mend; the message names the file and the fix.
struct StepFailure {
  std::string Message;
};

std::string ProgramBesideThisTool() {
  const fs::path folder = fs::path(platform::ExecutablePath()).parent_path();
  return ((folder.empty() ? fs::path(".") : folder) / "EventLog").string();
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// How a step's read of a whole file ended: Missing when there is no entry of that name; Refused
// with the problem, naming the file, in error.
enum class Reading { Read, Missing, Refused };

Reading ReadWholeFile(const std::string& path, std::size_t limit, platform::Links links,
                      std::string& bytes, std::string& error) {
  platform::WholeFile file = platform::ReadRegularFile(path, limit, links);
  bytes = std::move(file.Content);
  switch (file.Outcome) {
    case platform::WholeFileOutcome::Read:
      return Reading::Read;
    case platform::WholeFileOutcome::SymbolicLink:
      error = path + ": is a symbolic link, which is not followed here";
      break;
    case platform::WholeFileOutcome::NotRegular:
      error = path + ": is not a regular file";
      break;
    case platform::WholeFileOutcome::TooLarge:
      error = path + ": holds more than " + std::to_string(limit) + " bytes";
      break;
    case platform::WholeFileOutcome::CannotOpen:
    case platform::WholeFileOutcome::ReadFailed:
      if (file.Missing) return Reading::Missing;
      error = path + ": " + file.Reason;
      break;
  }
  return Reading::Refused;
}

// ---- prepare

// The state file's contents; nothing when there is none or it does not read (said as a warning).
std::optional<tDeliveryState> ReadState(const std::string& path) {
  std::string bytes, error;
  switch (ReadWholeFile(path, kStateLimit, platform::Links::Refused, bytes, error)) {
    case Reading::Missing:
      return std::nullopt;
    case Reading::Refused:
      Say(Priority::Warning, "cannot read the delivery state " + error +
                                 "; it is left out, so the newest matching event may be "
                                 "reported and paged again. Delete it to start afresh");
      return std::nullopt;
    case Reading::Read:
      break;
  }
  const auto state = ParseDeliveryState(bytes);
  if (!state)
    Say(Priority::Warning, path +
                               " is not a delivery state and is left out, so the newest matching "
                               "event may be reported and paged again. Delete it to start afresh");
  return state;
}

// The settings with the first LoggedAfter tag's text replaced as the monitor reads it (from the
// first start marker to the first end marker after it); a missing tag is added on a line of its
// own before the closing </EventLog>, or at the end, with the file's own line ends.
std::string WithLoggedAfter(const std::string& settings, const std::string& value) {
  const std::string start = "<LoggedAfter>", end = "</LoggedAfter>";
  const std::size_t startAt = settings.find(start);
  if (startAt != std::string::npos) {
    const std::size_t valueAt = startAt + start.size();
    const std::size_t endAt = settings.find(end, valueAt);
    const std::size_t restAt = endAt == std::string::npos ? valueAt : endAt + end.size();
    return settings.substr(0, valueAt) + value + end + settings.substr(restAt);
  }
  const std::string lineEnd = settings.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string line = "  " + start + value + end + lineEnd;
  const std::size_t closing = settings.rfind("</EventLog>");
  if (closing == std::string::npos) {
    const bool open = !settings.empty() && settings.back() != '\n';
    return settings + (open ? lineEnd : "") + line;
  }
  std::size_t lineStart = closing;
  while (lineStart > 0 && (settings[lineStart - 1] == ' ' || settings[lineStart - 1] == '\t'))
    --lineStart;
  return settings.substr(0, lineStart) + line + settings.substr(lineStart);
}

// A tag's text as EventLog reads it from the file: empty when either marker is missing.
std::string TagText(const std::string& settings, const std::string& tag) {
  const std::string start = "<" + tag + ">", end = "</" + tag + ">";
  if (settings.find(start) == std::string::npos || settings.find(end) == std::string::npos)
    return "";
  return ExtractBetween(settings, start, end);
}

// The working copy of the settings: the operator's file, with LoggedAfter the later of its own and
// the carried one, or one second before a report whose page had not ended when that is earlier.
std::string WorkingSettings(const Options& options, const std::string& settings,
                            const std::optional<tDeliveryState>& state) {
  const std::string configuredText = TagText(settings, "LoggedAfter");
  TDateTime configured = 0;
  try {
    configured = StrToDateTimeOrZero(configuredText);
  } catch (const Exception& failure) {
    // EventLog would stop on its error line at once; the start stops here instead.
    throw StepFailure{options.Settings + ": LoggedAfter: " + failure.Message() +
                      " under the regional settings of the service (LANG, LC_TIME, LC_ALL in "
                      "/etc/default/eventlog). Write it as EventLog prints dates, or remove the "
                      "tag, and start again"};
  }
  TDateTime loggedAfter = configured;
  if (state && state->LoggedAfter && *state->LoggedAfter > configured) {
    loggedAfter = *state->LoggedAfter;
    Say(Priority::Info, "LoggedAfter " + DateTimeToStrOrEmpty(loggedAfter) +
                            " carried forward from the last report");
  }
  if (state && state->Pending) {
    // Records carry whole seconds, and one is reported when it is later than LoggedAfter.
    const TDateTime before = *state->Pending - 1.0 / 86400;
    if (before < loggedAfter) loggedAfter = before;
    Say(Priority::Warning, "the event of " + DateTimeToStrOrEmpty(*state->Pending) +
                               " is reported and paged again because the last run was stopped "
                               "before its page ended");
  }
  if (loggedAfter == configured) return settings;
  return WithLoggedAfter(settings, DateTimeToStrOrEmpty(loggedAfter));
}

// Writes the file only when its bytes differ, so that a full disk does not stop a start that
// changes nothing.
void WriteWhenItDiffers(const std::string& path, const std::string& bytes, unsigned mode) {
  std::string present, error;
  if (ReadWholeFile(path, bytes.size(), platform::Links::Refused, present, error) ==
          Reading::Read &&
      present == bytes)
    return;
  if (!platform::ReplaceFileDurably(path, bytes, mode, error))
    throw StepFailure{"cannot write " + error + "; free the space or mend the permissions of " +
                      fs::path(path).parent_path().string() + " and start again"};
}

// The settings check's findings, each on a line of its own: an error stops the start.
void RunSettingsCheck(const Options& options) {
  bool stops = false;
  for (const tFinding& finding : CheckSettingsBeforeStart(options.Settings)) {
    switch (finding.Severity) {
      case tSeverity::Error:
        stops = true;
        Say(Priority::Err, "error: " + finding.Text);
        break;
      case tSeverity::Warning:
        Say(Priority::Warning, "warning: " + finding.Text);
        break;
      case tSeverity::Note:
        Say(Priority::Info, "note: " + finding.Text);
        break;
    }
  }
  if (stops)
    throw StepFailure{"EventLog is not started: mend the errors above in " + options.Settings +
                      " or /etc/default/eventlog (eventlog-check shows them) and start again"};
}

int Prepare(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  std::string settings, error;
  switch (
      ReadWholeFile(options.Settings, kSettingsLimit, platform::Links::Followed, settings, error)) {
    case Reading::Missing:
      throw StepFailure{options.Settings +
                        " is missing or unreadable: without it EventLog would ask its three "
                        "questions on a console the service does not have. Restore it (a sample "
                        "is /usr/share/doc/eventlog/EventLog.XML) and start again"};
    case Reading::Refused:
      throw StepFailure{"cannot read the settings " + error +
                        ". Make it a readable settings file (a sample is "
                        "/usr/share/doc/eventlog/EventLog.XML) and start again"};
    case Reading::Read:
      break;
  }
  RunSettingsCheck(options);
  WriteWhenItDiffers(paths.WorkingSettings,
                     WorkingSettings(options, settings, ReadState(paths.State)), 0644);
  if (platform::SameFileContents(options.Program, paths.WorkingProgram)) return 0;
  std::string program;
  if (ReadWholeFile(options.Program, kProgramLimit, platform::Links::Followed, program, error) !=
      Reading::Read)
    throw StepFailure{"cannot read the program " + options.Program +
                      (error.empty() ? std::string() : " (" + error + ")") +
                      "; reinstall the package or give --program"};
  WriteWhenItDiffers(paths.WorkingProgram, program, 0755);
  return 0;
}

// ---- run: EventLog's log entries

// The items of a log entry's text, read from both ends: texts from the event and the gateway
// lie in the middle, and may hold anything.
bool CutPrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}
bool CutSuffix(std::string_view& text, std::string_view suffix) {
  if (!text.ends_with(suffix)) return false;
  text.remove_suffix(suffix.size());
  return true;
}
// Splits at the last occurrence of the separator: before stays in text, the rest is returned.
std::optional<std::string_view> CutLast(std::string_view& text, std::string_view separator) {
  const std::size_t at = text.rfind(separator);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view after = text.substr(at + separator.size());
  text = text.substr(0, at);
  return after;
}
bool AllDigits(std::string_view text) {
  if (text.starts_with('-')) text.remove_prefix(1);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct JournalEntry {
  Priority Level;
  std::string Text;
};

constexpr std::string_view kSendPage = "[Function=tarn32.SendPage]";

// 50400: "[MSG=<message>][PagerNo=<n>][RESULT=OK|Error][Filename=<record>][HTTPResponse.txt ...]"
std::optional<JournalEntry> PageOutcome(std::string_view text, std::string& refusedRecord) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[MSG=") ||
      !CutSuffix(text, "][HTTPResponse.txt Not created]"))
    return std::nullopt;
  const auto record = CutLast(text, "][Filename=");
  const auto result = CutLast(text, "][RESULT=");
  const auto pager = CutLast(text, "][PagerNo=");
  if (!record || !result || !pager || !AllDigits(*pager)) return std::nullopt;
  if (*result == "OK")
    return JournalEntry{Priority::Info, "page accepted: " + std::string(text) + " (record " +
                                            std::string(*record) + ")"};
  if (*result != "Error") return std::nullopt;
  // The refusal was said by its own entry just before, with the gateway's answer.
  if (refusedRecord == *record) {
    refusedRecord.clear();
    return JournalEntry{Priority::Info, ""};
  }
  return JournalEntry{Priority::Warning,
                      "page refused by the gateway: its answer lacks the success text (record " +
                          std::string(*record) + ")"};
}

// 40400: "[Answer=<answer, brackets escaped>][Filename=<record>]"
std::optional<JournalEntry> PageRefusal(std::string_view text, std::string& refusedRecord) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[Answer=") || !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t at = text.find("][Filename=");
  if (at == std::string_view::npos) return std::nullopt;
  const std::string answer(text.substr(0, at));
  refusedRecord = std::string(text.substr(at + 11));
  return JournalEntry{Priority::Warning, "page refused by the gateway: " +
                                             (answer.empty() ? "(an empty answer)" : answer) +
                                             " (record " + refusedRecord + ")"};
}

// 30000: "[Classname=<c>][Message=<m>][Trace=<n>][Filename=<report>][CoInitializeCount=<n>]
// [Notes=<URL>]". The message comes from the gateway or the system and the URL from the event:
// the items between them are found as the first run that has their exact shape.
std::optional<JournalEntry> PageFailure(std::string_view text) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[Classname=") || !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t classEnd = text.find("][Message=");
  if (classEnd == std::string_view::npos) return std::nullopt;
  const std::string_view className = text.substr(0, classEnd);
  const std::string_view rest = text.substr(classEnd + 10);
  for (std::size_t at = rest.find("][Trace="); at != std::string_view::npos;
       at = rest.find("][Trace=", at + 1)) {
    std::string_view items = rest.substr(at + 8);
    const std::size_t traceEnd = items.find("][Filename=");
    if (traceEnd == std::string_view::npos || !AllDigits(items.substr(0, traceEnd))) continue;
    items.remove_prefix(traceEnd + 11);
    const std::size_t reportEnd = items.find("][CoInitializeCount=");
    if (reportEnd == std::string_view::npos) continue;
    const std::string_view report = items.substr(0, reportEnd);
    if (report.find(']') != std::string_view::npos) continue;
    items.remove_prefix(reportEnd + 20);
    const std::size_t countEnd = items.find("][Notes=");
    if (countEnd == std::string_view::npos || !AllDigits(items.substr(0, countEnd))) continue;
    return JournalEntry{Priority::Err, "page failed: " + std::string(rest.substr(0, at)) + " (" +
                                           std::string(className) + "); " +
                                           (report.empty() ? std::string("no report was written")
                                                           : "report " + std::string(report))};
  }
  return std::nullopt;
}

// 30100: "[Note=the page record could not be written][Filename=<record>][Reason=<text>]"
std::optional<JournalEntry> UnwrittenRecord(std::string_view text) {
  if (!CutPrefix(text, kSendPage) ||
      !CutPrefix(text, "[Note=the page record could not be written][Filename=") ||
      !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t at = text.find("][Reason=");
  if (at == std::string_view::npos) return std::nullopt;
  return JournalEntry{Priority::Err,
                      "page record " + std::string(text.substr(0, at)) +
                          " could not be written: " + std::string(text.substr(at + 9))};
}

// Any other entry, or one whose text does not have its shape: shown whole, at the priority of its
// level (the code's first digit), a page outcome that does not read at warning.
JournalEntry OtherEntry(const std::string& code, const std::string& text) {
  const int level = code.starts_with('-') ? 0 : code[0] - '0';
  const Priority priority = level <= 3 || code == "30000" || code == "30100" ? Priority::Err
                            : level == 4 || code == "50400"                  ? Priority::Warning
                                                                             : Priority::Info;
  return {priority, "log entry " + code + ": " + text};
}

// Where the operator's own syslog receiver is (EVENTLOG_SYSLOG_HOST): every entry goes there
// too, with the operator's identifier.
struct Relay {
  std::string Host;
  std::uint16_t Port = kSyslogPort;
  std::optional<std::uint32_t> Address;
  bool Failing = false;  // a failure was said; said again only after a success
};

std::optional<Relay> RelayFromEnvironment() {
  const auto configured = EnvironmentValue("EVENTLOG_SYSLOG_HOST");
  if (!configured || configured->empty()) return std::nullopt;
  Relay relay;
  relay.Host = *configured;
  const std::size_t colon = configured->rfind(':');
  if (colon != std::string::npos) {
    const std::string port = configured->substr(colon + 1);
    const long number = AllDigits(port) && port.size() <= 5 ? std::stol(port) : 0;
    if (number < 1 || number > 65535 || port.starts_with('-')) {
      Say(Priority::Warning, "EVENTLOG_SYSLOG_HOST " + *configured +
                                 " has no port from 1 to 65535 after its colon; log entries are "
                                 "not relayed. Write host or host:port");
      return std::nullopt;
    }
    relay.Host = configured->substr(0, colon);
    relay.Port = static_cast<std::uint16_t>(number);
  }
  return relay;
}

void RelayDatagram(Relay& relay, const std::string& datagram) {
  try {
    if (!relay.Address) relay.Address = ResolveHostAddress(relay.Host, 2000);
    int errorCode = 0;
    const platform::UniqueSocket socket(platform::OpenDatagramSocket(errorCode));
    if (!socket ||
        platform::SendDatagram(socket.get(), *relay.Address, relay.Port, datagram.data(),
                               datagram.size(), errorCode) != static_cast<long>(datagram.size()))
      throw ESocketError(errorCode);
    relay.Failing = false;
  } catch (const std::exception& failure) {
    relay.Address.reset();
    if (relay.Failing) return;
    relay.Failing = true;
    const FailureDescription description = DescribeFailure(failure);
    Say(Priority::Warning, "cannot relay log entries to EVENTLOG_SYSLOG_HOST " + relay.Host + ":" +
                               std::to_string(relay.Port) + ": " + description.Message +
                               "; tried again with each entry (said again after a success)");
  }
}

// The loopback socket on which EventLog's log writer sends its entries, marked with this run's
// secret: a datagram without it did not come from this run's EventLog and is dropped.
struct LogChannel {
  int Socket = -1;
  std::uint16_t Port = 0;
  std::string Ident;          // the child's identifier: the operator's, padded, and the secret
  std::string OperatorIdent;  // as the operator set it
  std::optional<Relay> Forward;
  std::string RefusedRecord;  // the page record of the last refusal said
};

void TakeDatagram(LogChannel& channel, const std::string& datagram) {
  // "<PRI>" + time + ": %" + identifier + ": " + code + ": " + text; the time holds no secret.
  const std::string marker = ": %" + channel.Ident + ": ";
  const std::size_t at = datagram.find(marker);
  if (!datagram.starts_with('<') || at == std::string::npos) return;
  const std::string rest = datagram.substr(at + marker.size());
  if (channel.Forward)
    RelayDatagram(*channel.Forward,
                  datagram.substr(0, at) + ": %" + channel.OperatorIdent + ": " + rest);
  const std::size_t codeEnd = rest.find(": ");
  if (codeEnd == std::string::npos || !AllDigits(rest.substr(0, codeEnd))) return;
  const std::string code = rest.substr(0, codeEnd);
  const std::string text = rest.substr(codeEnd + 2);
  std::optional<JournalEntry> entry;
  if (code == "50400") entry = PageOutcome(text, channel.RefusedRecord);
  if (code == "40400") entry = PageRefusal(text, channel.RefusedRecord);
  if (code == "30000") entry = PageFailure(text);
  if (code == "30100") entry = UnwrittenRecord(text);
  if (!entry) entry = OtherEntry(code, text);
  if (!entry->Text.empty()) WriteLine(platform::StandardStream::Output, entry->Level, entry->Text);
}

void TakeWaitingDatagrams(LogChannel& channel) {
  std::string datagram;
  while (channel.Socket >= 0 && platform::ReceiveWaitingDatagram(channel.Socket, datagram))
    TakeDatagram(channel, datagram);
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// Opens the channel and names it in EventLog's environment. Without it EventLog still runs and
// pages; only the outcomes do not reach the journal, which is said at err.
void OpenLogChannel(LogChannel& channel, std::vector<platform::EnvironmentSetting>& environment) {
  std::string secret, error;
  int errorCode = 0;
  if (!platform::SystemRandomBytes(16, secret, error)) {
    Say(Priority::Err, "cannot make the secret of the page outcomes' channel: " + error +
                           "; EventLog runs, but its page outcomes do not reach the journal");
    return;
  }
  channel.Socket = platform::OpenLoopbackReceiver(channel.Port, errorCode);
  if (channel.Socket < 0) {
    Say(Priority::Err, "cannot open a UDP port on 127.0.0.1 for EventLog's log entries: " +
                           platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)) +
                           "; EventLog runs, but its page outcomes do not reach the journal");
    return;
  }
  channel.OperatorIdent = EnvironmentValue("EVENTLOG_LOG_IDENT").value_or("eventlog");
  // The daily CSV files show the identifier's first ten characters: the operator's, not the
  // secret after them.
  channel.Ident = channel.OperatorIdent;
  if (channel.Ident.size() < 10) channel.Ident.resize(10, ' ');
  channel.Ident += Hex(secret);
  channel.Forward = RelayFromEnvironment();
  int level = kLeastLogLevel;
  const std::string configured = EnvironmentValue("EVENTLOG_LOG_LEVEL").value_or("");
  if (AllDigits(configured) && configured.size() <= 6)
    level = std::max(level, std::stoi(configured));
  environment.push_back({"EVENTLOG_SYSLOG_HOST", "127.0.0.1:" + std::to_string(channel.Port)});
  environment.push_back({"EVENTLOG_LOG_IDENT", channel.Ident});
  environment.push_back({"EVENTLOG_LOG_LEVEL", std::to_string(level)});
}

// ---- run: EventLog's streams

// The lines of one stream, split at LF.
class LineSplitter {
 public:
  template <typename Take>
  void Add(const char* bytes, std::size_t count, Take take) {
    pending_.append(bytes, count);
    std::size_t start = 0, end;
    while ((end = pending_.find('\n', start)) != std::string::npos) {
      take(pending_.substr(start, end - start));
      start = end + 1;
    }
    pending_.erase(0, start);
  }
  template <typename Take>
  void End(Take take) {
    if (!pending_.empty()) take(pending_);
    pending_.clear();
  }

 private:
  std::string pending_;
};

// EventLog's console lines at info, but its error line, the last line when it ends with exit
// code 1, at err: a line that begins "Error: " waits until the next line or the end shows
// whether it was the last.
class ConsoleLines {
 public:
  void Take(const std::string& line) {
    Release(Priority::Info);
    if (line.starts_with("Error: "))
      held_ = line;
    else
      WriteLine(platform::StandardStream::Output, Priority::Info, line);
  }
  void Release(Priority priority) {
    if (held_) WriteLine(platform::StandardStream::Output, priority, *held_);
    held_.reset();
  }

 private:
  std::optional<std::string> held_;
};

void CheckWorkingCopy(const std::string& path, const Options& options) {
  switch (platform::KindOfEntry(path)) {
    case platform::EntryKind::Missing:
      throw StepFailure{"no working copy of EventLog or EventLog.XML in " + options.Directory +
                        "; run eventlog-service prepare first"};
    case platform::EntryKind::Other:
      throw StepFailure{"the working copy " + path +
                        " is not a regular file; remove it and run eventlog-service prepare"};
    case platform::EntryKind::RegularFile:
      return;
  }
}

int Run(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  CheckWorkingCopy(paths.WorkingProgram, options);
  CheckWorkingCopy(paths.WorkingSettings, options);
  platform::StartSocketLayer();
  std::vector<platform::EnvironmentSetting> environment = {{"EVENTLOG_STATE_FILE", paths.State}};
  LogChannel channel;
  OpenLogChannel(channel, environment);
  platform::SupervisedProgram program =
      platform::StartSupervised(paths.WorkingProgram, options.Directory, environment);

  LineSplitter output, errors;
  ConsoleLines console;
  auto takeOutput = [&](const std::string& line) { console.Take(line); };
  auto takeError = [](const std::string& line) {
    WriteLine(platform::StandardStream::Errors, Priority::Err, line);
  };
  std::vector<int> watched = {program.Output, program.Errors, channel.Socket};
  std::vector<bool> ready;
  char buffer[4096];
  while (watched[0] >= 0 || watched[1] >= 0) {
    int errorCode = 0;
    if (!platform::WaitUntilAnyReadable(watched, ready, errorCode)) {
      Say(Priority::Err, "waiting for EventLog's output failed: " +
                             platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)));
      break;
    }
    // The entries first: a page's entry was sent before the lines that follow the page.
    if (ready[2]) TakeWaitingDatagrams(channel);
    for (int stream : {0, 1}) {
      if (!ready[stream]) continue;
      const long count =
          platform::ReadSupervisedStream(watched[stream], buffer, sizeof buffer, errorCode);
      LineSplitter& lines = stream == 0 ? output : errors;
      if (count > 0) {
        if (stream == 0)
          lines.Add(buffer, static_cast<std::size_t>(count), takeOutput);
        else
          lines.Add(buffer, static_cast<std::size_t>(count), takeError);
        continue;
      }
      if (count < 0)
        Say(Priority::Err,
            std::string("reading EventLog's ") + (stream == 0 ? "output" : "errors") +
                " failed: " + platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)));
      watched[stream] = -1;
    }
  }
  output.End(takeOutput);
  errors.End(takeError);
  const platform::ProgramEnd end = platform::WaitForSupervised(program);
  // What EventLog sent before it ended is waiting by now.
  TakeWaitingDatagrams(channel);
  platform::CloseDescriptor(channel.Socket);
  console.Release(!end.BySignal && end.Code == 1 ? Priority::Err : Priority::Info);
  platform::EndLike(end);
}

// ---- finish

int Finish(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  for (const std::string& path : {paths.State, paths.WorkingSettings, paths.WorkingProgram}) {
    std::string error;
    if (!platform::RemoveIfRegularFile(path + ".tmp", error))
      Say(Priority::Warning, "a stale temporary file stays: " + error);
  }
  std::string bytes, error;
  if (ReadWholeFile(paths.State, kStateLimit, platform::Links::Refused, bytes, error) ==
      Reading::Missing)
    return 0;
  if (!platform::FlushToDisk(paths.State, error)) throw StepFailure{"cannot flush " + error};
  const auto state = ReadState(paths.State);
  if (state && state->LoggedAfter)
    Say(Priority::Info,
        "the next start reports only events after " + DateTimeToStrOrEmpty(*state->LoggedAfter));
  if (state && state->Pending)
    Say(Priority::Warning, "the event of " + DateTimeToStrOrEmpty(*state->Pending) +
                               " will be reported and paged again at the next start: EventLog "
                               "was stopped before its page ended");
  return 0;
}

// ---- arguments

enum class Parsed { Run, Help, Version, Wrong };

Parsed ParseArguments(int argc, char** argv, Options& options) {
  // --help and --version count wherever they stand, even where an option's value would be.
  static constexpr tools::OptionSpec kInformation[] = {{"--help"}, {"-h"}, {"--version"}};
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kInformation)) {
    if (argument.Kind != tools::ArgumentKind::Option) continue;
    return argument.Name == "--version" ? Parsed::Version : Parsed::Help;
  }
  options.Program = ProgramBesideThisTool();
  static constexpr tools::OptionSpec kOptions[] = {
      {"--dir", true}, {"--settings", true}, {"--program", true}};
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (argument.Kind == tools::ArgumentKind::MissingValue) {
      Say(Priority::Err, argument.Name + " needs a value");
      return Parsed::Wrong;
    }
    if (argument.Kind == tools::ArgumentKind::Option) {
      std::string* value = argument.Name == "--dir"        ? &options.Directory
                           : argument.Name == "--settings" ? &options.Settings
                                                           : &options.Program;
      *value = argument.Value;
    } else if (options.Command.empty() && (argument.Value == "prepare" || argument.Value == "run" ||
                                           argument.Value == "finish")) {
      options.Command = argument.Value;
    } else {
      Say(Priority::Err, "unknown argument '" + argument.Value + "'");
      return Parsed::Wrong;
    }
  }
  if (options.Command.empty()) {
    Say(Priority::Err, "name the step: prepare, run or finish");
    return Parsed::Wrong;
  }
  // EventLog runs inside the directory, so every name must hold from there too.
  for (std::string* path : {&options.Directory, &options.Settings, &options.Program})
    *path = fs::absolute(*path).lexically_normal().string();
  return Parsed::Run;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  switch (ParseArguments(argc, argv, options)) {
    case Parsed::Help:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::Version:
      std::fputs("eventlog-service " EVENTLOG_VERSION "\n", stdout);
      return 0;
    case Parsed::Wrong:
      std::fputs(kUsage, stderr);
      return 2;
    case Parsed::Run:
      break;
  }
  // Dates are read and written as EventLog reads and writes them: the same regional settings.
  LoadRegionalSettings();
  try {
    if (options.Command == "prepare") return Prepare(options);
    if (options.Command == "run") return Run(options);
    return Finish(options);
  } catch (const StepFailure& failure) {
    Say(Priority::Err, failure.Message);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    Say(Priority::Err, description.Message + " (" + description.ClassName + ")");
  }
  return 1;
}
