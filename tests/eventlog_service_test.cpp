// eventlog-service, the service's start and stop steps, run as the unit runs them: prepare writes
// the working settings with LoggedAfter carried forward, run passes EventLog's lines on without
// CR and saves the state after each report, finish cleans up. A shell script stands in for
// EventLog where the test needs exact output or a particular way of ending.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/regional.h"
#include "platform/locale.h"
#include "tests/support/background_process.h"
#include "tests/support/process.h"

namespace {

const std::string kService = EVENTLOG_SERVICE_EXE;
constexpr const char* kStateHeader =
    "# EventLog's delivery state (local time), written after every step of a report: the\n"
    "# LoggedAfter of the finished reports, and a report whose page attempt had not ended.\n"
    "# Delete this file to start afresh from the settings.\n";

ProcessRun Command(const std::string& executable, std::vector<std::string> arguments) {
  ProcessRun run;
  run.Executable = executable;
  run.Arguments = std::move(arguments);
  return run;
}

struct ServiceFixture {
  TemporaryDirectory root;
  std::string Dir() const { return root.File("work"); }
  std::string Settings() const { return root.File("EventLog.XML"); }
  std::string Program() const { return root.File("fake-EventLog"); }

  ServiceFixture() {
    RunProcess(Command("/bin/mkdir", {Dir()}));
    WriteFileBytes(Program(), "#!/bin/sh\nexit 0\n");
    RunProcess(Command("/bin/chmod", {"755", Program()}));
  }

  ProcessResult Step(const std::string& step, const std::string& locale = "C") const {
    ProcessRun run =
        Command(kService, {step, "--dir", Dir(), "--settings", Settings(), "--program", Program()});
    run.Environment = {{"LC_ALL", locale}, {"TZ", "UTC"}};
    return RunProcess(run);
  }

  // A stand-in of EventLog that writes these bytes and ends with the code.
  void FakeProgram(const std::string& output, int exitCode = 0) const {
    WriteFileBytes(root.File("output"), output);
    WriteFileBytes(Program(), "#!/bin/sh\ncat '" + root.File("output") + "'\nexit " +
                                  std::to_string(exitCode) + "\n");
  }
};

std::string Report(const std::string& reported, const std::string& generated) {
  return "\r\n" + reported +
         "\r\nMyEventLogRecord.EventLogRecord.EventID=7036\r\n"
         "MyEventLogRecord.Source=Service Control Manager\r\n"
         "MyEventLogRecord.TimeGeneratedAsDateTime=" +
         generated + "\r\nMyEventLogRecord.Details=d\r\nMyEventLogRecord.Action=page\r\n";
}

std::string TodayUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

TEST(EventLogService, RunCarriesTheEarlierOfReportAndRecordTime) {
  struct Case {
    const char* name;
    std::string output;
    std::string state;  // the state's moment; empty: no state file; "today": clamped to now
  };
  const Case cases[] = {
      {"record before the report",
       Report("1/5/20 10:00:00 am", "1/5/20 9:00:00 am") + "Sleeping for 1 seconds.\r\n",
       "2020-01-05 09:00:00.000"},
      {"record stamped after the report", Report("1/5/20 10:00:00 am", "1/5/30 9:00:00 am"),
       "2020-01-05 10:00:00.000"},
      {"report and record after this clock", Report("1/5/70 10:00:00 am", "1/6/70"), "today"},
      {"record without a time", Report("1/5/20 10:00:00 am", ""), "2020-01-05 10:00:00.000"},
      {"the last of two reports",
       Report("1/5/20 10:00:00 am", "1/5/20 9:00:00 am") + "Sleeping for 1 seconds.\r\n" +
           Report("1/5/20 10:00:01 am", "1/5/20 10:00:00 am"),
       "2020-01-05 10:00:00.000"},
      {"no report", "Version: 201710091624\r\n\r\nNo events found.\r\n", ""},
      {"a time line that is no date-time", Report("soon", "1/5/20 9:00:00 am"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), "<EventLog><Sleep>0</Sleep></EventLog>\n");
    service.FakeProgram(c.output);
    ASSERT_EQ(service.Step("prepare").ExitCode, 0);
    const ProcessResult run = service.Step("run");
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    const std::string statePath = service.Dir() + "/LoggedAfter.state";
    if (c.state.empty()) {
      EXPECT_FALSE(PathExists(statePath));
    } else if (c.state == "today") {
      const std::string state = ReadFileBytes(statePath);
      EXPECT_EQ(state.substr(0, std::string(kStateHeader).size() + 10), kStateHeader + TodayUtc());
    } else {
      EXPECT_EQ(ReadFileBytes(statePath), kStateHeader + c.state + "\n");
    }
    EXPECT_FALSE(PathExists(statePath + ".tmp"));
  }
}

TEST(EventLogService, RunPassesLinesOnWithoutCarriageReturns) {
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
  service.FakeProgram(
      "Version: 201710091624\r\n\r\nNo events found.\r\nDetails=a\x1b[2Jb\tc\rd\r\n"
      "no line end");
  ASSERT_EQ(service.Step("prepare").ExitCode, 0);
  const ProcessResult run = service.Step("run");
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Output,
            "Version: 201710091624\n\nNo events found.\nDetails=a\\x1B[2Jb\tc\\x0Dd\n"
            "no line end\n");
}

