// Times a search that matches nothing over a full 20 MiB event log, the raw newest-first read
// loop, and libevt's evtexport on the same file; prints throughput and the peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/byteorder.h"
#include "core/evt_codec.h"
#include "monitor/eventsearch.h"
#include "platform/eventlog.h"
#include "platform/eventwriter.h"
#include "sample_logs.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;
namespace evt = core::evt;
using bench::Clock;
using bench::Median;

constexpr int kRepetitions = 7;

// Fills the log with varied records until the writer first has to overwrite the oldest.
std::uint32_t BuildFullLog(const std::string& dir) {
  std::uint32_t count = 0;
  for (;; ++count) {
    const evt::NewRecord record = bench::SampleEvtRecord(count);
    std::string error = platform::AppendEvent(dir, "Bench", record, evt::kDefaultMaxSize);
    if (!error.empty()) {
      std::fprintf(stderr, "bench_search: %s\n", error.c_str());
      std::exit(1);
    }
    std::ifstream file(dir + "/Bench.evt", std::ios::binary);
    char header[evt::kHeaderSize];
    file.read(header, sizeof header);
    const auto* flags =
        reinterpret_cast<std::uint8_t*>(header) + offsetof(evt::HeaderLayout, Flags);
    if (core::LoadU32(flags) & evt::kFlagWrapped) return count;
  }
}

// Reads the whole log newest first the way the search does, growing the 4,097-byte buffer
// only when a record needs more; returns the count of records.
std::uint64_t ReadAllRecords() {
  platform::EventLogHandle log = platform::OpenEventLog("Bench");
  std::vector<std::uint8_t> buffer(4097);
  std::uint64_t records = 0;
  for (;;) {
    std::uint32_t bytesRead = 0, needed = 0, error = 0;
    if (!platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                         bytesRead, needed, error)) {
      if (error != platform::kErrorInsufficientBuffer) break;
      buffer.resize(needed);
      continue;
    }
    for (std::uint32_t at = 0; at < bytesRead; at += core::LoadU32(buffer.data() + at)) ++records;
  }
  platform::CloseEventLog(log);
  return records;
}

void SearchForNothing() {
  tEventSearchRecord criteria;
  criteria.LogFile = "Bench";
  criteria.EventID = 4242;
  criteria.Source = "No Such Source";
  tMyEventLogRecord result;
  FindLatestEvent(criteria, result);
  if (result.EventLogRecord.EventID != 0 || !result.Source.empty()) std::abort();
}

long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The median processor time of this process, in seconds, of repetitions runs: on a machine that
// other work shares, it moves less than the wall time.
template <typename Run>
double MedianCpuSeconds(int repetitions, Run run) {
  std::vector<double> seconds;
  for (int i = 0; i < repetitions; ++i) {
    const std::clock_t start = std::clock();
    run();
    seconds.push_back(double(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return Median(seconds);
}

void ReportCpu(const char* what, double seconds, double bytes) {
  std::printf("%-28s median %8.2f ms  %8.1f MB/s  (processor time)\n", what, seconds * 1e3,
              bytes / seconds / 1e6);
}

void Report(const char* what, double seconds, double bytes, double records) {
  std::printf("%-28s median %8.2f ms  %8.1f MB/s  %10.0f records/s\n", what, seconds * 1e3,
              bytes / seconds / 1e6, records / seconds);
}

// Runs the built EventLog once over the log, searching for what is not there, under
// /usr/bin/time; prints its wall time and peak resident memory.
void MeasureEventLog(const std::string& eventLog, const fs::path& dir) {
  if (std::system("test -x /usr/bin/time") != 0) {
    std::printf("EventLog: /usr/bin/time is not installed\n");
    return;
  }
  const fs::path work = dir / "run";
  fs::create_directories(work);
  std::ofstream(work / "EventLog.XML")
      << "<LogFile>Bench</LogFile><EventID>4242</EventID><Sleep>0</Sleep>";
  const fs::path figures = dir / "time.txt";
  const std::string command = "cd '" + work.string() + "' && /usr/bin/time -f '%e %M' -o '" +
                              figures.string() + "' '" + eventLog + "' </dev/null >/dev/null";
  if (std::system(command.c_str()) != 0) {
    std::printf("EventLog: the run failed\n");
    return;
  }
  double seconds = 0;
  long peakKiB = 0;
  std::ifstream(figures) >> seconds >> peakKiB;
  std::printf("EventLog, one cycle (no match): %.3f s wall, peak RSS %ld KiB\n", seconds, peakKiB);
}

}  // namespace

// bench_search [path of the built EventLog]
int main(int argc, char** argv) {
  const fs::path dir = fs::temp_directory_path() / "bench_search_evt";
  fs::remove_all(dir);
  fs::create_directories(dir);
  setenv("EVENTLOG_DIR", dir.c_str(), 1);

  auto buildStart = Clock::now();
  BuildFullLog(dir.string());
  const double buildSeconds = std::chrono::duration<double>(Clock::now() - buildStart).count();
  const std::string path = (dir / "Bench.evt").string();
  const double bytes = double(fs::file_size(path));
  const double records = double(ReadAllRecords());
  std::printf("log: %s, %.0f bytes, %.0f records (written in %.2f s)\n", path.c_str(), bytes,
              records, buildSeconds);

  ResetPeakRss();
  const long rssBefore = PeakRssKiB();
  const double searchSeconds = bench::MedianSeconds(kRepetitions, SearchForNothing);
  Report("FindLatestEvent (no match)", searchSeconds, bytes, records);
  ReportCpu("FindLatestEvent (no match)", MedianCpuSeconds(kRepetitions, SearchForNothing), bytes);
  const double readSeconds = bench::MedianSeconds(kRepetitions, [] { ReadAllRecords(); });
  Report("raw read loop (4097 B)", readSeconds, bytes, records);
  std::printf("peak RSS: %ld KiB (VmHWM; %ld KiB when the timed runs began)\n", PeakRssKiB(),
              rssBefore);

  if (std::system("command -v evtexport >/dev/null 2>&1") == 0) {
    const std::string command = "evtexport '" + path + "' >/dev/null 2>&1";
    const double exportSeconds = bench::MedianSeconds(kRepetitions, [&] {
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "evtexport failed\n");
    });
    Report("evtexport", exportSeconds, bytes, records);
  } else {
    std::printf("evtexport: not installed\n");
  }
  if (argc > 1) MeasureEventLog(argv[1], dir);
  fs::remove_all(dir);
  return 0;
}
