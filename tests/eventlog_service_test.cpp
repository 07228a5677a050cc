// eventlog-service, the service's start and stop steps, run as the unit runs them: prepare checks
// the settings and writes the working copies with LoggedAfter carried forward from EventLog's
// delivery state, run passes EventLog's lines, errors and page outcomes on (with journal
// priorities when its output is the journal), finish cleans up. A shell script stands in for
// EventLog where the test needs exact output, exact log entries or a particular way of ending;
// the built EventLog runs where the test is about EventLog's own state and pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/regional.h"
#include "platform/locale.h"
#include "tests/support/background_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/udp_receiver.h"

namespace {

namespace fs = std::filesystem;

const std::string kService = EVENTLOG_SERVICE_EXE;
constexpr const char* kStateHeader =
    "# EventLog's delivery state (local time), written after every step of a report: the\n"
    "# LoggedAfter of the finished reports, and a report whose page attempt had not ended.\n"
    "# Delete this file to start afresh from the settings.\n";
constexpr char kAccepting[] =
    "HTTP/1.1 200 OK\r\nContent-Length: 29\r\n\r\n<p>Message succesfully sent</p>";
constexpr char kRefusing[] = "HTTP/1.1 200 OK\r\nContent-Length: 19\r\n\r\nNo [such] pager\r\n";

ServerScript Answering(const std::string& response) {
  ServerScript script;
  script.Steps = {{response}};
  return script;
}

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
  std::string State() const { return Dir() + "/LoggedAfter.state"; }

  ServiceFixture() {
    fs::create_directory(Dir());
    // The settings check at the start wants the log folder to exist, as the package makes it.
    fs::create_directory(root.File("logs"));
    WriteFileBytes(Program(), "#!/bin/sh\nexit 0\n");
    fs::permissions(Program(), fs::perms::owner_all, fs::perm_options::add);
  }

  ProcessRun StepRun(const std::string& step, const std::string& locale = "C") const {
    ProcessRun run =
        Command(kService, {step, "--dir", Dir(), "--settings", Settings(), "--program", Program()});
    run.Environment = {{"LC_ALL", locale}, {"TZ", "UTC"}, {"EVENTLOG_DIR", root.File("logs")}};
    run.RemovedVariables = {"JOURNAL_STREAM",       "EVENTLOG_LOG_LEVEL", "EVENTLOG_LOG_IDENT",
                            "EVENTLOG_SYSLOG_HOST", "EVENTLOG_LOG_FILE",  "EVENTLOG_LOG_KEEPDAYS"};
    return run;
  }
  ProcessResult Step(const std::string& step, const std::string& locale = "C") const {
    return RunProcess(StepRun(step, locale));
  }

  // The run step with standard output and standard error on one pipe that JOURNAL_STREAM names,
  // as systemd sets them up for a unit whose output is the journal.
  ProcessResult RunOnJournal(std::map<std::string, std::string> environment = {}) const {
    ProcessRun run = StepRun("run");
    run.Executable = "/bin/sh";
    run.Arguments = {"-c",
                     "exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) "
                     "exec \"$0\" run --dir \"$1\"",
                     kService, Dir()};
    run.Environment.insert(environment.begin(), environment.end());
    return RunProcess(run);
  }

