// The parts of the services that are the same on both systems: the rotating log files the Windows
// service keeps, how the Windows service's end is told to the Service Control Manager, and the
// names and daily log files of the watches.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/watch_name.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tools/service/rotating_log.h"
#include "tools/service/service_end.h"

namespace {

using namespace service;

TEST(WatchName, OnlySafeNamesOtherThanThePlainServicesAreTaken) {
  const std::string rule =
      ": a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not EventLog";
  struct Case {
    std::string name;
    std::string problem;
  } cases[] = {
      {"disk", ""},
      {"Web-01_east", ""},
      {std::string(64, 'w'), ""},
      {"EventLog2", ""},
      {"", "the watch name is empty" + rule},
      {std::string(65, 'w'), "the watch name has 65 characters" + rule},
      {"EventLog",
       "the watch name 'EventLog' is taken by the plain service's settings file "
       "EventLog.XML" +
           rule},
      {"EVENTLOG",
       "the watch name 'EVENTLOG' is taken by the plain service's settings file "
       "EventLog.XML" +
           rule},
      {"../etc", "the watch name holds a character that is not allowed at position 1" + rule},
      {"a/b", "the watch name holds a character that is not allowed at position 2" + rule},
      {"a b", "the watch name holds a character that is not allowed at position 2" + rule},
      {"disk.XML", "the watch name holds a character that is not allowed at position 5" + rule},
      {"a\nb", "the watch name holds a character that is not allowed at position 2" + rule},
      {"a\n", "the watch name holds a character that is not allowed at position 2" + rule},
      {"caf\xC3\xA9", "the watch name holds a character that is not allowed at position 4" + rule},
      {"a@b", "the watch name holds a character that is not allowed at position 2" + rule},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(core::WatchNameProblem(c.name), c.problem);
  }
}

TEST(WatchName, DailyLogFilesInThePlainFolderMoveIntoTheWatchsFolder) {
  struct Case {
    std::string baseName;
    std::optional<std::string> moved;
  } cases[] = {
      {"/var/lib/eventlog/eventlog", "/var/lib/eventlog/watches/disk/eventlog"},
      {"/var/lib/eventlog/./pager", "/var/lib/eventlog/watches/disk/pager"},
      {"/var/lib/eventlog//eventlog", "/var/lib/eventlog/watches/disk/eventlog"},
      {"/var/lib/eventlog/watches/disk/eventlog", std::nullopt},
      {"/srv/logs/eventlog", std::nullopt},
      {"/var/lib/eventlog/", std::nullopt},
      {"/var/lib/eventlog", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baseName);
    EXPECT_EQ(core::WatchLogFile(c.baseName, "/var/lib/eventlog", "/var/lib/eventlog/watches/disk"),
              c.moved);
  }
}

TEST(ServiceEnd, EachEndGivesTheManagerItsExitCodes) {
  struct Case {
    bool stopRequested;
    std::uint32_t exitCode;
    bool endedOnErrorLine;
    EndCause cause;
    std::uint32_t win32ExitCode;
    std::uint32_t serviceExitCode;
  } cases[] = {
      // Asked to stop: whatever EventLog ended with (Ctrl-Break's own code, or hard).
      {true, 0xC000013A, false, EndCause::StopRequested, 0, 0},
      {true, 1, true, EndCause::StopRequested, 0, 0},
      // EventLog's error line and exit code 1: a settings error.
      {false, 1, true, EndCause::SettingsError, 1066, 1},
      // Exit code 1 without the error line, or an error line and another code: ended by itself.
      {false, 1, false, EndCause::EndedByItself, 1067, 0},
      {false, 3, true, EndCause::EndedByItself, 1067, 0},
      {false, 0, false, EndCause::EndedByItself, 1067, 0},
      {false, 0xC0000005, false, EndCause::EndedByItself, 1067, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.exitCode));
    const EndCause cause = CauseOfProgramEnd(c.stopRequested, c.exitCode, c.endedOnErrorLine);
    EXPECT_EQ(cause, c.cause);
    const ServiceEnd end = EndFor(cause);
    EXPECT_EQ(end.Win32ExitCode, c.win32ExitCode);
    EXPECT_EQ(end.ServiceExitCode, c.serviceExitCode);
  }
  EXPECT_EQ(EndFor(EndCause::CannotStart).ServiceExitCode, 2u);
  EXPECT_EQ(EndFor(EndCause::ServiceFailure).ServiceExitCode, 3u);
  EXPECT_EQ(EndText(EndCause::StopRequested, 0xC000013A),
            "EventLog stopped as asked (exit code 0xC000013A); the service stops");
  EXPECT_EQ(EndText(EndCause::EndedByItself, 3),
            "EventLog ended without being asked (exit code 3; a Sleep of 0 runs one cycle only): "
            "the service stops with exit code 1067 and its recovery actions start it again");
}

