// The event channels read through the Windows backend, against a stand-in for the newer event log
// interface that serves events rendered from the channels' XML (tests/data/channels): what the
// backend delivers, what the search finds and the report lines EventLog would print.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/event_record.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "platform/eventlog.h"
#include "tests/support/fake_channels.h"
#include "tests/support/protocol_data.h"

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
      {"a query cut off: the newest still found",
       cut,
       Criteria(kTasks, 201),
       {"48114 201 4 " + kTaskListing, "48113 101 1 " + kTaskListing, "broke off"},
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

}  // namespace
