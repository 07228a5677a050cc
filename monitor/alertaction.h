// The alert posts: with ALERTMANAGER_URL set, a reported record also becomes one alert posted to
// every Alertmanager listed, beside the settings' action (or alone, when the action is not the
// page).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/alert_json.h"
#include "monitor/eventsearch.h"
#include "paging/alertpost.h"

// The alert's name: every report of EventLog is this one kind of alert.
inline constexpr char kAlertName[] = "EventLogEvent";

// How long after its start (or after the report, when that is later) an alert stands before
// Alertmanager resolves it by itself: EventLog never posts an end of its own.
inline constexpr std::int64_t kAlertStandsSeconds = 3600;

// What the alert says beside the record.
struct tAlertContext {
  std::string HostName;
  std::string LogFile;       // the settings' log
  std::string Watch;         // WatchName()
  std::string Message;       // the page's message text
  std::int64_t NowUnix = 0;  // the report's moment, seconds since 1970 (UTC)
};

// Labels alertname, host, log, source, event_id, watch; annotations message and report_time
// (RFC 3339, UTC); startsAt the record's generation (the report's moment when it has none),
// endsAt kAlertStandsSeconds after the later of the two.
core::tAlert ReportAlert(const tMyEventLogRecord& record, const tAlertContext& context);

// Posts the record's alert to each Alertmanager in turn; each outcome stays in the poster's
// entries, reports and counts.
void PostReportAlerts(const tMyEventLogRecord& record, const std::string& logFile,
                      const std::vector<tAlertmanager>& alertmanagers);
