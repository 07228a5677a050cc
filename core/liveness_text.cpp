#include "core/liveness_text.h"

#include <charconv>
#include <cmath>

#include "core/utf8.h"

namespace core {

std::string LabelValueText(std::string_view utf8) {
  const std::string valid = Utf16ToUtf8(Utf8ToUtf16(utf8));
  std::string escaped;
  escaped.reserve(valid.size());
  for (char c : valid) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

std::string SecondsText(double seconds) {
  if (!std::isfinite(seconds)) return "0.000";
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
  return std::string(buffer, result.ptr);
}

namespace {

struct tFamily {
  const char* Name;
  const char* Type;
  const char* Help;
};

void Family(std::string& text, const tFamily& family) {
  text += std::string("# HELP ") + family.Name + " " + family.Help + "\n";
  text += std::string("# TYPE ") + family.Name + " " + family.Type + "\n";
}

void Series(std::string& text, const char* name, const std::string& labels,
            const std::string& value) {
  text += std::string(name) + "{" + labels + "} " + value + "\n";
}

}  // namespace

std::string LivenessText(const tLivenessFigures& figures) {
  const std::string watch = "watch=\"" + LabelValueText(figures.Watch) + "\"";
  std::string text;
  Family(text, {"eventlog_watch_info", "gauge",
                "The watch this EventLog serves: the log it searches, the event ID it looks for "
                "(0: any), the computer and EventLog's version. Always 1."});
  Series(text, "eventlog_watch_info",
         watch + ",log=\"" + LabelValueText(figures.Log) + "\",event_id=\"" +
             std::to_string(figures.EventID) + "\",host=\"" + LabelValueText(figures.Host) +
             "\",version=\"" + LabelValueText(figures.Version) + "\"",
         "1");
  Family(text, {"eventlog_start_time_seconds", "gauge",
                "When this run of EventLog started, in seconds since 1970 (UTC)."});
  Series(text, "eventlog_start_time_seconds", watch, SecondsText(figures.StartUnix));
  Family(text, {"eventlog_sleep_seconds", "gauge",
                "The Sleep setting: seconds between two cycles; 0 or less runs one cycle only."});
  Series(text, "eventlog_sleep_seconds", watch, std::to_string(figures.Sleep));
  Family(text, {"eventlog_last_cycle_timestamp_seconds", "gauge",
                "When the last cycle (search, report, page, alert posts) ended, in seconds since "
                "1970 (UTC); 0 before the first."});
  Series(text, "eventlog_last_cycle_timestamp_seconds", watch,
         SecondsText(figures.LastCycleEndUnix));
  Family(text, {"eventlog_cycles_total", "counter", "Cycles ended since the start."});
  Series(text, "eventlog_cycles_total", watch, std::to_string(figures.Cycles));
  Family(text, {"eventlog_reports_total", "counter", "Events reported since the start."});
  Series(text, "eventlog_reports_total", watch, std::to_string(figures.Reports));
  Family(text, {"eventlog_pages_total", "counter",
                "Pages since the start by outcome: accepted by the gateway, refused (its answer "
                "lacked the success text) or failed (no answer)."});
  Series(text, "eventlog_pages_total", watch + ",outcome=\"accepted\"",
         std::to_string(figures.PagesAccepted));
  Series(text, "eventlog_pages_total", watch + ",outcome=\"refused\"",
         std::to_string(figures.PagesRefused));
  Series(text, "eventlog_pages_total", watch + ",outcome=\"failed\"",
         std::to_string(figures.PagesFailed));
  Family(text, {"eventlog_alert_posts_total", "counter",
                "Alert posts to Alertmanager since the start by outcome: accepted or failed."});
  Series(text, "eventlog_alert_posts_total", watch + ",outcome=\"accepted\"",
         std::to_string(figures.AlertPostsAccepted));
  Series(text, "eventlog_alert_posts_total", watch + ",outcome=\"failed\"",
         std::to_string(figures.AlertPostsFailed));
  return text;
}

}  // namespace core
