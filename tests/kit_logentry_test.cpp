#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kit/helpers.h"
#include "kit/logentry.h"
#include "kit/records.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"

namespace {

using namespace std::string_literals;

// The two time columns of a line written now (24-hour clock, ':' separators), then the rest.
const std::string kTimeColumns = R"(\d\d:\d\d:\d\d,"\[\d\d:\d\d:\d\d\.\d\d\d\]",)";

std::string LinePattern(const std::string& ident10, const std::string& code,
                        const std::string& text) {
  return kTimeColumns + RegexEscape("\"" + ident10 + "\"," + code + ",\"" + text + "\"\r\n");
}

// Keeps the run's settings and starts each test from the initial ones, its log in a fresh
// directory and the default regional settings.
class LogWriterTest : public ::testing::Test {
 protected:
  LogWriterTest() : saved_(GlobalSettings), base_(dir_.File("applog")) {
    GlobalSettings = tGlobalSettings{};
    GlobalSettings.Log.FileName = base_;
  }
  ~LogWriterTest() override { GlobalSettings = saved_; }

  tGlobalSettings saved_;
  TemporaryDirectory dir_;
  std::string base_;
  ScopedFormatSettings regional_{RegionalSettings{}};
};

TEST(LogCodes, CodeTextHasAtLeastFiveDigitsAndTheLevelIsItsFirstDigit) {
  struct Case {
    std::int32_t code;
    std::string text;
    int level;
  } cases[] = {
      {0, "00000", 0},
      {42, "00042", 0},
      {9999, "09999", 0},
      {10000, "10000", 1},
      {30000, "30000", 3},
      {50400, "50400", 5},
      {69990, "69990", 6},
      {99999, "99999", 9},
      {100000, "100000", 1},
      {123456, "123456", 1},
      {INT32_MAX, "2147483647", 2},
      {-7, "-00007", 0},
      {-99999, "-99999", 0},
      {-123456, "-123456", 0},
      {INT32_MIN, "-2147483648", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CodeText(c.code), c.text) << c.code;
    EXPECT_EQ(CodeLevel(c.text), c.level) << c.text;
  }
}

TEST(LogCodes, SafeTextTurnsDoubleQuotesIntoApostrophesAndKeepsTheRest) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"say \"hi\"", "say 'hi'"},
      {"\"\"\"", "'''"},
      {"it's", "it's"},
      {"line\r\nnext\r\n", "line\r\nnext\r\n"},
      {"\x93quoted\x94 \xE4", "\x93quoted\x94 \xE4"},
      {"a\0\"b"s, "a\0'b"s},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeText(c.text), c.expected) << c.text;
}

TEST(LogCodes, FormatThousandsGroupsByTheRegionalSeparator) {
  struct Case {
    char separator;
    std::int64_t value;
    std::string expected;
  } cases[] = {
      {',', 0, "0"},
      {',', 7, "7"},
      {',', 999, "999"},
      {',', 1000, "1,000"},
      {',', 65536, "65,536"},
      {',', 999999, "999,999"},
      {',', 1234567, "1,234,567"},
      {',', 25769803776, "25,769,803,776"},
      {',', INT64_MAX, "9,223,372,036,854,775,807"},
      {',', -123, "-123"},
      {',', -1234567, "-1,234,567"},
      {'.', 999, "999"},
      {'.', 1000, "1.000"},
      {'.', 1234567, "1.234.567"},
      {'.', 4294967296, "4.294.967.296"},
      {'\'', 1000000, "1'000'000"},
  };
  for (const auto& c : cases) {
    RegionalSettings settings;
    settings.ThousandSeparator = c.separator;
    ScopedFormatSettings regional(settings);
    EXPECT_EQ(FormatThousands(c.value), c.expected) << c.value << " with " << c.separator;
  }
}

TEST(LogCodes, NewDayTextListsVersionAndMemoryFigures) {
  EXPECT_EQ(NewDayText("9.8.7", 45, 37, 25769803776),
            "[Function=tarn32.LogEntry][Note=New day][Version=9.8.7][MemoryLoad=45%]"
            "[AvailPhysical=37%][TotalPhysical=25,769,803,776bytes]");
  EXPECT_EQ(NewDayText("", 0, 0, 0),
            "[Function=tarn32.LogEntry][Note=New day][Version=][MemoryLoad=0%]"
            "[AvailPhysical=0%][TotalPhysical=0bytes]");
  RegionalSettings german;
  german.ThousandSeparator = '.';
  ScopedFormatSettings regional(german);
  EXPECT_EQ(NewDayText("1", 100, 1, 1073741824),
            "[Function=tarn32.LogEntry][Note=New day][Version=1][MemoryLoad=100%]"
            "[AvailPhysical=1%][TotalPhysical=1.073.741.824bytes]");
}

