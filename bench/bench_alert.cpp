// Times an alert post beside a page: PostAlert to a real Alertmanager on loopback against
// SendPage to the gateway stand-in (pagegateway) on loopback, each the median of many calls; and
// the wall time of a storm, 1,000 posts of one event from 1,000 hosts. Prints; never fails. Left
// out when Debian's prometheus-alertmanager is not installed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "core/alert_json.h"
#include "core/regional.h"
#include "kit/helpers.h"
#include "monitor/alertaction.h"
#include "paging/alertpost.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"
#include "platform/locale.h"
#include "tests/support/background_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

constexpr char kAlertmanager[] = "/usr/bin/prometheus-alertmanager";
constexpr int kCalls = 500;
constexpr int kStorm = 1000;

void Report(const char* what, double seconds) {
  std::printf("%-52s median %8.1f us\n", what, seconds * 1e6);
}

std::uint16_t FreePort() {
  LoopbackServer server{ServerScript{}};
  return server.Port();
}

bool Answers(const std::string& url) {
  try {
    THttpClient client;
    client.Get(url);
    return client.Response().StatusCode == 200;
  } catch (const std::exception&) {
    return false;
  }
}

// The port pagegateway names in its first line, 0 while it has not said it.
unsigned GatewayPort(const fs::path& output) {
  if (!fs::exists(output)) return 0;
  const std::string text = ReadFileBytes(output.string());
  const std::string lead = "listening on 127.0.0.1:";
  const std::size_t at = text.find(lead);
  if (at == std::string::npos || text.find('\n', at) == std::string::npos) return 0;
  return static_cast<unsigned>(std::atoi(text.c_str() + at + lead.size()));
}

template <typename Ready>
bool WaitFor(Ready ready) {
  for (int i = 0; i < 200; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Body(const std::string& host) {
  tMyEventLogRecord record;
  record.Source = "Service Control Manager";
  record.EventLogRecord.EventID = 7036;
  record.EventLogRecord.TimeGenerated = 1507566240;
  tAlertContext context;
  context.HostName = host;
  context.LogFile = "System";
  context.Watch = "default";
  context.Message =
      "EventLog: 12/9/26 11:22:35 am Host=" + host + " Source=Service Control Manager EventID=7036";
  context.NowUnix = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  return core::AlertsBody(ReportAlert(record, context));
}

}  // namespace

int main() {
  if (!fs::exists(kAlertmanager)) {
    std::printf("%s is not installed: the alert post is not timed\n", kAlertmanager);
    return 0;
  }
  LoadRegionalSettings();
  const fs::path dir = fs::temp_directory_path() /
                       ("bench_alert_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir / "work");
  WriteFileBytes((dir / "alertmanager.yml").string(),
                 "route:\n  receiver: quiet\nreceivers:\n  - name: quiet\n");
  const std::uint16_t port = FreePort();
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  BackgroundProcess alertmanager, gateway;
  std::string error;
  const bool started =
      alertmanager.Start(
          kAlertmanager,
          {"--config.file=" + (dir / "alertmanager.yml").string(),
           "--storage.path=" + (dir / "data").string(),
           "--web.listen-address=127.0.0.1:" + std::to_string(port), "--cluster.listen-address="},
          (dir / "alertmanager.txt").string(), error) &&
      gateway.Start(PAGEGATEWAY_EXE, {"--port", "0"}, (dir / "gateway.txt").string(), error);
  if (!started || !WaitFor([&] { return Answers(base + "/api/v2/status"); }) ||
      !WaitFor([&] { return GatewayPort(dir / "gateway.txt") != 0; })) {
    std::printf("the Alertmanager or the gateway stand-in did not start: %s\n", error.c_str());
    fs::remove_all(dir);
    return 0;
  }
  setenv("PAGING_GATEWAY_HOST",
         ("127.0.0.1:" + std::to_string(GatewayPort(dir / "gateway.txt"))).c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(dir / "work");  // the page records land here

  const tSendPageRec page{"EventLog: 12/9/26 11:22:35 am Host=vm Source=Disk EventID=7", "KRVOT",
                          730418, 0};
  int failed = 0;
  Report("SendPage to pagegateway (with its page record)",
         bench::MedianSeconds(kCalls, [&] { failed += !SendPage(page); }));
  const std::string body = Body("vm");
  Report("PostAlert to Alertmanager (POST /api/v2/alerts)",
         bench::MedianSeconds(kCalls, [&] { failed += !PostAlert(base, body); }));
  std::vector<std::string> bodies;
  for (int host = 0; host < kStorm; ++host) bodies.push_back(Body("host-" + std::to_string(host)));
  const auto stormStart = Clock::now();
  for (const std::string& each : bodies) failed += !PostAlert(base, each);
  const double storm = std::chrono::duration<double>(Clock::now() - stormStart).count();
  std::printf("%-52s %8.1f ms\n", "storm: 1,000 posts from 1,000 hosts, wall time", storm * 1e3);
  std::printf("calls: %d pages, %d posts, %d storm posts; %d failed\n", kCalls, kCalls, kStorm,
              failed);

  fs::current_path(previous);
  alertmanager.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5));
  gateway.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5));
  fs::remove_all(dir);
  return 0;
}
