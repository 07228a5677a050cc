// Times a search that matches nothing through the journal (the event log Journal, with the
// sample rules) beside journalctl reading the same files newest first, over 10,000 and 100,000
// generated entries; prints entries/s, MB/s and the peak memory of each.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"
#include "platform/eventlog.h"
#include "sample_logs.h"
#include "tests/support/journal_writer.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRepetitions = 5;
constexpr char kCompleteMarker[] = "complete";

// Generates the entries into dir once; a directory left complete by an earlier run is reused.
bool BuildJournal(const fs::path& dir, std::size_t count) {
  if (fs::exists(dir / kCompleteMarker)) return true;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path exportFile = dir.parent_path() / (dir.filename().string() + ".export");
  {
    std::ofstream out(exportFile, std::ios::binary);
    constexpr std::size_t kBatch = 1000;
    for (std::size_t first = 0; first < count; first += kBatch) {
      std::vector<JournalEntry> batch;
      for (std::size_t i = first; i < first + kBatch && i < count; ++i)
        batch.push_back(bench::SampleJournalEntry(i));
      out << JournalExportText(batch);
    }
  }
  const std::string command = "'" + JournalRemotePath() + "' -o '" +
                              (dir / "bench.journal").string() + "' - < '" + exportFile.string() +
                              "' 2>/dev/null";
  const bool written = std::system(command.c_str()) == 0;
  fs::remove(exportFile);
  if (written) std::ofstream(dir / kCompleteMarker) << count << "\n";
  return written;
}

double JournalBytes(const fs::path& dir) {
  double bytes = 0;
  for (const auto& file : fs::directory_iterator(dir))
    if (file.path().extension() == ".journal") bytes += double(file.file_size());
  return bytes;
}

// Runs the command under /usr/bin/time; its wall seconds and peak resident KiB.
bool TimeCommand(const std::string& command, const fs::path& figures, double& seconds,
                 long& peakKiB) {
  const std::string timed = "/usr/bin/time -f '%e %M' -o '" + figures.string() + "' " + command;
  if (std::system(timed.c_str()) != 0) return false;
  std::ifstream(figures) >> seconds >> peakKiB;
  return true;
}

void Report(const char* what, double seconds, double bytes, double entries, long peakKiB) {
  std::printf("  %-36s median %8.1f ms  %8.1f MB/s  %10.0f entries/s  peak RSS %6ld KiB\n", what,
              seconds * 1e3, bytes / seconds / 1e6, entries / seconds, peakKiB);
}

// A field of /proc/self/status in KiB, -1 when missing.
long StatusKiB(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  return -1;
}

// Reads the whole journal through the event log calls and, before closing it, notes the
// anonymous memory (the reader's own) apart from the mapped journal files (the kernel's page
// cache, given back under pressure).
void ReadAllAndNoteMemory(long& anonKiB, long& fileKiB) {
  platform::EventLogHandle log = platform::OpenEventLog("Journal");
  std::vector<std::uint8_t> buffer(4097);
  for (;;) {
    std::uint32_t bytesRead = 0, needed = 0, error = 0;
    if (platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()), bytesRead,
                                        needed, error))
      continue;
    if (error != platform::kErrorInsufficientBuffer) break;
    buffer.resize(needed);
  }
  anonKiB = StatusKiB("RssAnon");
  fileKiB = StatusKiB("RssFile");
  platform::CloseEventLog(log);
}

// Child mode: the timed searches, their median wall time and the memory of a whole read
// printed on standard output.
int RunSearches(const std::string& dir) {
  setenv("EVENTLOG_JOURNAL_DIR", dir.c_str(), 1);
  setenv("EVENTLOG_DIR", dir.c_str(), 1);
  const double seconds = bench::MedianSeconds(kRepetitions, [] {
    tEventSearchRecord criteria;
    criteria.LogFile = "Journal";
    criteria.EventID = 4242;
    tMyEventLogRecord result;
    if (FindLatestEvent(criteria, result)) std::abort();
  });
  long anonKiB = 0, fileKiB = 0;
  ReadAllAndNoteMemory(anonKiB, fileKiB);
  std::printf("%.6f %ld %ld\n", seconds, anonKiB, fileKiB);
  return 0;
}

void Measure(const std::string& self, const fs::path& dir, std::size_t count,
             const std::string& rules) {
  if (!BuildJournal(dir, count)) {
    std::printf("%zu entries: systemd-journal-remote failed\n", count);
    return;
  }
  std::ofstream(dir / "journal.rules") << rules;
  const double bytes = JournalBytes(dir);
  std::printf("%zu entries, %.1f MB of journal files in %s\n", count, bytes / 1e6, dir.c_str());
  const fs::path figures = dir.parent_path() / "time.txt";
  const fs::path median = dir.parent_path() / "median.txt";
  double wall = 0, searchSeconds = 0;
  long peak = 0;
  if (TimeCommand("'" + self + "' --search '" + dir.string() + "' > '" + median.string() + "'",
                  figures, wall, peak)) {
    long anonKiB = 0, fileKiB = 0;
    std::ifstream(median) >> searchSeconds >> anonKiB >> fileKiB;
    Report("FindLatestEvent on Journal (no match)", searchSeconds, bytes, double(count), peak);
    std::printf("  %-36s RssAnon %ld KiB, RssFile %ld KiB (mapped journal files)\n",
                "  at the end of a whole read:", anonKiB, fileKiB);
  }
  const std::string journalctl =
      "journalctl --no-pager -D '" + dir.string() + "' -r -o cat > /dev/null 2>&1";
  const double journalctlSeconds = bench::MedianSeconds(kRepetitions, [&] {
    if (std::system(journalctl.c_str()) != 0) std::fprintf(stderr, "journalctl failed\n");
  });
  TimeCommand("sh -c \"" + journalctl + "\"", figures, wall, peak);
  Report("journalctl -r -o cat", journalctlSeconds, bytes, double(count), peak);
}

}  // namespace

// bench_journal; the entries are kept in the temporary directory for later runs.
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--search") return RunSearches(argv[2]);
  if (JournalRemotePath().empty() || std::system("test -x /usr/bin/time") != 0 ||
      std::system("command -v journalctl >/dev/null") != 0) {
    std::printf("bench_journal: needs systemd-journal-remote, journalctl and /usr/bin/time\n");
    return 0;
  }
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string rules = std::string(
      "1001 kernel Out of memory: Killed process\n"
      "1002 kernel segfault at\n"
      "1003 systemd Failed with result|Failed to start|entered failed state\n"
      "1004 sshd* Failed password|Invalid user\n");
  const fs::path root = fs::temp_directory_path() / "bench_journal";
  Measure(self, root / "10k", 10000, rules);
  Measure(self, root / "100k", 100000, rules);
  return 0;
}
