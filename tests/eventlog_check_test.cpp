// The built eventlog-check in temporary folders: a real EventLog.XML, real .evt logs written with
// eventcreate, real program folders and a loopback gateway; its warnings and exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"

namespace {

namespace fs = std::filesystem;

// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;
constexpr char kDetails[] = "The Print Spooler service entered the running state.";
constexpr char kSound[] =
    "<?xml version=\"1.0\"?>\n<EventLog>\n  <LogFile>System</LogFile>\n"
    "  <EventID>7036</EventID>\n  <Action>page</Action>\n"
    "  <LoggedAfter>10/9/2017 4:00:00 PM</LoggedAfter>\n  <Sleep>60</Sleep>\n</EventLog>\n";

// An installation to check: the check copied into program/, run from run/ (where EventLog.XML
// is and page records land), the logs in logs/.
class CheckInstallation {
 public:
  CheckInstallation() {
    fs::create_directory(Program());
    fs::create_directory(Run());
    fs::create_directory(Logs());
    fs::copy_file(EVENTLOG_CHECK_EXE, Check());
  }

  std::string Program() const { return directory_.File("program"); }
  std::string Run() const { return directory_.File("run"); }
  std::string Logs() const { return directory_.File("logs"); }
  std::string Check() const { return Program() + "/eventlog-check"; }

  void Write(const std::vector<std::string>& arguments) {
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    run.Arguments = {"--dir", Logs()};
    run.Arguments.insert(run.Arguments.end(), arguments.begin(), arguments.end());
    ProcessResult result = RunProcess(run);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }

  // The record every case finds: 7036 at 4:24 pm, and a later 4226 that only "any event" finds.
  void WriteSystemLog(const std::string& name = "System") {
    Write({"--log", name, "--source", "Service Control Manager", "--id", "7036", "--time",
           std::to_string(kOctoberNinth), "--string", kDetails});
    Write({"--log", name, "--source", "Tcpip", "--id", "4226", "--time",
           std::to_string(kOctoberNinth + 60), "--string", "limit"});
  }

  void Settings(const std::string& xml, const std::string& name = "EventLog.XML") {
    WriteFileBytes(Run() + "/" + name, xml);
  }

  ProcessResult RunCheck(std::vector<std::string> arguments, const std::string& gateway,
                         const std::map<std::string, std::string>& more = {}) {
    ProcessRun run;
    run.Executable = Check();
    run.Arguments = std::move(arguments);
    run.WorkingDirectory = Run();
    run.RemovedVariables = {"LC_ALL",
                            "LC_TIME",
                            "LC_NUMERIC",
                            "LC_CTYPE",
                            "LANGUAGE",
                            "EVENTLOG_JOURNAL_DIR",
                            "EVENTLOG_LOG_LEVEL",
                            "EVENTLOG_LOG_FILE",
                            "EVENTLOG_LOG_KEEPDAYS",
                            "EVENTLOG_SYSLOG_HOST",
                            "EVENTLOG_LOG_IDENT",
                            "EVENTLOG_STATE_FILE",
                            "PAGING_PAGER_ID",
                            "PAGING_PASSWORD"};
    run.Environment = {
        {"EVENTLOG_DIR", Logs()}, {"TZ", "UTC"}, {"LANG", "C"}, {"PAGING_GATEWAY_HOST", gateway}};
    for (const auto& [name, value] : more) run.Environment[name] = value;
    return RunProcess(run);
  }

  // "{run}", "{logs}" and "{program}" stand for the folders.
  std::string Expand(std::string text) const {
    const std::pair<std::string, std::string> folders[] = {
        {"{run}", Run()}, {"{logs}", Logs()}, {"{program}", Program()}};
    for (const auto& [name, path] : folders)
      for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at))
        text.replace(at, name.size(), path);
    return text;
  }

 private:
  TemporaryDirectory directory_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start))
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The warning and error lines, in the order printed.
std::vector<std::string> Findings(const std::string& output) {
  std::vector<std::string> findings;
  for (const auto& line : Lines(output))
    if (line.rfind("warning: ", 0) == 0 || line.rfind("error: ", 0) == 0) findings.push_back(line);
  return findings;
}

bool HasLine(const std::string& output, const std::string& line) {
  for (const auto& each : Lines(output))
    if (each == line) return true;
  return false;
}

// A gateway nobody listens on: the tests that do not page never reach it.
constexpr char kNoGateway[] = "127.0.0.1:9";

TEST(EventLogCheck, ASoundInstallationPrintsWhatEventLogWillDoAndExitsZero) {
  CheckInstallation installation;
  installation.WriteSystemLog();
  installation.Settings(kSound);
  ProcessResult result =
      installation.RunCheck({"--program-dir", installation.Program()}, kNoGateway);
  const std::string expected = installation.Expand(
      "The environment EventLog gets:\n"
      "  EVENTLOG_DIR=\"{logs}\" (the folder of the .evt logs and journal.rules)\n"
      "  PAGING_GATEWAY_HOST=\"127.0.0.1:9\" (the paging gateway)\n"
      "  TZ=\"UTC\" (the time zone of every time EventLog prints and reads)\n"
      "  LANG=\"C\" (the regional settings)\n"
      "The settings in ./EventLog.XML:\n"
      "  <LogFile>     \"System\" -> \"System\"\n"
      "  <EventID>     \"7036\" -> 7036\n"
      "  <Action>      \"page\" -> \"page\" (pages)\n"
      "  <LoggedAfter> \"10/9/2017 4:00:00 PM\" -> 10/9/2017 4:00:00 pm\n"
      "  <Sleep>       \"60\" -> 60 (seconds between cycles)\n"
      "The log \"System\":\n"
      "  the file {logs}/System.evt\n"
      "  opens: 2 records\n"
      "  newest record:\n"
      "    MyEventLogRecord.EventLogRecord.EventID=4226\n"
      "    MyEventLogRecord.Source=Tcpip\n"
      "    MyEventLogRecord.TimeGeneratedAsDateTime=10/9/17 4:25:00 pm\n"
      "    MyEventLogRecord.Details=limit\n"
      "    MyEventLogRecord.Action=page\n"
      "  newest match:\n"
      "    MyEventLogRecord.EventLogRecord.EventID=7036\n"
      "    MyEventLogRecord.Source=Service Control Manager\n"
      "    MyEventLogRecord.TimeGeneratedAsDateTime=10/9/17 4:24:00 pm\n"
      "    MyEventLogRecord.Details=The Print Spooler service entered the running state.\n"
      "    MyEventLogRecord.Action=page\n"
      "  it was generated after LoggedAfter: EventLog's first cycle reports it\n"
      "The program folder {program}:\n"
      "  can take exception reports (for the user running this check)\n"
      "  newest exception report: none\n"
      "The gateway: http://127.0.0.1:9/cgi-bin/xmhscgi (from PAGING_GATEWAY_HOST)\n"
      "  pager: 730418 (built in; PAGING_PAGER_ID overrides it)\n"
      "  password: \"K***T\" (built in; PAGING_PASSWORD overrides it)\n"
      "In ., where EventLog runs:\n"
      "  newest page record: none\n"
      "Result: sound.\n");
  EXPECT_EQ(result.Output, expected);
  EXPECT_EQ(result.Errors, "");
  EXPECT_EQ(result.ExitCode, 0);
}

