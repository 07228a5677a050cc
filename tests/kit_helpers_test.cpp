// The kit's file, text and system helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "kit/helpers.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"

namespace {

// Whether text is the date-time text of one of the whole seconds from `from` to `to`.
bool IsDateTimeTextBetween(const std::string& text, TDateTime from, TDateTime to) {
  for (auto s = static_cast<std::int64_t>(std::floor(from * 86400));
       s <= static_cast<std::int64_t>(std::ceil(to * 86400)); ++s)
    if (DateTimeToStr(static_cast<double>(s) / 86400) == text) return true;
  return false;
}

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The value of a "Name: value kB" line of a /proc file, in bytes; -1 when it is missing.
std::int64_t ProcKilobytes(const std::string& path, const std::string& name) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line))
    if (line.rfind(name + ":", 0) == 0) return std::stoll(line.substr(name.size() + 1)) * 1024;
  return -1;
}

// The process's address-space limit in bytes; 0 when unlimited.
std::int64_t AddressSpaceLimit() {
  std::ifstream file("/proc/self/limits");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("Max address space", 0) != 0) continue;
    std::istringstream fields(line.substr(17));
    std::string soft;
    fields >> soft;
    return soft == "unlimited" ? 0 : std::stoll(soft);
  }
  return -1;
}

std::int32_t HalfEvenPercent(std::int64_t available, std::int64_t total) {
  return static_cast<std::int32_t>(
      std::nearbyint(static_cast<long double>(available) / static_cast<long double>(total) * 100));
}

}  // namespace

TEST(AppendTextToFileTest, WritesDeletesAndFailsAsAsked) {
  enum Where { kInDirectory, kMissingDirectory, kIsDirectory, kReadOnly };
  struct Case {
    const char* what;
    Where where;
    std::optional<std::string> before;
    std::string text;
    bool append;
    bool result;
    std::optional<std::string> after;
  };
  const std::string binary("a\r\nb\nc\0d\xE4\xFF", 11);
  const Case cases[] = {
      {"empty text without append deletes", kInDirectory, "old", "", false, true, std::nullopt},
      {"empty text with append keeps", kInDirectory, "old", "", true, true, "old"},
      {"empty text with append creates nothing", kInDirectory, {}, "", true, true, {}},
      {"empty text without append, no file", kInDirectory, {}, "", false, true, {}},
      {"text without append replaces", kInDirectory, "old\r\n", "new", false, true, "new"},
      {"bytes are written unchanged", kInDirectory, {}, binary, false, true, binary},
      {"append adds at the end", kInDirectory, "ab", "c\r\n", true, true, "abc\r\n"},
      {"append creates a missing file", kInDirectory, {}, "x", true, true, "x"},
      {"missing directory with append", kMissingDirectory, {}, "x", true, false, {}},
      {"missing directory without append", kMissingDirectory, {}, "x", false, false, {}},
      {"missing directory, empty text", kMissingDirectory, {}, "", false, true, {}},
      {"a directory is no file", kIsDirectory, {}, "x", false, false, {}},
      // A read-only file is not deleted, and root could still open it: it must keep its text.
      {"read-only file without append", kReadOnly, "old", "new", false, false, "old"},
      {"read-only file, empty text", kReadOnly, "old", "", false, false, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TemporaryDirectory dir;
    std::string path = dir.File("out.txt");
    if (c.where == kMissingDirectory) path = dir.File("missing/out.txt");
    if (c.where == kIsDirectory) std::filesystem::create_directory(path);
    if (c.before) WriteFileBytes(path, *c.before);
    if (c.where == kReadOnly)
      std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::remove);
    EXPECT_EQ(AppendTextToFile(c.text, path, c.append), c.result);
    if (c.where == kIsDirectory) {
      EXPECT_TRUE(std::filesystem::is_directory(path));
    } else {
      ASSERT_EQ(PathExists(path), c.after.has_value());
      if (c.after) {
        EXPECT_EQ(ReadFileBytes(path), *c.after);
      }
    }
    if (c.where == kMissingDirectory) {
      EXPECT_FALSE(PathExists(dir.File("missing")));
    }
    if (c.where == kReadOnly)  // so that the directory can be removed on Windows too
      std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
  }
}

