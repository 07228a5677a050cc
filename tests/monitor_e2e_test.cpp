// The built EventLog in temporary directories: console transcripts byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>

#include "tests/support/held_file_lock.h"
#include "tests/support/loopback_server.h"
#include "tests/support/nonblocking_console.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/transcript.h"

namespace {

constexpr char kVersion[] = "Version: 201710091624\r\n";
const std::string kGatewayAccepts = ProtocolBytes("answers/accepted.txt");
constexpr char kQuestions[] = "Logfile (Application): Event ID (0): Source: ";
// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;

struct Event {
  std::string Log = "System";
  std::string Source = "Service Control Manager";
  std::string Id = "7036";
  std::uint32_t Time = kOctoberNinth;
  std::vector<std::string> Strings = {"The Print Spooler service entered the running state."};
  std::string Locale = {};  // LC_ALL of the eventcreate run; empty: the test's own
};

class MonitorEndToEnd : public ::testing::Test {
 protected:
  std::string LogDirectory() const { return directory_.File("logs"); }

  void Write(const Event& event) {
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    if (!event.Locale.empty()) run.Environment = {{"LC_ALL", event.Locale}};
    run.Arguments = {"--dir",      LogDirectory(), "--log",  event.Log, "--source",
                     event.Source, "--id",         event.Id, "--time",  std::to_string(event.Time)};
    for (const auto& text : event.Strings) {
      run.Arguments.push_back("--string");
      run.Arguments.push_back(text);
    }
    ProcessResult result = RunProcess(run);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }

  void Settings(const std::string& xml) { WriteFileBytes(directory_.File("EventLog.XML"), xml); }

  ProcessResult Run(const std::string& input = "", ProcessRun run = {}) {
    run.Executable = EVENTLOG_EXE;
    run.WorkingDirectory = directory_.Path();
    run.Input = input;
    run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE", "LANGUAGE"};
    run.Environment.emplace("EVENTLOG_DIR", LogDirectory());
    run.Environment.emplace("TZ", "UTC");
    run.Environment.emplace("LANG", "C");
    return RunProcess(run);
  }

  ProcessResult RunWith(std::map<std::string, std::string> environment,
                        const std::string& input = "") {
    ProcessRun run;
    run.Environment = std::move(environment);
    return Run(input, run);
  }

  TemporaryDirectory directory_;
};

TEST_F(MonitorEndToEnd, WithoutSettingsFileAsksThreeQuestionsAndRunsOneCycle) {
  ProcessResult result = Run("");
  EXPECT_EQ(result.Output, std::string(kVersion) + kQuestions + "\r\nNo events found.\r\n");
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Errors, "");
}

TEST_F(MonitorEndToEnd, ConsoleAnswersChooseLogEventAndSource) {
  Write({});
  Write({.Source = "Tcpip", .Id = "4226", .Time = kOctoberNinth + 60, .Strings = {"limit"}});
  struct Case {
    const char* name;
    std::string input;
    std::string report;
  } cases[] = {
      {"LF", "System\n7036\nservice control manager\n",
       ReportLines("7036", "Service Control Manager", "10/9/17 4:24:00 pm",
                   "The Print Spooler service entered the running state.", "")},
      {"CR LF and a lone CR", "Sys\rtem\r\n7036\r\n\r\n",
       ReportLines("7036", "Service Control Manager", "10/9/17 4:24:00 pm",
                   "The Print Spooler service entered the running state.", "")},
      {"any event", "system\n\n\n",
       ReportLines("4226", "Tcpip", "10/9/17 4:25:00 pm", "limit", "")},
      {"Ctrl-Z ends the input",
       "System\x1a"
       "7036\n",
       ReportLines("4226", "Tcpip", "10/9/17 4:25:00 pm", "limit", "")},
  };
  for (const auto& c : cases) {
    ProcessResult result = Run(c.input);
    std::string rest = AfterReportTime(result.Output, std::string(kVersion) + kQuestions + "\r\n",
                                       kDefaultTimeLine);
    EXPECT_EQ(rest, c.report) << c.name;
    EXPECT_EQ(result.ExitCode, 0) << c.name;
  }
}