TEST(EventLogService, RunEndsTheWayEventLogEnded) {
  struct Case {
    const char* name;
    std::string script;
    int exitCode;  // -1: ended by a signal
  };
  const Case cases[] = {
      {"one cycle", "exit 0", 0},
      {"the error line", "printf 'Error: x (EConvertError) Trace=0\\r\\n'; exit 1", 1},
      {"killed", "kill -KILL $$", -1},
      {"no working copy", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
    WriteFileBytes(service.Program(), "#!/bin/sh\n" + c.script + "\n");
    if (!c.script.empty()) {
      ASSERT_EQ(service.Step("prepare").ExitCode, 0);
    }
    const ProcessResult run = service.Step("run");
    EXPECT_EQ(run.ExitCode, c.exitCode) << run.Errors;
    if (c.script.empty()) {
      EXPECT_EQ(run.Errors, "eventlog-service: no working copy of EventLog or EventLog.XML in " +
                                service.Dir() + "; run eventlog-service prepare first\n");
    }
  }
}

// The state is saved as each report passes, so that even a kill of the whole service keeps it.
TEST(EventLogService, RunSavesTheStateAtOnceAndPassesSigtermOn) {
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
  WriteFileBytes(service.root.File("report"), Report("1/5/20 10:00:00 am", "1/5/20 9:00:00 am"));
  WriteFileBytes(service.Program(), "#!/bin/sh\ntrap 'echo stopped; exit 3' TERM\ncat '" +
                                        service.root.File("report") +
                                        "'\necho started\nwhile :; do sleep 0.05; done\n");
  ASSERT_EQ(service.Step("prepare").ExitCode, 0);
  BackgroundProcess run;
  std::string error;
  const std::string output = service.root.File("run.out");
  ASSERT_TRUE(run.Start(kService, {"run", "--dir", service.Dir()}, output, error)) << error;
  for (int i = 0; i < 200 && ReadFileBytes(output).find("started") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ReadFileBytes(service.Dir() + "/LoggedAfter.state"),
            std::string(kStateHeader) + "2020-01-05 09:00:00.000\n");
  EXPECT_EQ(run.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5)), 3);
  const std::string lines = ReadFileBytes(output);
  EXPECT_EQ(lines.substr(lines.size() - 16), "started\nstopped\n");
}