  // A stand-in of EventLog that writes these bytes and ends with the code.
  void FakeProgram(const std::string& output, int exitCode = 0) const {
    WriteFileBytes(root.File("output"), output);
    WriteFileBytes(Program(), "#!/bin/sh\ncat '" + root.File("output") + "'\nexit " +
                                  std::to_string(exitCode) + "\n");
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// prepare's own lines: the settings check's notes and warnings left out (an error stays).
std::string OwnLines(const std::string& errors) {
  std::string own;
  for (const std::string& line : Lines(errors))
    if (!line.starts_with("eventlog-service: note: ") &&
        !line.starts_with("eventlog-service: warning: "))
      own += line + "\n";
  return own;
}

// ---- run, with a stand-in of EventLog

// EventLog gets the delivery state file, the service's loopback channel for its log entries and
// a secret in its identifier that the CSV column does not show.
TEST(EventLogService, RunGivesEventLogItsStateFileAndLogChannel) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    std::string level;
    std::string identStart;  // the identifier before its 32 hex digits of secret
  };
  const Case cases[] = {
      {"the defaults", {}, "5", "eventlog  "},
      {"a higher level and the operator's identifier",
       {{"EVENTLOG_LOG_LEVEL", "7"}, {"EVENTLOG_LOG_IDENT", "pager"}},
       "7",
       "pager     "},
      {"a lower level is raised", {{"EVENTLOG_LOG_LEVEL", "2"}}, "5", "eventlog  "},
      {"an identifier of more than ten characters",
       {{"EVENTLOG_LOG_IDENT", "eventlog-west"}},
       "5",
       "eventlog-west"},
  };
  std::vector<std::string> secrets;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
    WriteFileBytes(service.Program(),
                   "#!/bin/sh\nprintf '%s\\n' \"$EVENTLOG_STATE_FILE\" \"$EVENTLOG_SYSLOG_HOST\" "
                   "\"$EVENTLOG_LOG_LEVEL\" \"$EVENTLOG_LOG_IDENT\"\n");
    ASSERT_EQ(service.Step("prepare").ExitCode, 0);
    ProcessRun run = service.StepRun("run");
    run.Environment.insert(c.environment.begin(), c.environment.end());
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Errors;
    const std::vector<std::string> lines = Lines(result.Output);
    ASSERT_EQ(lines.size(), 4u) << result.Output;
    EXPECT_EQ(lines[0], service.State());
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(127\.0\.0\.1:[1-9]\d*)"))) << lines[1];
    EXPECT_EQ(lines[2], c.level);
    EXPECT_EQ(lines[3].substr(0, c.identStart.size()), c.identStart);
    const std::string secret = lines[3].substr(std::min(lines[3].size(), c.identStart.size()));
    EXPECT_TRUE(std::regex_match(secret, std::regex("[0-9a-f]{32}"))) << lines[3];
    secrets.push_back(secret);
  }
  std::sort(secrets.begin(), secrets.end());
  EXPECT_EQ(std::unique(secrets.begin(), secrets.end()), secrets.end()) << "a secret came twice";
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
    std::string output;
  };
  const Case cases[] = {
      {"one cycle", "exit 0", 0, ""},
      {"the error line", "printf 'Error: x (EConvertError) Trace=0\\r\\n'; exit 1", 1,
       "Error: x (EConvertError) Trace=0\n"},
      {"killed", "kill -KILL $$", -1, ""},
      {"no working copy", "", 1, ""},
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
    EXPECT_EQ(run.Output, c.output);
    if (c.script.empty()) {
      EXPECT_EQ(run.Errors, "eventlog-service: no working copy of EventLog or EventLog.XML in " +
                                service.Dir() + "; run eventlog-service prepare first\n");
    }
  }
}

// SIGTERM to the service reaches EventLog; so does the service's own death by SIGKILL, which
// leaves nobody to read EventLog's lines.
TEST(EventLogService, RunPassesSigtermOn) {
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "the service killed" : "SIGTERM to the service");
    ServiceFixture service;
    WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
    const std::string stopped = service.root.File("stopped");
    WriteFileBytes(service.Program(), "#!/bin/sh\ntrap 'echo >" + stopped +
                                          "; echo stopped; exit 3' TERM\necho started\n"
                                          "while :; do sleep 0.05; done\n");
    ASSERT_EQ(service.Step("prepare").ExitCode, 0);
    const std::string output = service.root.File("run.out");
    {
      BackgroundProcess run;
      std::string error;
      ASSERT_TRUE(run.Start(kService, {"run", "--dir", service.Dir()}, output, error)) << error;
      for (int i = 0; i < 200 && ReadFileBytes(output).find("started") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // The destructor kills the service alone with SIGKILL.
      if (!killed) {
        EXPECT_EQ(run.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5)), 3);
        EXPECT_EQ(ReadFileBytes(output), "started\nstopped\n");
      }
    }
    for (int i = 0; i < 250 && !PathExists(stopped); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(PathExists(stopped));
  }
}

