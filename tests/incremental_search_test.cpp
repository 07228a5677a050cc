// The cycle that reads only what its log gained since the last cycle, against the cycle that reads
// the whole log every time: .evt logs and journals changed at random between cycles (appends,
// wraps, clears, replaced files, damage and its repair; rotations, vacuums, entries from the
// future, changed rules), each cycle's report compared byte for byte. Also the positions' texts
// and the backend's report of a log that breaks off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/byteorder.h"
#include "core/evt_codec.h"
#include "core/record_position.h"
#include "monitor/eventsearch.h"
#include "monitor/monitor.h"
#include "monitor/pageaction.h"
#include "paging/sendpage.h"
#include "platform/eventlog.h"
#include "platform/eventwriter.h"
#include "tests/support/background_process.h"
#include "tests/support/journal_writer.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"
#include "tests/support/transcript.h"

namespace {

namespace fs = std::filesystem;
namespace evt = core::evt;

TEST(RecordPositions, NameTheRecordByNumberAndBytes) {
  const std::string position = core::NumberedPosition(42, "bytes");
  const auto parsed = core::ParseNumberedPosition(position);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->RecordNumber, 42u);
  EXPECT_EQ(parsed->Hash, core::HashBytes("bytes"));
  EXPECT_EQ(position, "evt:42:" + core::HashText(core::HashBytes("bytes")));
  // Texts of another shape are no numbered position.
  for (const char* bad :
       {"", "evt:", "evt:42", "evt:42:", "evt:x:0123456789abcdef", "evt:42:0123456789abcde",
        "evt:42:0123456789abcdefa", "evt:-1:0123456789abcdef", "journal:0123456789abcdef:s=1",
        "evt:4294967296:0123456789abcdef", "evt:42:0123456789abcdeg"})
    EXPECT_FALSE(core::ParseNumberedPosition(bad).has_value()) << bad;
  struct Case {
    std::uint32_t Number;
    const char* Bytes;
    core::Placement Expected;
  } cases[] = {
      {43, "other", core::Placement::kNewer},  // written after it
      {42, "bytes", core::Placement::kAt},
      {42, "other", core::Placement::kGone},  // cleared and refilled up to its number
      {41, "bytes", core::Placement::kGone},  // passed where it would have stood
  };
  for (const Case& c : cases)
    EXPECT_EQ(core::PlaceNumbered(c.Number, c.Bytes, *parsed), c.Expected) << c.Number << c.Bytes;
}

// What a cycle prints and pages: whether it reports, and then its time line, the record's
// lines and the page's URL.
struct CycleOutput {
  bool Reports = false;
  std::vector<std::string> Lines;
  std::string PageUrl;
};

bool operator==(const CycleOutput& a, const CycleOutput& b) {
  return a.Reports == b.Reports && a.Lines == b.Lines && a.PageUrl == b.PageUrl;
}

std::ostream& operator<<(std::ostream& out, const CycleOutput& c) {
  out << (c.Reports ? "report" : "No events found.");
  for (const auto& line : c.Lines) out << " | " << line;
  return out << " | " << c.PageUrl;
}

// One monitor's cycles, reading the whole log each time or only what is new.
struct MonitorRun {
  tEventSearchRecord Settings;
  tMyEventLogRecord Record;
  tSearchMemory Memory;
  bool Whole = false;

  CycleOutput Cycle(TDateTime now) {
    CycleOutput out;
    out.Reports = CycleFindsReport(Settings, Record, Whole ? nullptr : &Memory);
    if (!out.Reports) return out;
    out.Lines = ReportRecordLines(Record, Settings.Action);
    out.Lines.insert(out.Lines.begin(), DateTimeToStrOrEmpty(now));
    out.PageUrl = PageUrl("gateway:8080", PageRequest(PageMessage(now, "HOST", Record)));
    Settings.LoggedAfter = now;
    return out;
  }
};

TDateTime LocalTimeOf(std::uint32_t unixSeconds) {
  return UTCToLocalDateTime(UnixTimeToDateTime(unixSeconds));
}

// Both monitors over one log, cycle by cycle, with LoggedAfter moved at random and a simulated
// clock; counts the cycles that could stop at a remembered record.
class Differential {
 public:
  Differential(const std::string& logName, std::int32_t eventId, const std::string& source) {
    for (MonitorRun* run : {&whole_, &since_}) {
      run->Settings.LogFile = logName;
      run->Settings.EventID = eventId;
      run->Settings.Source = source;
      run->Settings.Action = "page";
    }
    whole_.Whole = true;
  }