TEST_F(MonitorEndToEnd, AnswersThatMatchNothingFindNoEvents) {
  Write({});
  for (std::string input : {"System\n7037\n\n", "System\n\nOther Source\n", "Application\n\n\n",
                            "System\n-1\n\n", "System\n72572\n\n"}) {
    ProcessResult result = Run(input);
    EXPECT_EQ(result.Output, std::string(kVersion) + kQuestions + "\r\nNo events found.\r\n")
        << input;
  }
}

TEST_F(MonitorEndToEnd, SettingsFileModeReportsWithTheLowerCasedAction) {
  Write({});
  Write({.Source = "Disk",
         .Id = "0xC0040007",
         .Time = kOctoberNinth + 3600,
         .Strings = {"\\Device\\Harddisk0\\DR0", "bad block"}});
  Settings(
      "<?xml version=\"1.0\"?>\r\n<EventLog>\r\n  <LogFile>System</LogFile>\r\n"
      "  <EventID>7</EventID>\r\n  <Action>PAGE</Action>\r\n</EventLog>\r\n");
  // The action pages: a gateway that accepts it keeps the run free of failure reports.
  ServerScript accepts;
  accepts.Steps.push_back({kGatewayAccepts, {}});
  LoopbackServer gateway(accepts);
  ProcessResult result =
      RunWith({{"PAGING_GATEWAY_HOST", gateway.HostAndPort()}}, "these answers are never read\n");
  std::string rest =
      AfterReportTime(result.Output, std::string(kVersion) + "\r\n", kDefaultTimeLine);
  EXPECT_EQ(rest,
            ReportLines("7", "Disk", "10/9/17 5:24:00 pm", "\\Device\\Harddisk0\\DR0", "page"));
  EXPECT_EQ(result.ExitCode, 0);
  ASSERT_EQ(gateway.Requests().size(), 1u);
  EXPECT_NE(gateway.Requests()[0].find("Source%3DDisk%20EventID%3D7 HTTP/1.1\r\n"),
            std::string::npos);
}

TEST_F(MonitorEndToEnd, LoggedAfterDecidesWhetherTheNewestMatchIsReported) {
  Write({});
  struct Case {
    std::string loggedAfter;
    bool reported;
  } cases[] = {
      {"10/9/2017 4:23:59 PM", true},
      {"10/9/2017 4:24:00 PM", false},
      {"10/9/2017 16:24:01", false},
      // Earlier than 1899-12-30, so negative: the match is reported.
      {"1/1/1800", true},
  };
  for (const auto& c : cases) {
    Settings("<LogFile>System</LogFile><LoggedAfter>" + c.loggedAfter + "</LoggedAfter>");
    ProcessResult result = Run();
    bool reported =
        result.Output.find("MyEventLogRecord.EventLogRecord.EventID=7036\r\n") != std::string::npos;
    EXPECT_EQ(reported, c.reported) << c.loggedAfter << "\n" << result.Output;
    if (!c.reported) {
      EXPECT_EQ(result.Output, std::string(kVersion) + "\r\nNo events found.\r\n");
    }
  }
}

TEST_F(MonitorEndToEnd, ANegativeLoggedAfterWithoutAnyMatchFindsNoEvents) {
  Write({});
  Settings("<LogFile>System</LogFile><EventID>1</EventID><LoggedAfter>1/1/1800</LoggedAfter>");
  ProcessResult result = Run();
  EXPECT_EQ(result.Output, std::string(kVersion) + "\r\nNo events found.\r\n");
  EXPECT_EQ(result.ExitCode, 0);
}

TEST_F(MonitorEndToEnd, AnInvalidLoggedAfterEndsWithTheErrorLineAndExitCodeOne) {
  Write({});
  Settings("<LogFile>System</LogFile><LoggedAfter>2017-13-01</LoggedAfter><Sleep>1</Sleep>");
  ProcessResult result = Run();
  EXPECT_EQ(result.Output, std::string(kVersion) +
                               "Error: '2017-13-01' is not a valid date and time (EConvertError) "
                               "Trace=0\r\n");
  EXPECT_EQ(result.ExitCode, 1);
}

