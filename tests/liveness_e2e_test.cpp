// The liveness file of a real EventLog run (EVENTLOG_METRICS_FILE) against a loopback gateway:
// its exact text apart from the times, its state before the first cycle ends, a folder that
// cannot take it; promtool's lint of what EventLog wrote, the alert rules with their unit tests,
// the Alertmanager route through amtool; and eventlog-check's findings on the variable.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "kit/helpers.h"
#include "tests/support/held_file_lock.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;
const std::string kAccepted = ProtocolBytes("answers/accepted.txt");
constexpr char kRefused[] = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nno pager";
constexpr char kPageSettings[] =
    "<LogFile>System</LogFile><EventID>7036</EventID>"
    "<Action>page</Action>";

ServerScript Answering(const std::string& response) {
  ServerScript script;
  script.Steps = {{response}};
  return script;
}

std::optional<std::string> Tool(const std::string& name) {
  for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
    if (PathExists(std::string(folder) + name)) return std::string(folder) + name;
  return std::nullopt;
}

ProcessResult RunTool(const std::string& tool, std::vector<std::string> arguments,
                      const std::string& input = "", const std::string& folder = "") {
  ProcessRun run;
  run.Executable = tool;
  run.Arguments = std::move(arguments);
  run.Input = input;
  run.WorkingDirectory = folder;
  return RunProcess(run);
}

// The file with its three times replaced by "{start}", "{cycle}" (or "0.000" before the
// first cycle), once each time was checked to lie between the test's clock readings.
std::string WithoutTimes(std::string text, double before, double after) {
  static const std::regex kTime(
      R"(^(eventlog_(start_time|last_cycle_timestamp)_seconds\{[^}]*\} )(\d+\.\d{3})$)");
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::smatch match;
    if (std::regex_match(line, match, kTime) && match[3] != "0.000") {
      const double value = std::stod(match[3]);
      const std::string name = match[2] == "start_time" ? "{start}" : "{cycle}";
      line = match[1].str() + (value >= before - 0.001 && value <= after + 0.001
                                   ? name
                                   : "out of the run: " + match[3].str());
    }
    out += line + (end < text.size() ? "\n" : "");
    start = end + 1;
  }
  return out;
}

double UnixSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Expected(const std::string& watch, const std::string& log, const std::string& id,
                     int sleep, const std::string& cycleTime, const std::vector<int>& counts) {
  const std::string w = "watch=\"" + watch + "\"";
  return "# HELP eventlog_watch_info The watch this EventLog serves: the log it searches, the "
         "event ID it looks for (0: any), the computer and EventLog's version. Always 1.\n"
         "# TYPE eventlog_watch_info gauge\n"
         "eventlog_watch_info{" +
         w + ",log=\"" + log + "\",event_id=\"" + id + "\",host=\"" + GetHostName() +
         "\",version=\"201710091624\"} 1\n"
         "# HELP eventlog_start_time_seconds When this run of EventLog started, in seconds since "
         "1970 (UTC).\n"
         "# TYPE eventlog_start_time_seconds gauge\n"
         "eventlog_start_time_seconds{" +
         w +
         "} {start}\n"
         "# HELP eventlog_sleep_seconds The Sleep setting: seconds between two cycles; 0 or less "
         "runs one cycle only.\n"
         "# TYPE eventlog_sleep_seconds gauge\n"
         "eventlog_sleep_seconds{" +
         w + "} " + std::to_string(sleep) +
         "\n"
         "# HELP eventlog_last_cycle_timestamp_seconds When the last cycle (search, report, page, "
         "alert posts) ended, in seconds since 1970 (UTC); 0 before the first.\n"
         "# TYPE eventlog_last_cycle_timestamp_seconds gauge\n"
         "eventlog_last_cycle_timestamp_seconds{" +
         w + "} " + cycleTime +
         "\n"
         "# HELP eventlog_cycles_total Cycles ended since the start.\n"
         "# TYPE eventlog_cycles_total counter\n"
         "eventlog_cycles_total{" +
         w + "} " + std::to_string(counts[0]) +
         "\n"
         "# HELP eventlog_reports_total Events reported since the start.\n"
         "# TYPE eventlog_reports_total counter\n"
         "eventlog_reports_total{" +
         w + "} " + std::to_string(counts[1]) +
         "\n"
         "# HELP eventlog_pages_total Pages since the start by outcome: accepted by the gateway, "
         "refused (its answer lacked the success text) or failed (no answer).\n"
         "# TYPE eventlog_pages_total counter\n"
         "eventlog_pages_total{" +
         w + ",outcome=\"accepted\"} " + std::to_string(counts[2]) + "\neventlog_pages_total{" + w +
         ",outcome=\"refused\"} " + std::to_string(counts[3]) + "\neventlog_pages_total{" + w +
         ",outcome=\"failed\"} " + std::to_string(counts[4]) +
         "\n"
         "# HELP eventlog_alert_posts_total Alert posts to Alertmanager since the start by "
         "outcome: accepted or failed.\n"
         "# TYPE eventlog_alert_posts_total counter\n"
         "eventlog_alert_posts_total{" +
         w + ",outcome=\"accepted\"} 0\neventlog_alert_posts_total{" + w +
         ",outcome=\"failed\"} 0\n";
}