// Every line gets its journal priority: the console at info, EventLog's errors and its error line
// at err, the page outcomes from the log entries at theirs. A stand-in of EventLog sends the
// entries as EventLog's log writer does, with the identifier it was given.
TEST(EventLogService, JournalLinesCarryTheirPriorities) {
  const std::string id = "@IDENT@";
  auto entry = [&](int pri, const std::string& text) {
    return "<" + std::to_string(pri) + ">Jan 05 2020 10:00:00: %" + id + ": " + text;
  };
  struct Case {
    const char* name;
    std::vector<std::string> datagrams;  // @IDENT@ stands for the identifier EventLog was given
    std::string console;                 // then EventLog writes this, and this to errors
    std::string errors;
    int exitCode;
    std::string journal;
  };
  const Case cases[] = {
      {"an accepted page",
       {entry(133,
              "50400: [Function=tarn32.SendPage][MSG=EventLog: 1/5/20 10:00:00 am Host=h "
              "Source=Disk EventID=7][PagerNo=1][RESULT=OK][Filename=SendPage_1.xml]"
              "[HTTPResponse.txt Not created]")},
       "Version: 201710091624\r\n",
       "",
       0,
       "<6>page accepted: EventLog: 1/5/20 10:00:00 am Host=h Source=Disk EventID=7 (record "
       "SendPage_1.xml)\n<6>Version: 201710091624\n"},
      {"a refused page: the refusal's entry, then its outcome",
       {entry(132,
              "40400: [Function=tarn32.SendPage][Answer=No \\x5Bsuch\\x5D pager\\x0D\\x0A]"
              "[Filename=SendPage_2.xml]"),
        entry(133,
              "50400: [Function=tarn32.SendPage][MSG=m][PagerNo=1][RESULT=Error]"
              "[Filename=SendPage_2.xml][HTTPResponse.txt Not created]")},
       "",
       "",
       0,
       "<4>page refused by the gateway: No \\x5Bsuch\\x5D pager\\x0D\\x0A (record "
       "SendPage_2.xml)\n"},
      {"a refused page whose refusal entry did not come",
       {entry(133,
              "50400: [Function=tarn32.SendPage][MSG=m][PagerNo=1][RESULT=Error]"
              "[Filename=SendPage_3.xml][HTTPResponse.txt Not created]")},
       "",
       "",
       0,
       "<4>page refused by the gateway: its answer lacks the success text (record "
       "SendPage_3.xml)\n"},
      {"a failed page",
       {entry(131,
              "30000: [Function=tarn32.SendPage][Classname=ESocketError][Message=Socket Error # "
              "10061Connection refused.][Trace=310][Filename=/w/EXCEPTION-1.XML]"
              "[CoInitializeCount=0][Notes=http://h/cgi-bin/xmhscgi?password=p&pagerid=1&"
              "message=a][Trace=1][Filename=x][CoInitializeCount=0][Notes=]")},
       "",
       "",
       0,
       "<3>page failed: Socket Error # 10061Connection refused. (ESocketError); report "
       "/w/EXCEPTION-1.XML\n"},
      {"a failed page whose message has line breaks and no report",
       {entry(131,
              "30000: [Function=tarn32.SendPage][Classname=EHTTPProtocolException]"
              "[Message=HTTP/1.1 500 <0>Boom\r\n][Trace=310][Filename=]"
              "[CoInitializeCount=0][Notes=]")},
       "",
       "",
       0,
       "<3>page failed: HTTP/1.1 500 <0>Boom\\x0D\\x0A (EHTTPProtocolException); no report was "
       "written\n"},
      {"a page record that could not be written",
       {entry(131,
              "30100: [Function=tarn32.SendPage][Note=the page record could not be written]"
              "[Filename=SendPage_4.xml][Reason=No space left on device]")},
       "",
       "",
       0,
       "<3>page record SendPage_4.xml could not be written: No space left on device\n"},
      {"a message that holds the outcome's own items",
       {entry(133,
              "50400: [Function=tarn32.SendPage][MSG=x][RESULT=Error][Filename=f][y]"
              "[PagerNo=1][RESULT=OK][Filename=SendPage_5.xml][HTTPResponse.txt Not created]")},
       "",
       "",
       0,
       "<6>page accepted: x][RESULT=Error][Filename=f][y (record SendPage_5.xml)\n"},
      {"another entry, and one that does not read",
       {entry(134, "69990: [Function=tarn32.LogEntry][Note=New day]"),
        entry(133, "50400: something else")},
       "",
       "",
       0,
       "<6>log entry 69990: [Function=tarn32.LogEntry][Note=New day]\n"
       "<4>log entry 50400: something else\n"},
      {"entries without the secret are dropped",
       {"<131>Jan 05 2020 10:00:00: %eventlog  : 30000: [Function=tarn32.SendPage]",
        "<131>Jan 05 2020 10:00:00: %eventlog  0123456789abcdef0123456789abcdef: 30100: x",
        "30000: " + id},
       "",
       "",
       0,
       ""},
      {"a console line cannot pick its priority",
       {},
       "<0>Details=a\r\nError: not the last line\r\nSleeping for 1 seconds.\r\n",
       "",
       0,
       "<6><0>Details=a\n<6>Error: not the last line\n<6>Sleeping for 1 seconds.\n"},
      {"the error line, and a line on standard error",
       {},
       "Version: 201710091624\r\nError: x (EConvertError) Trace=0\r\n",
       "EventLog: cannot save the state\n",
       1,
       "<3>EventLog: cannot save the state\n<6>Version: 201710091624\n"
       "<3>Error: x (EConvertError) Trace=0\n"},
      {"a line that begins Error: is info when EventLog ends with 0",
       {},
       "Error: x (EConvertError) Trace=0\r\n",
       "",
       0,
       "<6>Error: x (EConvertError) Trace=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
    std::string datagrams;
    for (const std::string& datagram : c.datagrams) datagrams += datagram + '\0';
    WriteFileBytes(service.root.File("datagrams"), datagrams);
    WriteFileBytes(service.root.File("console"), c.console);
    WriteFileBytes(service.root.File("errors"), c.errors);
    // Entries first, then errors, then the console, each given time to arrive in that order.
    WriteFileBytes(service.Program(),
                   "#!/bin/bash\nport=${EVENTLOG_SYSLOG_HOST#*:}\n"
                   "while IFS= read -r -d '' d; do\n"
                   "  printf '%s' \"${d//@IDENT@/$EVENTLOG_LOG_IDENT}\" |\n"
                   // bash writes at each line end; dd makes the datagram one write.
                   "    dd iflag=fullblock bs=65536 count=1 status=none >/dev/udp/127.0.0.1/$port\n"
                   "done <'" +
                       service.root.File("datagrams") + "'\nsleep 0.2\ncat '" +
                       service.root.File("errors") + "' >&2\nsleep 0.2\ncat '" +
                       service.root.File("console") + "'\nexit " + std::to_string(c.exitCode) +
                       "\n");
    ASSERT_EQ(service.Step("prepare").ExitCode, 0);
    const ProcessResult run = service.RunOnJournal();
    EXPECT_EQ(run.ExitCode, c.exitCode);
    EXPECT_EQ(run.Output, c.journal);
  }
}

// The operator's own syslog receiver gets every entry too, under the operator's identifier: the
// secret stays on this machine.
TEST(EventLogService, RelaysEntriesToTheOperatorsSyslogHost) {
  UdpReceiver receiver;
  std::string error;
  ASSERT_TRUE(receiver.Bind(0, std::chrono::seconds(1), error)) << error;
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
  WriteFileBytes(service.Program(),
                 "#!/bin/bash\nprintf '<133>Jan 05 2020 10:00:00: %%%s: 50400: [x]' "
                 "\"$EVENTLOG_LOG_IDENT\" >/dev/udp/127.0.0.1/${EVENTLOG_SYSLOG_HOST#*:}\n"
                 "printf '<133>Jan 05 2020 10:00:00: %%pager: 50400: forged' "
                 ">/dev/udp/127.0.0.1/${EVENTLOG_SYSLOG_HOST#*:}\nsleep 0.2\n");
  ASSERT_EQ(service.Step("prepare").ExitCode, 0);
  ProcessRun run = service.StepRun("run");
  run.Environment["EVENTLOG_SYSLOG_HOST"] = "LOCALHOST:" + std::to_string(receiver.Port());
  run.Environment["EVENTLOG_LOG_IDENT"] = "pager";
  const ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Errors;
  EXPECT_EQ(result.Output, "log entry 50400: [x]\n");
  EXPECT_EQ(receiver.ReceiveFor(std::chrono::milliseconds(300)),
            std::vector<std::string>{"<133>Jan 05 2020 10:00:00: %pager: 50400: [x]"});
}

// ---- prepare

TEST(EventLogService, PrepareCarriesLoggedAfterIntoTheWorkingSettings) {
  const std::string state = std::string(kStateHeader) + "2020-01-05 09:00:00.000\n";
  const std::string pending =
      std::string(kStateHeader) + "2020-01-05 09:00:00.000\npending 2020-01-05 10:00:00.000\n";
  const std::string pagedAgain =
      "eventlog-service: the event of 1/5/20 10:00:00 am is reported and paged again because "
      "the last run was stopped before its page ended\n";
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
       "eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last report\n"},
      {"tag and closing tag missing", "<Sleep>1</Sleep>", state,
       "<Sleep>1</Sleep>\n  <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter>\n",
       "eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last report\n"},
      {"the first tag is in a comment, as the monitor reads it",
       "<!-- <LoggedAfter></LoggedAfter> -->\n<LoggedAfter>x</LoggedAfter>", state,
       "<!-- <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter> -->\n<LoggedAfter>x</LoggedAfter>",
       "eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last report\n"},
      {"state unreadable", "<EventLog/>", "2020-01-05\n", "<EventLog/>",
       "eventlog-service: %STATE% is not a delivery state and is left out, so the newest matching "
       "event may be reported and paged again. Delete it to start afresh\n"},
      {"a pending report after the carried time: reported again", "<EventLog/>", pending,
       "<EventLog/>\n  <LoggedAfter>1/5/20 9:00:00 am</LoggedAfter>\n",
       "eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last report\n" +
           pagedAgain},
      {"a pending report before the settings' LoggedAfter: one second before it",
       "<EventLog><LoggedAfter>1/6/20</LoggedAfter></EventLog>", pending,
       "<EventLog><LoggedAfter>1/5/20 9:59:59 am</LoggedAfter></EventLog>", pagedAgain},
      {"a pending report without a carried time",
       "<EventLog><LoggedAfter>1/5/20 11:00:00 am"
       "</LoggedAfter></EventLog>",
       std::string(kStateHeader) + "pending 2020-01-05 10:00:00.000\n",
       "<EventLog><LoggedAfter>1/5/20 9:59:59 am</LoggedAfter></EventLog>", pagedAgain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    WriteFileBytes(service.Settings(), c.settings);
    if (!c.state.empty()) WriteFileBytes(service.State(), c.state);
    const ProcessResult prepare = service.Step("prepare");
    EXPECT_EQ(prepare.ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog.XML"), c.working);
    EXPECT_EQ(OwnLines(prepare.Errors),
              std::regex_replace(c.errors, std::regex("%STATE%"), service.State()));
    EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog"), ReadFileBytes(service.Program()));
  }
}

// A German run: the state's LoggedAfter is written in the day.month.year format that EventLog
// reads under the same settings.
TEST(EventLogService, CarriesLoggedAfterInTheLocalesFormat) {
  if (!platform::LocaleAvailable("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog>\n</EventLog>\n");
  WriteFileBytes(service.State(), std::string(kStateHeader) + "2020-01-05 09:00:00.000\n");
  ASSERT_EQ(service.Step("prepare", "de_DE.UTF-8").ExitCode, 0);
  EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog.XML"),
            "<EventLog>\n  <LoggedAfter>05.01.2020 09:00:00</LoggedAfter>\n</EventLog>\n");
}

// A working copy is written only when its bytes change: a start that changes nothing goes ahead
// where nothing can be written (a directory in the place of the temporary file stands for a
// full disk, since it refuses root too), and one that must change them stops with the reason.
TEST(EventLogService, PrepareWritesTheWorkingCopiesOnlyWhenTheyChange) {
  ServiceFixture service;
  WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
  ASSERT_EQ(service.Step("prepare").ExitCode, 0);
  fs::create_directory(service.Dir() + "/EventLog.XML.tmp");
  fs::create_directory(service.Dir() + "/EventLog.tmp");
  const ProcessResult unchanged = service.Step("prepare");
  EXPECT_EQ(unchanged.ExitCode, 0) << unchanged.Errors;
  EXPECT_EQ(OwnLines(unchanged.Errors), "");

  WriteFileBytes(service.State(), std::string(kStateHeader) + "2020-01-05 09:00:00.000\n");
  const ProcessResult changed = service.Step("prepare");
  EXPECT_EQ(changed.ExitCode, 1);
  EXPECT_TRUE(std::regex_match(
      OwnLines(changed.Errors),
      std::regex("eventlog-service: LoggedAfter 1/5/20 9:00:00 am carried forward from the last "
                 "report\neventlog-service: cannot write " +
                 service.Dir() +
                 "/EventLog.XML.tmp: .+; free the space or mend the "
                 "permissions of " +
                 service.Dir() + " and start again\n")))
      << changed.Errors;
  EXPECT_EQ(ReadFileBytes(service.Dir() + "/EventLog.XML"), "<EventLog></EventLog>\n");
}

TEST(EventLogService, PrepareStopsOnSettingsItCannotUse) {
  struct Case {
    const char* name;
    std::string make;  // shell commands that make the settings file $1
    std::string errors;
  };
  const Case cases[] = {
      {"missing", "",
       "%SETTINGS% is missing or unreadable: without it EventLog would ask its three questions "
       "on a console the service does not have. Restore it (a sample is "
       "/usr/share/doc/eventlog/EventLog.XML) and start again"},
      {"a FIFO: no hang", "mkfifo \"$1\"",
       "cannot read the settings %SETTINGS%: is not a regular file. Make it a readable settings "
       "file (a sample is /usr/share/doc/eventlog/EventLog.XML) and start again"},
      {"larger than 1 MiB", "head -c 1048577 /dev/zero >\"$1\"",
       "cannot read the settings %SETTINGS%: holds more than 1048576 bytes. Make it a readable "
       "settings file (a sample is /usr/share/doc/eventlog/EventLog.XML) and start again"},
      // The settings check names it first where it is part of the program.
      {"a LoggedAfter that is no date-time",
       "printf '<LoggedAfter>2017-13-01</LoggedAfter>' >\"$1\"",
       "%SETTINGS%: LoggedAfter: '2017-13-01' is not a valid date and time under the regional "
       "settings of the service (LANG, LC_TIME, LC_ALL in /etc/default/eventlog). Write it as "
       "EventLog prints dates, or remove the tag, and start again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceFixture service;
    if (!c.make.empty()) {
      ASSERT_EQ(RunProcess(Command("/bin/sh", {"-c", c.make, "sh", service.Settings()})).ExitCode,
                0);
    }
    const ProcessResult prepare = service.Step("prepare");
    EXPECT_EQ(prepare.ExitCode, 1);
    const std::string expected =
        "eventlog-service: " +
        std::regex_replace(c.errors, std::regex("%SETTINGS%"), service.Settings()) + "\n";
    if (prepare.Errors.find("eventlog-service: error: ") == std::string::npos) {
      EXPECT_EQ(prepare.Errors, expected);
    } else {
      EXPECT_NE(prepare.Errors.find("2017-13-01"), std::string::npos) << prepare.Errors;
    }
    EXPECT_FALSE(PathExists(service.Dir() + "/EventLog.XML"));
  }
}

// ---- watches

// --watch NAME: a bad name stops every step with exit code 1 and the rule; a good one names the
// watch's settings, makes its folder at prepare, and gives EventLog its name, its identifier and
// its own daily log files.
TEST(EventLogService, WatchNamesItsFilesAndIsChecked) {
  const std::string rule =
      ": a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not EventLog. Name "
      "the watch's settings file NAME.XML after such a name\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string errors;
  } refused[] = {
      {{"prepare", "--watch", "EventLog"},
       "eventlog-service: the watch name 'EventLog' is taken by the plain service's settings file "
       "EventLog.XML" +
           rule},
      {{"run", "--watch", "../../etc"},
       "eventlog-service: the watch name holds a character that is not allowed at position 1" +
           rule},
      {{"finish", "--watch", ""}, "eventlog-service: the watch name is empty" + rule},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.arguments[0]);
    const ProcessResult result = RunProcess(Command(kService, c.arguments));
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Errors, c.errors);
    EXPECT_EQ(result.Output, "");
  }

  // Without --settings the watch's settings are /etc/eventlog/NAME.XML.
  ServiceFixture service;
  const std::string folder = service.root.File("watches/disk-1");
  ProcessRun prepare = service.StepRun("prepare");
  prepare.Arguments = {"prepare", "--watch", "no-such-watch-here", "--dir", folder};
  ProcessResult result = RunProcess(prepare);
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(
      OwnLines(result.Errors),
      "eventlog-service: /etc/eventlog/no-such-watch-here.XML is missing or unreadable: "
      "without it EventLog would ask its three questions on a console the service does not "
      "have. Restore it (a sample is /usr/share/doc/eventlog/EventLog.XML) and start again\n");

  WriteFileBytes(service.Settings(), "<EventLog></EventLog>\n");
  WriteFileBytes(service.Program(),
                 "#!/bin/sh\nprintf '%s|' \"$PWD\" \"$EVENTLOG_WATCH\" \"$EVENTLOG_LOG_FILE\" "
                 "\"$EVENTLOG_STATE_FILE\"\necho\n");
  prepare.Arguments = {"prepare",    "--watch",          "disk-1",    "--dir",          folder,
                       "--settings", service.Settings(), "--program", service.Program()};
  result = RunProcess(prepare);
  ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  for (const std::string& made : {service.root.File("watches"), folder}) {
    SCOPED_TRACE(made);
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
  EXPECT_EQ(ReadFileBytes(folder + "/EventLog.XML"), "<EventLog></EventLog>\n");

  struct RunCase {
    std::map<std::string, std::string> environment;
    std::string output;
  } runs[] = {
      // The shared environment file's daily log files move into the watch's folder.
      {{{"EVENTLOG_LOG_FILE", "/var/lib/eventlog/eventlog"}},
       folder + "|disk-1|" + folder + "/eventlog|" + folder + "/LoggedAfter.state|\n"},
      // A watch's own choice stays.
      {{{"EVENTLOG_LOG_FILE", "/srv/logs/disk"}, {"EVENTLOG_WATCH", "other"}},
       folder + "|disk-1|/srv/logs/disk|" + folder + "/LoggedAfter.state|\n"},
      {{}, folder + "|disk-1||" + folder + "/LoggedAfter.state|\n"},
  };
  for (const RunCase& c : runs) {
    SCOPED_TRACE(c.output);
    ProcessRun run = service.StepRun("run");
    run.Arguments = {"run", "--watch", "disk-1", "--dir", folder};
    run.Environment.insert(c.environment.begin(), c.environment.end());
    result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Errors;
    EXPECT_EQ(result.Output, c.output);
  }
}

