// The built EventLog paging a loopback gateway: the request bytes, the page record, the
// exception report in the program directory, the console; and the start-up version probe.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kit/helpers.h"
#include "tests/support/background_process.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"

namespace {

namespace fs = std::filesystem;

constexpr char kVersion[] = "Version: 201710091624\r\n";
// 2017-10-09 16:24:00 UTC
constexpr std::uint32_t kOctoberNinth = 1507566240;
constexpr char kDetails[] = "The Print Spooler service entered the running state.";
// The gateway's answer that accepts the page, in a small HTML page.
const std::string kMarkerResponse = ProtocolBytes("answers/accepted-html.txt");

// The date-time text of a run with LANG=C, as the URL carries it (blanks escaped).
const std::string kEscapedDateTime = R"(\d{1,2}/\d{1,2}/\d\d(%20\d{1,2}:\d\d:\d\d%20(am|pm))?)";
const std::string kDateTime = R"(\d{1,2}/\d{1,2}/\d\d( \d{1,2}:\d\d:\d\d (am|pm))?)";

ServerScript Answering(const std::string& response) {
  ServerScript script;
  script.Steps = {{response}};
  return script;
}

// An installation of EventLog: the program copied into bin/, run from work/ (where its settings
// file is read and its page records land), its event logs in logs/.
class Installation {
 public:
  Installation() {
    fs::create_directory(Bin());
    fs::create_directory(Work());
    fs::copy_file(EVENTLOG_EXE, Program());
    fs::permissions(Program(), fs::perms::owner_all, fs::perm_options::add);
  }

  std::string Bin() const { return directory_.File("bin"); }
  std::string Work() const { return directory_.File("work"); }
  std::string Program() const { return Bin() + "/EventLog"; }

  void Write(const std::string& source, const std::string& id = "7036",
             std::uint32_t time = kOctoberNinth) {
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    run.Environment = {{"LC_ALL", "C.UTF-8"}};  // sources are given in UTF-8
    run.Arguments = {
        "--dir",  directory_.File("logs"), "--log",    "System", "--source", source, "--id", id,
        "--time", std::to_string(time),    "--string", kDetails};
    ProcessResult result = RunProcess(run);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }

  void Settings(const std::string& xml) { WriteFileBytes(Work() + "/EventLog.XML", xml); }

  ProcessResult Run(const std::string& gateway, ProcessRun run = {}) {
    run.Executable = Program();
    run.WorkingDirectory = Work();
    run.RemovedVariables = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_CTYPE", "LANGUAGE"};
    run.Environment.emplace("EVENTLOG_DIR", directory_.File("logs"));
    run.Environment.emplace("TZ", "UTC");
    run.Environment.emplace("LANG", "C");
    run.Environment.emplace("PAGING_GATEWAY_HOST", gateway);
    return RunProcess(run);
  }

  std::vector<std::string> PageRecords() const {
    return FilesMatching(Work(), R"(SendPage_\d{17}\.xml)");
  }
  std::vector<std::string> Reports(const std::string& directory) const {
    return FilesMatching(directory, R"(EXCEPTION-\d{17}\.XML)");
  }