TEST(LogCsvLine, IsFiveColumnsByteForByte) {
  RegionalSettings dotted;
  dotted.TimeSeparator = '.';
  ScopedFormatSettings regional(dotted);
  const TDateTime afternoon = EncodeDateTime({2017, 10, 9, 16, 4, 5, 9});
  const TDateTime morning = EncodeDateTime({2023, 1, 2, 7, 8, 9, 999});
  struct Case {
    TDateTime moment;
    std::string ident, code, text, expected;
  } cases[] = {
      {afternoon, "abc", "50400", "done",
       "16.04.05,\"[16.04.05.009]\",\"abc       \",50400,\"done\"\r\n"},
      {afternoon, "ABCDEFGHIJKLMN", "30000", "x",
       "16.04.05,\"[16.04.05.009]\",\"ABCDEFGHIJ\",30000,\"x\"\r\n"},
      {afternoon, "0123456789", "00042", "",
       "16.04.05,\"[16.04.05.009]\",\"0123456789\",00042,\"\"\r\n"},
      {morning, "", "-00007", "a 'b' c",
       "07.08.09,\"[07.08.09.999]\",\"          \",-00007,\"a 'b' c\"\r\n"},
      {morning, "id", "123456", "one\r\ntwo",
       "07.08.09,\"[07.08.09.999]\",\"id        \",123456,\"one\r\ntwo\"\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CsvLine(c.moment, c.ident, c.code, c.text), c.expected) << c.ident;
}

TEST(LogCsvLine, DailyFileNameAddsTheDateAndCsv) {
  EXPECT_EQ(DailyFileName("/var/log/app", EncodeDateTime({2017, 10, 9, 23, 59, 59, 999})),
            "/var/log/app-20171009.CSV");
  EXPECT_EQ(DailyFileName("app", EncodeDateTime({2024, 2, 29, 0, 0, 0, 0})), "app-20240229.CSV");
}

TEST_F(LogWriterTest, InitialSettingsDropEverythingAboveLevelZeroAndNameTheProgram) {
  GlobalSettings.Log.FileName.clear();
  GlobalSettings.Log.ErrorCount = 3;
  const std::string beside = std::filesystem::path(EVENTLOG_EXE).parent_path().string();
  std::vector<std::string> before;
  for (const auto& entry : std::filesystem::directory_iterator(beside))
    if (entry.path().extension() == ".CSV") before.push_back(entry.path().string());

  LogEntry({50400, 0, "[Function=tarn32.SendPage][MSG=x]"});
  LogEntry({30000, 0, "failed"});

  const std::string program = GlobalSettings.Log.FileName;
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(std::filesystem::path(program).is_absolute()) << program;
  EXPECT_TRUE(std::filesystem::is_regular_file(program)) << program;
  EXPECT_EQ(std::filesystem::path(program).filename().string(), "eventlog_tests");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(program).parent_path(), beside));
  EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
  EXPECT_EQ(GlobalSettings.Log.LastDay, 0);
  std::vector<std::string> after;
  for (const auto& entry : std::filesystem::directory_iterator(beside))
    if (entry.path().extension() == ".CSV") after.push_back(entry.path().string());
  EXPECT_EQ(after, before) << "a dropped entry left a file next to the program";
  if (PathExists(TodaysFile(program)) &&
      std::find(before.begin(), before.end(), TodaysFile(program)) == before.end())
    std::filesystem::remove(TodaysFile(program));
}

