// Times the monitor's cycle over a .evt log and over the journal: a whole search that matches
// nothing, a cycle with nothing new and a cycle with 100 new entries, each in wall time and
// processor time, at 10,000, 100,000 and 1,000,000 entries, beside journalctl following a cursor
// file over the same journal. First the whole search of a full 20 MiB .evt log beside cat and
// read() of the same file, with the file in the page cache and dropped from it.
//
// The logs are built once and kept in $BENCH_CYCLE_DIR (default /tmp/bench_cycle); a later run
// reuses them. The bench prints figures only; it never fails on timing.
//
// bench_cycle [evt|journal|speed]...   (no argument: all three parts)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/byteorder.h"
#include "core/evt_codec.h"
#include "monitor/eventsearch.h"
#include "platform/eventwriter.h"
#include "sample_logs.h"
#include "tests/support/journal_writer.h"
#include "tests/support/process_times.h"
#include "timing.h"

namespace {

namespace fs = std::filesystem;
namespace evt = core::evt;
using bench::Clock;
using bench::Median;

// The monitor's cycles over one log: what the search remembers lives from cycle to cycle.
class Cycles {
 public:
  explicit Cycles(tEventSearchRecord criteria) : criteria_(std::move(criteria)) {}
  // Forgets what earlier cycles saw: the next cycle is a whole search.
  void Forget() { memory_ = {}; }
  bool Run() {
    tMyEventLogRecord result;
    return FindLatestEventSince(criteria_, memory_, result);
  }

 private:
  tEventSearchRecord criteria_;
  tSearchMemory memory_;
};

// ---- measuring

struct Figures {
  double Wall = 0;  // seconds, median
  double Cpu = 0;   // processor seconds (user + system), median
  double WallMin = 0;
};

// Runs prepare (not timed), then run, repetitions times; the medians of run's wall time and of
// the processor time of this process (children false) or of its children (children true).
Figures Measure(int repetitions, bool children, const std::function<void()>& prepare,
                const std::function<void()>& run) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < repetitions; ++i) {
    prepare();
    const ProcessorTime before = children ? ChildrenProcessorTime() : OwnProcessorTime();
    const auto start = Clock::now();
    run();
    wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    const ProcessorTime after = children ? ChildrenProcessorTime() : OwnProcessorTime();
    cpu.push_back(after.Total() - before.Total());
  }
  return {Median(wall), Median(cpu), *std::min_element(wall.begin(), wall.end())};
}

void Nothing() {}

// A cycle with nothing new is cheap and, right after a whole search, still pays for that
// search's pages: its median is taken over many cycles.
constexpr int kIdleRepetitions = 25;

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void PrintRow(const std::string& log, const char* step, const Figures& ours, const char* other,
              const Figures* theirs) {
  std::printf("%-34s %-13s %9.2f %9.2f  |", log.c_str(), step, ours.Wall * 1e3, ours.Cpu * 1e3);
  if (theirs != nullptr)
    std::printf(" %-22s %9.2f %9.2f\n", other, theirs->Wall * 1e3, theirs->Cpu * 1e3);
  else
    std::printf(" %-22s\n", other);
}

void PrintTableHead(const char* other) {
  std::printf("%-34s %-13s %9s %9s  | %-22s %9s %9s\n", "log", "cycle", "wall ms", "cpu ms", other,
              "wall ms", "cpu ms");
}

std::string CacheRoot() {
  const char* dir = std::getenv("BENCH_CYCLE_DIR");
  return dir != nullptr && *dir != '\0' ? dir
                                        : (fs::temp_directory_path() / "bench_cycle").string();
}

constexpr char kCompleteMarker[] = "complete";

// ---- the .evt logs

constexpr std::uint32_t kUnboundedMaxSize = 0x40000000;  // 1 GiB: 1,000,000 records never wrap

void AppendEvt(const fs::path& dir, std::uint32_t number, std::uint32_t maxSize) {
  const std::string error =
      platform::AppendEvent(dir.string(), "Bench", bench::SampleEvtRecord(number), maxSize);
  if (!error.empty()) {
    std::fprintf(stderr, "bench_cycle: %s\n", error.c_str());
    std::exit(1);
  }
}

bool Wrapped(const fs::path& log) {
  std::ifstream file(log, std::ios::binary);
  std::uint8_t header[evt::kHeaderSize] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  return (core::LoadU32(header + offsetof(evt::HeaderLayout, Flags)) & evt::kFlagWrapped) != 0;
}