  // One cycle at the simulated time; LoggedAfter perhaps set anew first, or set to the value
  // given.
  void Cycle(std::mt19937& random, std::uint32_t clock, const std::string& what,
             std::optional<TDateTime> loggedAfter = std::nullopt) {
    if (loggedAfter) {
      whole_.Settings.LoggedAfter = since_.Settings.LoggedAfter = *loggedAfter;
    } else if (random() % 4 == 0) {
      const TDateTime choices[] = {0, LocalTimeOf(clock - random() % 400), LocalTimeOf(clock),
                                   LocalTimeOf(clock + 200000), whole_.Settings.LoggedAfter};
      const TDateTime loggedAfter = choices[random() % 5];
      whole_.Settings.LoggedAfter = since_.Settings.LoggedAfter = loggedAfter;
    }
    if (since_.Memory.Outcome != tSearchMemory::tOutcome::Unknown && !since_.Memory.Anchor.empty())
      ++anchored_;
    const TDateTime now = LocalTimeOf(clock);
    const CycleOutput expected = whole_.Cycle(now);
    const CycleOutput got = since_.Cycle(now);
    ASSERT_EQ(got, expected) << "cycle " << cycles_ << " after " << what;
    ASSERT_EQ(since_.Settings.LoggedAfter, whole_.Settings.LoggedAfter);
    ++cycles_;
    if (expected.Reports) ++reports_;
  }

  const tEventSearchRecord& Criteria() const { return since_.Settings; }
  int Cycles() const { return cycles_; }
  int Anchored() const { return anchored_; }
  int Reports() const { return reports_; }

 private:
  MonitorRun whole_;
  MonitorRun since_;
  int cycles_ = 0;
  int anchored_ = 0;
  int reports_ = 0;
};

evt::NewRecord EvtRecord(std::mt19937& random, std::uint32_t stamp) {
  static const char16_t* kSources[] = {u"Alpha", u"Beta", u"alpha"};
  evt::NewRecord record;
  record.TimeGenerated = stamp;
  record.TimeWritten = stamp;
  record.EventID = 5 + random() % 3 + (random() % 4 == 0 ? 0x40000000u : 0u);
  record.Source = kSources[random() % 3];
  record.Computer = u"HOST";
  std::u16string text = u"message " + std::u16string(1, char16_t(u'a' + random() % 26));
  text.append(random() % 600, u'x');
  record.Strings = {text};
  return record;
}

// Breaks the length that closes a record (so a reading breaks off there): the one at the index
// in file order, or one in the middle of the log; gives the file's bytes from before, empty when
// no record suits.
std::string DamageARecord(const std::string& path, std::mt19937& random,
                          std::optional<std::size_t> index = std::nullopt) {
  std::string bytes = ReadFileBytes(path);
  std::vector<std::size_t> ends;
  for (std::size_t at = evt::kHeaderSize + 4; at + 4 <= bytes.size(); ++at) {
    if (std::memcmp(bytes.data() + at, "LfLe", 4) != 0) continue;
    const std::uint32_t length =
        core::LoadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at - 4);
    // Records only: the end-of-file record carries the signature further in.
    if (length >= evt::kMinRecordSize && length < 0x10000 && at - 4 + length <= bytes.size() &&
        std::memcmp(bytes.data() + at - 4 + length - 4, bytes.data() + at - 4, 4) == 0)
      ends.push_back(at - 4 + length - 4);
  }
  if (ends.size() < 3 || (index && *index >= ends.size())) return {};
  const std::string original = bytes;
  const std::size_t end = index ? ends[*index] : ends[1 + random() % (ends.size() - 2)];
  std::memset(bytes.data() + end, 0xEE, 4);
  WriteFileBytes(path, bytes);
  return original;
}