// ---- finish

TEST(EventLogService, FinishRemovesWhatAKillLeftBehind) {
  ServiceFixture service;
  WriteFileBytes(service.State(), std::string(kStateHeader) + "2020-01-05 09:00:00.000\n" +
                                      "pending 2020-01-05 10:00:00.000\n");
  WriteFileBytes(service.State() + ".tmp", "half");
  // A link in the place of a temporary file is not followed, nor removed.
  WriteFileBytes(service.root.File("target"), "kept");
  fs::create_symlink(service.root.File("target"), service.Dir() + "/EventLog.XML.tmp");
  const ProcessResult finish = service.Step("finish");
  EXPECT_EQ(finish.ExitCode, 0);
  EXPECT_EQ(finish.Errors,
            "eventlog-service: a stale temporary file stays: " + service.Dir() +
                "/EventLog.XML.tmp: is not a regular file and is left in place\n"
                "eventlog-service: the next start reports only events after 1/5/20 9:00:00 am\n"
                "eventlog-service: the event of 1/5/20 10:00:00 am will be reported and paged "
                "again at the next start: EventLog was stopped before its page ended\n");
  EXPECT_FALSE(PathExists(service.State() + ".tmp"));
  EXPECT_TRUE(PathExists(service.State()));
  EXPECT_TRUE(fs::is_symlink(service.Dir() + "/EventLog.XML.tmp"));
  EXPECT_EQ(ReadFileBytes(service.root.File("target")), "kept");
}