struct EvtLog {
  std::string Name;  // as printed
  fs::path Dir;      // holds Bench.evt
  std::uint32_t Records = 0;
  std::uint32_t MaxSize = 0;
};

// count records in a log that never wraps, or (count 0) the records of a 20 MiB log up to its
// first wrap, written through the writer eventcreate uses; built once.
EvtLog BuildEvtLog(const fs::path& dir, std::uint32_t count) {
  EvtLog log{count == 0 ? "evt full 20 MiB" : "evt " + std::to_string(count), dir, count,
             count == 0 ? evt::kDefaultMaxSize : kUnboundedMaxSize};
  if (fs::exists(dir / kCompleteMarker)) {
    std::ifstream(dir / kCompleteMarker) >> log.Records;
  } else {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto start = Clock::now();
    std::uint32_t written = 0;
    if (count == 0) {
      while (!Wrapped(dir / "Bench.evt")) AppendEvt(dir, written++, log.MaxSize);
    } else {
      while (written < count) AppendEvt(dir, written++, log.MaxSize);
    }
    log.Records = written;
    std::ofstream(dir / kCompleteMarker) << written << "\n";
    std::printf("built %s: %u records, %.1f MB in %.1f s\n", (dir / "Bench.evt").c_str(), written,
                double(fs::file_size(dir / "Bench.evt")) / 1e6, Seconds(start));
  }
  if (count == 0) log.Name += " (" + std::to_string(log.Records / 1000) + "k)";
  return log;
}

tEventSearchRecord NoMatch(const std::string& logName) {
  tEventSearchRecord criteria;
  criteria.LogFile = logName;
  criteria.EventID = 4242;
  if (logName == "Bench") criteria.Source = "No Such Source";
  return criteria;
}

void MeasureEvtCycles(const EvtLog& log, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path file = work / "Bench.evt";
  fs::copy_file(log.Dir / "Bench.evt", file);
  setenv("EVENTLOG_DIR", work.c_str(), 1);
  const int repetitions = log.Records >= 1000000 ? 3 : 5;
  std::uint32_t next = log.Records;
  Cycles cycles(NoMatch("Bench"));
  const Figures whole = Measure(
      repetitions, false, [&] { cycles.Forget(); }, [&] { cycles.Run(); });
  const std::string cat = "cat " + Quoted(file) + " >/dev/null";
  const Figures catFigures = Measure(repetitions, true, Nothing, [&] { Run(cat); });
  cycles.Forget();
  cycles.Run();
  const Figures idle = Measure(kIdleRepetitions, false, Nothing, [&] { cycles.Run(); });
  const Figures fresh = Measure(
      repetitions, false,
      [&] {
        for (int i = 0; i < 100; ++i) AppendEvt(work, next++, log.MaxSize);
      },
      [&] { cycles.Run(); });
  const std::string name =
      log.Name + ", " + std::to_string(std::uint64_t(fs::file_size(file) / 1000000)) + " MB";
  PrintRow(name, "whole", whole, "cat FILE", &catFigures);
  PrintRow(name, "nothing new", idle, "", nullptr);
  PrintRow(name, "100 new", fresh, "", nullptr);
  fs::remove_all(work);
}

// ---- the journal

constexpr std::size_t kEntriesPerFile = 170000;

std::vector<JournalEntry> Entries(std::size_t first, std::size_t end) {
  std::vector<JournalEntry> entries;
  for (std::size_t i = first; i < end; ++i) entries.push_back(bench::SampleJournalEntry(i, true));
  return entries;
}

// Writes entries [first, end) into a new journal file through systemd-journal-remote, fed from
// an export file written in batches.
bool WriteJournal(const fs::path& file, std::size_t first, std::size_t end) {
  const fs::path exportFile = file.string() + ".export";
  {
    std::ofstream out(exportFile, std::ios::binary);
    for (std::size_t at = first; at < end; at += 10000)
      out << JournalExportText(Entries(at, std::min(end, at + 10000)));
  }
  const std::string command = Quoted(JournalRemotePath()) + " -o " + Quoted(file) + " - < " +
                              Quoted(exportFile) + " 2>/dev/null";
  const bool written = std::system(command.c_str()) == 0;
  fs::remove(exportFile);
  return written;
}

double JournalBytes(const fs::path& dir, int& files) {
  double bytes = 0;
  files = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".journal") {
      bytes += double(entry.file_size());
      ++files;
    }
  return bytes;
}

