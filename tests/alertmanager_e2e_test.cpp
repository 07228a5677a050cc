// Alerts posted to the real Alertmanager (Debian's prometheus-alertmanager) on loopback: a built
// EventLog's report listed by the Alertmanager with its labels and annotations; a cluster of two
// with one instance stopped; and a storm of 1,000 posts grouped into one notification to a
// webhook receiver. Each test skips when the Alertmanager is not installed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/alert_json.h"
#include "kit/helpers.h"
#include "kit/watch.h"
#include "monitor/alertaction.h"
#include "paging/alertpost.h"
#include "paging/httpclient.h"
#include "tests/support/background_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kAlertmanager[] = "/usr/bin/prometheus-alertmanager";
// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;

#define SKIP_WITHOUT_ALERTMANAGER() \
  if (!fs::exists(kAlertmanager))   \
  GTEST_SKIP() << kAlertmanager << " is not installed (Debian package prometheus-alertmanager)"

// A port of 127.0.0.1 that was free a moment ago.
std::uint16_t FreePort() {
  LoopbackServer server{ServerScript{}};
  return server.Port();
}

// One GET; the status code, -1 when no answer came.
int GetStatus(const std::string& url, std::string* body = nullptr) {
  try {
    THttpClient client;
    client.Limits.ConnectMilliseconds = 1000;
    client.Limits.WaitMilliseconds = 2000;
    const std::string answer = client.Get(url);
    if (body) *body = answer;
    return client.Response().StatusCode;
  } catch (const std::exception&) {
    return -1;
  }
}

// One Alertmanager on loopback with its configuration and storage in a temporary directory.
class Alertmanager {
 public:
  // The configuration's text; cluster peers as "127.0.0.1:port", none: no cluster.
  Alertmanager(const std::string& config, std::uint16_t clusterPort = 0,
               const std::vector<std::uint16_t>& peers = {})
      : port_(FreePort()) {
    WriteFileBytes(directory_.File("alertmanager.yml"), config);
    std::vector<std::string> arguments = {
        "--config.file=" + directory_.File("alertmanager.yml"),
        "--storage.path=" + directory_.File("data"),
        "--web.listen-address=127.0.0.1:" + std::to_string(port_),
        "--cluster.listen-address=" +
            (clusterPort ? "127.0.0.1:" + std::to_string(clusterPort) : std::string())};
    for (std::uint16_t peer : peers)
      arguments.push_back("--cluster.peer=127.0.0.1:" + std::to_string(peer));
    std::string error;
    started_ = process_.Start(kAlertmanager, arguments, directory_.File("output.txt"), error);
    if (!started_) problem_ = error;
  }

  // Waits until GET /api/v2/status answers 200; false (with the output) when it does not in time.
  bool Ready() {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (started_ && Clock::now() < end) {
      if (GetStatus(Base() + "/api/v2/status") == 200) return true;
      if (!process_.Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    problem_ += ReadFileBytes(directory_.File("output.txt"));
    return false;
  }

  void Stop() { process_.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5)); }

  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::string& Problem() const { return problem_; }

  // GET /api/v2/alerts, polled until it lists something or the time is up.
  std::string Alerts() const {
    std::string body;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
      if (GetStatus(Base() + "/api/v2/alerts", &body) == 200 && body != "[]") return body;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return body;
  }

 private:
  TemporaryDirectory directory_;
  std::uint16_t port_;
  BackgroundProcess process_;
  bool started_ = false;
  std::string problem_;
};

constexpr char kQuietConfig[] = "route:\n  receiver: quiet\nreceivers:\n  - name: quiet\n";

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// The labels object of the one alert listed, as JSON text.
std::string LabelsOf(const std::string& alerts) {
  std::smatch match;
  if (!std::regex_search(alerts, match, std::regex(R"("labels":(\{[^}]*\}))"))) return "";
  return match[1];
}

// An installation of EventLog as the paging end-to-end tests lay it out: bin/, work/, logs/.
class Installation {
 public:
  Installation() {
    fs::create_directory(directory_.File("bin"));
    fs::create_directory(Work());
    fs::copy_file(EVENTLOG_EXE, Program());
    fs::permissions(Program(), fs::perms::owner_all, fs::perm_options::add);
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    run.Environment = {{"LC_ALL", "C.UTF-8"}};
    run.Arguments = {"--dir",    directory_.File("logs"),       "--log",    "System",
                     "--source", "Service \"Control\" Manager", "--id",     "7036",
                     "--time",   std::to_string(kOctoberNinth), "--string", "running"};
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Errors;
    WriteFileBytes(Work() + "/EventLog.XML",
                   "<?xml version=\"1.0\"?>\r\n<EventLog>\r\n  <LogFile>System</LogFile>\r\n"
                   "  <Action>Page</Action>\r\n</EventLog>\r\n");
  }
  std::string Work() const { return directory_.File("work"); }
  std::string Bin() const { return directory_.File("bin"); }
  std::string Program() const { return directory_.File("bin") + "/EventLog"; }
  std::string LogText() const {
    std::string text;
    for (const auto& file : FilesMatching(Work(), R"(events-\d{8}\.CSV)"))
      text += ReadFileBytes(Work() + "/" + file);
    return text;
  }

