// The liveness file: its text (core/liveness_text), its writing with the run's counts and the
// log entries of a failed write (monitor/liveness), and how the service reads those entries.
#include "monitor/liveness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "core/liveness_text.h"
#include "kit/records.h"
#include "kit/watch.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"
#include "tools/service/log_entries.h"

namespace {

TEST(LivenessText, LabelValuesAreEscapedAndValidUtf8) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"System", "System"},
      {"a\\b", "a\\\\b"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"two\nlines", "two\\nlines"},
      {"tab\tand\rCR", "tab\tand\rCR"},
      {"\xC3\xA9v\xC3\xA8nement \xE2\x82\xAC", "\xC3\xA9v\xC3\xA8nement \xE2\x82\xAC"},
      {"Latin-1 \xE9t\xE9", "Latin-1 ?t?"},
      {"cut \xE2\x82", "cut ??"},
      {"overlong \xC0\xAF", "overlong ??"},
      {"\xFF\"\\", "?\\\"\\\\"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(core::LabelValueText(c.in), c.out) << c.in;
}

TEST(LivenessText, SecondsHaveThreeDecimals) {
  struct Case {
    double in;
    std::string out;
  } cases[] = {{0, "0.000"},
               {1507566240.125, "1507566240.125"},
               {1765375000.5, "1765375000.500"},
               {-1, "-1.000"},
               {std::numeric_limits<double>::infinity(), "0.000"}};
  for (const Case& c : cases) EXPECT_EQ(core::SecondsText(c.in), c.out) << c.in;
}

TEST(LivenessText, WholeFileWithEveryFamilyAndTheWatchOnEverySeries) {
  core::tLivenessFigures figures;
  figures.Watch = "mail \"MX\"";
  figures.Log = "Application";
  figures.EventID = 7036;
  figures.Host = "node1";
  figures.Version = "201710091624";
  figures.StartUnix = 1507566240.125;
  figures.Sleep = 60;
  figures.LastCycleEndUnix = 1507566300.5;
  figures.Cycles = 2;
  figures.Reports = 3;
  figures.PagesAccepted = 4;
  figures.PagesRefused = 5;
  figures.PagesFailed = 6;
  figures.AlertPostsAccepted = 7;
  figures.AlertPostsFailed = 8;
  const std::string w = "watch=\"mail \\\"MX\\\"\"";
  EXPECT_EQ(
      core::LivenessText(figures),
      "# HELP eventlog_watch_info The watch this EventLog serves: the log it searches, the event "
      "ID it looks for (0: any), the computer and EventLog's version. Always 1.\n"
      "# TYPE eventlog_watch_info gauge\n"
      "eventlog_watch_info{" +
          w +
          ",log=\"Application\",event_id=\"7036\",host=\"node1\",version=\"201710091624\"} 1\n"
          "# HELP eventlog_start_time_seconds When this run of EventLog started, in seconds since "
          "1970 (UTC).\n"
          "# TYPE eventlog_start_time_seconds gauge\n"
          "eventlog_start_time_seconds{" +
          w +
          "} 1507566240.125\n"
          "# HELP eventlog_sleep_seconds The Sleep setting: seconds between two cycles; 0 or less "
          "runs one cycle only.\n"
          "# TYPE eventlog_sleep_seconds gauge\n"
          "eventlog_sleep_seconds{" +
          w +
          "} 60\n"
          "# HELP eventlog_last_cycle_timestamp_seconds When the last cycle (search, report, page, "
          "alert posts) ended, in seconds since 1970 (UTC); 0 before the first.\n"
          "# TYPE eventlog_last_cycle_timestamp_seconds gauge\n"
          "eventlog_last_cycle_timestamp_seconds{" +
          w +
          "} 1507566300.500\n"
          "# HELP eventlog_cycles_total Cycles ended since the start.\n"
          "# TYPE eventlog_cycles_total counter\n"
          "eventlog_cycles_total{" +
          w +
          "} 2\n"
          "# HELP eventlog_reports_total Events reported since the start.\n"
          "# TYPE eventlog_reports_total counter\n"
          "eventlog_reports_total{" +
          w +
          "} 3\n"
          "# HELP eventlog_pages_total Pages since the start by outcome: accepted by the gateway, "
          "refused (its answer lacked the success text) or failed (no answer).\n"
          "# TYPE eventlog_pages_total counter\n"
          "eventlog_pages_total{" +
          w +
          ",outcome=\"accepted\"} 4\n"
          "eventlog_pages_total{" +
          w +
          ",outcome=\"refused\"} 5\n"
          "eventlog_pages_total{" +
          w +
          ",outcome=\"failed\"} 6\n"
          "# HELP eventlog_alert_posts_total Alert posts to Alertmanager since the start by "
          "outcome: accepted or failed.\n"
          "# TYPE eventlog_alert_posts_total counter\n"
          "eventlog_alert_posts_total{" +
          w +
          ",outcome=\"accepted\"} 7\n"
          "eventlog_alert_posts_total{" +
          w + ",outcome=\"failed\"} 8\n");
}