TEST(EventLogService, ArgumentsHelpAndVersion) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string outputStart;
    std::string errorsStart;
  };
  const std::string usage = "usage: eventlog-service prepare|run|finish";
  const Case cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{"run", "--help"}, 0, usage, ""},
      {{"--version"}, 0, "eventlog-service " EVENTLOG_VERSION "\n", ""},
      {{}, 2, "", "eventlog-service: name the step: prepare, run or finish\n" + usage},
      {{"start"}, 2, "", "eventlog-service: unknown argument 'start'\n" + usage},
      {{"run", "--dir"}, 2, "", "eventlog-service: --dir needs a value\n" + usage},
      {{"run", "run"}, 2, "", "eventlog-service: unknown argument 'run'\n" + usage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "no arguments" : c.arguments[0]);
    const ProcessResult result = RunProcess(Command(kService, c.arguments));
    EXPECT_EQ(result.ExitCode, c.exitCode);
    EXPECT_EQ(result.Output.substr(0, c.outputStart.size()), c.outputStart);
    EXPECT_EQ(result.Errors.substr(0, c.errorsStart.size()), c.errorsStart);
    EXPECT_EQ(result.Output.empty(), c.outputStart.empty());
    EXPECT_EQ(result.Errors.empty(), c.errorsStart.empty());
  }
}