TEST_F(LogWriterTest, AnEntryIsWrittenWhenItsLevelIsAtMostTheSetting) {
  struct Case {
    std::int32_t level, code;
    bool written;
  } cases[] = {
      {0, 42, true},     {0, 9999, true},       {0, -7, true},        {0, INT32_MIN, true},
      {0, 10000, false}, {0, 30000, false},     {0, 50400, false},    {3, 30000, true},
      {3, 39999, true},  {3, 40000, false},     {3, 123456, true},    {5, 50400, true},
      {5, 69990, false}, {1, INT32_MAX, false}, {2, INT32_MAX, true}, {-1, 0, false},
      {-1, -7, false},   {-1, 42, false},       {9, 99999, true},     {9, 69990, true},
      {9, 0, true},
  };
  GlobalSettings.Log.Ident = "lvl";
  std::string expected;
  for (const auto& c : cases) {
    GlobalSettings.Log.Level = c.level;
    GlobalSettings.Log.ErrorCount = 5;
    const std::string text = "level " + std::to_string(c.level) + " code " + std::to_string(c.code);
    LogEntry({c.code, 0, text});
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0) << text;
    if (c.written) expected += LinePattern("lvl       ", CodeText(c.code), text);
  }
  const std::string file = TodaysFile(base_);
  EXPECT_TRUE(std::regex_match(FileOrNothing(file), std::regex(expected))) << FileOrNothing(file);
  EXPECT_EQ(GlobalSettings.Log.FileName, base_);
  EXPECT_EQ(GlobalSettings.Log.LastDay, 0);
  EXPECT_FALSE(GlobalSettings.Log.Busy);
  // Exactly the expected files: the daily file and nothing else.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(LogWriterTest, LinesCarryIdentCodeAndSafeTextAndAppendToTheDay) {
  struct Case {
    std::string ident, ident10;
    std::int32_t code;
    std::string text, safe;
  } cases[] = {
      {"abc", "abc       ", 42, "short", "short"},
      {"LongIdentifier", "LongIdenti", 50400, "long ident", "long ident"},
      {"", "          ", 30000, "[MSG=\"quoted\"]", "[MSG='quoted']"},
      {"ten chars!", "ten chars!", 69990, "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
  };
  GlobalSettings.Log.Level = 9;
  const std::string file = TodaysFile(base_);
  WriteFileBytes(file, "kept\r\n");
  std::string expected = RegexEscape("kept\r\n");
  for (const auto& c : cases) {
    GlobalSettings.Log.Ident = c.ident;
    LogEntry({c.code, 17, c.text});
    expected += LinePattern(c.ident10, CodeText(c.code), c.safe);
  }
  const std::string content = FileOrNothing(file);
  EXPECT_TRUE(std::regex_match(content, std::regex(expected))) << content;
  // The two time columns come from one clock reading.
  std::smatch columns;
  ASSERT_TRUE(
      std::regex_search(content, columns, std::regex(R"((\d\d:\d\d:\d\d),"\[(\d\d:\d\d:\d\d)\.)")));
  EXPECT_EQ(columns[1], columns[2]);
}

// Retention: the first entry of a day prunes the dated csv files of the log's directory and the
// report sheets of the current directory, then writes the new-day line before its own.
class LogDayChangeTest : public LogWriterTest {
 protected:
  LogDayChangeTest() : savedDirectory_(std::filesystem::current_path()) {
    std::filesystem::current_path(work_.Path());
  }
  ~LogDayChangeTest() override { std::filesystem::current_path(savedDirectory_); }

  static std::string DayText(int daysAgo) { return FormatDateTime("yyyymmdd", Now() - daysAgo); }

  std::filesystem::path savedDirectory_;
  TemporaryDirectory work_;
};

TEST_F(LogDayChangeTest, FirstEntryOfTheDayPrunesThenWritesTheNewDayLine) {
  for (const bool newDayWritten : {true, false}) {
    SCOPED_TRACE(newDayWritten ? "level 6" : "level 5");
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
      std::filesystem::remove(entry.path());
    for (const auto& entry : std::filesystem::directory_iterator(work_.Path()))
      std::filesystem::remove(entry.path());
    struct Dated {
      std::string path;
      bool kept;
    } files[] = {
        {dir_.File("applog-" + DayText(2) + ".csv"), false},
        {dir_.File("applog-" + DayText(-1) + ".CSV"), false},
        {dir_.File("applog.csv"), false},
        {dir_.File("applog-" + DayText(1) + ".CSV"), true},
        {dir_.File("applog-" + DayText(30) + ".txt"), true},
        {dir_.File("other-" + DayText(30) + ".csv"), true},
        {dir_.File("Applog-" + DayText(30) + ".csv"), true},
        {work_.File("Report-" + DayText(3) + ".xls"), false},
        {work_.File("Report.xls"), false},
        {work_.File("Report-" + DayText(0) + ".xls"), true},
        {work_.File("Report-" + DayText(3) + ".xlsx"), true},
        {work_.File("notes-" + DayText(3) + ".xls"), true},
    };
    for (const auto& f : files) WriteFileBytes(f.path, "x");

    GlobalSettings.Log = tLog{};
    GlobalSettings.Log.FileName = base_;
    GlobalSettings.Log.Ident = "day";
    GlobalSettings.Log.KeepDays = 2;
    GlobalSettings.Log.Level = newDayWritten ? 6 : 5;
    GlobalSettings.Version = "9.8.7";
    LogEntry({50400, 0, "first"});

    for (const auto& f : files) EXPECT_EQ(PathExists(f.path), f.kept) << f.path;
    EXPECT_EQ(GlobalSettings.Log.LastDay, static_cast<std::int64_t>(Now()));
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
    const std::string newDay =
        kTimeColumns + RegexEscape("\"day       \",69990,\"") +
        R"(\[Function=tarn32\.LogEntry\]\[Note=New day\]\[Version=9\.8\.7\])"
        R"(\[MemoryLoad=\d{1,3}%\]\[AvailPhysical=\d{1,3}%\])" +
        RegexEscape("[TotalPhysical=" + FormatThousands(GetMemoryStatus().TotalPhys) +
                    "bytes]\"\r\n");
    std::string expected =
        (newDayWritten ? newDay : "") + LinePattern("day       ", "50400", "first");
    const std::string file = TodaysFile(base_);
    EXPECT_TRUE(std::regex_match(FileOrNothing(file), std::regex(expected))) << FileOrNothing(file);

    // The same day again: no clean-up, no new-day line.
    const std::string late = dir_.File("applog-" + DayText(5) + ".csv");
    WriteFileBytes(late, "x");
    LogEntry({50400, 0, "second"});
    EXPECT_TRUE(PathExists(late));
    expected += LinePattern("day       ", "50400", "second");
    EXPECT_TRUE(std::regex_match(FileOrNothing(file), std::regex(expected))) << FileOrNothing(file);
  }
}

TEST_F(LogDayChangeTest, RetentionOffLeavesFilesAndTheDayAlone) {
  const std::string old = dir_.File("applog-" + DayText(10) + ".csv");
  const std::string report = work_.File("Report-" + DayText(10) + ".xls");
  WriteFileBytes(old, "x");
  WriteFileBytes(report, "x");
  GlobalSettings.Log.Level = 6;
  GlobalSettings.Log.KeepDays = 0;
  LogEntry({50400, 0, "only"});
  EXPECT_TRUE(PathExists(old));
  EXPECT_TRUE(PathExists(report));
  EXPECT_EQ(GlobalSettings.Log.LastDay, 0);
  EXPECT_TRUE(std::regex_match(FileOrNothing(TodaysFile(base_)),
                               std::regex(LinePattern("          ", "50400", "only"))));
}

TEST_F(LogWriterTest, HeldWriteSectionMakesTheEntryGiveUpAfterThreeSeconds) {
  GlobalSettings.Log.Level = 9;
  GlobalSettings.Log.ErrorCount = 5;
  GlobalSettings.Log.Busy = true;
  const auto start = std::chrono::steady_clock::now();
  LogEntry({50400, 0, "never written"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_LT(waited, std::chrono::seconds(6));
  EXPECT_FALSE(PathExists(TodaysFile(base_))) << FileOrNothing(TodaysFile(base_));
  EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
  EXPECT_TRUE(GlobalSettings.Log.Busy) << "the entry released a section it did not hold";
  GlobalSettings.Log.Busy = false;
}

TEST_F(LogWriterTest, ConcurrentEntriesLoseNoLine) {
  constexpr int kThreads = 8, kEntries = 50;
  GlobalSettings.Log.Level = 9;
  GlobalSettings.Log.Ident = "threads";
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int n = 0; n < kEntries; ++n)
        LogEntry({50400, 0, "[T=" + std::to_string(t) + "][N=" + std::to_string(n) + "]"});
    });
  for (auto& thread : threads) thread.join();

  const std::string content = FileOrNothing(TodaysFile(base_));
  const std::regex line(kTimeColumns + R"("threads   ",50400,"\[T=(\d)\]\[N=(\d+)\]"\r\n)");
  std::set<std::pair<int, int>> seen;
  std::size_t consumed = 0;
  for (std::sregex_iterator it(content.begin(), content.end(), line), end; it != end; ++it) {
    EXPECT_EQ(it->position(), static_cast<std::ptrdiff_t>(consumed)) << "garbled before it";
    consumed = it->position() + it->length();
    EXPECT_TRUE(seen.insert({std::stoi((*it)[1]), std::stoi((*it)[2])}).second)
        << "twice: " << it->str();
  }
  EXPECT_EQ(consumed, content.size()) << "garbled tail";
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEntries));
  EXPECT_FALSE(GlobalSettings.Log.Busy);
  EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
}

}  // namespace