TEST(EventLogService, PrepareCarriesLoggedAfterIntoTheWorkingSettings) {
  const std::string state = std::string(kStateHeader) + "2020-01-05 09:00:00.000\n";
  struct Case {
    const char* name;
    std::string settings;
    std::string state;  // empty: no state file
    std::string working;
    std::string errors;
  };
  const Case cases[] = {
      {"no state", "<EventLog>\n  <Sleep>1</Sleep>\n</EventLog>\n", "",
       "<EventLog>\n  <Sleep>1</Sleep>\n</EventLog>\n", ""},
      {"tag present, state later",
       "<EventLog>\r\n<LoggedAfter>1/1/20</LoggedAfter> <Sleep>1</Sleep>\r\n</EventLog>", state,
       "<EventLog>\r\n<LoggedAfter>1/5/20 9:00:00 am</LoggedAfter> <Sleep>1</Sleep>\r\n</EventLog>",
       "eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last report\n"},
      {"the settings' LoggedAfter later", "<EventLog><LoggedAfter>2/1/20</LoggedAfter></EventLog>",
       state, "<EventLog><LoggedAfter>2/1/20</LoggedAfter></EventLog>", ""},
      {"tag missing", "<EventLog>\n  <Sleep>1</Sleep>\n  </EventLog>\n", state,
       "<EventLog>\n  <Sleep>1</Sleep>\n  <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter>\n"
       "  </EventLog>\n",
       ""},
      {"tag and closing tag missing", "<Sleep>1</Sleep>", state,
       "<Sleep>1</Sleep>\n  <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter>\n", ""},
      {"end marker missing", "<LoggedAfter> <Sleep>1</Sleep>", state,
       "<LoggedAfter>1/5/20 9:00:00 am</LoggedAfter> <Sleep>1</Sleep>", ""},
      {"the first tag is in a comment, as the monitor reads it",
       "<!-- <LoggedAfter></LoggedAfter> -->\n<LoggedAfter>x</LoggedAfter>", state,
       "<!-- <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter> -->\n<LoggedAfter>x</LoggedAfter>", ""},
      {"LoggedAfter no date-time", "<LoggedAfter>2017-13-01</LoggedAfter>", state,
       "<LoggedAfter>2017-13-01</LoggedAfter>", ""},
      {"state unreadable", "<EventLog/>", "2020-01-05\n", "<EventLog/>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), c.settings);
    if (!c.state.empty()) WriteFileBytes(service.Dir() + "/LoggedAfter.state", c.state);
    const ProcessResult prepare = service.Step("prepare");
    EXPECT_EQ(prepare.ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog.XML"), c.working);
    if (!c.errors.empty()) {
      EXPECT_EQ(prepare.Errors, c.errors);
    }
    EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog"), ReadFileBytes(service.Program()));
  }
}

// A German run: the report is read and LoggedAfter written in the day.month.year format that
// EventLog prints and reads under the same settings.
TEST(EventLogService, CarriesLoggedAfterInTheLocalesFormat) {
  if (!platform::LocaleAvailable("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog>\n</EventLog>\n");
  service.FakeProgram(Report("05.01.2020 10:00:00", "05.01.2020 09:00:00"));
  ASSERT_EQ(service.Step("prepare", "de_DE.UTF-8").ExitCode, 0);
  ASSERT_EQ(service.Step("run", "de_DE.UTF-8").ExitCode, 0);
  EXPECT_EQ(ReadFileBytes(service.Dir() + "/LoggedAfter.state"),
            std::string(kStateHeader) + "2020-01-05 09:00:00.000\n");
  ASSERT_EQ(service.Step("prepare", "de_DE.UTF-8").ExitCode, 0);
  EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog.XML"),
            "<EventLog>\n  <LoggedAfter>05.01.2020 09:00:00</LoggedAfter>\n</EventLog>\n");
}

TEST(EventLogService, PrepareRefusesMissingSettings) {
  ServiceFixture service;
  const ProcessResult prepare = service.Step("prepare");
  EXPECT_EQ(prepare.ExitCode, 1);
  EXPECT_EQ(prepare.Errors,
            "eventlog-service: " + service.Settings() +
                " is missing or unreadable: without it EventLog would ask its three questions on "
                "a console the service does not have. Restore it (a sample is "
                "/usr/share/doc/eventlog/EventLog.XML) and start again\n");
  EXPECT_FALSE(PathExists(service.Dir() + "/EventLog.XML"));
}

TEST(EventLogService, FinishRemovesWhatAKillLeftBehind) {
  ServiceFixture service;
  WriteFileBytes(service.Dir() + "/LoggedAfter.state",
                 std::string(kStateHeader) + "2020-01-05 09:00:00.000\n");
  WriteFileBytes(service.Dir() + "/LoggedAfter.state.tmp", "half");
  const ProcessResult finish = service.Step("finish");
  EXPECT_EQ(finish.ExitCode, 0);
  EXPECT_EQ(finish.Errors,
            "eventlog-service: the next start reports only events after 1/5/20 9:00:00 am\n");
  EXPECT_FALSE(PathExists(service.Dir() + "/LoggedAfter.state.tmp"));
  EXPECT_TRUE(PathExists(service.Dir() + "/LoggedAfter.state"));
}

TEST(EventLogService, RefusesUnknownArguments) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"start"}, {"run", "--dir"}, {"run", "run"}}) {
    const ProcessResult result = RunProcess(Command(kService, arguments));
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Errors.find("usage: eventlog-service"), std::string::npos);
  }
  const ProcessResult help = RunProcess(Command(kService, {"--help"}));
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Output.rfind("usage: eventlog-service prepare|run|finish", 0), 0u);
}

}  // namespace