// ---- with the built EventLog

// The service's run of the built EventLog on .evt logs that eventcreate writes, in a fresh
// directory: the installed program in bin/, the operator's settings, the working directory.
class ServiceInstallation {
 public:
  ServiceInstallation() {
    fs::create_directory(Work());
    fs::create_directory(root_.File("logs"));
  }
  std::string Work() const { return root_.File("work"); }
  std::string Settings() const { return root_.File("EventLog.XML"); }
  std::string State() const { return Work() + "/LoggedAfter.state"; }

  void Write(const std::vector<std::string>& arguments) {
    ProcessRun run = Command(EVENTCREATE_EXE, {"--dir", root_.File("logs"), "--log", "System",
                                               "--source", "Service Control Manager"});
    run.Arguments.insert(run.Arguments.end(), arguments.begin(), arguments.end());
    const ProcessResult result = RunProcess(run);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }

  ProcessRun Step(const std::string& step, const std::string& gateway) const {
    ProcessRun run = Command(
        kService, {step, "--dir", Work(), "--settings", Settings(), "--program", EVENTLOG_EXE});
    run.RemovedVariables = {"LC_ALL",
                            "LC_TIME",
                            "LC_NUMERIC",
                            "LC_CTYPE",
                            "LANGUAGE",
                            "JOURNAL_STREAM",
                            "EVENTLOG_LOG_LEVEL",
                            "EVENTLOG_LOG_IDENT",
                            "EVENTLOG_SYSLOG_HOST",
                            "EVENTLOG_LOG_FILE",
                            "EVENTLOG_LOG_KEEPDAYS"};
    run.Environment = {{"EVENTLOG_DIR", root_.File("logs")},
                       {"TZ", "UTC"},
                       {"LANG", "C"},
                       {"PAGING_GATEWAY_HOST", gateway},
                       {"EVENTLOG_LOG_FILE", Work() + "/eventlog"}};
    return run;
  }