// EventLog run from work/, its .evt logs in logs/.
class LivenessEndToEnd : public ::testing::Test {
 protected:
  LivenessEndToEnd() {
    fs::create_directory(Work());
    fs::create_directory(directory_.File("textfile"));
  }
  std::string Work() const { return directory_.File("work"); }
  std::string Logs() const { return directory_.File("logs"); }
  std::string MetricsFile() const { return directory_.File("textfile/eventlog.prom"); }

  void Write(const std::string& id = "7036") {
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    run.Arguments = {"--dir",    Logs(),
                     "--log",    "System",
                     "--source", "Service Control Manager",
                     "--id",     id,
                     "--time",   std::to_string(kOctoberNinth),
                     "--string", "entered"};
    ProcessResult result = RunProcess(run);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }
  void Settings(const std::string& xml) { WriteFileBytes(Work() + "/EventLog.XML", xml); }

  ProcessResult Run(const std::string& gateway, std::map<std::string, std::string> environment,
                    ProcessRun run = {}) {
    if (run.Executable.empty()) run.Executable = EVENTLOG_EXE;
    run.WorkingDirectory = Work();
    run.RemovedVariables = {"LC_ALL",
                            "LC_TIME",
                            "LC_NUMERIC",
                            "LC_CTYPE",
                            "LANGUAGE",
                            "EVENTLOG_WATCH",
                            "EVENTLOG_LOG_LEVEL",
                            "EVENTLOG_METRICS_FILE",
                            "EVENTLOG_STATE_FILE"};
    run.Environment = std::move(environment);
    run.Environment.emplace("EVENTLOG_DIR", Logs());
    run.Environment.emplace("TZ", "UTC");
    run.Environment.emplace("LANG", "C");
    run.Environment.emplace("PAGING_GATEWAY_HOST", gateway);
    return RunProcess(run);
  }

  // promtool's lint of the file: no finding at all.
  void ExpectPromtoolPasses(const std::string& text) {
    const auto promtool = Tool("promtool");
    if (!promtool) {
      std::cout << "promtool (Debian package prometheus) is missing: its lint is skipped\n";
      return;
    }
    const ProcessResult lint = RunTool(*promtool, {"check", "metrics"}, text);
    EXPECT_EQ(lint.ExitCode, 0) << lint.Output << lint.Errors;
    EXPECT_EQ(lint.Output + lint.Errors, "") << text;
  }

  TemporaryDirectory directory_;
};

// One cycle that pages: the file after it, byte for byte apart from the times; the console is
// the one of a run without the variable.
TEST_F(LivenessEndToEnd, AOneShotRunThatPagesLeavesItsCountsAndTheConsoleAsItWas) {
  Write();
  Settings(kPageSettings);
  LoopbackServer plain(Answering(kAccepted));
  const ProcessResult without = Run(plain.HostAndPort(), {});
  LoopbackServer gateway(Answering(kAccepted));
  const double before = UnixSeconds();
  const ProcessResult with = Run(gateway.HostAndPort(), {{"EVENTLOG_METRICS_FILE", MetricsFile()},
                                                         {"EVENTLOG_WATCH", "mail \"MX\"\\1"}});
  const double after = UnixSeconds();
  ASSERT_EQ(with.ExitCode, 0) << with.Output << with.Errors;
  EXPECT_EQ(with.Errors, "");
  // The report's first line is the time of the run: the rest is the same.
  auto afterTime = [](const std::string& output) {
    const std::size_t line = output.find("\r\n", output.find("\r\n\r\n") + 4);
    return output.substr(line);
  };
  EXPECT_EQ(afterTime(with.Output), afterTime(without.Output));
  EXPECT_NE(with.Output.find("MyEventLogRecord.Action=page\r\n"), std::string::npos);
  EXPECT_EQ(gateway.Requests().size(), 1u);
  const std::string text = ReadFileBytes(MetricsFile());
  EXPECT_EQ(WithoutTimes(text, before, after),
            Expected("mail \\\"MX\\\"\\\\1", "System", "7036", 0, "{cycle}", {1, 1, 1, 0, 0}));
  EXPECT_FALSE(PathExists(MetricsFile() + ".tmp"));
  ExpectPromtoolPasses(text);
}

