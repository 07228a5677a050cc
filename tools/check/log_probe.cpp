// The log (log_probe.h).
#include "tools/check/log_probe.h"

#include <exception>
#include <string>

#include "core/errors.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "monitor/settings_lint.h"
#include "platform/clock.h"

namespace check {

namespace {

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

}  // namespace

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

}  // namespace check