// count entries in files of kEntriesPerFile each, built once.
bool BuildJournal(const fs::path& dir, std::size_t count) {
  if (fs::exists(dir / kCompleteMarker)) return true;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto start = Clock::now();
  for (std::size_t first = 0, file = 0; first < count; first += kEntriesPerFile, ++file)
    if (!WriteJournal(dir / ("bench-" + std::to_string(file) + ".journal"), first,
                      std::min(count, first + kEntriesPerFile)))
      return false;
  int files = 0;
  const double bytes = JournalBytes(dir, files);
  std::printf("built %s: %zu entries, %d files, %.0f MB in %.1f s\n", dir.c_str(), count, files,
              bytes / 1e6, Seconds(start));
  std::ofstream(dir / kCompleteMarker) << count << "\n";
  return true;
}

const char kRules[] =
    "1001 kernel Out of memory: Killed process\n"
    "1002 kernel segfault at\n"
    "1003 systemd Failed with result|Failed to start|entered failed state\n"
    "1004 sshd* Failed password|Invalid user\n";

void MeasureJournalCycles(const fs::path& dir, std::size_t count) {
  if (!BuildJournal(dir, count)) {
    std::printf("journal %zu: systemd-journal-remote failed\n", count);
    return;
  }
  std::ofstream(dir / "journal.rules") << kRules;
  setenv("EVENTLOG_JOURNAL_DIR", dir.c_str(), 1);
  setenv("EVENTLOG_DIR", dir.c_str(), 1);
  int files = 0;
  const double bytes = JournalBytes(dir, files);
  const std::string name = "journal " + std::to_string(count / 1000) + "k, " +
                           std::to_string(files) + (files == 1 ? " file, " : " files, ") +
                           std::to_string(std::uint64_t(bytes / 1e6)) + " MB";
  const int repetitions = count >= 1000000 ? 3 : 5;
  const fs::path cursor = dir.parent_path() / (dir.filename().string() + ".cursor");
  const std::string journalctl = "journalctl --no-pager -D " + Quoted(dir) +
                                 " --cursor-file=" + Quoted(cursor) + " -o cat >/dev/null 2>&1";
  const auto forgetCursor = [&] { fs::remove(cursor); };
  // New entries go where a running journald puts them: at the end of the newest file, which is
  // kept aside and put back afterwards so that the cached journal stays as it was built.
  const fs::path newest =
      dir / ("bench-" + std::to_string((count - 1) / kEntriesPerFile) + ".journal");
  const fs::path kept = dir.parent_path() / (dir.filename().string() + ".newest");
  fs::copy_file(newest, kept, fs::copy_options::overwrite_existing);
  std::size_t next = count;
  const auto addHundred = [&] {
    if (!WriteJournal(newest, next, next + 100)) std::fprintf(stderr, "new entries not written\n");
    next += 100;
  };

  Cycles cycles(NoMatch("Journal"));
  const Figures whole = Measure(
      repetitions, false, [&] { cycles.Forget(); }, [&] { cycles.Run(); });
  const Figures first = Measure(repetitions, true, forgetCursor, [&] { Run(journalctl); });
  cycles.Forget();
  cycles.Run();
  const Figures idle = Measure(kIdleRepetitions, false, Nothing, [&] { cycles.Run(); });
  const Figures idleCtl = Measure(kIdleRepetitions, true, Nothing, [&] { Run(journalctl); });
  // Each new batch is seen once by each: the cycle, then journalctl after its cursor.
  std::vector<double> wall, cpu, wallCtl, cpuCtl;
  for (int i = 0; i < repetitions; ++i) {
    addHundred();
    const Figures ours = Measure(1, false, Nothing, [&] { cycles.Run(); });
    const Figures theirs = Measure(1, true, Nothing, [&] { Run(journalctl); });
    wall.push_back(ours.Wall);
    cpu.push_back(ours.Cpu);
    wallCtl.push_back(theirs.Wall);
    cpuCtl.push_back(theirs.Cpu);
  }
  const Figures fresh{Median(wall), Median(cpu), 0};
  const Figures freshCtl{Median(wallCtl), Median(cpuCtl), 0};
  PrintRow(name, "whole", whole, "journalctl first run", &first);
  PrintRow(name, "nothing new", idle, "journalctl nothing new", &idleCtl);
  PrintRow(name, "100 new", fresh, "journalctl 100 new", &freshCtl);
  fs::rename(kept, newest);
  fs::remove(cursor);
}

// ---- the whole search of a .evt log beside cat and read()