TEST(IncrementalSearch, EvtLogsReportWhatTheWholeSearchReports) {
  TemporaryDirectory directory;
  const ScopedEnvironment scoped("EVENTLOG_DIR", directory.Path().c_str());
  const std::string path = directory.File("Diff.evt");
  const std::string other = directory.File("replacement");
  fs::create_directories(other);
  std::mt19937 random(20261210);
  int clears = 0, replacements = 0, damages = 0, traps = 0;
  for (const auto& [eventId, source] :
       std::vector<std::pair<std::int32_t, std::string>>{{7, ""}, {0, "alpha"}, {6, "Beta"}}) {
    Differential run("Diff", eventId, source);
    std::uint32_t clock = 1700000000;
    fs::remove(path);
    for (int cycle = 0; cycle < 90; ++cycle) {
      clock += 1 + random() % 60;
      std::string what = "appends";
      std::string repair;
      std::optional<TDateTime> loggedAfter;
      const unsigned roll = random() % 100;
      auto append = [&](const std::string& dir, int count) {
        for (int i = 0; i < count; ++i) {
          // Now and then a record from the future, reported until the clock passes it.
          const std::uint32_t stamp =
              random() % 15 == 0 ? clock + 500 + random() % 300 : clock - random() % 30;
          ASSERT_EQ(platform::AppendEvent(dir, "Diff", EvtRecord(random, stamp), evt::kMinMaxSize),
                    "");
        }
      };
      if (roll < 58) {
        append(directory.Path(), int(random() % 4));
      } else if (roll < 72) {
        what = "many appends: the circular file wraps";
        append(directory.Path(), 20 + int(random() % 60));
      } else if (roll < 81) {
        what = "a cleared log, refilled";
        ++clears;
        fs::remove(path);
        append(directory.Path(), int(random() % 5));
      } else if (roll < 86) {
        what = "a replaced file";
        ++replacements;
        fs::remove(other + "/Diff.evt");
        append(other, 1 + int(random() % 40));
        fs::rename(other + "/Diff.evt", path);
      } else if (roll < 91) {
        // Records no criteria match, enough to wrap past a remembered match.
        what = "a flood of other records";
        for (int i = 20 + int(random() % 60); i > 0; --i) {
          evt::NewRecord record = EvtRecord(random, clock - random() % 30);
          record.EventID = 99;
          record.Source = u"Gamma";
          ASSERT_EQ(platform::AppendEvent(directory.Path(), "Diff", record, evt::kMinMaxSize), "");
        }
      } else if (roll < 95) {
        // The remembered match leaves the log while the record the next search stops at stays:
        // a match from the future, records above it, then others until the match has wrapped
        // away; the next cycle would report it again but must not.
        what = "a remembered match wrapped away";
        ++traps;
        evt::NewRecord match = EvtRecord(random, clock + 600);
        match.EventID = eventId != 0 ? std::uint32_t(eventId) : 5;
        if (!source.empty()) match.Source.assign(source.begin(), source.end());
        match.Strings = {u"trap " + std::u16string(1, char16_t(u'A' + cycle % 26))};
        ASSERT_EQ(platform::AppendEvent(directory.Path(), "Diff", match, evt::kMinMaxSize), "");
        ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": the match"));
        auto other = [&] {
          evt::NewRecord record = EvtRecord(random, clock);
          record.EventID = 99;
          record.Source = u"Gamma";
          record.Strings = {std::u16string(400, u'o')};
          ASSERT_EQ(platform::AppendEvent(directory.Path(), "Diff", record, evt::kMinMaxSize), "");
        };
        for (int i = 0; i < 20; ++i) ASSERT_NO_FATAL_FAILURE(other());
        ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": records above it"));
        tMyEventLogRecord found;
        for (int i = 0; i < 1000 && FindLatestEvent(run.Criteria(), found) &&
                        found.Details.rfind("trap ", 0) == 0;
             ++i)
          ASSERT_NO_FATAL_FAILURE(other());
        loggedAfter = 0;
      } else if (roll < 98 && fs::exists(path)) {
        what = "a damaged record";
        append(directory.Path(), int(random() % 3));
        repair = DamageARecord(path, random);
        if (!repair.empty()) ++damages;
      }
      ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what, loggedAfter));
      if (!repair.empty()) {
        // A reading that breaks off at the damage is never remembered as finding nothing.
        tSearchMemory fresh;
        tMyEventLogRecord scratch;
        FindLatestEventSince(run.Criteria(), fresh, scratch);
        EXPECT_NE(fresh.Outcome, tSearchMemory::tOutcome::NoMatch) << "cycle " << cycle;
        WriteFileBytes(path, repair);
      }
    }
    // Most cycles read only what was new, and the runs found something to report.
    EXPECT_GT(run.Anchored(), run.Cycles() / 2) << eventId << source;
    EXPECT_GT(run.Reports(), 5) << eventId << source;
  }
  EXPECT_GT(clears, 3);
  EXPECT_GT(replacements, 3);
  EXPECT_GT(damages, 3);
  EXPECT_GT(traps, 3);
}