// The codes of the kit's daily log lines, in order.
std::vector<std::string> LoggedCodes(const std::string& base) {
  std::vector<std::string> codes;
  const std::string text = FileOrNothing(TodaysFile(base));
  static const std::regex kCode(R"(,(\d{5}),")");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kCode);
       it != std::sregex_iterator(); ++it)
    codes.push_back((*it)[1]);
  return codes;
}

// A write that fails is said once (40500), not every cycle; after a write succeeds it is said
// that the file is written again (50500), and the next failure is said anew.
TEST(LivenessFile, FailureSaidOnceAndAgainAfterASuccess) {
  TemporaryDirectory dir;
  ScopedGlobalSettings kept;
  GlobalSettings = tGlobalSettings{};
  GlobalSettings.Log.FileName = dir.File("applog");
  GlobalSettings.Log.Level = 5;
  ScopedValue<tRunCounters> counters(RunCounters);
  RunCounters = tRunCounters{};
  const std::string folder = dir.File("textfile");
  const std::string name = folder + "/eventlog.prom";
  ScopedEnvironment metrics("EVENTLOG_METRICS_FILE", name.c_str());
  ScopedEnvironment watch("EVENTLOG_WATCH", "web");
  tEventSearchRecord settings;
  settings.LogFile = "System";
  settings.EventID = 105;
  settings.Sleep = 30;
  tLivenessFile file = LivenessFileFromEnvironment(settings, "201710091624", 1000.25);
  ASSERT_EQ(file.FileName, name);

  struct Step {
    bool folderThere;
    std::vector<std::string> codesAfter;
  } steps[] = {
      {false, {"40500"}},         {false, {"40500"}},         {false, {"40500"}},
      {true, {"40500", "50500"}}, {true, {"40500", "50500"}}, {false, {"40500", "50500", "40500"}},
  };
  int i = 0;
  for (const Step& step : steps) {
    std::filesystem::remove_all(folder);
    if (step.folderThere) std::filesystem::create_directory(folder);
    ++RunCounters.Cycles;
    WriteLivenessFile(file);
    EXPECT_EQ(LoggedCodes(dir.File("applog")), step.codesAfter) << "step " << i;
    EXPECT_EQ(PathExists(name), step.folderThere) << "step " << i;
    if (step.folderThere) {
      core::tLivenessFigures expected = file.Figures;
      EXPECT_EQ(expected.Watch, "web");
      EXPECT_EQ(expected.Log, "System");
      EXPECT_EQ(expected.EventID, 105);
      EXPECT_EQ(expected.Sleep, 30);
      EXPECT_EQ(expected.StartUnix, 1000.25);
      EXPECT_EQ(expected.Cycles, i + 1);
      EXPECT_EQ(ReadFileBytes(name), core::LivenessText(expected));
      EXPECT_FALSE(PathExists(name + ".tmp"));
    }
    ++i;
  }
  const std::string log = ReadFileBytes(TodaysFile(dir.File("applog")));
  EXPECT_NE(log.find("40500,\"[Function=EventLog.Liveness][Note=the liveness file could not be "
                     "written][Filename=" +
                     name + "][Reason=" + name + ".tmp: "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("50500,\"[Function=EventLog.Liveness][Note=the liveness file is written "
                     "again][Filename=" +
                     name + "]\""),
            std::string::npos)
      << log;
}

TEST(LivenessFile, NoneWithoutTheVariable) {
  ScopedEnvironment metrics("EVENTLOG_METRICS_FILE", "");
  EXPECT_EQ(LivenessFileFromEnvironment(tEventSearchRecord{}, "v", 0).FileName, "");
  ScopedEnvironment unset("EVENTLOG_METRICS_FILE", nullptr);
  EXPECT_EQ(LivenessFileFromEnvironment(tEventSearchRecord{}, "v", 0).FileName, "");
}

TEST(LivenessEntries, TheServiceSaysThemAtTheirPriority) {
  using service::Priority;
  struct Case {
    std::string code, text;
    Priority level;
    std::string said;
  } cases[] = {
      {"40500", LivenessUnwrittenText("/m/e.prom", "/m/e.prom.tmp: No such file or directory"),
       Priority::Warning,
       "liveness file /m/e.prom could not be written (/m/e.prom.tmp: No such file or directory); "
       "paging goes on"},
      {"50500", LivenessWrittenAgainText("/m/e.prom"), Priority::Info,
       "liveness file /m/e.prom is written again"},
      // Not the shape: shown whole, at the level's priority.
      {"40500", "[Function=EventLog.Liveness][Note=other]", Priority::Warning,
       "log entry 40500: [Function=EventLog.Liveness][Note=other]"},
      {"50500", LivenessUnwrittenText("/m/e.prom", "r"), Priority::Info,
       "log entry 50500: " + LivenessUnwrittenText("/m/e.prom", "r")},
  };
  for (const Case& c : cases) {
    std::string refused;
    const service::JournalEntry entry = service::ReadLogEntry(c.code, c.text, refused);
    EXPECT_EQ(entry.Level, c.level) << c.text;
    EXPECT_EQ(entry.Text, c.said);
    EXPECT_EQ(entry.Kind, service::EntryKind::Other);
    EXPECT_EQ(entry.Parts, (std::vector<std::string>{c.code, c.text}));
  }
}

}  // namespace