  ProcessResult Run(const std::string& alertmanagers, const std::string& gateway) {
    ProcessRun run;
    run.Executable = Program();
    run.WorkingDirectory = Work();
    run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE", "LANGUAGE"};
    run.Environment = {{"EVENTLOG_DIR", directory_.File("logs")},
                       {"TZ", "UTC"},
                       {"LANG", "C"},
                       {"PAGING_GATEWAY_HOST", gateway},
                       {"ALERTMANAGER_URL", alertmanagers},
                       {"EVENTLOG_WATCH", "spooler"},
                       {"EVENTLOG_LOG_LEVEL", "9"},
                       {"EVENTLOG_LOG_FILE", Work() + "/events"}};
    return RunProcess(run);
  }

  // eventlog-check --probe of the installation, with that list of Alertmanagers.
  ProcessResult Check(const std::string& alertmanagers, const std::string& gateway) {
    ProcessRun run;
    run.Executable = EVENTLOG_CHECK_EXE;
    run.Arguments = {"--probe", Work()};
    run.Environment = {{"EVENTLOG_DIR", directory_.File("logs")},
                       {"PAGING_GATEWAY_HOST", gateway},
                       {"ALERTMANAGER_URL", alertmanagers}};
    return RunProcess(run);
  }

 private:
  TemporaryDirectory directory_;
};

ServerScript Accepting(const std::string& body) {
  ServerScript script;
  script.Steps = {
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body}};
  return script;
}

// The console of the run without its first report line (the report's own time).
std::string ConsoleAfterTime(const std::string& output) {
  const std::size_t start = output.find("\r\n\r\n");
  const std::size_t end = start == std::string::npos ? start : output.find("\r\n", start + 4);
  return end == std::string::npos ? output : output.substr(0, start + 4) + output.substr(end + 2);
}

constexpr char kConsole[] =
    "Version: 201710091624\r\n\r\n"
    "MyEventLogRecord.EventLogRecord.EventID=7036\r\n"
    "MyEventLogRecord.Source=Service \"Control\" Manager\r\n"
    "MyEventLogRecord.TimeGeneratedAsDateTime=10/9/17 4:24:00 pm\r\n"
    "MyEventLogRecord.Details=running\r\nMyEventLogRecord.Action=page\r\n";

TEST(AlertmanagerEndToEnd, AReportIsListedWithItsSixLabelsAndItsAnnotations) {
  SKIP_WITHOUT_ALERTMANAGER();
  Alertmanager alertmanager(kQuietConfig);
  ASSERT_TRUE(alertmanager.Ready()) << alertmanager.Problem();
  LoopbackServer gateway(Accepting("Message succesfully sent"));
  Installation eventLog;
  const ProcessResult result = eventLog.Run(alertmanager.Base() + "/", gateway.HostAndPort());
  EXPECT_EQ(ConsoleAfterTime(result.Output), kConsole);
  EXPECT_EQ(result.Errors, "");
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(gateway.Requests().size(), 1u);

  const std::string alerts = alertmanager.Alerts();
  EXPECT_EQ(Count(alerts, "\"fingerprint\""), 1u) << alerts;
  const std::string labels = LabelsOf(alerts);
  // Alertmanager lists the labels sorted by name.
  EXPECT_EQ(labels, R"({"alertname":"EventLogEvent","event_id":"7036","host":")" + GetHostName() +
                        R"(","log":"System","source":"Service \"Control\" Manager",)"
                        R"("watch":"spooler"})")
      << alerts;
  EXPECT_TRUE(std::regex_search(
      alerts,
      std::regex(R"("message":"EventLog: \d{1,2}/\d{1,2}/\d\d \d{1,2}:\d\d:\d\d (am|pm) Host=)" +
                 RegexEscape(GetHostName()) +
                 R"( Source=Service \\"Control\\" Manager EventID=7036")")))
      << alerts;
  EXPECT_TRUE(
      std::regex_search(alerts, std::regex(R"("report_time":"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ")")))
      << alerts;
  EXPECT_NE(alerts.find(R"("startsAt":"2017-10-09T16:24:00.000Z")"), std::string::npos) << alerts;
  EXPECT_NE(
      eventLog.LogText().find("50410,\"[Function=tarn32.PostAlert][URL=" + alertmanager.Base() +
                              "/api/v2/alerts][Status=HTTP/1.1 200 OK]"),
      std::string::npos)
      << eventLog.LogText();
}