TEST(IncrementalSearch, AReadingThatBrokeOffIsNotRememberedAsFindingNothing) {
  TemporaryDirectory directory;
  const ScopedEnvironment scoped("EVENTLOG_DIR", directory.Path().c_str());
  std::mt19937 random(7);
  // The match is the oldest record; five others lie above it.
  for (int i = 0; i < 6; ++i) {
    evt::NewRecord record = EvtRecord(random, 1700000000 + i);
    record.EventID = i == 0 ? 5 : 99;
    ASSERT_EQ(platform::AppendEvent(directory.Path(), "Broken", record, evt::kMinMaxSize), "");
  }
  auto lastError = [] {
    const platform::UniqueEventLog log(platform::OpenEventLog("Broken"));
    std::vector<std::uint8_t> buffer(0x10000);
    std::uint32_t read = 0, needed = 0, error = 0;
    while (platform::ReadEventLogBackwards(log.get(), buffer.data(), std::uint32_t(buffer.size()),
                                           read, needed, error)) {
    }
    return error;
  };
  EXPECT_EQ(lastError(), platform::kErrorHandleEof);
  const std::string path = directory.File("Broken.evt");
  const std::string repair = DamageARecord(path, random, 0);
  ASSERT_FALSE(repair.empty());
  EXPECT_EQ(lastError(), platform::kErrorEventlogFileCorrupt);

  Differential run("Broken", 5, "");
  ASSERT_NO_FATAL_FAILURE(run.Cycle(random, 1700000100, "a reading broken off", 0.0));
  EXPECT_EQ(run.Reports(), 0);
  WriteFileBytes(path, repair);
  ASSERT_NO_FATAL_FAILURE(run.Cycle(random, 1700000100, "the log repaired", 0.0));
  EXPECT_EQ(run.Reports(), 1);
}

// Removes a journal file with the files the writer set aside from it ("<name>@....journal~",
// where an entry older than the file's newest made it start the file anew).
void RemoveJournalFile(const std::string& path) {
  const fs::path file(path);
  const std::string stem = file.stem().string() + "@";
  for (const auto& entry : fs::directory_iterator(file.parent_path()))
    if (entry.path().filename().string().rfind(stem, 0) == 0) fs::remove(entry.path());
  fs::remove(file);
}

