// Times the diagnostics kit: CSV lines through the log writer, syslog datagrams to the loopback
// address, exception reports, and the retention clean-up over a directory of dated files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kit/cleanup.h"
#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "kit/logentry.h"
#include "kit/syslog.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::Median;

constexpr int kRepetitions = 5;

void Report(const char* what, int count, double seconds) {
  std::printf("%-44s %8d in %8.3f ms  %10.0f per second\n", what, count, seconds * 1000,
              count / seconds);
}

}  // namespace

int main() {
  LoadRegionalSettings();
  const fs::path dir = fs::temp_directory_path() /
                       ("bench_kit_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir);

  GlobalSettings.Log.Level = 9;
  GlobalSettings.Log.FileName = (dir / "bench").string();
  const tLogRec entry{50400, 0,
                      "[Function=tarn32.SendPage][MSG=EventLog: 12/9/26 10:44:14 am "
                      "Host=vm Source=Tcpip EventID=105]"};
  constexpr int kLines = 20000;
  Report("LogEntry, CSV line", kLines, bench::MedianSeconds(kRepetitions, [&] {
           for (int i = 0; i < kLines; ++i) LogEntry(entry);
         }));

  constexpr int kThreads = 4;
  Report("LogEntry, CSV line, 4 threads at once", kLines, bench::MedianSeconds(kRepetitions, [&] {
           std::vector<std::thread> threads;
           for (int t = 0; t < kThreads; ++t)
             threads.emplace_back([&] {
               for (int i = 0; i < kLines / kThreads; ++i) LogEntry(entry);
             });
           for (auto& thread : threads) thread.join();
         }));

  GlobalSettings.Log.SyslogHost = "127.0.0.1";
  Report("SendSyslog to 127.0.0.1", kLines, bench::MedianSeconds(kRepetitions, [&] {
           for (int i = 0; i < kLines; ++i) SendSyslog("50400: " + entry.Text, 5, 16);
         }));
  Report("LogEntry, CSV line and datagram", kLines, bench::MedianSeconds(kRepetitions, [&] {
           for (int i = 0; i < kLines; ++i) LogEntry(entry);
         }));
  GlobalSettings.Log.SyslogHost.clear();

  tExceptionRec failure{"tarn32.SendPage",
                        "ESocketError",
                        "Socket Error # 10061\r\nConnection refused.",
                        310,
                        "http://localhost/cgi-bin/xmhscgi?message=x",
                        "bench_kit_report.xml",
                        false};
  constexpr int kReports = 2000;
  std::string written;
  Report("SaveExceptionRecAsXML", kReports, bench::MedianSeconds(kRepetitions, [&] {
           for (int i = 0; i < kReports; ++i) written = SaveExceptionRecAsXML(failure);
         }));
  fs::remove(written);

  // 10,000 dated files over the last 40 days, a week kept.
  constexpr int kFiles = 10000;
  std::vector<double> cleanUp;
  for (int repetition = 0; repetition < kRepetitions; ++repetition) {
    for (int i = 0; i < kFiles; ++i) {
      const std::string date = FormatDateTime("yyyymmdd", Now() - i % 40);
      std::ofstream((dir / ("Report-" + date + "-" + std::to_string(i) + ".xls")).string());
    }
    auto start = Clock::now();
    DeleteOldFiles((dir / "Report").string(), "xls", 7);
    cleanUp.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  Report("DeleteOldFiles, files looked at", kFiles, Median(cleanUp));

  std::uintmax_t lineBytes = 0;
  for (const auto& file : fs::directory_iterator(dir))
    if (file.path().extension() == ".CSV") lineBytes += file.file_size();
  std::printf("CSV bytes written: %ju\n", lineBytes);
  fs::remove_all(dir);
  return 0;
}