TEST_F(MonitorEndToEnd, ANonPositiveSleepRunsOneCycleWithoutSleepingLine) {
  for (std::string sleep : {"<Sleep>0</Sleep>", "", "<Sleep>-5</Sleep>", "<Sleep>abc</Sleep>"}) {
    Settings("<LogFile>System</LogFile>" + sleep);
    ProcessResult result = Run();
    EXPECT_EQ(result.Output, std::string(kVersion) + "\r\nNo events found.\r\n") << sleep;
    EXPECT_EQ(result.ExitCode, 0) << sleep;
    EXPECT_FALSE(result.Stopped) << sleep;
  }
}

TEST_F(MonitorEndToEnd, APositiveSleepRepeatsTheCycleAndReportsARecordOnce) {
  Write({});
  Settings("<Sleep>1</Sleep><LogFile>System</LogFile>");
  ProcessRun run;
  run.StopWhenOutputHolds = "Sleeping for 1 seconds.\r\n";
  run.StopAfterOccurrences = 3;
  ProcessResult result = Run("", run);
  ASSERT_TRUE(result.Stopped);
  std::string rest =
      AfterReportTime(result.Output, std::string(kVersion) + "\r\n", kDefaultTimeLine);
  EXPECT_EQ(rest, ReportLines("7036", "Service Control Manager", "10/9/17 4:24:00 pm",
                              "The Print Spooler service entered the running state.", "") +
                      "Sleeping for 1 seconds.\r\n"
                      "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n"
                      "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n");
}