// The journal: entries appended to the current file, files rotated and vacuumed, entries stamped
// ahead of the clock, the rules changed between cycles.
TEST(IncrementalSearch, JournalsReportWhatTheWholeSearchReports) {
  if (JournalRemotePath().empty()) GTEST_SKIP() << "systemd-journal-remote is not installed";
  TemporaryDirectory directory;
  const ScopedEnvironment scoped("EVENTLOG_DIR", directory.Path().c_str());
  SetTestEnvironment("EVENTLOG_JOURNAL_DIR", directory.Path());
  const char* rules[] = {"7 alpha .\n", "7 beta .\n6 alpha x\n", "7 alpha* y\n7 beta z\n"};
  WriteFileBytes(directory.File("journal.rules"), rules[0]);
  std::mt19937 random(4242);
  std::vector<std::string> files;
  int fileCount = 0, rotations = 0, vacuums = 0, futures = 0, ruleChanges = 0, traps = 0;
  auto rotate = [&] { files.push_back(directory.File(std::to_string(++fileCount) + ".journal")); };
  rotate();
  Differential run("Journal", 7, "");
  std::uint64_t counter = 0;
  for (int cycle = 0; cycle < 60; ++cycle) {
    // The stamps follow the real clock, as the journal's writer's do; the monitors' clock is the
    // stamps' second.
    const std::uint64_t nowMicros =
        std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count());
    // A second or two behind the stamps, so that new entries are after a report.
    const std::uint32_t clock = std::uint32_t(nowMicros / 1000000) - 1 - std::uint32_t(cycle % 2);
    std::string what = "appends";
    std::optional<TDateTime> loggedAfter;
    int count = 1 + int(random() % 3);
    const unsigned roll = random() % 100;
    if (roll < 6) {
      // The remembered match leaves with its file while the entry the next search stops at
      // stays; the next cycle would report it again but must not.
      what = "a remembered match vacuumed away";
      ++traps;
      WriteFileBytes(directory.File("journal.rules"), rules[0]);
      // Only the trap's entries: none from the future above them.
      for (const std::string& file : files) RemoveJournalFile(file);
      files.clear();
      rotate();
      ASSERT_EQ(WriteJournalFile(
                    files.back(),
                    {{nowMicros, {{"SYSLOG_IDENTIFIER", "alpha"}, {"MESSAGE", "the match"}}}}),
                "");
      ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": the match"));
      rotate();
      ASSERT_EQ(WriteJournalFile(
                    files.back(),
                    {{nowMicros + 1, {{"SYSLOG_IDENTIFIER", "gamma"}, {"MESSAGE", "above it"}}}}),
                "");
      ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": an entry above it"));
      while (files.size() > 1) {
        RemoveJournalFile(files.front());
        files.erase(files.begin());
      }
      count = 0;
      loggedAfter = 0;
    } else if (roll < 11) {
      // Entries written after an entry from the future may sort below it (here: entries of
      // another file, which sort by time): a search must not stop at it.
      what = "an entry from the future, then a match";
      ++traps;
      WriteFileBytes(directory.File("journal.rules"), rules[0]);
      for (const std::string& file : files) RemoveJournalFile(file);
      files.clear();
      rotate();
      const std::string other = files.back();
      ASSERT_EQ(WriteJournalFile(
                    other, {{nowMicros, {{"SYSLOG_IDENTIFIER", "gamma"}, {"MESSAGE", "before"}}}}),
                "");
      rotate();
      ASSERT_EQ(WriteJournalFile(files.back(),
                                 {{nowMicros + 3600000000ULL,
                                   {{"SYSLOG_IDENTIFIER", "gamma"}, {"MESSAGE", "ahead"}}}}),
                "");
      ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": the entry from the future"));
      ASSERT_EQ(
          WriteJournalFile(
              other, {{nowMicros + 1, {{"SYSLOG_IDENTIFIER", "alpha"}, {"MESSAGE", "behind it"}}}}),
          "");
      count = 0;
      loggedAfter = 0;
    } else if (roll < 15) {
      // A file copied in whose entry is stamped before the newest entry read so far: it sorts
      // below it, and only a whole reading finds it.
      what = "a journal file copied in, older than the newest entry";
      ++traps;
      WriteFileBytes(directory.File("journal.rules"), rules[0]);
      for (const std::string& file : files) RemoveJournalFile(file);
      files.clear();
      rotate();
      ASSERT_EQ(WriteJournalFile(
                    files.back(),
                    {{nowMicros + 2, {{"SYSLOG_IDENTIFIER", "gamma"}, {"MESSAGE", "newest"}}}}),
                "");
      ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what + ": the newest entry"));
      rotate();
      ASSERT_EQ(WriteJournalFile(
                    files.back(),
                    {{nowMicros + 1, {{"SYSLOG_IDENTIFIER", "alpha"}, {"MESSAGE", "copied in"}}}}),
                "");
      count = 0;
      loggedAfter = 0;
    } else if (roll < 22) {
      what = "a rotation";
      ++rotations;
      rotate();
    } else if (roll < 35 && files.size() > 1) {
      what = "a vacuum";
      ++vacuums;
      RemoveJournalFile(files.front());
      files.erase(files.begin());
    } else if (roll < 42) {
      what = "other rules";
      ++ruleChanges;
      WriteFileBytes(directory.File("journal.rules"), rules[random() % 3]);
    }
    std::vector<JournalEntry> entries;
    for (int i = 0; i < count; ++i) {
      JournalEntry entry;
      entry.RealtimeMicroseconds = nowMicros + ++counter;
      if (random() % 20 == 0) {
        entry.RealtimeMicroseconds += 3600000000ULL;  // an hour ahead
        ++futures;
        what += ", an entry from the future";
      }
      static const char* kIdentifiers[] = {"alpha", "beta", "alphabet"};
      entry.Fields = {
          {"SYSLOG_IDENTIFIER", kIdentifiers[random() % 3]},
          {"MESSAGE", std::string("m") + char('x' + random() % 3) + std::to_string(counter)}};
      entries.push_back(entry);
    }
    if (!entries.empty()) {
      ASSERT_EQ(WriteJournalFile(files.back(), entries), "");
    }
    ASSERT_NO_FATAL_FAILURE(run.Cycle(random, clock, what, loggedAfter));
  }
  ClearTestEnvironment("EVENTLOG_JOURNAL_DIR");
  // An entry from the future keeps the searches whole until its file goes (entries written
  // later may sort below it), and other rules make the next search whole.
  EXPECT_GT(run.Anchored(), run.Cycles() / 5);
  EXPECT_GT(run.Reports(), 3);
  EXPECT_GT(rotations, 2);
  EXPECT_GT(vacuums, 1);
  EXPECT_GT(futures, 1);
  EXPECT_GT(ruleChanges, 2);
  EXPECT_GT(traps, 2);
}