TEST(RotatingLog, RotatesOnlyWhenTheNextLineWouldPassTheLimit) {
  struct Case {
    std::uint64_t size;
    std::size_t adding;
    bool rotates;
  } cases[] = {{0, 10, false}, {0, 200, false}, {90, 10, false},
               {91, 10, true}, {100, 1, true},  {1, 100, true}};
  for (const Case& c : cases)
    EXPECT_EQ(RotatesBefore(c.size, c.adding, 100), c.rotates) << c.size << "+" << c.adding;
}

TEST(RotatingLog, StampsEachLineAndKeepsTheNewestFiles) {
  TemporaryDirectory directory;
  const std::string path = directory.File("service.log");
  const TDateTime moment = EncodeDateTime({2026, 12, 10, 9, 8, 7, 654});
  EXPECT_EQ(StampedLine(moment, "info started"), "2026-12-10 09:08:07.654 info started\r\n");
  // Each line is 24 + 6 + 2 = 32 bytes: two fit a file of 70 bytes, the third rotates.
  RotatingLog log;
  log.Path = path;
  log.Limit = 70;
  log.Keep = 2;
  for (int i = 1; i <= 7; ++i) ASSERT_TRUE(AppendLine(log, moment, "line " + std::to_string(i)));
  const std::string stamp = "2026-12-10 09:08:07.654 ";
  struct Expected {
    int number;
    std::string content;
  } expected[] = {
      {0, stamp + "line 7\r\n"},
      {1, stamp + "line 5\r\n" + stamp + "line 6\r\n"},
      {2, stamp + "line 3\r\n" + stamp + "line 4\r\n"},
  };
  for (const Expected& e : expected)
    EXPECT_EQ(ReadFileBytes(RotatedName(path, e.number)), e.content) << e.number;
  EXPECT_FALSE(std::filesystem::exists(RotatedName(path, 3)));
  // A log opened again goes on from the file's size.
  RotatingLog reopened;
  reopened.Path = path;
  reopened.Limit = 70;
  reopened.Keep = 2;
  ASSERT_TRUE(AppendLine(reopened, moment, "line 8"));
  EXPECT_EQ(ReadFileBytes(path), stamp + "line 7\r\n" + stamp + "line 8\r\n");
  ASSERT_TRUE(AppendLine(reopened, moment, "line 9"));
  EXPECT_EQ(ReadFileBytes(path), stamp + "line 9\r\n");
  EXPECT_EQ(ReadFileBytes(RotatedName(path, 2)), expected[1].content);
}

TEST(RotatingLog, AFolderThatIsMissingFailsTheLine) {
  TemporaryDirectory directory;
  RotatingLog log;
  log.Path = directory.File("missing/service.log");
  EXPECT_FALSE(AppendLine(log, EncodeDateTime({2026, 1, 1, 0, 0, 0, 0}), "lost"));
  EXPECT_TRUE(log.Failing);
}

}  // namespace