// The file is there before the first cycle ends (its search waits for a writer's lock), with
// nothing counted; after the cycle it counts the report and the refused page.
TEST_F(LivenessEndToEnd, TheFileIsWrittenAtStartAndAfterEachCycle) {
  Write();
  Settings(std::string(kPageSettings) + "<Sleep>1</Sleep>");
  LoopbackServer gateway(Answering(kRefused));
  HeldFileLock writer(Logs() + "/System.evt.lock", 1500ms);
  ASSERT_TRUE(writer.Held());
  std::string first, later;
  ProcessRun run;
  run.RequestWhen = [&](const std::string&, const std::string&) {
    if (!PathExists(MetricsFile())) return false;
    const std::string text = ReadFileBytes(MetricsFile());
    if (first.empty()) first = text;
    later = text;
    return text.find("eventlog_cycles_total{watch=\"default\"} 1\n") != std::string::npos;
  };
  const double before = UnixSeconds();
  const ProcessResult result =
      Run(gateway.HostAndPort(), {{"EVENTLOG_METRICS_FILE", MetricsFile()}}, run);
  const double after = UnixSeconds();
  EXPECT_EQ(result.Errors, "");
  EXPECT_EQ(WithoutTimes(first, before, after),
            Expected("default", "System", "7036", 1, "0.000", {0, 0, 0, 0, 0}));
  EXPECT_EQ(WithoutTimes(later, before, after),
            Expected("default", "System", "7036", 1, "{cycle}", {1, 1, 0, 1, 0}));
  ExpectPromtoolPasses(later);
}