// The built EventLog watching a log for five cycles, a record written after each of the first
// four; the transcript with each report's time line replaced by "<time>".
std::string WatchFiveCycles(bool whole, std::uint32_t now) {
  TemporaryDirectory directory;
  const std::string logs = directory.File("logs");
  fs::create_directories(logs);
  WriteFileBytes(directory.File("EventLog.XML"),
                 "<Sleep>1</Sleep><LogFile>Watch</LogFile><EventID>999</EventID>");
  auto write = [&](std::uint32_t id, std::uint32_t stamp, const std::u16string& text) {
    evt::NewRecord record;
    record.TimeGenerated = record.TimeWritten = stamp;
    record.EventID = id;
    record.Source = u"Watcher";
    record.Computer = u"HOST";
    record.Strings = {text};
    ASSERT_EQ(platform::AppendEvent(logs, "Watch", record, evt::kDefaultMaxSize), "");
  };
  write(999, 1507566240, u"old");  // reported by the first cycle (LoggedAfter 0)
  const std::string output = directory.File("output");
  BackgroundProcess monitor;
  std::string error;
  const std::string script =
      std::string("cd \"$1\" && exec env -u LC_ALL -u LC_TIME -u EVENTLOG_WHOLE_SEARCH ") +
      "EVENTLOG_DIR=\"$2\" TZ=UTC LANG=C " + (whole ? "EVENTLOG_WHOLE_SEARCH=1 " : "") + "\"$3\"";
  EXPECT_TRUE(monitor.Start("/bin/sh", {"-c", script, "sh", directory.Path(), logs, EVENTLOG_EXE},
                            output, error))
      << error;
  // After the cycle's sleeping line EventLog waits a second: the record lands in between.
  auto cycles = [&] {
    const std::string text = ReadFileBytes(output);
    std::size_t count = 0;
    for (std::size_t at = text.find("Sleeping"); at != std::string::npos;
         at = text.find("Sleeping", at + 1))
      ++count;
    return count;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::size_t written = 1;
  while (cycles() < 5 && std::chrono::steady_clock::now() < deadline) {
    if (cycles() == written) {
      switch (written++) {
        case 1:  // from the future: reported every cycle until the clock passes it
          write(999, now + 86400, u"ahead");
          break;
        case 2:
          write(5, now, u"another event");
          break;
        case 3:  // the newest match, older than the last report
          write(999, now - 100, u"late");
          break;
        default:
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  monitor.Stop(BackgroundProcess::Request::Terminate, std::chrono::milliseconds(2000));
  std::string text = ReadFileBytes(output);
  // The five cycles only: a sixth may have begun before the stop.
  std::size_t end = 0;
  for (int i = 0; i < 5 && end != std::string::npos; ++i) {
    end = text.find("Sleeping for 1 seconds.\r\n", end);
    if (end != std::string::npos) end += std::strlen("Sleeping for 1 seconds.\r\n");
  }
  if (end != std::string::npos) text.resize(end);
  return std::regex_replace(
      text, std::regex(R"(\r\n\d{1,2}/\d{1,2}/\d\d( \d{1,2}:\d\d:\d\d (am|pm))?\r\n)"),
      "\r\n<time>\r\n");
}

TEST(IncrementalSearch, EventLogPrintsTheSameWithAndWithoutWholeSearches) {
  const auto now = std::uint32_t(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
  const std::string sinceTranscript = WatchFiveCycles(false, now);
  const std::string wholeTranscript = WatchFiveCycles(true, now);
  EXPECT_EQ(sinceTranscript, wholeTranscript);
  auto report = [](const std::string& details, const std::string& generated) {
    return "\r\n<time>\r\n" + ReportLines("999", "Watcher", generated, details, "") +
           "Sleeping for 1 seconds.\r\n";
  };
  const std::string ahead = DateTimeToStrOrEmpty(UnixTimeToDateTime(now + 86400));
  EXPECT_EQ(wholeTranscript, "Version: 201710091624\r\n" + report("old", "10/9/17 4:24:00 pm") +
                                 report("ahead", ahead) + report("ahead", ahead) +
                                 "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n"
                                 "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n");
}

}  // namespace