TEST_F(MonitorEndToEnd, AnEventWrittenWhileWatchingIsReportedInTheNextCycle) {
  Settings("<Sleep>1</Sleep><LogFile>System</LogFile><EventID>999</EventID>");
  Write({});
  ProcessRun run;
  run.Executable = "/bin/sh";
  // EventLog watches; a second later the event is written, then EventLog runs two more seconds.
  std::string script =
      "\"$1\" & watcher=$!; sleep 1.5; \"$2\" --dir \"$3\" --log System --source Late --id 999 "
      "--string new >/dev/null; sleep 2.2; kill $watcher; wait $watcher";
  ProcessResult result;
  {
    run.Arguments = {"-c", script, "sh", EVENTLOG_EXE, EVENTCREATE_EXE, LogDirectory()};
    run.WorkingDirectory = directory_.Path();
    run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE"};
    run.Environment = {{"EVENTLOG_DIR", LogDirectory()}, {"TZ", "UTC"}, {"LANG", "C"}};
    result = RunProcess(run);
  }
  std::size_t reports = 0;
  for (std::size_t at = result.Output.find("EventID=999"); at != std::string::npos;
       at = result.Output.find("EventID=999", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << result.Output;
  EXPECT_NE(result.Output.find("MyEventLogRecord.Source=Late\r\n"), std::string::npos);
  std::string afterReport = result.Output.substr(result.Output.find("Source=Late"));
  EXPECT_NE(afterReport.find("\r\nNo events found.\r\n"), std::string::npos) << result.Output;
  std::string firstCycle =
      std::string(kVersion) + "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n";
  EXPECT_EQ(result.Output.substr(0, firstCycle.size()), firstCycle);
}

TEST_F(MonitorEndToEnd, ALogLockedByAStuckWriterIsReadInALaterCycle) {
  using namespace std::chrono_literals;
  Write({});
  Settings("<Sleep>1</Sleep><LogFile>System</LogFile>");
  // A writer holds the log for 3.9 seconds: the first cycle gives up on it after its 3-second
  // wait, the next one finds it free and reports the record, since nothing moved LoggedAfter.
  HeldFileLock writer(LogDirectory() + "/System.evt.lock", 3900ms);
  ASSERT_TRUE(writer.Held());
  ProcessRun run;
  run.StopWhenOutputHolds = "Sleeping for 1 seconds.\r\n";
  run.StopAfterOccurrences = 2;
  const auto start = std::chrono::steady_clock::now();
  ProcessResult result = Run("", run);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(result.Stopped);
  std::string rest = AfterReportTime(
      result.Output,
      std::string(kVersion) + "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n\r\n",
      kDefaultTimeLine);
  EXPECT_EQ(rest, ReportLines("7036", "Service Control Manager", "10/9/17 4:24:00 pm",
                              "The Print Spooler service entered the running state.", "") +
                      "Sleeping for 1 seconds.\r\n");
  EXPECT_GE(elapsed, 3900ms);
  EXPECT_LT(elapsed, 8s);
}

TEST_F(MonitorEndToEnd, TheRecordTimeIsShownInTheLocalTimeZone) {
  Write({});
  struct Case {
    std::string zone, generated;
  } cases[] = {
      {"UTC", "10/9/17 4:24:00 pm"},
      {"America/New_York", "10/9/17 12:24:00 pm"},
      {"Asia/Kolkata", "10/9/17 9:54:00 pm"},
      {"Australia/Lord_Howe", "10/10/17 3:24:00 am"},
  };
  for (const auto& c : cases) {
    ProcessResult result = RunWith({{"TZ", c.zone}}, "System\n\n\n");
    EXPECT_NE(
        result.Output.find("MyEventLogRecord.TimeGeneratedAsDateTime=" + c.generated + "\r\n"),
        std::string::npos)
        << c.zone << "\n"
        << result.Output;
  }
}

TEST_F(MonitorEndToEnd, AGermanLocaleWritesItsOwnDateTimeText) {
  Write({});
  ProcessResult probe = RunWith({{"LANG", "de_DE.UTF-8"}}, "System\n\n\n");
  std::string expected = "MyEventLogRecord.TimeGeneratedAsDateTime=09.10.2017 16:24:00\r\n";
  if (probe.Output.find("=10/9/17 4:24:00 pm") != std::string::npos)
    GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
  EXPECT_NE(probe.Output.find(expected), std::string::npos) << probe.Output;
  std::string rest = AfterReportTime(probe.Output, std::string(kVersion) + kQuestions + "\r\n",
                                     std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"));
  EXPECT_NE(rest, "");

  Settings("<LogFile>System</LogFile><LoggedAfter>09.10.2017 16:23:59</LoggedAfter>");
  ProcessResult parsed = RunWith({{"LANG", "de_DE.UTF-8"}});
  EXPECT_NE(parsed.Output.find(expected), std::string::npos) << parsed.Output;
  Settings("<LogFile>System</LogFile><LoggedAfter>10/9/2017</LoggedAfter>");
  ProcessResult rejected = RunWith({{"LANG", "de_DE.UTF-8"}});
  EXPECT_EQ(rejected.Output, std::string(kVersion) +
                                 "Error: '10/9/2017' is not a valid date and time "
                                 "(EConvertError) Trace=0\r\n");
}

TEST_F(MonitorEndToEnd, UnderThePlainLocalesTextsAreUtf8) {
  // Written and read under C: no character may turn into "?", or the two sources look alike.
  Write({.Source = "\xC3\x84rger", .Strings = {"\xC3\x84-Details"}, .Locale = "C"});
  Write({.Source = "\xC3\x96rger",
         .Time = kOctoberNinth + 60,
         .Strings = {"\xC3\x96"},
         .Locale = "C"});
  for (const char* locale : {"C", "POSIX"}) {
    SCOPED_TRACE(locale);
    const std::string prefix = std::string(kVersion) + kQuestions + "\r\n";
    ProcessResult older = RunWith({{"LANG", locale}}, "System\n\n\xC3\x84rger\n");
    EXPECT_EQ(AfterReportTime(older.Output, prefix, kDefaultTimeLine),
              ReportLines("7036", "\xC3\x84rger", "10/9/17 4:24:00 pm", "\xC3\x84-Details", ""));
    ProcessResult newer = RunWith({{"LANG", locale}}, "System\n\n\xC3\x96rger\n");
    EXPECT_EQ(AfterReportTime(newer.Output, prefix, kDefaultTimeLine),
              ReportLines("7036", "\xC3\x96rger", "10/9/17 4:25:00 pm", "\xC3\x96", ""));
    ProcessResult neither = RunWith({{"LANG", locale}}, "System\n\n?rger\n");
    EXPECT_EQ(neither.Output, prefix + "No events found.\r\n");
  }
}

TEST_F(MonitorEndToEnd, ALargeNewestRecordDoesNotHideTheRecordsBehindIt) {
  Write({});
  Write({.Source = "Big",
         .Id = "1",
         .Time = kOctoberNinth + 10,
         .Strings = {std::string(20000, 'x')}});
  ProcessResult older = Run("System\n7036\n\n");
  EXPECT_NE(older.Output.find("MyEventLogRecord.EventLogRecord.EventID=7036\r\n"),
            std::string::npos)
      << older.Output;
  ProcessResult big = Run("System\n1\n\n");
  EXPECT_NE(big.Output.find("MyEventLogRecord.Details=" + std::string(20000, 'x') + "\r\n"),
            std::string::npos);
}

TEST_F(MonitorEndToEnd, NonBlockingConsoleWaitsForAnswersAndForTheReader) {
  // A report far longer than the pipe holds, so that the program has to wait for the reader.
  const std::string details(60000, 'd');
  Write({.Strings = {details}});
  using namespace std::chrono_literals;
  struct Case {
    const char* name;
    std::vector<TimedInput> input;
  } cases[] = {
      // No answer is there when the first question is asked; each comes a while later.
      {"answers come later",
       {{300ms, "System\r\n"},
        {200ms, "70"},
        {100ms, "36\r\n"},
        {200ms, "Service Control Manager\r\n"}}},
      {"answers there at once", {{0ms, "System\r\n7036\r\nService Control Manager\r\n"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NonBlockingRun run;
    run.Process.Executable = EVENTLOG_EXE;
    run.Process.WorkingDirectory = directory_.Path();
    run.Process.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE", "LANGUAGE"};
    run.Process.Environment = {{"EVENTLOG_DIR", LogDirectory()}, {"TZ", "UTC"}, {"LANG", "C"}};
    run.Input = c.input;
    run.ReadSize = 700;
    run.ReadPause = 3ms;
    const NonBlockingResult outcome = RunOnNonBlockingPipes(run);
    ASSERT_TRUE(outcome.InputWasNonBlocking);
    ASSERT_TRUE(outcome.OutputWasNonBlocking);
    const ProcessResult& result = outcome.Result;
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Errors, "");
    const std::string rest = AfterReportTime(
        result.Output, std::string(kVersion) + kQuestions + "\r\n", kDefaultTimeLine);
    EXPECT_TRUE(rest ==
                ReportLines("7036", "Service Control Manager", "10/9/17 4:24:00 pm", details, ""))
        << result.Output.size() << " bytes, ending: "
        << result.Output.substr(result.Output.size() -
                                std::min<std::size_t>(result.Output.size(), 200));
  }
}

TEST_F(MonitorEndToEnd, AFailingConsoleEndsTheProgramWithExitCodeOne) {
  struct Case {
    const char* name;
    std::string redirection, output;
  } cases[] = {
      {"standard output closed", ">&-", ""},
      {"standard input unreadable", "< /",
       std::string(kVersion) +
           "Logfile (Application): Error: I/O error 21 (EInOutError) Trace=0\r\n"},
  };
  for (const auto& c : cases) {
    ProcessRun run;
    run.Executable = "/bin/sh";
    run.Arguments = {"-c", "\"$1\" " + c.redirection + "; echo \"exit $?\" >&2", "sh",
                     EVENTLOG_EXE};
    run.WorkingDirectory = directory_.Path();
    ProcessResult result = RunProcess(run);
    EXPECT_FALSE(result.Stopped) << c.name;
    EXPECT_EQ(result.Output, c.output) << c.name;
    EXPECT_EQ(result.Errors, "exit 1\n") << c.name;
  }
}

}  // namespace