  // prepare, then run on the journal; the run's journal lines.
  ProcessResult Start(const std::string& gateway) const {
    const ProcessResult prepare = RunProcess(Step("prepare", gateway));
    EXPECT_EQ(prepare.ExitCode, 0) << prepare.Errors;
    return RunOnJournal(gateway);
  }
  ProcessResult RunOnJournal(const std::string& gateway) const {
    ProcessRun run = Step("run", gateway);
    run.Executable = "/bin/sh";
    run.Arguments = {"-c",
                     "exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) "
                     "exec \"$0\" run --dir \"$1\"",
                     kService, Work()};
    return RunProcess(run);
  }

 private:
  TemporaryDirectory root_;
};

// A record's text can print lines that look like a report of an older event: the state comes
// from EventLog's own file and does not move back, so the real event is not paged again.
TEST(EventLogServiceWithEventLog, AFakeReportInAnEventsTextDoesNotMoveTheState) {
  ServiceInstallation service;
  WriteFileBytes(service.Settings(),
                 "<EventLog><LogFile>System</LogFile><EventID>7036</EventID><Action>page</Action>"
                 "<Sleep>0</Sleep></EventLog>\n");
  // 2024-03-01 12:00:00 UTC
  service.Write(
      {"--id", "7036", "--time", "1709294400", "--string",
       "real\r\n\r\n1/1/20 10:00:00 am\r\nMyEventLogRecord.EventLogRecord.EventID=7036\r\n"
       "MyEventLogRecord.Source=x\r\nMyEventLogRecord.TimeGeneratedAsDateTime=1/1/20 "
       "9:00:00 am\r\nMyEventLogRecord.Details=fake"});
  LoopbackServer gateway(Answering(kAccepting));
  const ProcessResult first = service.Start(gateway.HostAndPort());
  EXPECT_EQ(first.ExitCode, 0) << first.Output;
  EXPECT_NE(first.Output.find("<6>MyEventLogRecord.TimeGeneratedAsDateTime=1/1/20 9:00:00 am\n"),
            std::string::npos)
      << first.Output;
  EXPECT_EQ(ReadFileBytes(service.State()),
            std::string(kStateHeader) + "2024-03-01 12:00:00.000\n");
  const ProcessResult second = service.Start(gateway.HostAndPort());
  EXPECT_EQ(second.Output, "<6>Version: 201710091624\n<6>\n<6>No events found.\n");
  EXPECT_EQ(gateway.Requests().size(), 1u);
}