TEST(AlertmanagerEndToEnd, AClusterWithOneInstanceStoppedStillGetsTheAlertAndThePageGoesOut) {
  SKIP_WITHOUT_ALERTMANAGER();
  const std::uint16_t gossipA = FreePort(), gossipB = FreePort();
  Alertmanager first(kQuietConfig, gossipA, {gossipB});
  Alertmanager second(kQuietConfig, gossipB, {gossipA});
  ASSERT_TRUE(first.Ready()) << first.Problem();
  ASSERT_TRUE(second.Ready()) << second.Problem();
  second.Stop();

  LoopbackServer gateway(Accepting("Message succesfully sent"));
  Installation eventLog;
  const auto started = Clock::now();
  const ProcessResult result =
      eventLog.Run(second.Base() + ", " + first.Base(), gateway.HostAndPort());
  // A stopped instance refuses the connection at once: far below the connect limit (30 s).
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(ConsoleAfterTime(result.Output), kConsole);
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(gateway.Requests().size(), 1u);
  EXPECT_EQ(Count(first.Alerts(), "\"fingerprint\""), 1u);

  const std::string log = eventLog.LogText();
  EXPECT_NE(log.find("50400,"), std::string::npos) << log;
  EXPECT_NE(log.find("30010,\"[Function=tarn32.PostAlert][URL=" + second.Base() +
                     "/api/v2/alerts][Classname=ESocketError][Message=Socket Error # 10061 "
                     "Connection refused.][Trace=310][Filename="),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("50410,\"[Function=tarn32.PostAlert][URL=" + first.Base() +
                     "/api/v2/alerts][Status=HTTP/1.1 200 OK]"),
            std::string::npos)
      << log;
  EXPECT_EQ(FilesMatching(eventLog.Bin(), R"(EXCEPTION-\d{17}\.XML)").size(), 1u);

  // eventlog-check lists each entry and probes it: the stopped one and https are errors.
  const ProcessResult checked =
      eventLog.Check(second.Base() + " " + first.Base() + ",https://x", gateway.HostAndPort());
  EXPECT_NE(
      checked.Output.find(
          "The Alertmanagers (ALERTMANAGER_URL), each sent every report as an alert:\n  \"" +
          second.Base() + "\"\nerror: the Alertmanager " + second.Base() +
          "/api/v2/status did not answer the probe: Socket Error # 10061 Connection "
          "refused. (ESocketError): an alert posted now would fail\n  \"" +
          first.Base() + "\"\n  probe: " + first.Base() +
          "/api/v2/status answered HTTP/1.1 200 OK\n  \"https://x\"\nerror: "
          "ALERTMANAGER_URL entry \"https://x\": https is not supported: EventLog posts alerts "
          "over plain HTTP only; give the Alertmanager's http:// address, or that of a "
          "local proxy that forwards to it; each alert to it fails\n"),
      std::string::npos)
      << checked.Output;
  EXPECT_EQ(checked.ExitCode, 2);
}

TEST(AlertmanagerEndToEnd, AStormOfOneEventFromAThousandHostsIsOneNotification) {
  SKIP_WITHOUT_ALERTMANAGER();
  ServerScript hook = Accepting("");
  hook.HoldOpen = true;  // read each notification whole, on a connection kept alive
  LoopbackServer webhook(hook);
  const std::string config =
      "route:\n  receiver: hook\n  group_by: [alertname, event_id]\n  group_wait: 3s\n"
      "  group_interval: 1h\n  repeat_interval: 4h\nreceivers:\n  - name: hook\n"
      "    webhook_configs:\n      - url: http://" +
      webhook.HostAndPort() + "/hook\n        send_resolved: false\n";
  Alertmanager alertmanager(config);
  ASSERT_TRUE(alertmanager.Ready()) << alertmanager.Problem();

  constexpr int kHosts = 1000;
  // A fresh event: Alertmanager sends a new group at once when its first alert started longer
  // ago than the group's wait.
  const auto nowUnix = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const auto started = Clock::now();
  int accepted = 0;
  for (int host = 0; host < kHosts; ++host) {
    tMyEventLogRecord record;
    record.Source = "Service Control Manager";
    record.EventLogRecord.EventID = 7036;
    record.EventLogRecord.TimeGenerated = static_cast<std::uint32_t>(nowUnix);
    tAlertContext context;
    context.HostName = "host-" + std::to_string(host);
    context.LogFile = "System";
    context.Watch = "default";
    context.Message = "EventLog: storm";
    context.NowUnix = nowUnix;
    accepted += PostAlert(alertmanager.Base(), core::AlertsBody(ReportAlert(record, context)));
  }
  const auto posted = Clock::now() - started;
  std::cout << "[ storm    ] " << kHosts << " posts in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(posted).count() << " ms\n";
  ASSERT_EQ(accepted, kHosts);
  // The posts must land within the group's wait for the one notification to hold them all.
  ASSERT_LT(posted, std::chrono::seconds(3));

  auto all = [&] {
    std::string text;
    for (const std::string& request : webhook.Requests()) text += request;
    return text;
  };
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end && Count(all(), "\"fingerprint\"") < kHosts)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Nothing more comes within a further second: the group's next notification is an hour away.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::string notifications = all();
  EXPECT_EQ(Count(notifications, "POST /hook HTTP/1.1"), 1u);
  EXPECT_EQ(Count(notifications, "\"fingerprint\""), static_cast<std::size_t>(kHosts))
      << notifications.substr(0, 2000);
  EXPECT_NE(notifications.find(R"("groupLabels":{"alertname":"EventLogEvent","event_id":"7036"})"),
            std::string::npos);
}

}  // namespace
