// Times one page to a loopback gateway: the HTTP exchange the page sender performs (a new
// connection, the request, the answer, the close), the whole SendPage call with its page record,
// and curl fetching the same URL (its own transfer time and the whole process).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/regional.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"
#include "platform/locale.h"
#include "tests/support/loopback_server.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

constexpr int kPages = 2000;
constexpr int kCurlRuns = 200;

const char kAnswer[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 24\r\nConnection: close\r\n\r\n"
    "Message succesfully sent";

void Report(const char* what, double seconds) {
  std::printf("%-52s median %8.1f us\n", what, seconds * 1e6);
}

std::vector<double> CurlTransferSeconds(const fs::path& output) {
  std::vector<double> seconds;
  std::ifstream times(output);
  for (double value; times >> value;) seconds.push_back(value);
  return seconds;
}

}  // namespace

int main() {
  LoadRegionalSettings();
  LoopbackServer gateway(ServerScript{true, {{kAnswer, {}}}, "", false});
  setenv("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str(), 1);
  tSendPageRec page{"EventLog: 12/9/26 11:22:35 am Host=vm Source=Disk EventID=7", "KRVOT", 730418,
                    0};
  const std::string url = PageUrl(gateway.HostAndPort(), page);

  std::vector<double> exchange;
  for (int i = 0; i < kPages; ++i) {
    const auto start = Clock::now();
    THttpClient client;
    client.SetHost(gateway.HostAndPort());
    client.SetPort(80);
    if (client.Get(url) != "Message succesfully sent") {
      std::fprintf(stderr, "the gateway's answer was not the marker\n");
      return 1;
    }
    client.CloseConnection();
    exchange.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  Report("page exchange (THttpClient::Get, new connection)", bench::Median(exchange));

  const fs::path dir = fs::temp_directory_path() /
                       ("bench_paging_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  Report("SendPage with its page record file", bench::MedianSeconds(kPages / 4, [&] {
           if (!SendPage(page)) std::fprintf(stderr, "a page failed\n");
         }));
  fs::current_path(previous);

  const fs::path times = dir / "curl-times.txt";
  const std::string curl =
      "curl -s -o /dev/null -w '%{time_total}\\n' '" + url + "' >> '" + times.string() + "'";
  std::vector<double> wall;
  for (int i = 0; i < kCurlRuns; ++i) {
    const auto start = Clock::now();
    if (std::system(curl.c_str()) != 0) {
      std::printf("curl is not available; its figures are left out\n");
      break;
    }
    wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  const std::vector<double> transfer = CurlTransferSeconds(times);
  if (!transfer.empty())
    Report("curl, its own transfer time (time_total)", bench::Median(transfer));
  if (!wall.empty()) Report("curl, the whole process", bench::Median(wall));
  std::printf("pages: %d exchanges, %d SendPage calls, %zu curl runs\n", kPages, kPages / 4,
              wall.size());
  fs::remove_all(dir);
  return 0;
}