// Reads the file through read() calls of 128 KiB into one buffer, as cat does.
void ReadWhole(const fs::path& file) {
  static std::vector<char> buffer(128 * 1024);
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return;
  std::setvbuf(stream, nullptr, _IONBF, 0);
  while (std::fread(buffer.data(), 1, buffer.size(), stream) == buffer.size()) {
  }
  std::fclose(stream);
}

void PrintSpeed(const char* what, const Figures& figures, const Figures& search) {
  std::printf(
      "  %-44s wall median %7.2f ms (min %6.2f)  cpu %7.2f ms   search/this: wall %.2fx, "
      "cpu %.2fx\n",
      what, figures.Wall * 1e3, figures.WallMin * 1e3, figures.Cpu * 1e3,
      search.Wall / figures.Wall, figures.Cpu > 0 ? search.Cpu / figures.Cpu : 0.0);
}

void MeasureEvtSpeed(const EvtLog& log) {
  setenv("EVENTLOG_DIR", log.Dir.c_str(), 1);
  const fs::path file = log.Dir / "Bench.evt";
  std::printf("\nThe whole search of %s (%ju bytes, %u records), no match, side by side:\n",
              file.c_str(), std::uintmax_t(fs::file_size(file)), log.Records);
  Cycles cycles(NoMatch("Bench"));
  const auto search = [&] {
    cycles.Forget();
    if (cycles.Run()) std::abort();
  };
  // The shell gives way to cat (exec), so the child is one shell start and cat.
  const std::string cat = "exec cat " + Quoted(file) + " >/dev/null";
  for (const bool cold : {false, true}) {
    const auto drop = [&] {
      if (cold && !DropFromPageCache(file))
        std::printf("  (the page cache could not be dropped)\n");
    };
    const int repetitions = cold ? 7 : 21;
    std::printf(" %s page cache (%s):\n", cold ? "cold" : "warm",
                cold ? "the file's pages dropped with posix_fadvise before each run"
                     : "the file read just before");
    if (!cold) ReadWhole(file);
    const Figures ours = Measure(repetitions, false, drop, search);
    std::printf("  %-44s wall median %7.2f ms (min %6.2f)  cpu %7.2f ms\n",
                "the whole search (no match)", ours.Wall * 1e3, ours.WallMin * 1e3, ours.Cpu * 1e3);
    const Figures catFigures = Measure(repetitions, true, drop, [&] { Run(cat); });
    const Figures start = Measure(repetitions, true, drop, [&] { Run("exec /bin/true"); });
    const Figures catAlone{catFigures.Wall - start.Wall, catFigures.Cpu - start.Cpu,
                           catFigures.WallMin - start.WallMin};
    PrintSpeed("cat FILE >/dev/null (child: sh, exec cat)", catFigures, ours);
    PrintSpeed("sh, exec /bin/true (a child's start)", start, ours);
    PrintSpeed("cat's own work (the two above apart)", catAlone, ours);
    PrintSpeed("read() 128 KiB at a time, in this process",
               Measure(repetitions, false, drop, [&] { ReadWhole(file); }), ours);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it is measured
  std::vector<std::string> parts(argv + 1, argv + argc);
  if (parts.empty()) parts = {"speed", "evt", "journal"};
  const auto wanted = [&](const char* part) {
    return std::find(parts.begin(), parts.end(), part) != parts.end();
  };
  const fs::path root = CacheRoot();
  fs::create_directories(root);
  std::printf("logs cached in %s (BENCH_CYCLE_DIR)\n", root.c_str());
  if (wanted("speed")) MeasureEvtSpeed(BuildEvtLog(root / "evt-full", 0));
  if (wanted("evt")) {
    std::printf("\n");
    PrintTableHead("beside it");
    for (const std::uint32_t count : {10000u, 100000u, 1000000u})
      MeasureEvtCycles(BuildEvtLog(root / ("evt-" + std::to_string(count)), count),
                       root / "evt-work");
    MeasureEvtCycles(BuildEvtLog(root / "evt-full", 0), root / "evt-work");
  }
  if (wanted("journal")) {
    if (JournalRemotePath().empty() || std::system("command -v journalctl >/dev/null") != 0) {
      std::printf("journal: needs systemd-journal-remote and journalctl\n");
      return 0;
    }
    std::printf("\n");
    PrintTableHead("beside it");
    for (const std::size_t count : {10000u, 100000u, 1000000u})
      MeasureJournalCycles(root / ("journal-" + std::to_string(count)), count);
  }
  return 0;
}
