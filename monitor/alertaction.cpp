#include "monitor/alertaction.h"

#include <algorithm>
#include <chrono>

#include "kit/helpers.h"
#include "kit/watch.h"
#include "monitor/pageaction.h"
#include "platform/clock.h"

core::tAlert ReportAlert(const tMyEventLogRecord& record, const tAlertContext& context) {
  core::tAlert alert;
  alert.Labels = {{"alertname", kAlertName},
                  {"host", context.HostName},
                  {"log", context.LogFile},
                  {"source", record.Source},
                  {"event_id", std::to_string(record.EventLogRecord.EventID)},
                  {"watch", context.Watch}};
  alert.Annotations = {{"message", context.Message},
                       {"report_time", core::Rfc3339Utc(context.NowUnix)}};
  const std::uint32_t generated = record.EventLogRecord.TimeGenerated;
  alert.StartsAtUnix = generated != 0 ? generated : context.NowUnix;
  alert.EndsAtUnix = std::max(alert.StartsAtUnix, context.NowUnix) + kAlertStandsSeconds;
  return alert;
}

void PostReportAlerts(const tMyEventLogRecord& record, const std::string& logFile,
                      const std::vector<tAlertmanager>& alertmanagers) {
  if (alertmanagers.empty()) return;
  tAlertContext context;
  context.HostName = GetHostName();
  context.LogFile = logFile;
  context.Watch = WatchName();
  context.Message = PageMessage(Now(), context.HostName, record);
  context.NowUnix = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  const std::string body = core::AlertsBody(ReportAlert(record, context));
  for (const tAlertmanager& alertmanager : alertmanagers) PostAlert(alertmanager.Url, body);
}