// node_exporter reads the file as a user of its own: 0644 whatever the umask.
TEST_F(LivenessEndToEnd, TheFileIsReadableByEveryoneWhateverTheUmask) {
  Settings("<LogFile>System</LogFile>");
  ProcessRun run;
  run.Executable = "/bin/sh";
  run.Arguments = {"-c", "umask 077 && exec \"$0\"", EVENTLOG_EXE};
  const ProcessResult result = Run("127.0.0.1:9", {{"EVENTLOG_METRICS_FILE", MetricsFile()}}, run);
  EXPECT_EQ(result.ExitCode, 0) << result.Output << result.Errors;
  EXPECT_EQ(fs::status(MetricsFile()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

// A folder that does not exist: the page goes out and the console is unchanged; the failure is
// one log entry although both writes (start and cycle) failed.
TEST_F(LivenessEndToEnd, AFolderThatCannotTakeTheFileNeverStopsThePage) {
  Write();
  Settings(kPageSettings);
  LoopbackServer gateway(Answering(kAccepted));
  const std::string missing = directory_.File("nowhere/eventlog.prom");
  const ProcessResult result =
      Run(gateway.HostAndPort(), {{"EVENTLOG_METRICS_FILE", missing},
                                  {"EVENTLOG_LOG_LEVEL", "5"},
                                  {"EVENTLOG_LOG_FILE", directory_.File("applog")}});
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Errors, "");
  EXPECT_NE(result.Output.find("MyEventLogRecord.Action=page\r\n"), std::string::npos);
  EXPECT_EQ(gateway.Requests().size(), 1u);
  const auto logs = FilesMatching(directory_.Path(), R"(applog-\d{8}\.CSV)");
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = ReadFileBytes(directory_.File(logs[0]));
  const std::string entry =
      "40500,\"[Function=EventLog.Liveness][Note=the liveness file could "
      "not be written][Filename=" +
      missing + "][Reason=" + missing + ".tmp: No such file or directory]\"\r\n";
  const std::size_t at = log.find(entry);
  EXPECT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(entry, at + 1), std::string::npos) << log;
  EXPECT_NE(log.find(",50400,"), std::string::npos) << log;
}

const std::string kPrometheusDocs = PROMETHEUS_DIR;
const std::string kRuleTests = PROMETHEUS_TESTS_DIR;

TEST(LivenessRules, RulesLoadAndTheirUnitTestsPass) {
  const auto promtool = Tool("promtool");
  if (!promtool) GTEST_SKIP() << "promtool (Debian package prometheus) is missing";
  const ProcessResult check =
      RunTool(*promtool, {"check", "rules", kPrometheusDocs + "/eventlog.rules.yml"});
  EXPECT_EQ(check.ExitCode, 0) << check.Output << check.Errors;
  EXPECT_NE(check.Output.find("SUCCESS: 5 rules found"), std::string::npos) << check.Output;
  const ProcessResult test =
      RunTool(*promtool, {"test", "rules", "eventlog.rules.test.yml"}, "", kRuleTests);
  EXPECT_EQ(test.ExitCode, 0) << test.Output << test.Errors;
  EXPECT_NE(test.Output.find("SUCCESS"), std::string::npos) << test.Output;
}

TEST(LivenessRules, AlertmanagerRoutesEventLogAlertsToThePager) {
  const auto amtool = Tool("amtool");
  if (!amtool) GTEST_SKIP() << "amtool (Debian package prometheus-alertmanager) is missing";
  const std::string config = kPrometheusDocs + "/alertmanager.yml";
  const ProcessResult check = RunTool(*amtool, {"check-config", config});
  EXPECT_EQ(check.ExitCode, 0) << check.Output << check.Errors;
  struct Case {
    std::vector<std::string> labels;
    std::string receiver;
  } cases[] = {
      {{"alertname=EventLogEvent", "event_id=7036", "host=node1", "log=System",
        "source=Service Control Manager", "watch=web"},
       "pager"},
      {{"alertname=EventLogWatchStalled", "watch=web"}, "pager"},
      {{"alertname=EventLogWatchGone", "watch=web"}, "pager"},
      {{"alertname=EventLogNodeDown", "instance=node1:9100"}, "pager"},
      {{"alertname=EventLogPagesFailing", "outcome=failed"}, "pager"},
      {{"alertname=EventLogAlertPostsFailing", "outcome=failed"}, "pager"},
      {{"alertname=DiskFull"}, "discard"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"config", "routes", "test", "--config.file=" + config,
                                          "--verify.receivers=" + c.receiver};
    arguments.insert(arguments.end(), c.labels.begin(), c.labels.end());
    const ProcessResult route = RunTool(*amtool, arguments);
    EXPECT_EQ(route.ExitCode, 0) << c.labels[0] << ": " << route.Output << route.Errors;
    EXPECT_EQ(route.Output, c.receiver + "\n") << c.labels[0];
  }
}

// eventlog-check shows the variable; a folder that is missing or cannot take files is a warning
// (paging goes on), a name without .prom a note.
TEST(LivenessCheck, TheCheckShowsTheFileAndWarnsOfItsFolder) {
  TemporaryDirectory directory;
  fs::create_directory(directory.File("run"));
  fs::create_directory(directory.File("textfile"));
  WriteFileBytes(directory.File("run/EventLog.XML"),
                 "<LogFile>System</LogFile><EventID>7036</EventID><Sleep>60</Sleep>");
  struct Case {
    std::string value;
    std::vector<std::string> findings;  // the lines that mention the liveness file
  } cases[] = {
      {directory.File("textfile/eventlog.prom"), {}},
      {directory.File("nowhere/eventlog.prom"),
       {"note: the folder \"" + directory.File("nowhere") +
        "\" of EVENTLOG_METRICS_FILE does not exist: no liveness file is written (paging goes "
        "on); install prometheus-node-exporter or create the folder its "
        "--collector.textfile.directory names, or set EVENTLOG_METRICS_FILE empty to write none"}},
      {directory.File("textfile"),
       {"warning: EVENTLOG_METRICS_FILE=\"" + directory.File("textfile") +
        "\" names a folder: EventLog cannot write its liveness file (paging goes on); name a "
        "file in it, such as eventlog.prom"}},
      {directory.File("textfile/eventlog.txt"),
       {"note: EVENTLOG_METRICS_FILE=\"" + directory.File("textfile/eventlog.txt") +
        "\" does not end in .prom: node_exporter's textfile collector reads only *.prom files"}},
  };
  for (const Case& c : cases) {
    ProcessRun run;
    run.Executable = EVENTLOG_CHECK_EXE;
    run.WorkingDirectory = directory.File("run");
    run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_CTYPE", "LANGUAGE"};
    run.Environment = {{"EVENTLOG_DIR", directory.File("logs")},
                       {"TZ", "UTC"},
                       {"LANG", "C"},
                       {"EVENTLOG_METRICS_FILE", c.value}};
    const ProcessResult result = RunProcess(run);
    EXPECT_NE(result.Output.find("  EVENTLOG_METRICS_FILE=\"" + c.value +
                                 "\" (the liveness file for node_exporter's textfile "
                                 "collector)\n"),
              std::string::npos)
        << result.Output;
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::size_t end = result.Output.find('\n'); end != std::string::npos;
         start = end + 1, end = result.Output.find('\n', start)) {
      const std::string line = result.Output.substr(start, end - start);
      if ((line.starts_with("warning: ") || line.starts_with("note: ") ||
           line.starts_with("error: ")) &&
          line.find("EVENTLOG_METRICS_FILE") != std::string::npos)
        found.push_back(line);
    }
    EXPECT_EQ(found, c.findings) << result.Output;
  }
}

}  // namespace