 private:
  TemporaryDirectory directory_;
};

// The console of a file-mode run that reports one record: the report's time line is checked
// for its shape and left out.
std::string ConsoleWithoutReportTime(const std::string& output) {
  const std::string prefix = std::string(kVersion) + "\r\n";
  if (output.compare(0, prefix.size(), prefix) != 0) return "unexpected start: " + output;
  const std::size_t end = output.find("\r\n", prefix.size());
  if (end == std::string::npos) return "no report time: " + output;
  const std::string line = output.substr(prefix.size(), end - prefix.size());
  if (!std::regex_match(line, std::regex(kDateTime))) return "report time \"" + line + "\"";
  return output.substr(end + 2);
}

std::string ReportLines(const std::string& source, const std::string& action,
                        const std::string& id = "7036") {
  return "MyEventLogRecord.EventLogRecord.EventID=" + id + "\r\nMyEventLogRecord.Source=" + source +
         "\r\nMyEventLogRecord.TimeGeneratedAsDateTime=10/9/17 4:24:00 pm\r\n"
         "MyEventLogRecord.Details=" +
         kDetails + "\r\nMyEventLogRecord.Action=" + action + "\r\n";
}

// The request target's message for the event, the date-time as a pattern.
std::string MessagePattern(const std::string& escapedSource, const std::string& id = "7036") {
  return "EventLog:%20" + kEscapedDateTime + "%20Host%3D" + RegexEscape(GetHostName()) +
         "%20Source%3D" + RegexEscape(escapedSource) + "%20EventID%3D" + id;
}

// The lines of a file whose lines end in CR LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

constexpr char kTarget[] = "/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=";

// The page request the gateway receives as a regular expression, the message by its pattern.
std::string PageRequestPattern(const std::string& messagePattern, const std::string& hostAndPort) {
  return ProtocolPattern("requests/page.txt", {{"host", hostAndPort}},
                         {{"target", RegexEscape(kTarget) + messagePattern}});
}

const char kPageSettings[] =
    "<?xml version=\"1.0\"?>\r\n<EventLog>\r\n  <LogFile>System</LogFile>\r\n"
    "  <Action>Page</Action>\r\n</EventLog>\r\n";

TEST(PagingEndToEnd, AReportedRecordIsPagedWithItsRecordAndNoReport) {
  Installation eventLog;
  eventLog.Write("Service Control Manager");
  eventLog.Settings(kPageSettings);
  LoopbackServer gateway(Answering(kMarkerResponse));
  ProcessResult result = eventLog.Run(gateway.HostAndPort());
  EXPECT_EQ(ConsoleWithoutReportTime(result.Output),
            ReportLines("Service Control Manager", "page"));
  EXPECT_EQ(result.Errors, "");
  EXPECT_EQ(result.ExitCode, 0);

  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string messagePattern = MessagePattern("Service%20Control%20Manager");
  EXPECT_TRUE(std::regex_match(
      requests[0], std::regex(PageRequestPattern(messagePattern, gateway.HostAndPort()))))
      << requests[0];

  const auto records = eventLog.PageRecords();
  ASSERT_EQ(records.size(), 1u);
  const std::string record = ReadFileBytes(eventLog.Work() + "/" + records[0]);
  const std::string target = requests[0].substr(4, requests[0].find(" HTTP/1.1") - 4);
  EXPECT_TRUE(std::regex_match(
      record, std::regex(ProtocolPattern("records/page-record.txt",
                                         {{"selfname", ""},
                                          {"version", ""},
                                          {"hostname", ""},
                                          {"delphi", "False"},
                                          {"pagerno", "730418"},
                                          {"password", "KRVOT"},
                                          {"url", "http://" + gateway.HostAndPort() + target},
                                          {"sent", "True"}},
                                         {{"datetime", kDateTime}}))))
      << record;
  EXPECT_TRUE(eventLog.Reports(eventLog.Bin()).empty());
  EXPECT_TRUE(eventLog.Reports(eventLog.Work()).empty());
  EXPECT_FALSE(PathExists(eventLog.Work() + "/Exception.txt"));
}

// Checks the one report a failed page left in the program directory.
void ExpectOneReport(const Installation& eventLog, const std::string& hostAndPort,
                     const std::string& className, const std::string& message,
                     const std::string& escapedSource = "Service%20Control%20Manager") {
  EXPECT_TRUE(eventLog.Reports(eventLog.Work()).empty());
  const auto reports = eventLog.Reports(eventLog.Bin());
  ASSERT_EQ(reports.size(), 1u);
  const std::string raw = ReadFileBytes(eventLog.Bin() + "/" + reports[0]);
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(
      raw.data(), raw.size(), (pugi::parse_default | pugi::parse_ws_pcdata) & ~pugi::parse_eol);
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << raw;
  const pugi::xml_node report = document.child("xml").child("Exception");
  EXPECT_EQ(std::string(report.child_value("Function")), "tarn32.SendPage");
  EXPECT_EQ(std::string(report.child_value("Trace")), "310");
  EXPECT_EQ(std::string(report.child_value("ClassName")), className);
  EXPECT_EQ(std::string(report.child_value("e.Message")), message);
  const std::string notes = report.child_value("Notes");
  EXPECT_TRUE(std::regex_match(notes, std::regex(RegexEscape("http://" + hostAndPort + kTarget) +
                                                 MessagePattern(escapedSource))))
      << notes;
}

TEST(PagingEndToEnd, AFailedPageLeavesItsReportAndChangesNothingOnTheConsole) {
  struct Case {
    const char* name;
    std::optional<ServerScript> script;  // none: nothing listens
    std::string className, message;
  } cases[] = {
      {"refused", std::nullopt, "ESocketError", "Socket Error # 10061\r\nConnection refused."},
      {"status 500",
       Answering("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops"),
       "EHTTPProtocolException", "HTTP/1.1 500 Internal Server Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation eventLog;
    eventLog.Write("Service Control Manager");
    eventLog.Settings(kPageSettings);
    std::optional<LoopbackServer> gateway;
    std::string hostAndPort;
    if (c.script) {
      gateway.emplace(*c.script);
      hostAndPort = gateway->HostAndPort();
    } else {
      LoopbackServer closed{ServerScript{}};
      hostAndPort = closed.HostAndPort();
    }
    ProcessResult result = eventLog.Run(hostAndPort);
    EXPECT_EQ(ConsoleWithoutReportTime(result.Output),
              ReportLines("Service Control Manager", "page"));
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_FALSE(result.Stopped);
    if (gateway) {
      EXPECT_EQ(gateway->Requests().size(), 1u);
    }
    EXPECT_TRUE(eventLog.PageRecords().empty());
    ExpectOneReport(eventLog, hostAndPort, c.className, c.message);
  }
}

TEST(PagingEndToEnd, AReportHoldsOnlyCharactersXmlAllows) {
  if (!PathExists("/usr/bin/xmllint")) GTEST_SKIP() << "xmllint (libxml2-utils) is missing";
  // U+FFFE and U+FFFF in the source reach the report's Notes percent-escaped in the URL; the
  // gateway's status line holds them raw, and a NUL besides.
  const std::string source =
      "Svc\xEF\xBF\xBE\xEF\xBF\xBF"
      "X";
  const std::string statusLine("HTTP/1.1 502 Bad\0Gate\xEF\xBF\xBEway\xEF\xBF\xBF", 30);
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    Installation eventLog;
    eventLog.Write(source);
    eventLog.Settings(kPageSettings);
    LoopbackServer gateway(Answering(statusLine + "\r\nContent-Length: 0\r\n\r\n"));
    ProcessRun run;
    run.Environment = {{"LANG", locale}};
    ProcessResult result = eventLog.Run(gateway.HostAndPort(), run);
    EXPECT_EQ(ConsoleWithoutReportTime(result.Output), ReportLines(source, "page"));
    EXPECT_EQ(result.ExitCode, 0);
    ExpectOneReport(eventLog, gateway.HostAndPort(), "EHTTPProtocolException",
                    "HTTP/1.1 502 BadGateway", "Svc%EF%BF%BE%EF%BF%BFX");
    for (const std::string& report : eventLog.Reports(eventLog.Bin())) {
      ProcessRun lint;
      lint.Executable = "/usr/bin/xmllint";
      lint.Arguments = {"--noout", eventLog.Bin() + "/" + report};
      const ProcessResult linted = RunProcess(lint);
      EXPECT_EQ(linted.ExitCode, 0) << linted.Errors;
      EXPECT_EQ(linted.Errors, "");
    }
  }
}

// The gateway stand-in decodes each page as a gateway's form decoding does; the message it
// prints is the one EventLog composed, byte for byte, and the page record keeps its lines.
TEST(PagingEndToEnd, TheGatewayDecodesTheComposedMessageByteForByte) {
  TemporaryDirectory gatewayDirectory;
  const std::string printed = gatewayDirectory.File("gateway.out");
  BackgroundProcess pagegateway;
  std::string error;
  ASSERT_TRUE(pagegateway.Start(PAGEGATEWAY_EXE, {"--port", "0"}, printed, error)) << error;
  // The match refers into the text it was made on, so the address is copied out at once.
  std::string gateway;
  const std::regex listening("listening on (127\\.0\\.0\\.1:\\d+)\n");
  for (int wait = 0; wait < 500 && gateway.empty(); ++wait) {
    const std::string text = ReadFileBytes(printed);
    std::smatch port;
    if (std::regex_search(text, port, listening))
      gateway = port[1];
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(gateway.empty()) << ReadFileBytes(printed);
  const std::string sources[] = {"RAID#2 degraded", "100%25", "a+b",
                                 "Gr\xC3\xBC\xC3\x9F"
                                 "e",
                                 "</URL><PageSent>False</PageSent><!--"};
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::size_t before = ReadFileBytes(printed).size();
    Installation eventLog;
    eventLog.Write(source);
    eventLog.Settings(kPageSettings);
    ProcessRun run;
    run.Environment = {{"LANG", "C.UTF-8"}};
    ProcessResult result = eventLog.Run(gateway, run);
    EXPECT_EQ(ConsoleWithoutReportTime(result.Output), ReportLines(source, "page"));
    const std::string page = ReadFileBytes(printed).substr(before);
    EXPECT_TRUE(
        std::regex_match(page, std::regex("Page for pager 730418: EventLog: " + kDateTime +
                                          " Host=" + RegexEscape(GetHostName()) +
                                          " Source=" + RegexEscape(source) + " EventID=7036\n")))
        << page;
    const auto records = eventLog.PageRecords();
    ASSERT_EQ(records.size(), 1u);
    const std::string record = ReadFileBytes(eventLog.Work() + "/" + records[0]);
    const std::vector<std::string> lines = Lines(record);
    ASSERT_EQ(lines.size(), 12u) << record;
    EXPECT_TRUE(std::regex_match(lines[10], std::regex("<URL>[^<>\"]*</URL>"))) << lines[10];
    EXPECT_EQ(lines[11], "<PageSent>True</PageSent>");
    EXPECT_TRUE(eventLog.Reports(eventLog.Bin()).empty());
  }
  pagegateway.Stop(BackgroundProcess::Request::Terminate, std::chrono::seconds(5));
}

TEST(PagingEndToEnd, ASilentGatewayIsGivenUpAfterThirtySeconds) {
  Installation eventLog;
  eventLog.Write("Service Control Manager");
  eventLog.Settings(kPageSettings);
  ServerScript silent;
  silent.HoldOpen = true;
  LoopbackServer gateway(silent);
  ProcessRun run;
  run.Timeout = std::chrono::seconds(60);
  const auto started = std::chrono::steady_clock::now();
  ProcessResult result = eventLog.Run(gateway.HostAndPort(), run);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(result.Stopped);
  EXPECT_GE(took, std::chrono::seconds(29));
  EXPECT_LE(took, std::chrono::seconds(45));
  EXPECT_EQ(ConsoleWithoutReportTime(result.Output),
            ReportLines("Service Control Manager", "page"));
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(gateway.Requests().size(), 1u);
  EXPECT_TRUE(eventLog.PageRecords().empty());
  ExpectOneReport(eventLog, gateway.HostAndPort(), "EReadTimeout", "Read Timeout");
}

TEST(PagingEndToEnd, ASourceHoldingCrLfCannotAddAHeader) {
  Installation eventLog;
  eventLog.Write("Evil\r\nX-Injected: 1");
  eventLog.Settings(kPageSettings);
  LoopbackServer gateway(Answering(kMarkerResponse));
  ProcessResult result = eventLog.Run(gateway.HostAndPort());
  EXPECT_EQ(ConsoleWithoutReportTime(result.Output), ReportLines("Evil\r\nX-Injected: 1", "page"));
  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      requests[0], std::regex(PageRequestPattern(MessagePattern("Evil%0D%0AX-Injected:%201"),
                                                 gateway.HostAndPort()))))
      << requests[0];
  EXPECT_EQ(requests[0].find("\r\nX-Injected"), std::string::npos);
  ASSERT_EQ(eventLog.PageRecords().size(), 1u);
  const std::string record = ReadFileBytes(eventLog.Work() + "/" + eventLog.PageRecords()[0]);
  EXPECT_NE(record.find("Source%3DEvil%0D%0AX-Injected:%201%20EventID%3D7036</URL>\r\n"),
            std::string::npos)
      << record;
  EXPECT_TRUE(eventLog.Reports(eventLog.Bin()).empty());
}

