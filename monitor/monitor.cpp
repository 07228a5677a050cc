#include "monitor/monitor.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "core/errors.h"
#include "kit/watch.h"
#include "monitor/actions.h"
#include "monitor/alertaction.h"
#include "monitor/delivery_state.h"
#include "monitor/liveness.h"
#include "monitor/settings.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/signals.h"

tEventSearchRecord EventSearchRecord;
tMyEventLogRecord MyEventLogRecord;

namespace {

constexpr char kVersion[] = "201710091624";

// No step of the monitor moves its progress marker.
constexpr std::int32_t Trace = 0;

void ReadSettingsFile(tEventSearchRecord& settings) {
  ApplySettingsText(ReadSettingsText(kSettingsFileName), settings);
}

void AskSettings(tEventSearchRecord& settings) {
  ConsoleWrite("Logfile (Application): ");
  settings.LogFile = ConsoleReadLine();
  ConsoleWrite("Event ID (0): ");
  std::string eventId = ConsoleReadLine();
  settings.EventID = eventId.empty() ? 0 : StrToIntOrZero(eventId);
  ConsoleWrite("Source: ");
  settings.Source = ConsoleReadLine();
}

// Prints the report and returns the time its first line shows.
TDateTime Report(tEventSearchRecord& settings, const tMyEventLogRecord& record) {
  const TDateTime reported = Now();
  ConsoleWriteLine(DateTimeToStrOrEmpty(reported));
  for (const std::string& line : ReportRecordLines(record, settings.Action)) ConsoleWriteLine(line);
  settings.LoggedAfter = Now();
  return reported;
}

void RunCycle(tEventSearchRecord& settings, tMyEventLogRecord& record, ReportAction action,
              const std::vector<tAlertmanager>& alertmanagers, tDeliveryStateKeeper& state,
              tSearchMemory* memory, tLivenessFile& liveness) {
  RetryDeliveryState(state);
  const bool reports = CycleFindsReport(settings, record, memory);
  ConsoleWriteLine("");
  if (reports) {
    const TDateTime generated = record.TimeGeneratedAsDateTime;
    KeepPendingReport(state, generated);
    const TDateTime reported = Report(settings, record);
    ++RunCounters.Reports;
    // A request to stop waits until the page exchange (bounded by the client's limits) and the
    // state after it are done, so that a page is never cut short without a trace.
    const StopRequestsHeld held;
    // After the report and the new LoggedAfter: a page that fails is not tried again.
    if (action != nullptr) action(record);
    // Then the alert to each Alertmanager listed (ALERTMANAGER_URL), also bounded by the limits.
    PostReportAlerts(record, settings.LogFile, alertmanagers);
    KeepFinishedReport(state, reported, generated, Now());
  } else {
    ConsoleWriteLine("No events found.");
  }
  if (settings.Sleep > 0)
    ConsoleWriteLine("Sleeping for " + std::to_string(settings.Sleep) + " seconds.");
  // The cycle has ended: its search, report, page and posts are done; the wait is not part of it.
  ++RunCounters.Cycles;
  RunCounters.LastCycleEndUnix = UnixNow();
  WriteLivenessFile(liveness);
  platform::SleepMilliseconds(CycleWaitMilliseconds(settings.Sleep));
}

void Monitor(StartUpStep readKitSettings) {
  const double started = UnixNow();
  ConsoleWriteLine(std::string("Version: ") + kVersion);
  if (readKitSettings) readKitSettings();
  if (platform::FileExists(kSettingsFileName))
    ReadSettingsFile(EventSearchRecord);
  else
    AskSettings(EventSearchRecord);
  if (EventSearchRecord.LogFile.empty()) EventSearchRecord.LogFile = kDefaultLogName;
  tDeliveryStateKeeper state = DeliveryStateKeeperFromEnvironment(EventSearchRecord.LoggedAfter);
  // Written before the first cycle, so that the watch is seen before its first search ends.
  tLivenessFile liveness = LivenessFileFromEnvironment(EventSearchRecord, kVersion, started);
  WriteLivenessFile(liveness);
  // The settings' action is looked up once; the cycles run what it names.
  const ReportAction action = ActionFor(EventSearchRecord.Action);
  const std::vector<tAlertmanager> alertmanagers = AlertmanagersFromEnvironment();
  bool repeats = EventSearchRecord.Sleep > 0;
  // What each search found, so that the next reads only what the log gained meanwhile.
  tSearchMemory memory;
  tSearchMemory* const remembered = WholeSearchRequested() ? nullptr : &memory;
  do {
    RunCycle(EventSearchRecord, MyEventLogRecord, action, alertmanagers, state, remembered, liveness);
  } while (repeats);
}

}  // namespace

bool CycleFindsReport(const tEventSearchRecord& settings, tMyEventLogRecord& record,
                      tSearchMemory* memory) {
  const bool matched = memory != nullptr ? FindLatestEventSince(settings, *memory, record)
                                         : FindLatestEvent(settings, record);
  // Only a match of this very search is reported; an earlier cycle's match never is again.
  return matched && record.TimeGeneratedAsDateTime > settings.LoggedAfter;
}

bool WholeSearchRequested() {
  const char* value = std::getenv("EVENTLOG_WHOLE_SEARCH");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

std::vector<std::string> ReportRecordLines(const tMyEventLogRecord& record,
                                           const std::string& action) {
  return {
      "MyEventLogRecord.EventLogRecord.EventID=" + std::to_string(record.EventLogRecord.EventID),
      "MyEventLogRecord.Source=" + record.Source,
      "MyEventLogRecord.TimeGeneratedAsDateTime=" +
          DateTimeToStrOrEmpty(record.TimeGeneratedAsDateTime),
      "MyEventLogRecord.Details=" + record.Details, "MyEventLogRecord.Action=" + action};
}

std::uint32_t CycleWaitMilliseconds(std::int32_t sleepSeconds) {
  constexpr std::uint32_t kLongest = std::numeric_limits<std::uint32_t>::max();
  if (sleepSeconds <= 0) return 0;
  if (static_cast<std::uint64_t>(sleepSeconds) * 1000 > kLongest) return kLongest;
  return static_cast<std::uint32_t>(sleepSeconds) * 1000;
}

int RunMonitor(StartUpStep readKitSettings) {
  try {
    Monitor(readKitSettings);
    return 0;
  } catch (const std::exception& failure) {
    FailureDescription description = DescribeFailure(failure);
    try {
      ConsoleWriteLine("Error: " + description.Message + " (" + description.ClassName +
                       ") Trace=" + std::to_string(Trace));
    } catch (const std::exception&) {
      // Standard output itself failed: there is nowhere left to say so.
    }
    return 1;
  }
}