// The outcome of each page reaches the journal at its priority, from EventLog's own log entries.
TEST(EventLogServiceWithEventLog, PageOutcomesReachTheJournal) {
  LoopbackServer accepting(Answering(kAccepting));
  LoopbackServer refusing(Answering(kRefusing));
  struct Case {
    const char* name;
    std::string gateway;
    std::string outcome;  // a pattern for the outcome's journal line
  };
  const std::string message =
      R"(EventLog: \d{1,2}/\d{1,2}/\d\d \d{1,2}:\d\d:\d\d (am|pm) Host%3D\S+ )"
      R"(Source%3DService Control Manager EventID%3D7036)";
  const std::string record = R"(SendPage_\d{17}\.xml)";
  const Case cases[] = {
      {"accepted", accepting.HostAndPort(),
       "<6>page accepted: " + message + " \\(record " + record + "\\)"},
      {"refused", refusing.HostAndPort(),
       "<4>page refused by the gateway: No \\\\x5Bsuch\\\\x5D pager\\\\x0D\\\\x0A \\(record " +
           record + "\\)"},
      {"failed", "127.0.0.1:1",
       R"(<3>page failed: Socket Error # 10061Connection refused\. \(ESocketError\); report )"
       R"(\S*/EXCEPTION-\d{17}\.XML)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceInstallation service;
    WriteFileBytes(service.Settings(),
                   "<EventLog><LogFile>System</LogFile><EventID>7036</EventID>"
                   "<Action>page</Action><Sleep>0</Sleep></EventLog>\n");
    service.Write({"--id", "7036", "--string", "the event"});
    const ProcessResult run = service.Start(c.gateway);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    std::vector<std::string> outcomes;
    for (const std::string& line : Lines(run.Output))
      if (!line.starts_with("<6>MyEventLogRecord.") && !line.starts_with("<6>Version") &&
          line != "<6>" && !std::regex_match(line, std::regex(R"(<6>\d.*)")))
        outcomes.push_back(line);
    ASSERT_EQ(outcomes.size(), 1u) << run.Output;
    EXPECT_TRUE(std::regex_match(outcomes[0], std::regex(c.outcome))) << outcomes[0];
  }
}

// The error line that ends EventLog (exit code 1) is at err. The working settings are written by
// hand here, since prepare itself refuses a LoggedAfter that EventLog cannot read.
TEST(EventLogServiceWithEventLog, TheErrorLineIsAnError) {
  ServiceInstallation service;
  WriteFileBytes(service.Work() + "/EventLog.XML", "<LoggedAfter>2017-13-01</LoggedAfter>\n");
  fs::copy_file(EVENTLOG_EXE, service.Work() + "/EventLog");
  const ProcessResult run = service.RunOnJournal("127.0.0.1:1");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Output,
            "<6>Version: 201710091624\n<3>Error: '2017-13-01' is not a valid date and time "
            "(EConvertError) Trace=0\n");
}

}  // namespace
