// Locales whose date and time marks are characters of more than one byte (Korean 년 월 일 시 분 초,
// Japanese 年 月 日 時 分 秒): the settings keep whole characters, every date-time EventLog prints
// reads back to the same second, and a LoggedAfter time is accepted. The locales are compiled
// with localedef into a private directory (LOCPATH) once for the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/regional.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"

namespace {

constexpr char kVersion[] = "Version: 201710091624\r\n";
// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;

struct MultibyteLocale {
  const char* source;  // the locale's definition in /usr/share/i18n/locales
  const char* name;
};
const MultibyteLocale kLocales[] = {{"ko_KR", "ko_KR.UTF-8"}, {"ja_JP", "ja_JP.UTF-8"}};

class MultibyteLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    locales_ = std::make_unique<TemporaryDirectory>();
    for (const MultibyteLocale& locale : kLocales) {
      ProcessRun run;
      run.Executable = "/usr/bin/localedef";
      run.Arguments = {"-i", locale.source, "-f", "UTF-8", locales_->File(locale.name)};
      run.Timeout = std::chrono::seconds(120);
      // localedef ends with 1 after mere warnings too; what counts is the compiled locale.
      const ProcessResult result = RunProcess(run);
      if (!PathExists(locales_->File(locale.name) + "/LC_TIME")) {
        missing_ = std::string(locale.name) + ": " + result.Errors;
        return;
      }
    }
  }
  static void TearDownTestSuite() { locales_.reset(); }

  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "localedef could not compile " << missing_;
  }

  static std::string LocalePath() { return locales_->Path(); }

 private:
  static std::unique_ptr<TemporaryDirectory> locales_;
  static std::string missing_;
};

std::unique_ptr<TemporaryDirectory> MultibyteLocaleTest::locales_;
std::string MultibyteLocaleTest::missing_;

bool IsValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = text[i];
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

std::int64_t WholeSeconds(TDateTime moment) {
  return static_cast<std::int64_t>(std::llround(moment * 86400));
}

TEST_F(MultibyteLocaleTest, PrintedDateTimesReadBackToTheSameSecond) {
  const ScopedEnvironment path("LOCPATH", LocalePath().c_str());
  for (const MultibyteLocale& locale : kLocales) {
    SCOPED_TRACE(locale.name);
    const RegionalSettings settings =
        BuildRegionalSettings(platform::ReadLocaleValuesFor(locale.name));
    // The marks cannot be the single separator characters; the defaults stand in for them and
    // the order of the date's items stays the locale's.
    EXPECT_EQ(settings.DateSeparator, '/');
    EXPECT_EQ(settings.TimeSeparator, ':');
    EXPECT_EQ(settings.ShortDateFormat, "yyyy/MM/dd");
    EXPECT_EQ(settings.LongTimeFormat, "hh:mm:ss");
    EXPECT_EQ(DateTimeToStr(EncodeDateTime({2017, 10, 9, 16, 24, 0, 0}), settings),
              "2017/10/09 16:24:00");
    // Moments spread over two years and all hours of the day, midnight among them.
    const TDateTime start = EncodeDateTime({2016, 12, 31, 0, 0, 0, 0});
    for (std::int64_t second = 0; second < 2 * 366 * 86400; second += 7 * 3600 + 37) {
      const TDateTime moment = start + static_cast<double>(second) / 86400;
      const std::string text = DateTimeToStr(moment, settings);
      ASSERT_TRUE(IsValidUtf8(text)) << text;
      TDateTime back = 0;
      ASSERT_TRUE(TryStrToDateTime(text, back, settings)) << text;
      ASSERT_EQ(WholeSeconds(back), WholeSeconds(moment)) << text;
    }
    TDateTime time = 0;
    ASSERT_TRUE(TryStrToDateTime("16:24", time, settings));
    EXPECT_EQ(WholeSeconds(time), 16 * 3600 + 24 * 60);
  }
}

TEST_F(MultibyteLocaleTest, EventLogPrintsTimesThatLoggedAfterReadsBack) {
  for (const MultibyteLocale& locale : kLocales) {
    SCOPED_TRACE(locale.name);
    TemporaryDirectory directory;
    ProcessRun write;
    write.Executable = EVENTCREATE_EXE;
    write.Arguments = {"--dir",    directory.File("logs"),
                       "--log",    "System",
                       "--source", "Src",
                       "--id",     "7036",
                       "--time",   std::to_string(kOctoberNinth),
                       "--string", "details"};
    ASSERT_EQ(RunProcess(write).ExitCode, 0);
    const auto runWithLoggedAfter = [&](const std::string& loggedAfter) {
      WriteFileBytes(directory.File("EventLog.XML"),
                     "<LogFile>System</LogFile><LoggedAfter>" + loggedAfter + "</LoggedAfter>");
      ProcessRun run;
      run.Executable = EVENTLOG_EXE;
      run.WorkingDirectory = directory.Path();
      run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE", "LANGUAGE"};
      run.Environment = {{"LANG", locale.name},
                         {"LOCPATH", LocalePath()},
                         {"EVENTLOG_DIR", directory.File("logs")},
                         {"TZ", "UTC"}};
      return RunProcess(run).Output;
    };
    const std::string generated =
        "MyEventLogRecord.TimeGeneratedAsDateTime=2017/10/09 16:24:00\r\n";
    // A time alone is a moment of 1899, long before the record.
    const std::string found = runWithLoggedAfter("16:24");
    EXPECT_NE(found.find(generated), std::string::npos) << found;
    EXPECT_TRUE(IsValidUtf8(found)) << found;
    const std::string justBefore = runWithLoggedAfter("2017/10/09 16:23:59");
    EXPECT_NE(justBefore.find(generated), std::string::npos) << justBefore;
    // The record's own printed time is not after itself.
    EXPECT_EQ(runWithLoggedAfter("2017/10/09 16:24:00"),
              std::string(kVersion) + "\r\nNo events found.\r\n");
  }
}

}  // namespace