// Every trap an operator falls into: the warning or error it gets, word for word, and the exit
// code. Each case starts from the sound settings with one thing changed.
TEST(EventLogCheck, CatchesEveryTrapWithItsWarningAndExitCode) {
  struct Case {
    const char* name;
    std::string xml;
    std::vector<std::string> findings;
    int exitCode;
    std::vector<std::string> lines = {};  // more lines the output must hold
    std::function<void(CheckInstallation&)> setup = nullptr;
    std::map<std::string, std::string> environment = {};
  };
  auto with = [](const std::string& from, const std::string& to) {
    std::string xml = kSound;
    xml.replace(xml.find(from), from.size(), to);
    return xml;
  };
  const std::string tail =
      ": tag names are matched exactly, in this letter case and without attributes";
  const std::string notOneNumber =
      " is not one number (decimal, or hexadecimal as $1B7C or 0x1B7C): EventLog takes 0 and any "
      "event matches";
  const Case cases[] = {
      {"a blank after the event ID",
       with("<EventID>7036<", "<EventID>7036 <"),
       {"error: <EventID> holds blanks or line ends, \"7036 \": the number becomes 0 and any "
        "event matches; write <EventID>7036</EventID>"},
       2,
       {"  <EventID>     \"7036 \" -> 0 (any event)"}},
      {"blanks around the event ID",
       with("<EventID>7036<", "<EventID> 9999 <"),
       {"error: <EventID> holds blanks or line ends, \" 9999 \": the number becomes 0 and any "
        "event matches; write <EventID>9999</EventID>"},
       2},
      {"a blank before the event ID only",
       with("<EventID>7036<", "<EventID> 7036<"),
       {"warning: <EventID> \" 7036\" holds blanks or control characters around the number: "
        "EventLog reads 7036 all the same; write <EventID>7036</EventID>"},
       1,
       {"  <EventID>     \" 7036\" -> 7036"}},
      {"an event ID pretty-printed over lines",
       with("<EventID>7036<", "<EventID>\n    7036\n  <"),
       {"error: <EventID> holds blanks or line ends, \"\\n    7036\\n  \": the number becomes 0 "
        "and any event matches; write <EventID>7036</EventID>"},
       2},
      {"two event IDs",
       with("7036<", "7036, 7040<"),
       {"error: <EventID> \"7036, 7040\"" + notOneNumber},
       2},
      {"a range of event IDs",
       with("7036<", "7036-7040<"),
       {"error: <EventID> \"7036-7040\"" + notOneNumber},
       2},
      {"line ends around the sleep",
       with("<Sleep>60<", "<Sleep>\r\n60\r\n<"),
       {"error: <Sleep> holds blanks or line ends, \"\\r\\n60\\r\\n\": the number becomes 0 and "
        "EventLog runs one cycle and ends; write <Sleep>60</Sleep>"},
       2,
       {"  <Sleep>       \"\\r\\n60\\r\\n\" -> 0 (one cycle)"}},
      {"a blank after the action",
       with("<Action>page<", "<Action>Page <"),
       {"error: <Action> holds blanks or line ends, \"Page \": the action does not page; write "
        "<Action>Page</Action>"},
       2,
       {"  <Action>      \"Page \" -> \"page \" (does not page)"}},
      {"another action",
       with("<Action>page<", "<Action>mail<"),
       {"warning: <Action> \"mail\" does not page: only page (in any letter case) pages, any other "
        "action only reports"},
       1},
      {"a tab in the log name",
       with("<LogFile>System<", "<LogFile>System\t<"),
       {"error: <LogFile> holds blanks, line ends or control characters, \"System\\t\": EventLog "
        "looks for a log of exactly that name; write <LogFile>System</LogFile>",
        "error: the log \"System\\t\" does not exist: EventLog finds nothing in it, cycle after "
        "cycle"},
       2},
      {"a zero byte in the log name",
       with("<LogFile>System<", std::string("<LogFile>Sys\0tem<", 17)),
       {"warning: the file holds a zero byte (line 3): EventLog reads it as part of the text "
        "around it",
        "error: <LogFile> holds blanks, line ends or control characters, \"Sys\\x00tem\": EventLog "
        "looks for a log of exactly that name; write <LogFile>System</LogFile>",
        "error: the log \"Sys\\x00tem\" does not exist: EventLog finds nothing in it, cycle after "
        "cycle"},
       2,
       {"  <LogFile>     \"Sys\\x00tem\" -> \"Sys\\x00tem\""}},
      {"a tag in other letter case",
       with("<EventID>7036</EventID>", "<eventid>7036</eventid>"),
       {"error: <eventid> (line 4), </eventid> (line 4) are not <EventID> or </EventID>" + tail +
        ", so EventLog does not find <EventID>: any event matches"},
       2,
       {"  <EventID>     not found -> 0 (any event)"}},
      {"a tag with an attribute",
       with("<Action>", "<Action type=\"text\">"),
       {"error: <Action type=\"text\"> (line 5) is not <Action> or </Action>" + tail +
        ", so EventLog does not find <Action>: EventLog does not page"},
       2,
       {"  <Action>      not found -> \"\" (does not page)"}},
      {"an end tag in other letter case",
       with("</Sleep>", "</sleep>"),
       {"error: </sleep> (line 7) is not <Sleep> or </Sleep>" + tail +
            ", so EventLog does not find <Sleep>: EventLog runs one cycle and ends",
        "error: <Sleep> has no </Sleep> in the file: EventLog does not find it: EventLog runs "
        "one cycle and ends",
        "warning: Sleep 0: EventLog runs one cycle and ends (a positive Sleep repeats the cycle)"},
       2},
      {"a tag EventLog does not read",
       with("</EventLog>", "  <Source>Disk</Source>\n</EventLog>"),
       {"error: <Source> (line 8) is no tag EventLog reads (it reads <LogFile>, <EventID>, "
        "<Action>, <LoggedAfter> and <Sleep>): there is no source setting: every source matches; "
        "remove it"},
       2},
      {"a tag inside a comment",
       with("<EventLog>\n", "<EventLog>\n  <!-- <EventID>4226</EventID> was the old one -->\n"),
       {"warning: the first <EventID> (line 3) is inside an XML comment: EventLog still reads "
        "it, \"4226\", not the one on line 5"},
       1,
       {"  <EventID>     \"4226\" -> 4226", "    MyEventLogRecord.Details=limit"}},
      {"a tag inside the second of two adjacent comments",
       with("<EventLog>\n", "<EventLog>\n  <!-- old --><!-- <EventID>4226</EventID> -->\n"),
       {"warning: the first <EventID> (line 3) is inside an XML comment: EventLog still reads "
        "it, \"4226\", not the one on line 5"},
       1},
      {"a tag given twice",
       with("</EventLog>", "  <EventID>4226</EventID>\n</EventLog>"),
       {"warning: <EventID> appears again on line 8: EventLog reads only the first, on line 4, "
        "\"7036\""},
       1},
      {"a file saved as UTF-16",
       "",
       {"error: the file holds zero bytes, as text saved as UTF-16 (\"Unicode\") does: EventLog "
        "reads it as 8-bit text and finds none of its tags; save it as ANSI or UTF-8",
        "warning: Sleep 0: EventLog runs one cycle and ends (a positive Sleep repeats the cycle)"},
       2,
       {"  <LogFile>     not found -> \"Application\" (the default)",
        "note: the log \"Application\" does not exist yet: its first event creates it there "
        "(eventcreate --log Application ...); until then EventLog finds nothing"},
       [](CheckInstallation& installation) {
         std::string wide = "\xFF\xFE";
         for (char c : std::string(kSound)) wide += std::string(1, c) + '\0';
         installation.Settings(wide);
       }},
      {"a tag in other letter case inside a comment",
       with("<EventLog>\n", "<EventLog>\n  <!-- <eventid>4226</eventid> -->\n"),
       {},
       0},
      {"an event ID above 65535",
       with("7036<", "70000<"),
       {"error: EventID 70000 is above 65535: EventLog compares it with the low 16 bits of each "
        "record's event ID (0 to 65535), so it never matches; the low 16 bits of \"70000\" are "
        "4464"},
       2,
       {"  <EventID>     \"70000\" -> 70000 (never matches)",
        "  newest match: none (no record with event ID 70000)"}},
      {"a full 32-bit event ID",
       with("7036<", "0xC0001B7C<"),
       {"error: EventID -1073734788 is below 0: EventLog compares it with the low 16 bits of each "
        "record's event ID (0 to 65535), so it never matches; the low 16 bits of \"0xC0001B7C\" "
        "are 7036"},
       2},
      {"a date in another format",
       with("10/9/2017 4:00:00 PM", "2017-10-09 16:00"),
       {"error: EventLog would stop on its error line: Error: '2017-10-09 16:00' is not a valid "
        "date and time (EConvertError) Trace=0; under the current regional settings a date-time "
        "reads like {now}"},
       2,
       {"  <LoggedAfter> \"2017-10-09 16:00\" -> not a date-time: EventLog stops"}},
      {"a date in the future",
       with("10/9/2017 4:00:00 PM", "1/1/2099"),
       {"warning: LoggedAfter 1/1/2099 lies in the future: nothing generated before then is "
        "reported"},
       1,
       {"  <LoggedAfter> \"1/1/2099\" -> 1/1/2099",
        "  it was not generated after LoggedAfter: EventLog's first cycle prints \"No events "
        "found.\""}},
      {"no sleep",
       with("<Sleep>60</Sleep>", "<Sleep>0</Sleep>"),
       {"warning: Sleep 0: EventLog runs one cycle and ends (a positive Sleep repeats the cycle)"},
       1},
      {"a negative sleep",
       with("<Sleep>60</Sleep>", "<Sleep>-5</Sleep>"),
       {"warning: Sleep -5: EventLog runs one cycle and ends (a positive Sleep repeats the cycle)"},
       1},
      {"an event ID that is no number",
       with("7036<", "Service Control Manager<"),
       {"error: <EventID> \"Service Control Manager\"" + notOneNumber},
       2},
      {"a misspelt log",
       with(">System<", ">Sytem<"),
       {},
       0,
       {"  no file Sytem.evt (any letter case) in {logs}",
        "note: the log \"Sytem\" does not exist yet: its first event creates it there "
        "(eventcreate --log Sytem ...); until then EventLog finds nothing"}},
      {"a log folder that does not exist",
       kSound,
       {"error: the log \"System\" does not exist: EventLog finds nothing in it, cycle after "
        "cycle"},
       2,
       {"  no log: the log directory {logs}/missing does not exist (EVENTLOG_DIR)"},
       nullptr,
       {{"EVENTLOG_DIR", "{logs}/missing"}}},
      {"a log that is no event log",
       with(">System<", ">Broken<"),
       {"error: the log \"Broken\" does not open (not an event log, or no right to read it for "
        "this user): EventLog finds nothing in it"},
       2,
       {"  the file {logs}/BROKEN.EVT"},
       [](CheckInstallation& installation) {
         WriteFileBytes(installation.Logs() + "/BROKEN.EVT", "not an event log");
       }},
      {"the classic file name serves for System",
       kSound,
       {},
       0,
       {"  the file {logs}/SysEvent.Evt", "  opens: 2 records"},
       [](CheckInstallation& installation) {
         fs::rename(installation.Logs() + "/System.evt", installation.Logs() + "/SysEvent.Evt");
       }},
      {"a match stamped in the future",
       kSound,
       {"warning: the newest match is stamped in the future (10/2/2096 7:06:40 am): EventLog "
        "reports it again every cycle until that time has passed"},
       1,
       {"  opens: 3 records"},
       [](CheckInstallation& installation) {
         installation.Write({"--log", "System", "--source", "Service Control Manager", "--id",
                             "7036", "--time", "4000000000"});
       }},
      {"a program folder that cannot take reports",
       kSound,
       {"warning: the program folder /proc cannot take exception reports (No such file or "
        "directory): a failed page leaves only a line in Exception.txt in the current folder"},
       1,
       {"The program folder /proc:"}},
      {"a gateway with a scheme",
       kSound,
       {"error: PAGING_GATEWAY_HOST=\"http://127.0.0.1:8080\" holds a scheme (http://), which "
        "EventLog adds itself: it can never be reached; write host or host:port, as in "
        "PAGING_GATEWAY_HOST=pager.example.com:8080"},
       2,
       {},
       nullptr,
       {{"PAGING_GATEWAY_HOST", "http://127.0.0.1:8080"}}},
      {"a gateway port out of range",
       kSound,
       {"error: PAGING_GATEWAY_HOST=\"127.0.0.1:99999\" has the port 99999, outside 1 to 65535: "
        "it can never be reached; write host or host:port, as in "
        "PAGING_GATEWAY_HOST=pager.example.com:8080"},
       2,
       {},
       nullptr,
       {{"PAGING_GATEWAY_HOST", "127.0.0.1:99999"}}},
      {"a gateway with a trailing blank",
       kSound,
       {"error: PAGING_GATEWAY_HOST=\"127.0.0.1:8080 \" holds blanks or control characters: it "
        "can never be reached; write host or host:port, as in "
        "PAGING_GATEWAY_HOST=pager.example.com:8080"},
       2,
       {},
       nullptr,
       {{"PAGING_GATEWAY_HOST", "127.0.0.1:8080 "}}},
      {"kit settings that do not parse",
       kSound,
       {"error: EVENTLOG_LOG_LEVEL=\"five\" is not a whole decimal number without blanks: "
        "EventLog cannot use it; write for example EVENTLOG_LOG_LEVEL=5",
        "error: EVENTLOG_LOG_KEEPDAYS=\"30 \" is not a whole decimal number without blanks: "
        "EventLog cannot use it; write for example EVENTLOG_LOG_KEEPDAYS=30",
        "error: EVENTLOG_SYSLOG_HOST=\"loghost:syslog\" has the port \"syslog\", which is no "
        "number: it can never be reached; write host or host:port, as in "
        "EVENTLOG_SYSLOG_HOST=pager.example.com:8080"},
       2,
       {"  EVENTLOG_LOG_LEVEL=\"five\" (the highest level of the kit's log entries that are "
        "written)"},
       nullptr,
       {{"EVENTLOG_LOG_LEVEL", "five"},
        {"EVENTLOG_LOG_KEEPDAYS", "30 "},
        {"EVENTLOG_SYSLOG_HOST", "loghost:syslog"}}},
      {"an earlier exception report and page record",
       kSound,
       {},
       0,
       {"  newest exception report: EXCEPTION-20171009162500000.XML 2017-10-09 16:25:00 "
        "ESocketError: Socket Error # 10061 Connection refused.",
        "  newest page record: SendPage_20171009162400000.xml 10/9/17 4:24:00 pm pager 730418 "
        "http://pager/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=x",
        "  Exception.txt (reports that could not be saved), last line: 10/9/17 4:26:00 pm: "
        "tarn32.SaveExceptionRecAsXML LogRec.Trace=420 E.Message=Permission denied "
        "sFileName=/usr/bin/EXCEPTION-20171009162600000.XML "},
       [](CheckInstallation& installation) {
         WriteFileBytes(installation.Program() + "/EXCEPTION-20171009162400000.XML",
                        "<xml><Exception><DateTime>2017-10-09 16:24:00</DateTime><ClassName>Old"
                        "</ClassName></Exception></xml>");
         WriteFileBytes(installation.Program() + "/EXCEPTION-20171009162500000.XML",
                        "<?xml version=\"1.0\"?>\n<xml>\n  <Exception>\n    <DateTime>2017-10-09 "
                        "16:25:00</DateTime>\n    <ClassName>ESocketError</ClassName>\n    "
                        "<e.Message>Socket Error # 10061\r\nConnection refused.</e.Message>\n"
                        "  </Exception>\n</xml>\n");
         WriteFileBytes(installation.Run() + "/Exception.txt",
                        "10/9/17 4:20:00 pm: first\r\n10/9/17 4:26:00 pm: "
                        "tarn32.SaveExceptionRecAsXML LogRec.Trace=420 E.Message=Permission "
                        "denied sFileName=/usr/bin/EXCEPTION-20171009162600000.XML \r\n");
         WriteFileBytes(installation.Run() + "/SendPage_20171009162400000.xml",
                        "<xml>\r\n<PagerRec></PagerRec>\r\n<DateTime>10/9/17 4:24:00 "
                        "pm</DateTime>\r\n<PagerNo>730418</PagerNo>\r\n<URL>http://pager/cgi-bin/"
                        "xmhscgi?password=KRVOT&pagerid=730418&message=x</URL>\r\n");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckInstallation installation;
    installation.WriteSystemLog();
    installation.Settings(c.xml);
    if (c.setup) c.setup(installation);
    const bool noFolder = std::string(c.name).find("cannot take") != std::string::npos;
    std::map<std::string, std::string> environment;
    for (const auto& [name, value] : c.environment) environment[name] = installation.Expand(value);
    ProcessResult result = installation.RunCheck(
        {"--program-dir", noFolder ? "/proc" : installation.Program()}, kNoGateway, environment);
    std::vector<std::string> expected;
    for (const auto& finding : c.findings) expected.push_back(installation.Expand(finding));
    std::vector<std::string> found = Findings(result.Output);
    // The example of a date-time is the time of the run.
    for (auto& line : found)
      line = std::regex_replace(
          line, std::regex(R"(reads like \d+/\d+/\d{4} \d+:\d\d:\d\d [ap]m$)"), "reads like {now}");
    EXPECT_EQ(found, expected) << result.Output;
    for (const auto& line : c.lines)
      EXPECT_TRUE(HasLine(result.Output, installation.Expand(line)))
          << installation.Expand(line) << "\n"
          << result.Output;
    EXPECT_EQ(result.ExitCode, c.exitCode) << result.Output;
  }
}

TEST(EventLogCheck, WithoutSettingsFileSaysEventLogWillAskItsThreeQuestions) {
  struct Case {
    const char* name;
    std::string file;  // the settings file's name, empty for none
    std::string finding;
  } cases[] = {
      {"none", "",
       "warning: no EventLog.XML in .: EventLog will ask its three questions (Logfile, Event ID, "
       "Source) on the console and run one cycle; with no one to answer, it watches Application "
       "for any event"},
      {"in other letter case", "eventlog.xml",
       "warning: no EventLog.XML in .; there is eventlog.xml, but EventLog looks for EventLog.XML "
       "in exactly this letter case: EventLog will ask its three questions (Logfile, Event ID, "
       "Source) on the console and run one cycle; with no one to answer, it watches Application "
       "for any event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckInstallation installation;
    if (!c.file.empty()) installation.Settings(kSound, c.file);
    ProcessResult result =
        installation.RunCheck({"--program-dir", installation.Program()}, kNoGateway);
    EXPECT_EQ(Findings(result.Output), std::vector<std::string>{c.finding}) << result.Output;
    EXPECT_EQ(result.Output.find("The log"), std::string::npos) << result.Output;
    EXPECT_TRUE(HasLine(result.Output,
                        "The gateway: http://127.0.0.1:9/cgi-bin/xmhscgi (from "
                        "PAGING_GATEWAY_HOST)"));
    EXPECT_EQ(result.ExitCode, 1);
  }
}

TEST(EventLogCheck, TakesTheFolderAsArgumentAndTheProgramFolderFromItsOwnPlace) {
  CheckInstallation installation;
  installation.WriteSystemLog();
  installation.Settings(kSound);
  ProcessRun run;
  ProcessResult result = installation.RunCheck({installation.Run()}, kNoGateway);
  EXPECT_TRUE(HasLine(result.Output, "The settings in " + installation.Run() + "/EventLog.XML:"))
      << result.Output;
  EXPECT_TRUE(HasLine(result.Output, "The program folder " + installation.Program() + "/:"))
      << result.Output;
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
}

TEST(EventLogCheck, HelpVersionAndBadArguments) {
  CheckInstallation installation;
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string firstErrorLine;  // empty: none
  } cases[] = {
      {{"--help"}, 0, ""},
      {{"/?"}, 0, ""},
      {{"--colour"}, 2, "eventlog-check: unknown option --colour"},
      {{"--program-dir"}, 2, "eventlog-check: --program-dir needs a value"},
      {{".", "other"}, 2, "eventlog-check: one folder only, not also other"},
      {{"--service", "."},
       2,
       "eventlog-check: --service checks the service's own folder /var/lib/eventlog; give no "
       "FOLDER (--program-dir DIR names another)"},
      {{"no-such-folder"}, 3, "eventlog-check: no folder no-such-folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    ProcessResult result = installation.RunCheck(c.arguments, kNoGateway);
    EXPECT_EQ(result.ExitCode, c.exitCode);
    if (c.firstErrorLine.empty()) {
      EXPECT_EQ(result.Errors, "");
      EXPECT_EQ(result.Output.rfind("usage: eventlog-check [options] [FOLDER]\n", 0), 0u);
      for (const char* topic : {"EVENTLOG_DIR", "Exit codes:", "three questions", "--page",
                                "--probe", "--service", "/etc/default/eventlog", "eventlog with"})
        EXPECT_NE(result.Output.find(topic), std::string::npos) << topic;
    } else {
      EXPECT_EQ(Lines(result.Errors).front(), c.firstErrorLine);
      EXPECT_EQ(result.Output, "");
      if (c.exitCode == 2) {
        EXPECT_NE(result.Errors.find("usage: eventlog-check"), std::string::npos);
      }
    }
  }
  ProcessResult version = installation.RunCheck({"--version"}, kNoGateway);
  EXPECT_TRUE(std::regex_match(version.Output, std::regex(R"(eventlog-check \d+\.\d+\.\d+\n)")))
      << version.Output;
  EXPECT_EQ(version.ExitCode, 0);
}

// --page: the real page through the sender, its request on the wire, and the outcome as the page
// record or the failure's report tells it; a page the gateway does not take is an error.
TEST(EventLogCheck, PageSendsOneTestPageAndPrintsItsOutcome) {
  struct Case {
    const char* name;
    std::string response;
    std::string outcome;  // a pattern for the line after the URL
    int exitCode;
  } cases[] = {
      {"accepted", ProtocolBytes("answers/accepted.txt"),
       R"(  the gateway accepted it; page record SendPage_\d{17}\.xml \d+/\d+/\d\d \d+:\d\d:\d\d [ap]m pager 730418 http://127\.0\.0\.1:\d+/cgi-bin/xmhscgi\?password=KRVOT&pagerid=730418&message=EventLog:%20.*)",
       0},
      {"answered without the marker", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbusy",
       R"(error: the gateway answered without "Message succesfully sent": the page was not accepted; page record SendPage_\d{17}\.xml \(its URL shows what was sent\))",
       2},
      {"refused", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
       R"(error: the page failed: EHTTPProtocolException: HTTP/1\.1 500 Internal Server Error \(report {program}/EXCEPTION-\d{17}\.XML\))",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckInstallation installation;
    installation.WriteSystemLog();
    installation.Settings(kSound);
    ServerScript script;
    script.Steps = {{c.response}};
    LoopbackServer gateway(script);
    ProcessResult result = installation.RunCheck(
        {"--page", "--program-dir", installation.Program()}, gateway.HostAndPort());
    const std::vector<std::string> lines = Lines(result.Output);
    std::size_t at = 0;
    while (at < lines.size() && lines[at].rfind("Test page: ", 0) != 0) ++at;
    ASSERT_LT(at + 1, lines.size()) << result.Output;
    const std::string url = "http://" + gateway.HostAndPort() +
                            "/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=EventLog:%20";
    EXPECT_EQ(lines[at].rfind("Test page: " + url, 0), 0u) << lines[at];
    EXPECT_NE(lines[at].find("%20Source%3Deventlog-check%20EventID%3D0"), std::string::npos);
    std::string pattern = installation.Expand(c.outcome);
    EXPECT_TRUE(std::regex_match(lines[at + 1], std::regex(pattern))) << lines[at + 1];
    ASSERT_EQ(gateway.Requests().size(), 1u);
    const std::string target =
        lines[at].substr(std::string("Test page: http://").size() + gateway.HostAndPort().size());
    EXPECT_EQ(gateway.Requests()[0].rfind("GET " + target + " HTTP/1.1\r\n", 0), 0u)
        << gateway.Requests()[0];
    EXPECT_EQ(result.ExitCode, c.exitCode) << result.Output;
  }
}

// The pager and password of the environment, and a gateway at [::1]: the lines that show them
// (the password masked everywhere), the probe and the test page over IPv6, the request on the
// wire; a PAGING_PAGER_ID that names no pager is an error and its test page pages no one.
TEST(EventLogCheck, ShowsWhoIsPagedAndPagesThroughAnIPv6Gateway) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback [::1] to listen on";
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    std::vector<std::string> lines;     // lines the output holds, "{gateway}" the gateway's
    std::vector<std::string> findings;  // every warning and error, "{program}" the folder
    std::string requestStart;           // the page request's first line, empty for none
    int exitCode;
  } cases[] = {
      {"the environment's pager and password",
       {{"PAGING_PAGER_ID", "42"}, {"PAGING_PASSWORD", "s3cr&t#x"}},
       {"  PAGING_PAGER_ID=\"42\" (the pager every page goes to)",
        "  PAGING_PASSWORD=\"s***x\" (the gateway password)",
        "The gateway: http://{gateway}/cgi-bin/xmhscgi (from PAGING_GATEWAY_HOST)",
        "  pager: 42 (from PAGING_PAGER_ID)", "  password: \"s***x\" (from PAGING_PASSWORD)",
        "  probe: {gateway} accepted a connection, closed again without a request"},
       {},
       "GET /cgi-bin/xmhscgi?password=s3cr%26t%23x&pagerid=42&message=EventLog:%20",
       0},
      {"a pager ID that names no pager",
       {{"PAGING_PAGER_ID", "73O418"}},
       {"  pager: \"73O418\", no pager (from PAGING_PAGER_ID)",
        "  password: \"K***T\" (built in; PAGING_PASSWORD overrides it)",
        "Test page: to no pager, PAGING_PAGER_ID names none"},
       {"error: PAGING_PAGER_ID=\"73O418\" is not a whole decimal number (digits, a \"-\" at "
        "most, no blanks): every page fails with an exception report and none is sent; write the "
        "pager's number, as in PAGING_PAGER_ID=730418, or remove it to page the built-in pager",
        "error: the page failed: EPagingSetting: PAGING_PAGER_ID=\"73O418\" is not a whole "
        "decimal number (digits, a \"-\" at most, no blanks): no page was sent; set it to the "
        "pager's number, as in PAGING_PAGER_ID=730418, or unset it to page the built-in pager "
        "(report {program}/EXCEPTION-{stamp}.XML)"},
       "",
       2},
      {"empty values",
       {{"PAGING_PAGER_ID", ""}, {"PAGING_PASSWORD", ""}},
       {"  pager: 730418 (built in; PAGING_PAGER_ID overrides it)",
        "  password: \"K***T\" (built in; PAGING_PASSWORD overrides it)"},
       {"warning: PAGING_PAGER_ID is set but empty: EventLog uses the built-in pager 730418; give "
        "it a value or remove the line",
        "warning: PAGING_PASSWORD is set but empty: EventLog uses the built-in password; give it "
        "a value or remove the line"},
       "GET /cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=EventLog:%20",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckInstallation installation;
    installation.WriteSystemLog();
    installation.Settings(kSound);
    ServerScript script;
    script.Steps = {{ProtocolBytes("answers/accepted.txt")}};
    script.IPv6 = true;
    LoopbackServer gateway(script);
    const std::string hostAndPort = gateway.HostAndPort();
    ProcessResult result = installation.RunCheck(
        {"--probe", "--page", "--program-dir", installation.Program()}, hostAndPort, c.environment);
    for (std::string line : c.lines) {
      for (std::size_t at; (at = line.find("{gateway}")) != std::string::npos;)
        line.replace(at, 9, hostAndPort);
      EXPECT_TRUE(HasLine(result.Output, line)) << line << "\n" << result.Output;
    }
    std::vector<std::string> findings = Findings(result.Output);
    for (std::string& finding : findings)
      finding = std::regex_replace(finding, std::regex(R"(EXCEPTION-\d{17}\.XML)"),
                                   "EXCEPTION-{stamp}.XML");
    std::vector<std::string> expected;
    for (const std::string& finding : c.findings) expected.push_back(installation.Expand(finding));
    EXPECT_EQ(findings, expected) << result.Output;
    EXPECT_EQ(result.Output.find("s3cr"), std::string::npos) << result.Output;
    ASSERT_TRUE(gateway.WaitForPeerClosures(1, std::chrono::seconds(5)));
    const std::vector<std::string> requests = gateway.Requests();
    // The probe's connection carries no byte; the test page's, when it goes out, the request.
    ASSERT_EQ(requests.size(), c.requestStart.empty() ? 1u : 2u) << result.Output;
    EXPECT_EQ(requests[0], "");
    if (!c.requestStart.empty()) {
      EXPECT_EQ(requests[1].rfind(c.requestStart, 0), 0u) << requests[1];
      EXPECT_NE(requests[1].find("\r\nHost: " + hostAndPort + "\r\n"), std::string::npos)
          << requests[1];
    }
    EXPECT_EQ(result.ExitCode, c.exitCode) << result.Output;
  }
}

// --probe: one connection to the gateway, closed again without a byte; a gateway that does not
// answer is an error.
TEST(EventLogCheck, ProbeConnectsWithoutPaging) {
  CheckInstallation installation;
  installation.WriteSystemLog();
  installation.Settings(kSound);
  {
    LoopbackServer gateway(ServerScript{});
    ProcessResult result = installation.RunCheck(
        {"--probe", "--program-dir", installation.Program()}, gateway.HostAndPort());
    EXPECT_TRUE(HasLine(result.Output, "  probe: " + gateway.HostAndPort() +
                                           " accepted a connection, closed again without a "
                                           "request"))
        << result.Output;
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    ASSERT_TRUE(gateway.WaitForPeerClosures(1, std::chrono::seconds(5)));
    ASSERT_EQ(gateway.Requests().size(), 1u);
    EXPECT_EQ(gateway.Requests()[0], "");
  }
  std::string closed;
  {
    LoopbackServer gone(ServerScript{});
    closed = gone.HostAndPort();
  }
  ProcessResult result =
      installation.RunCheck({"--probe", "--program-dir", installation.Program()}, closed);
  EXPECT_EQ(Findings(result.Output),
            std::vector<std::string>{"error: the gateway " + closed +
                                     " did not answer the probe: Socket Error # 10061 "
                                     "Connection refused. (ESocketError): a page sent now would "
                                     "fail"})
      << result.Output;
  EXPECT_EQ(result.ExitCode, 2);
}

// The service as the package installs it, its paths given to the check: the check binary in
// bin/, the settings in etc/, the environment file, the working folder lib/ and the logs in log/.
class ServiceInstallation {
 public:
  ServiceInstallation() {
    for (const char* folder : {"bin", "etc", "lib", "log", "elsewhere", "metrics"})
      fs::create_directory(directory_.File(folder));
    // The liveness file's folder of its own, open to every user, so that no check depends on
    // node_exporter's folder on this machine.
    fs::permissions(directory_.File("metrics"), fs::perms::all);
    fs::copy_file(EVENTLOG_CHECK_EXE, directory_.File("bin/eventlog-check"));
    WriteFileBytes(directory_.File("etc/EventLog.XML"),
                   "<?xml version=\"1.0\"?>\n<EventLog>\n  <LogFile>System</LogFile>\n"
                   "  <EventID>7036</EventID>\n  <Action>page</Action>\n  <Sleep>60</Sleep>\n"
                   "</EventLog>\n");
    Environment("# The environment of the EventLog service\n\nEVENTLOG_DIR=" + Path("log") +
                "\n#PAGING_GATEWAY_HOST=pager.example.com:8080\n");
  }

  std::string Path(const std::string& name) const { return directory_.File(name); }
  // The text, then the liveness file in the installation's own folder.
  void Environment(const std::string& text) {
    WriteFileBytes(Path("default"),
                   text + "EVENTLOG_METRICS_FILE=" + Path("metrics/eventlog.prom") + "\n");
  }

  // From another folder, with the installation's paths and as the user running the test.
  ProcessResult RunCheck(std::vector<std::string> more = {}) const {
    ProcessRun run;
    run.Executable = Path("bin/eventlog-check");
    run.Arguments = {"--service",     "--settings",    Path("etc/EventLog.XML"),
                     "--environment", Path("default"), "--program-dir",
                     Path("lib"),     "--user",        CurrentUser()};
    run.Arguments.insert(run.Arguments.end(), more.begin(), more.end());
    run.WorkingDirectory = Path("elsewhere");
    run.RemovedVariables = {"EVENTLOG_DIR",
                            "PAGING_GATEWAY_HOST",
                            "EVENTLOG_STATE_FILE",
                            "EVENTLOG_LOG_LEVEL",
                            "LC_ALL",
                            "LC_TIME"};
    run.Environment = {{"TZ", "UTC"}, {"LANG", "C"}};
    return RunProcess(run);
  }

  static std::string CurrentUser() {
    ProcessRun id;
    id.Executable = "/usr/bin/id";
    id.Arguments = {"-un"};
    std::string name = RunProcess(id).Output;
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
  }

 private:
  TemporaryDirectory directory_;
};

TEST(EventLogCheck, ServiceOnAFreshInstallIsSoundFromAnyFolder) {
  ServiceInstallation installation;
  ProcessResult result = installation.RunCheck();
  const std::string lib = installation.Path("lib");
  for (const std::string& line :
       {"The service as it will run, checked as the user " + ServiceInstallation::CurrentUser() +
            " in " + lib + ":",
        "The environment file " + installation.Path("default") + ":",
        std::string("  2 assignments, applied over the current environment for this check"),
        "  EVENTLOG_DIR=\"" + installation.Path("log") +
            "\" (the folder of the .evt logs and journal.rules)",
        "The settings in " + installation.Path("etc/EventLog.XML") + ":",
        "The carried state " + lib + "/LoggedAfter.state:",
        "note: " + lib +
            "/LoggedAfter.state does not exist yet: the next start goes by the settings' "
            "LoggedAfter alone",
        "  no file System.evt or SysEvent.Evt (any letter case) in " + installation.Path("log"),
        std::string("note: the log \"System\" does not exist yet: its first event creates it "
                    "there (eventcreate --log System ...); until then EventLog finds nothing"),
        "The program folder " + lib + ":",
        std::string("The gateway: http://localhost/cgi-bin/xmhscgi (built in; "
                    "PAGING_GATEWAY_HOST overrides it)"),
        "In " + lib + ", where EventLog runs:", std::string("Result: sound.")})
    EXPECT_TRUE(HasLine(result.Output, line)) << line << "\n" << result.Output;
  EXPECT_EQ(Findings(result.Output), std::vector<std::string>{}) << result.Output;
  EXPECT_EQ(result.ExitCode, 0) << result.Output << result.Errors;
}

TEST(EventLogCheck, ServiceReadsTheEnvironmentFileAndTheCarriedState) {
  ServiceInstallation installation;
  installation.Environment("EVENTLOG_DIR='" + installation.Path("log") +
                           "'\n ; a comment\nPAGING_GATEWAY_HOST=\"127.0.0.1:99999\"\n"
                           "EVENTLOG_LOGLEVEL=5\nnot an assignment\n");
  WriteFileBytes(installation.Path("lib/LoggedAfter.state"),
                 "# EventLog's delivery state\n2017-10-09 16:30:00.000\n"
                 "pending 2017-10-09 16:24:00.000\n");
  ProcessResult result = installation.RunCheck();
  const std::string file = installation.Path("default");
  EXPECT_EQ(Findings(result.Output),
            (std::vector<std::string>{
                "warning: " + file +
                    " line 5 is no assignment (no '=' in the line), so systemd skips it: not an "
                    "assignment",
                "warning: " + file +
                    " line 4: EVENTLOG_LOGLEVEL is no variable EventLog or its service reads: "
                    "check its spelling",
                "error: PAGING_GATEWAY_HOST=\"127.0.0.1:99999\" has the port 99999, outside 1 to "
                "65535: it can never be reached; write host or host:port, as in "
                "PAGING_GATEWAY_HOST=pager.example.com:8080"}))
      << result.Output;
  for (const std::string line :
       {"  LoggedAfter 10/9/2017 4:30:00 pm (carried from the last finished report)",
        "  pending: the record of 10/9/2017 4:24:00 pm was reported, but its page attempt had "
        "not ended: the next start reports it again",
        "  the next start reports events generated after 10/9/2017 4:30:00 pm"})
    EXPECT_TRUE(HasLine(result.Output, line)) << line << "\n" << result.Output;
  EXPECT_EQ(result.ExitCode, 2);

  WriteFileBytes(installation.Path("lib/LoggedAfter.state"), "yesterday\n");
  installation.Environment("EVENTLOG_DIR=" + installation.Path("log") + "\n");
  result = installation.RunCheck();
  EXPECT_EQ(Findings(result.Output),
            std::vector<std::string>{"warning: " + installation.Path("lib/LoggedAfter.state") +
                                     " holds no state EventLog wrote: the service leaves it out "
                                     "and may report the last event again; delete it to start "
                                     "afresh"})
      << result.Output;
  EXPECT_EQ(result.ExitCode, 1);
}

// A failed test page of the service leaves its report in the service's folder, not beside the
// check, and its page record there too.
TEST(EventLogCheck, ServicePageReportsInTheProgramFolder) {
  ServiceInstallation installation;
  ServerScript script;
  script.Steps = {{"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"}};
  LoopbackServer gateway(script);
  installation.Environment("PAGING_GATEWAY_HOST=" + gateway.HostAndPort() +
                           "\nEVENTLOG_DIR=" + installation.Path("log") + "\n");
  ProcessResult result = installation.RunCheck({"--page"});
  std::vector<std::string> reports;
  for (const auto& entry : fs::directory_iterator(installation.Path("lib")))
    if (entry.path().filename().string().rfind("EXCEPTION-", 0) == 0)
      reports.push_back(entry.path().string());
  ASSERT_EQ(reports.size(), 1u) << result.Output;
  EXPECT_EQ(Findings(result.Output),
            std::vector<std::string>{"error: the page failed: EHTTPProtocolException: HTTP/1.1 503 "
                                     "Service Unavailable (report " +
                                     reports[0] + ")"})
      << result.Output;
  EXPECT_TRUE(fs::is_empty(installation.Path("elsewhere")));
  EXPECT_EQ(
      std::distance(fs::directory_iterator(installation.Path("bin")), fs::directory_iterator()),
      1);  // eventlog-check alone
  EXPECT_EQ(result.ExitCode, 2);
}

// Run as root, the check becomes the service's user: a folder that user cannot write is found.
TEST(EventLogCheck, ServiceRunAsRootChecksAsTheServiceUser) {
  if (ServiceInstallation::CurrentUser() != "root") GTEST_SKIP() << "needs root to switch users";
  ProcessRun probe;
  probe.Executable = "/usr/bin/id";
  probe.Arguments = {"nobody"};
  if (RunProcess(probe).ExitCode != 0) GTEST_SKIP() << "no user nobody to switch to";
  ServiceInstallation installation;
  fs::permissions(fs::path(installation.Path("lib")).parent_path(),
                  fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read |
                      fs::perms::group_exec,
                  fs::perm_options::add);
  ProcessRun run;
  run.Executable = installation.Path("bin/eventlog-check");
  run.Arguments = {"--service",
                   "--settings",
                   installation.Path("etc/EventLog.XML"),
                   "--environment",
                   installation.Path("default"),
                   "--program-dir",
                   installation.Path("lib"),
                   "--user",
                   "nobody"};
  run.Environment = {{"TZ", "UTC"}, {"LANG", "C"}};
  ProcessResult result = RunProcess(run);
  EXPECT_TRUE(HasLine(result.Output, "The service as it will run, checked as the user nobody in " +
                                         installation.Path("lib") + ":"))
      << result.Output;
  EXPECT_EQ(Findings(result.Output),
            std::vector<std::string>{"warning: the program folder " + installation.Path("lib") +
                                     " cannot take exception reports (Permission denied): a "
                                     "failed page leaves only a line in Exception.txt in the "
                                     "current folder"})
      << result.Output;
  EXPECT_EQ(result.ExitCode, 1);

  // A settings file the service's user cannot open.
  fs::permissions(installation.Path("etc/EventLog.XML"), fs::perms::owner_read,
                  fs::perm_options::replace);
  result = RunProcess(run);
  EXPECT_TRUE(HasLine(result.Output, "error: " + installation.Path("etc/EventLog.XML") +
                                         " cannot be read: this user cannot open it: EventLog "
                                         "takes every setting as missing and watches Application "
                                         "for any event"))
      << result.Output;
  EXPECT_EQ(result.ExitCode, 2);

  run.Arguments.back() = "no-such-user-here";
  result = RunProcess(run);
  EXPECT_EQ(result.Errors,
            "eventlog-check: cannot check as the user no-such-user-here: no such user (is the "
            "package installed? --user NAME checks as another user)\n");
  EXPECT_EQ(result.ExitCode, 3);
}

// --list-logs: the journal, then the .evt logs of EVENTLOG_DIR by their log names (the classic
// file name SysEvent.Evt is System's), each with whether this user may read it.
TEST(EventLogCheck, ListLogsNamesTheJournalAndTheLogFiles) {
  CheckInstallation installation;
  installation.WriteSystemLog("Security");
  installation.WriteSystemLog("Setup");
  WriteFileBytes(installation.Logs() + "/SysEvent.Evt",
                 ReadFileBytes(installation.Logs() + "/Setup.evt"));
  WriteFileBytes(installation.Logs() + "/notes.txt", "not a log");
  TemporaryDirectory journal;
  ProcessResult result = installation.RunCheck({"--list-logs"}, kNoGateway,
                                               {{"EVENTLOG_JOURNAL_DIR", journal.Path()}});
  const std::vector<std::string> lines = Lines(result.Output);
  ASSERT_EQ(lines.size(), 5u) << result.Output;
  EXPECT_EQ(lines[0].rfind("The logs of this machine, and whether ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("  journal      Journal: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "  log file     Security: readable");
  EXPECT_EQ(lines[3], "  log file     Setup: readable");
  EXPECT_EQ(lines[4], "  log file     System: readable");
  EXPECT_EQ(result.ExitCode, 0);
}

}  // namespace
