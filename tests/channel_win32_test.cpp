// The event channels read through the Windows backend, against a stand-in for the newer event log
// interface that serves events rendered from the channels' XML (tests/data/channels): what the
// backend delivers, what the search finds and the report lines EventLog would print.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/event_record.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "monitor/settings_lint.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/system.h"
#include "tests/support/fake_channels.h"
#include "tests/support/fake_eventlog.h"
#include "tests/support/protocol_data.h"
#include "tests/support/record_builder.h"
#include "tests/support/registry_key.h"

namespace {

constexpr char kTasks[] = "Microsoft-Windows-TaskScheduler/Operational";
constexpr char kDefender[] = "Microsoft-Windows-Windows Defender/Operational";
constexpr char kPowerShell[] = "Microsoft-Windows-PowerShell/Operational";
constexpr char kSessions[] = "Microsoft-Windows-TerminalServices-LocalSessionManager/Operational";
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kChannelNotFound = 15007;
constexpr std::uint32_t kRpcCallFailed = 1726;

std::string Channel(const char* file) {
  const std::string bytes = ProtocolBytes(std::string("channels/") + file);
  // The events without the file's enclosing element, so that a test may add its own.
  const std::size_t begin = bytes.find("<Event "), end = bytes.rfind("</Event>") + 8;
  return bytes.substr(begin, end - begin) + "\n";
}

// An event of the PowerShell channel with the given record ID, event ID, time and message.
std::string PowerShellEvent(std::uint64_t recordId, int eventId, const std::string& time,
                            const std::string& message) {
  return "<Event xmlns=\"http://schemas.microsoft.com/win/2004/08/events/event\"><System>"
         "<Provider Name=\"Microsoft-Windows-PowerShell\" "
         "Guid=\"{a0c1853b-5c40-4b15-8766-3cf1c58f985a}\"/><EventID>" +
         std::to_string(eventId) + "</EventID><Version>1</Version><Level>3</Level>" +
         "<TimeCreated SystemTime=\"" + time + "\"/><EventRecordID>" + std::to_string(recordId) +
         "</EventRecordID><Channel>Microsoft-Windows-PowerShell/Operational</Channel>"
         "<Computer>WS-OPS-07.corp.example</Computer></System><EventData>"
         "<Data Name=\"Payload\">payload</Data></EventData><RenderingInfo Culture=\"en-US\">"
         "<Message>" +
         message + "</Message></RenderingInfo></Event>\n";
}

std::vector<FakeChannel> Channels() {
  return {{kTasks, Channel("taskscheduler.xml")},
          {kDefender, Channel("defender.xml")},
          {kPowerShell, Channel("powershell.xml")},
          {kSessions, Channel("terminalservices.xml")}};
}

// The records of the log as the backend delivers them, newest first, one line each ("<record
// number> <event ID> <type> <source> <computer> <strings>"), then how the reading ended.
std::vector<std::string> Listing(const std::string& log) {
  std::vector<std::string> lines;
  const platform::UniqueEventLog handle(platform::OpenEventLog(log));
  if (!handle) return {"not opened"};
  std::vector<std::uint8_t> buffer(4097);
  for (;;) {
    std::uint32_t read = 0, needed = 0, error = 0;
    if (!platform::ReadEventLogBackwards(handle.get(), buffer.data(), std::uint32_t(buffer.size()),
                                         read, needed, error)) {
      if (error == platform::kErrorInsufficientBuffer && needed > buffer.size()) {
        buffer.resize(needed);
        continue;
      }
      lines.push_back(error == platform::kErrorHandleEof ? "end"
                      : error == platform::kErrorEventlogFileCorrupt
                          ? "broke off"
                          : "error " + std::to_string(error));
      return lines;
    }
    for (std::size_t at = 0; at < read;) {
      const core::EventRecordDecoding decoded =
          core::DecodeEventRecord(buffer.data() + at, read - at, core::EventRecordCheck::Whole);
      if (!decoded.Record) return {"undecodable: " + std::string(decoded.Problem)};
      const core::DecodedEventRecord& r = *decoded.Record;
      lines.push_back(std::to_string(r.Header.RecordNumber) + " " +
                      std::to_string(r.Header.EventID) + " " + std::to_string(r.Header.EventType) +
                      " " + std::string(r.Source) + " " + std::string(r.Computer) + " " +
                      std::to_string(r.Strings.size()));
      at += r.Header.Length;
    }
  }
}

tEventSearchRecord Criteria(const std::string& log, std::int32_t eventId,
                            const std::string& source = "") {
  tEventSearchRecord criteria;
  criteria.LogFile = log;
  criteria.EventID = eventId;
  criteria.Source = source;
  return criteria;
}

// The report lines for a match of that time (seconds since 1970, UTC).
std::vector<std::string> Report(int eventId, const std::string& source, std::uint32_t time,
                                const std::string& details) {
  tMyEventLogRecord record;
  record.EventLogRecord.EventID = std::uint32_t(eventId);
  record.Source = source;
  record.TimeGeneratedAsDateTime = UTCToLocalDateTime(UnixTimeToDateTime(time));
  record.Details = details;
  return ReportRecordLines(record, "Page");
}

const std::string kTaskSource = "Microsoft-Windows-TaskScheduler";
const std::string kTaskListing = "Microsoft-Windows-TaskScheduler WS-OPS-07.corp.example 1";
const std::string kPsListing = "Microsoft-Windows-PowerShell WS-OPS-07.corp.example 1";

TEST(WindowsChannels, TheSearchSeesEachChannelsEventsAsRecords) {
  std::vector<FakeChannel> large = Channels();
  const std::string longLine = "Error Message = " + std::string(70000, 'x');
  large[2].Events += PowerShellEvent(2027, 4100, "2026-11-03T10:05:00.5000000Z",
                                     longLine + "&#13;&#10;Fully Qualified Error ID = X");
  std::vector<FakeChannel> denied = Channels();
  denied[1].QueryError = kAccessDenied;
  std::vector<FakeChannel> cut = Channels();
  cut[0].BreakAfter = 2;
  cut[0].BreakError = kRpcCallFailed;
  std::vector<FakeChannel> unreadable = Channels();
  unreadable[1].BreakAfter = 0;
  unreadable[1].BreakError = kAccessDenied;
  const std::vector<std::string> taskListing = {
      "48114 201 4 " + kTaskListing, "48113 101 1 " + kTaskListing, "48112 200 4 " + kTaskListing,
      "48111 106 4 " + kTaskListing, "end"};
  struct Case {
    const char* name;
    std::vector<FakeChannel> channels;
    tEventSearchRecord criteria;
    std::vector<std::string> listing;  // empty: not checked
    std::vector<std::string> report;   // empty: no match
  } cases[] = {
      {"the newest event, its message's first line", Channels(), Criteria(kTasks, 0), taskListing,
       Report(201, kTaskSource, 1793693702,
              "Task Scheduler successfully completed task \"\\Backup\\Nightly\" , instance "
              "\"{5d3f0a2e-91b4-4c6e-8f0d-2b7a1c9e4f63}\" , action "
              "\"C:\\Windows\\system32\\cmd.exe\" with return code 0.")},
      {"no message: the first data item",
       Channels(),
       Criteria(kTasks, 101),
       {},
       Report(101, kTaskSource, 1793693113, "\\Reports\\Weekly")},
      {"the oldest, by source in other case",
       Channels(),
       Criteria(kTasks, 106, "microsoft-windows-TASKSCHEDULER"),
       {},
       Report(106, kTaskSource, 1793692721,
              "User \"CORP\\svc-backup\"  registered Task Scheduler task \"\\Backup\\Nightly\"")},
      {"a warning of several lines",
       Channels(),
       Criteria(kDefender, 1116),
       {"7732 1117 4 Microsoft-Windows-Windows Defender WS-OPS-07.corp.example 1",
        "7731 1116 2 Microsoft-Windows-Windows Defender WS-OPS-07.corp.example 1",
        "7730 5007 4 Microsoft-Windows-Windows Defender WS-OPS-07.corp.example 1", "end"},
       Report(1116, "Microsoft-Windows-Windows Defender", 1793697167,
              "Microsoft Defender Antivirus has detected malware or other potentially unwanted "
              "software.")},
      {"a source with a blank",
       Channels(),
       Criteria(kDefender, 5007, "Microsoft-Windows-Windows Defender"),
       {},
       Report(5007, "Microsoft-Windows-Windows Defender", 1793637609,
              "Microsoft Defender Antivirus Configuration has changed. If this is an unexpected "
              "event you should review the settings as this may be the result of malware.")},
      {"a script block",
       Channels(),
       Criteria(kPowerShell, 4104),
       {"2026 4100 2 " + kPsListing, "2025 4104 2 " + kPsListing, "2024 40961 4 " + kPsListing,
        "end"},
       Report(4104, "Microsoft-Windows-PowerShell", 1793700161,
              "Creating Scriptblock text (1 of 1):")},
      {"user data, in the code page",
       Channels(),
       Criteria(kSessions, 24),
       {},
       Report(24, "Microsoft-Windows-TerminalServices-LocalSessionManager", 1793710053,
              "CORP\\jos\xe9")},
      {"a logon message",
       Channels(),
       Criteria(kSessions, 21),
       {},
       Report(21, "Microsoft-Windows-TerminalServices-LocalSessionManager", 1793704805,
              "Remote Desktop Services: Session logon succeeded:")},
      {"a message over 64 KiB",
       large,
       Criteria(kPowerShell, 4100),
       {"2027 4100 2 " + kPsListing, "2026 4100 2 " + kPsListing, "2025 4104 2 " + kPsListing,
        "2024 40961 4 " + kPsListing, "end"},
       Report(4100, "Microsoft-Windows-PowerShell", 1793700300, longLine)},
      {"a channel that does not exist",
       Channels(),
       Criteria("Microsoft-Windows-NoSuchThing/Operational", 0),
       {"not opened"},
       {}},
      {"a channel the account may not read", denied, Criteria(kDefender, 0), {"not opened"}, {}},
      {"a channel whose first read is refused: the read fails, as the service's would",
       unreadable,
       Criteria(kDefender, 0),
       {"error 5"},
       {}},
      {"a query cut off: the newest still found, then the system's error",
       cut,
       Criteria(kTasks, 201),
       {"48114 201 4 " + kTaskListing, "48113 101 1 " + kTaskListing, "error 1726"},
       Report(201, kTaskSource, 1793693702,
              "Task Scheduler successfully completed task \"\\Backup\\Nightly\" , instance "
              "\"{5d3f0a2e-91b4-4c6e-8f0d-2b7a1c9e4f63}\" , action "
              "\"C:\\Windows\\system32\\cmd.exe\" with return code 0.")},
      {"a query cut off before the match", cut, Criteria(kTasks, 106), {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedFakeChannelService service(c.channels);
    if (!c.listing.empty()) {
      EXPECT_EQ(Listing(c.criteria.LogFile), c.listing);
    }
    tMyEventLogRecord result;
    result.EventLogRecord.EventID = 9;
    result.Source = "before";
    result.TimeGeneratedAsDateTime = 42;
    const bool found = FindLatestEvent(c.criteria, result);
    EXPECT_EQ(found, !c.report.empty());
    if (found) {
      EXPECT_EQ(ReportRecordLines(result, "Page"), c.report);
    } else {
      EXPECT_EQ(result.TimeGeneratedAsDateTime, 42) << "no match leaves the time";
    }
    // Every query asked for the channel newest first, and every handle went back.
    for (const std::string& asked : service.QueriesAsked())
      EXPECT_EQ(asked, c.criteria.LogFile + " * 0x201");
    EXPECT_FALSE(service.QueriesAsked().empty());
    EXPECT_EQ(service.OpenHandles(), 0);
    EXPECT_EQ(service.BadCalls(), 0);
  }
}

// A search that reads only what the channel gained since the last one stops at the remembered
// newest event and answers as the whole search does, also when the channel was cleared.
TEST(WindowsChannels, ASearchSinceTheLastGivesWhatTheWholeSearchGives) {
  auto event = [](std::uint64_t id, int eventId, const std::string& text) {
    return PowerShellEvent(id, eventId, "2026-11-03T10:0" + std::to_string(id % 10) + ":00.0Z",
                           text);
  };
  const std::string first = event(1, 4104, "one") + event(2, 4100, "two") + event(3, 4104, "three");
  struct Step {
    const char* name;
    std::string events;  // oldest first
    std::string details;
    bool stops;  // at the last search's newest event
  } steps[] = {
      {"the first search reads all", first, "three", false},
      {"nothing new: the remembered match", first, "three", true},
      {"a new event that does not match", first + event(4, 4100, "four"), "three", true},
      {"a new match", first + event(4, 4100, "four") + event(5, 4104, "five"), "five", true},
      {"cleared and refilled past the remembered number",
       event(3, 4104, "3'") + event(4, 4100, "4'") + event(5, 4100, "5'") + event(6, 4100, "6'"),
       "3'"},
      {"cleared, fewer events", event(1, 4104, "1''"), "1''", false},
  };
  tEventSearchRecord criteria = Criteria(kPowerShell, 4104);
  criteria.LoggedAfter = 1e6;  // no remembered match is due again: the memory answers
  tSearchMemory memory;
  tMyEventLogRecord since, whole;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const ScopedFakeChannelService service({{kPowerShell, step.events}});
    if (!memory.Anchor.empty()) {
      // A reading told to stop at the last search's newest event ends there, and only there.
      const platform::UniqueEventLog log(platform::OpenEventLog(kPowerShell));
      platform::StopEventLogReadsAt(log.get(), memory.Anchor);
      std::vector<std::uint8_t> buffer(0x10000);
      std::uint32_t read = 0, needed = 0, error = 0;
      while (
          platform::ReadEventLogBackwards(log.get(), buffer.data(), 0x10000, read, needed, error)) {
      }
      EXPECT_EQ(error, platform::kErrorHandleEof);
      EXPECT_EQ(platform::EventLogStopReached(log.get()), step.stops);
    }
    EXPECT_TRUE(FindLatestEvent(criteria, whole));
    EXPECT_EQ(whole.Details, step.details);
    EXPECT_TRUE(FindLatestEventSince(criteria, memory, since));
    EXPECT_EQ(since.Details, whole.Details);
    EXPECT_EQ(since.TimeGeneratedAsDateTime, whole.TimeGeneratedAsDateTime);
    EXPECT_EQ(memory.Anchor.substr(0, 4), "evt:");
    EXPECT_EQ(service.OpenHandles(), 0);
    EXPECT_EQ(service.BadCalls(), 0);
  }
}

// A rendered text is cut at the reader's cap (0x12000 UTF-16 units) at a whole character: a
// surrogate pair the cap would halve goes whole; the record stays valid.
TEST(WindowsChannels, AMessageOverTheCapIsCutAtAWholeCharacter) {
  constexpr std::size_t kCap = 0x12000;
  const std::string face = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
  struct Case {
    const char* name;
    std::string message;
    std::string details;
  } cases[] = {
      {"one unit over", std::string(kCap + 1, 'B'), std::string(kCap, 'B')},
      {"a pair across the cap", std::string(kCap - 1, 'A') + face + "tail",
       std::string(kCap - 1, 'A')},
      {"exactly the cap", std::string(kCap, 'C') + "\r\nsecond line", std::string(kCap, 'C')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedFakeChannelService service(
        {{kPowerShell, PowerShellEvent(9, 4100, "2026-11-03T10:05:00.0Z", c.message)}});
    EXPECT_EQ(Listing(kPowerShell), (std::vector<std::string>{"9 4100 2 " + kPsListing, "end"}));
    tMyEventLogRecord result;
    ASSERT_TRUE(FindLatestEvent(Criteria(kPowerShell, 4100), result));
    EXPECT_EQ(result.Details.size(), c.details.size());
    EXPECT_EQ(result.Details, c.details);
    EXPECT_EQ(service.OpenHandles(), 0);
  }
}

// The classic logs of the Windows suite: the registry's Application, and one whose key the test
// makes (its name unique to this run), both served by the stand-in for the event log service.
std::string TestLogName() {
  static const std::string name = "EventLogTest" + std::to_string(std::random_device()());
  return name;
}

std::vector<std::uint8_t> ClassicRecord() {
  AnsiRecordFields fields;
  fields.RecordNumber = 12;
  fields.EventID = 1000;
  fields.EventType = 1;
  fields.Source = "Application Error";
  fields.Computer = "WS-OPS-07";
  fields.Strings = {"Faulting application name: backup.exe"};
  return BuildAnsiRecord(fields);
}

const std::string kClassicListing = "12 1000 1 Application Error WS-OPS-07 1";

// A name the classic interface does not know is read as a channel when the newer interface
// knows it; the classic logs never go through the newer interface, and a name neither knows
// goes to the service as it always did.
TEST(WindowsChannels, ANameTheServiceDoesNotKnowIsReadAsAChannelWhenOneHasIt) {
  const std::string testLog = TestLogName();
  const ScopedClassicLogKey key(testLog, "%SystemRoot%\\System32\\Winevt\\Logs\\T.evtx");
  ASSERT_TRUE(key.Made()) << "the registry refused the test's log key";
  const std::string forwarded = PowerShellEvent(7, 4104, "2026-11-03T10:00:00.0Z", "forwarded") +
                                PowerShellEvent(8, 4100, "2026-11-03T10:01:00.0Z", "forwarded too");
  struct Case {
    const char* name;
    std::string log;
    std::vector<std::string> listing;
    std::vector<std::string> configurations;  // asked of the newer interface
    std::vector<std::string> queries;
    int classicOpens;
    int refused;
  } cases[] = {
      {"ForwardedEvents",
       "ForwardedEvents",
       {"8 4100 2 " + kPsListing, "7 4104 2 " + kPsListing, "end"},
       {"ForwardedEvents"},
       {"ForwardedEvents * 0x201"},
       0,
       0},
      {"Setup in other case",
       "setup",
       {"7 4104 2 " + kPsListing, "end"},
       {"setup"},
       {"setup * 0x201"},
       0,
       0},
      {"Application, though a channel has that name too",
       "Application",
       {kClassicListing, "end"},
       {},
       {},
       1,
       0},
      {"a classic log of the test's key", testLog, {kClassicListing, "end"}, {}, {}, 1, 0},
      {"a name neither knows goes to the service",
       "NoSuchLog",
       {"not opened"},
       {"NoSuchLog"},
       {},
       0,
       1},
      {"a channel path needs no lookup", kTasks, {}, {}, {std::string(kTasks) + " * 0x201"}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FakeChannel> channels = Channels();
    channels.push_back({"ForwardedEvents", forwarded});
    channels.push_back({"Setup", PowerShellEvent(7, 4104, "2026-11-03T10:00:00.0Z", "setup")});
    channels.push_back({"Application", forwarded});
    channels.back().Classic = true;
    const ScopedFakeChannelService service(channels);
    const ScopedFakeEventLogService classic(
        {{"Application", {ClassicRecord()}, {}}, {testLog, {ClassicRecord()}, {}}});
    const std::vector<std::string> listing = Listing(c.log);
    if (!c.listing.empty()) {
      EXPECT_EQ(listing, c.listing);
    }
    EXPECT_EQ(service.ConfigurationsAsked(), c.configurations);
    EXPECT_EQ(service.QueriesAsked(), c.queries);
    EXPECT_EQ(classic.Opens(), c.classicOpens);
    EXPECT_EQ(classic.RefusedOpens(), c.refused);
    EXPECT_EQ(service.OpenHandles(), 0);
    EXPECT_EQ(service.BadCalls(), 0);
  }
}

// What the settings check says of a log on Windows: its kind with what the system tells of it,
// whether this account may read it and why not, with the fix.
TEST(WindowsChannels, TheCheckSaysWhatTheLogIsAndWhetherItIsReadable) {
  const std::string testLog = TestLogName();
  const std::string file = "%SystemRoot%\\System32\\Winevt\\Logs\\" + testLog + ".evtx";
  const ScopedClassicLogKey key(testLog, file);
  ASSERT_TRUE(key.Made()) << "the registry refused the test's log key";
  const ScopedClassicLogKey security("Security",
                                     "%SystemRoot%\\System32\\Winevt\\Logs\\Security.evtx");
  if (!security.Made())
    GTEST_SKIP() << "the registry has a Security key already (not Wine's prefix), or refused one";
  const std::string user = platform::CurrentUserName();
  const std::string denied = platform::SystemErrorText(kAccessDenied);
  const std::string keys = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\";
  std::vector<FakeChannel> channels = Channels();
  channels[0].LogFilePath =
      "%SystemRoot%\\System32\\Winevt\\Logs\\Microsoft-Windows-TaskScheduler%4Operational.evtx";
  channels[1].QueryError = kAccessDenied;
  channels[2].Enabled = false;
  channels[3].BreakAfter = 0;
  channels[3].BreakError = kAccessDenied;
  struct Case {
    std::string log;
    std::vector<std::string> lines;
    std::vector<std::string> findings;  // "error: ..."
  } cases[] = {
      {testLog,
       {"  the registry key " + keys + testLog, "  file: " + file, "  readable by " + user,
        "  opens: 1 record"},
       {}},
      {kTasks,
       {std::string("  the event channel ") + kTasks, "  enabled: yes", "  classic log: no",
        "  file: " + channels[0].LogFilePath, "  readable by " + user, "  opens: 4 records"},
       {}},
      {kPowerShell,
       {std::string("  the event channel ") + kPowerShell, "  enabled: no", "  classic log: no",
        "  readable by " + user, "  opens: 3 records"},
       {}},
      {"NoSuchLog",
       {"  no registry key " + keys + "NoSuchLog and no event channel of that name"},
       {"error: the log \"NoSuchLog\" is neither a log of the event log service nor an event "
        "channel: the service opens Application in its place, so EventLog reports "
        "Application's events; set LogFile to a name that eventlog-check --list-logs shows"}},
      {"Microsoft-Windows-NoSuchThing/Operational",
       {"  no event channel Microsoft-Windows-NoSuchThing/Operational"},
       {"error: the log \"Microsoft-Windows-NoSuchThing/Operational\" does not exist: EventLog "
        "finds nothing in it, cycle after cycle"}},
      {kDefender,
       {std::string("  the event channel ") + kDefender, "  enabled: yes", "  classic log: no",
        "  not readable: " + denied},
       {"error: the log \"" + std::string(kDefender) + "\" cannot be read by " + user + " (" +
        denied +
        "): EventLog finds nothing in it; add the account to the group Event Log Readers (net "
        "localgroup \"Event Log Readers\" " +
        user + " /add) and start EventLog anew, or grant it the channel's access"}},
      {kSessions,
       {std::string("  the event channel ") + kSessions, "  enabled: yes", "  classic log: no",
        "  not readable: " + denied},
       {"error: the log \"" + std::string(kSessions) + "\" cannot be read by " + user + " (" +
        denied +
        "): EventLog finds nothing in it; add the account to the group Event Log Readers (net "
        "localgroup \"Event Log Readers\" " +
        user + " /add) and start EventLog anew, or grant it the channel's access"}},
      {"Security",
       {"  the registry key " + keys + "Security",
        "  file: %SystemRoot%\\System32\\Winevt\\Logs\\Security.evtx", "  not readable: " + denied},
       {"error: the log \"Security\" cannot be read by " + user + " (" + denied +
        "): EventLog finds nothing in it; run EventLog as SYSTEM, or grant the account read "
        "access in the channel's access (wevtutil gl Security shows it as channelAccess, "
        "wevtutil sl Security /ca:SDDL sets it)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    const ScopedFakeChannelService service(channels);
    FakeEventLog refused{"Security", {}, {}};
    refused.OpenError = kAccessDenied;
    const ScopedFakeEventLogService classic({{testLog, {ClassicRecord()}, {}}, refused});
    tEventSearchRecord settings;
    settings.LogFile = c.log;
    const tLogLint lint = LintLog(settings, true);
    EXPECT_EQ(lint.Lines, c.lines);
    std::vector<std::string> findings;
    for (const tFinding& finding : lint.Findings)
      findings.push_back(std::string(SeverityWord(finding.Severity)) + ": " + finding.Text);
    EXPECT_EQ(findings, c.findings);
    EXPECT_EQ(service.OpenHandles(), 0);
    EXPECT_EQ(service.BadCalls(), 0);
  }
}

// --list-logs' list: the classic logs of the registry, then the channels that are not classic
// logs, cut at the limit; and whether each reads.
TEST(WindowsChannels, TheLogsAreListedByKindWithinTheLimit) {
  const std::string testLog = TestLogName();
  const ScopedClassicLogKey key(testLog, "T.evtx");
  ASSERT_TRUE(key.Made()) << "the registry refused the test's log key";
  std::vector<FakeChannel> channels = Channels();
  channels.insert(channels.begin() + 1, FakeChannel{"application", ""});
  channels.insert(channels.begin() + 2, FakeChannel{testLog, ""});
  channels[3].QueryError = kAccessDenied;  // the Defender channel
  const ScopedFakeChannelService service(channels);
  const ScopedFakeEventLogService classic({{testLog, {ClassicRecord()}, {}}});
  bool more = true;
  const std::vector<platform::EventLogName> all = platform::ListEventLogs(1000, more);
  EXPECT_FALSE(more);
  std::vector<std::string> classicLogs, channelNames;
  for (const platform::EventLogName& log : all) {
    if (log.Kind == platform::EventLogKind::kClassicLog) {
      EXPECT_TRUE(channelNames.empty()) << "the classic logs come first";
      classicLogs.push_back(log.Name);
    } else {
      EXPECT_EQ(log.Kind, platform::EventLogKind::kChannel) << log.Name;
      channelNames.push_back(log.Name);
    }
  }
  for (const std::string& name : {std::string("Application"), testLog})
    EXPECT_NE(std::find(classicLogs.begin(), classicLogs.end(), name), classicLogs.end()) << name;
  EXPECT_EQ(std::find(classicLogs.begin(), classicLogs.end(), "Parameters"), classicLogs.end());
  EXPECT_EQ(channelNames, (std::vector<std::string>{kTasks, kDefender, kPowerShell, kSessions}));

  const std::vector<platform::EventLogName> cut =
      platform::ListEventLogs(classicLogs.size() + 2, more);
  EXPECT_TRUE(more);
  ASSERT_EQ(cut.size(), classicLogs.size() + 2);
  EXPECT_EQ(cut[classicLogs.size()].Name, kTasks);
  EXPECT_EQ(cut.back().Name, kDefender);

  const platform::EventLogReadProbe tasks = platform::TryEventLogRead(kTasks);
  EXPECT_TRUE(tasks.Readable);
  const platform::EventLogReadProbe defender = platform::TryEventLogRead(kDefender);
  EXPECT_FALSE(defender.Readable);
  EXPECT_EQ(defender.Error, kAccessDenied);
  EXPECT_TRUE(platform::TryEventLogRead(testLog).Readable);
  EXPECT_EQ(service.OpenHandles(), 0);
  EXPECT_EQ(service.BadCalls(), 0);
}

}  // namespace