TEST(PagingEndToEnd, OnlyTheWordPageMakesAPage) {
  struct Case {
    const char* name;
    std::string settings;
    std::string input, console;
  } cases[] = {
      {"a blank after page", "<LogFile>System</LogFile><Action>page </Action>", "",
       ReportLines("Service Control Manager", "page ")},
      {"another word", "<LogFile>System</LogFile><Action>pager</Action>", "",
       ReportLines("Service Control Manager", "pager")},
      {"no action", "<LogFile>System</LogFile>", "", ReportLines("Service Control Manager", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation eventLog;
    eventLog.Write("Service Control Manager");
    eventLog.Settings(c.settings);
    LoopbackServer gateway(Answering(kMarkerResponse));
    ProcessRun run;
    run.Input = c.input;
    ProcessResult result = eventLog.Run(gateway.HostAndPort(), run);
    EXPECT_EQ(ConsoleWithoutReportTime(result.Output), c.console);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_TRUE(gateway.Requests().empty());
    EXPECT_TRUE(eventLog.PageRecords().empty());
  }
}

TEST(PagingEndToEnd, ConsoleModeNeverPages) {
  Installation eventLog;
  eventLog.Write("Service Control Manager");
  LoopbackServer gateway(Answering(kMarkerResponse));
  ProcessRun run;
  run.Input = "System\n\n\n";
  ProcessResult result = eventLog.Run(gateway.HostAndPort(), run);
  EXPECT_NE(result.Output.find(ReportLines("Service Control Manager", "")), std::string::npos)
      << result.Output;
  EXPECT_TRUE(gateway.Requests().empty());
  EXPECT_TRUE(eventLog.PageRecords().empty());
}

TEST(PagingEndToEnd, ARecordIsPagedOnceAcrossCycles) {
  Installation eventLog;
  eventLog.Write("Service Control Manager");
  eventLog.Settings("<LogFile>System</LogFile><Action>PAGE</Action><Sleep>1</Sleep>");
  LoopbackServer gateway(Answering(kMarkerResponse));
  ProcessRun run;
  run.StopWhenOutputHolds = "Sleeping for 1 seconds.\r\n";
  run.StopAfterOccurrences = 3;
  ProcessResult result = eventLog.Run(gateway.HostAndPort(), run);
  ASSERT_TRUE(result.Stopped);
  EXPECT_EQ(ConsoleWithoutReportTime(result.Output),
            ReportLines("Service Control Manager", "page") +
                "Sleeping for 1 seconds.\r\n"
                "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n"
                "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n");
  EXPECT_EQ(gateway.Requests().size(), 1u);
  EXPECT_EQ(eventLog.PageRecords().size(), 1u);
}

#ifdef UNAME_REFUSED_LIB
TEST(VersionProbeEndToEnd, ARefusedVersionQueryEndsTheProgramBeforeTheVersionLine) {
  TemporaryDirectory directory;
  // The report names the program's file, whatever it is called.
  const std::string renamed = directory.File("watcher");
  fs::copy_file(EVENTLOG_EXE, renamed);
  struct Case {
    std::string program, module;
  } cases[] = {{EVENTLOG_EXE, "EventLog"}, {renamed, "watcher"}};
  for (const auto& c : cases) {
    ProcessRun run;
    run.Executable = c.program;
    run.WorkingDirectory = directory.Path();
    run.Input = "System\n\n\n";
    run.Environment = {{"LD_PRELOAD", UNAME_REFUSED_LIB}, {"EVENTLOG_DIR", directory.Path()}};
    // The preloaded library is not instrumented and comes before the sanitizer's runtime.
    std::string sanitizerOptions = "verify_asan_link_order=0";
    if (const char* options = std::getenv("ASAN_OPTIONS"))
      sanitizerOptions = std::string(options) + ":" + sanitizerOptions;
    run.Environment.emplace("ASAN_OPTIONS", sanitizerOptions);
    ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.Output, "") << c.module;
    EXPECT_TRUE(
        std::regex_match(result.Errors, std::regex("Exception Exception in module " + c.module +
                                                   " at [0-9A-F]{8}\\.\r\nCan't get the Windows "
                                                   "version\\.\r\n\r\n")))
        << result.Errors;
    EXPECT_EQ(result.ExitCode, 1) << c.module;
    EXPECT_FALSE(result.Stopped) << c.module;

    // Without the library the same run asks its questions after the version line.
    run.Environment.erase("LD_PRELOAD");
    ProcessResult normal = RunProcess(run);
    EXPECT_EQ(normal.Output, std::string(kVersion) +
                                 "Logfile (Application): Event ID (0): Source: \r\nNo events "
                                 "found.\r\n")
        << c.module;
    EXPECT_EQ(normal.Errors, "") << c.module;
    EXPECT_EQ(normal.ExitCode, 0) << c.module;
  }
}
#endif

}  // namespace