TEST(AppendTextToFileTest, AppendsFollowOneAnotherWithNothingBetween) {
  TemporaryDirectory dir;
  const std::string path = dir.File("log.csv");
  EXPECT_TRUE(AppendTextToFile("one", path, true));
  EXPECT_TRUE(AppendTextToFile("two\r\n", path, true));
  EXPECT_TRUE(AppendTextToFile("", path, true));
  EXPECT_TRUE(AppendTextToFile("three", path, true));
  EXPECT_EQ(ReadFileBytes(path), "onetwo\r\nthree");
  EXPECT_TRUE(AppendTextToFile("fresh", path, false));
  EXPECT_EQ(ReadFileBytes(path), "fresh");
}

TEST(AppendTimestampedLineTest, AddsOneDatedLineOrDeletesTheJournal) {
  ScopedFormatSettings settings(DottedSettings());
  struct Case {
    const char* what;
    bool missingDirectory;
    std::optional<std::string> before;
    std::string text;
    bool result;
  };
  const Case cases[] = {
      {"empty text deletes", false, "old line\r\n", "", true},
      {"empty text without a file", false, {}, "", true},
      {"first line creates the file", false, {}, "first", true},
      {"later lines are appended", false, "earlier\r\n", "a \"b\" <c> & \r\n d\xE9", true},
      {"missing directory", true, {}, "x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TemporaryDirectory dir;
    const std::string path =
        c.missingDirectory ? dir.File("missing/Exception.txt") : dir.File("Exception.txt");
    if (c.before) WriteFileBytes(path, *c.before);
    const TDateTime from = Now();
    EXPECT_EQ(AppendTimestampedLine(c.text, path), c.result);
    const TDateTime to = Now();
    if (c.text.empty() || c.missingDirectory) {
      EXPECT_FALSE(PathExists(path));
      continue;
    }
    const std::string content = ReadFileBytes(path);
    const std::string before = c.before.value_or("");
    const std::string tail = ": " + c.text + "\r\n";
    ASSERT_GT(content.size(), before.size() + tail.size()) << content;
    EXPECT_EQ(content.substr(0, before.size()), before);
    EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
    const std::string stamp =
        content.substr(before.size(), content.size() - before.size() - tail.size());
    EXPECT_TRUE(IsDateTimeTextBetween(stamp, from, to)) << stamp;
  }
}

TEST(AppendTimestampedLineTest, EveryCallAddsExactlyOneLine) {
  TemporaryDirectory dir;
  const std::string path = dir.File("Exception.txt");
  for (const char* text : {"one", "two", "three"}) ASSERT_TRUE(AppendTimestampedLine(text, path));
  const std::string content = ReadFileBytes(path);
  std::size_t lines = 0;
  for (std::size_t at = content.find("\r\n"); at != std::string::npos;
       at = content.find("\r\n", at + 2))
    ++lines;
  EXPECT_EQ(lines, 3u) << content;
  EXPECT_NE(content.find(": one\r\n"), std::string::npos);
  EXPECT_EQ(content.substr(content.size() - 9), ": three\r\n");
}

TEST(TimeToStrMsTest, RendersTheTimeOfDayWithMilliseconds) {
  struct Case {
    TDateTime moment;
    const char* colons;
    const char* points;
  };
  const Case cases[] = {
      {EncodeDateTime({2017, 10, 9, 16, 24, 5, 123}), "16:24:05.123", "16.24.05.123"},
      {EncodeDateTime({2024, 2, 29, 9, 5, 7, 45}), "09:05:07.045", "09.05.07.045"},
      {EncodeDateTime({1999, 12, 31, 23, 59, 59, 999}), "23:59:59.999", "23.59.59.999"},
      {0.0, "00:00:00.000", "00.00.00.000"},
      {0.5, "12:00:00.000", "12.00.00.000"},
      {-1.5, "12:00:00.000", "12.00.00.000"},
      // Only exactly -1 stands for now; its neighbour is a moment like any other.
      {std::nextafter(-1.0, -2.0), "00:00:00.000", "00.00.00.000"},
      {-1.25, "06:00:00.000", "06.00.00.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.colons);
    {
      ScopedFormatSettings defaults{RegionalSettings{}};
      EXPECT_EQ(TimeToStrMs(c.moment), c.colons);
    }
    ScopedFormatSettings dotted(DottedSettings());
    EXPECT_EQ(TimeToStrMs(c.moment), c.points);
  }
}

TEST(TimeToStrMsTest, MinusOneIsNow) {
  ScopedFormatSettings dotted(DottedSettings());
  const std::string from = FormatDateTime("hh:mm:ss.zzz", Now());
  const std::string now = TimeToStrMs(-1);
  const std::string to = FormatDateTime("hh:mm:ss.zzz", Now());
  if (to < from) GTEST_SKIP() << "midnight passed during the test";
  EXPECT_LE(from, now);
  EXPECT_LE(now, to);
  EXPECT_EQ(now.size(), 12u);
  EXPECT_EQ(now[2], '.');
}

TEST(IfThenStrTest, ChoosesByTheCondition) {
  EXPECT_EQ(IfThenStr(true, "first", "second") + IfThenStr(false, "first", "second"),
            "firstsecond");
}

TEST(GetHostNameTest, IsTheKernelsHostName) {
  const std::string expected = FirstLine("/proc/sys/kernel/hostname");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(GetHostName(), expected);
}

TEST(GetAppPathTest, IsTheDirectoryOfTheRunningProgram) {
  // The test binary is built next to the program.
  const std::string expected =
      std::filesystem::canonical(EVENTLOG_EXE).parent_path().string() + "/";
  EXPECT_EQ(GetAppPath(), expected);
}

TEST(ProgramDirectoryOfTest, KeepsUpToTheLastSeparatorWithoutTheLongPathPrefix) {
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/local/bin/EventLog", "/usr/local/bin/"},
      {"/EventLog", "/"},
      {"/opt/event log/", "/opt/event log/"},
      {"EventLog", ""},
      {"", ""},
      {"C:\\Program Files\\EventLog.exe", ""},  // only "/" separates here
      {"dir\\sub/EventLog", "dir\\sub/"},
      {"\\\\?\\/srv/app/EventLog", "/srv/app/"},
      {"\\\\?\\\\\\?\\/srv/EventLog", "\\\\?\\/srv/"},  // exactly four characters go
      {"\\\\?/srv/EventLog", "\\\\?/srv/"},             // not the prefix: kept
      {"/\\\\?\\/srv/EventLog", "/\\\\?\\/srv/"},
  };
  for (const auto& [path, directory] : cases)
    EXPECT_EQ(ProgramDirectoryOf(path), directory) << path;
}

TEST(MachineUpTimeTest, SplitsTheMillisecondCount) {
  struct Case {
    std::uint64_t ticks;
    const char* text;
    double days;
  };
  const Case cases[] = {
      {0, "0w0d0h0m0s", 0.0},
      {999, "0w0d0h0m0s", 0.0},
      {1000, "0w0d0h0m1s", 1.0 / 86400},
      {90061001, "0w1d1h1m1s", 90061.0 / 86400},
      {604800000, "1w0d0h0m0s", 7.0},
      {4294967295ull, "7w0d17h2m47s", 4294967.0 / 86400},
      // Counts beyond 32 bits go on without wrapping.
      {4294967296ull + 1000, "7w0d17h2m48s", 4294968.0 / 86400},
      {100000000000ull, "165w2d9h46m40s", 100000000.0 / 86400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    const tMachineUpTime upTime = MachineUpTimeFromTicks(c.ticks);
    EXPECT_EQ(upTime.Text, c.text);
    EXPECT_EQ(upTime.Ticks, static_cast<std::int64_t>(c.ticks));
    EXPECT_DOUBLE_EQ(upTime.Days, c.days);
  }
  // The documented figures hold to the last bit.
  EXPECT_EQ(MachineUpTimeFromTicks(90061001).Days, 90061.0 / 86400);
  EXPECT_EQ(MachineUpTimeFromTicks(4294967295ull).Days, 4294967.0 / 86400);
}

TEST(MachineUpTimeTest, FollowsTheTimeSinceBoot) {
  auto uptimeMs = [] {
    std::ifstream file("/proc/uptime");
    double seconds = -1;
    file >> seconds;
    return seconds * 1000;
  };
  const double from = uptimeMs();
  const tMachineUpTime upTime = GetMachineUpTime();
  const double to = uptimeMs();
  ASSERT_GT(from, 0);
  EXPECT_GE(static_cast<double>(upTime.Ticks), from - 20);
  EXPECT_LE(static_cast<double>(upTime.Ticks), to + 20);
  const tMachineUpTime same = MachineUpTimeFromTicks(static_cast<std::uint64_t>(upTime.Ticks));
  EXPECT_EQ(upTime.Text, same.Text);
  EXPECT_EQ(upTime.Days, same.Days);
}

// Shared by the test below and its child with a limited address space.
void ExpectMemoryFiguresOfThisProcess() {
  const std::int64_t vmBefore = ProcKilobytes("/proc/self/status", "VmSize");
  const tMemoryStatusRec m = GetMemoryStatus();
  const std::int64_t vmAfter = ProcKilobytes("/proc/self/status", "VmSize");
  ASSERT_TRUE(m.Valid);

  const std::int64_t memTotal = ProcKilobytes("/proc/meminfo", "MemTotal");
  const std::int64_t swapTotal = ProcKilobytes("/proc/meminfo", "SwapTotal");
  ASSERT_GT(memTotal, 0);
  EXPECT_NEAR(static_cast<double>(m.TotalPhys), static_cast<double>(memTotal),
              static_cast<double>(memTotal) / 1000);
  EXPECT_NEAR(static_cast<double>(m.TotalPageFile), static_cast<double>(memTotal + swapTotal),
              static_cast<double>(memTotal) / 1000);

  const std::int64_t limit = AddressSpaceLimit();
  ASSERT_GE(limit, 0);
  EXPECT_EQ(m.TotalVirtual, limit == 0 ? std::int64_t{1} << 47 : limit);
  EXPECT_GE(m.AvailVirtual, m.TotalVirtual - vmAfter - (64 << 20));
  EXPECT_LE(m.AvailVirtual, m.TotalVirtual - vmBefore + (64 << 20));

  EXPECT_GE(m.MemoryLoad, 0);
  EXPECT_LE(m.MemoryLoad, 100);
  const std::pair<std::int64_t, std::int64_t> groups[] = {{m.AvailPhys, m.TotalPhys},
                                                          {m.AvailPageFile, m.TotalPageFile},
                                                          {m.AvailVirtual, m.TotalVirtual}};
  const std::int32_t percents[] = {m.AvailPhysPercent, m.AvailPageFilePercent,
                                   m.AvailVirtualPercent};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GT(groups[i].first, 0);
    EXPECT_LE(groups[i].first, groups[i].second);
    EXPECT_EQ(percents[i], HalfEvenPercent(groups[i].first, groups[i].second));
  }
  // The load is the used share of physical memory, give or take a rounding.
  EXPECT_NEAR(m.MemoryLoad, 100 - m.AvailPhysPercent, 2);
}

TEST(MemoryStatusInChild, DISABLED_FiguresOfThisProcess) { ExpectMemoryFiguresOfThisProcess(); }

TEST(MemoryStatusTest, FiguresMatchTheSystem) { ExpectMemoryFiguresOfThisProcess(); }

TEST(MemoryStatusTest, VirtualFiguresFollowAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  // Under an address-space limit of 8 GiB the virtual figures follow it, in 64 bits.
  ProcessRun run;
  run.Executable = "/bin/sh";
  run.Arguments = {"-c", "ulimit -v 8388608 && exec \"$0\" \"$@\"",
                   std::filesystem::read_symlink("/proc/self/exe").string(),
                   "--gtest_filter=MemoryStatusInChild.*", "--gtest_also_run_disabled_tests"};
  const ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Output << result.Errors;
  EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
}
