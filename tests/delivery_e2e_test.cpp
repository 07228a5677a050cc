// EventLog's opt-in delivery features run end to end against a loopback gateway: the delivery
// state it keeps (EVENTLOG_STATE_FILE), the kit's entries for each page outcome as syslog
// datagrams and daily files (EVENTLOG_LOG_*, EVENTLOG_SYSLOG_HOST), and stop requests during a
// page. Folders that cannot take a file are a full tmpfs of their own when the test runs as root,
// else folders without write permission.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "kit/helpers.h"
#include "platform/files.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/transcript.h"
#include "tests/support/udp_receiver.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kVersion[] = "Version: 201710091624\r\n";
constexpr std::uint32_t kOctoberNinth = 1507566240;  // 2017-10-09 16:24:00 UTC
constexpr char kSource[] = "Service Control Manager";
constexpr char kDetails[] = "The Print Spooler service entered the running state.";
constexpr char kGenerated[] = "2017-10-09 16:24:00.000";
const std::string kStateHeader =
    "# EventLog's delivery state (local time), written after every step of a report: the\n"
    "# LoggedAfter of the finished reports, and a report whose page attempt had not ended.\n"
    "# Delete this file to start afresh from the settings.\n";
constexpr char kMarkerBody[] = "<p>Message succesfully sent</p>";

std::string Response(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A gateway that answers each request after the delay.
ServerScript Gateway(const std::string& response, std::chrono::milliseconds delay = 0ms) {
  ServerScript script;
  if (delay > 0ms) script.Steps.push_back({"", delay});
  script.Steps.push_back({response});
  return script;
}

bool RequestArrived(const LoopbackServer& gateway) {
  const auto requests = gateway.Requests();
  return !requests.empty() && requests[0].find("\r\n\r\n") != std::string::npos;
}

ProcessResult Command(const std::string& program, std::vector<std::string> arguments) {
  ProcessRun run;
  run.Executable = program;
  run.Arguments = std::move(arguments);
  return RunProcess(run);
}

// A folder where no file can be written until it is mended: a full tmpfs of its own as root, a
// folder without write permission otherwise. The files are put in before it is closed.
class FullFolder {
 public:
  FullFolder(const std::string& path, const std::map<std::string, std::string>& files)
      : path_(path), root_(Command("/usr/bin/id", {"-u"}).Output == "0\n") {
    fs::create_directories(path);
    if (root_) {
      const ProcessResult mount =
          Command("/usr/bin/mount", {"-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs", path});
      if (mount.ExitCode != 0) {
        why_ = "a tmpfs cannot be mounted here: " + mount.Errors;
        return;
      }
      mounted_ = true;
    }
    for (const auto& [name, bytes] : files) WriteFileBytes(path + "/" + name, bytes);
    if (root_)
      Command("/bin/dd", {"if=/dev/zero", "of=" + path + "/filler", "bs=4096"});  // to ENOSPC
    else
      fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  }
  ~FullFolder() {
    if (mounted_)
      Command("/usr/bin/umount", {"-l", path_});
    else
      fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add);
  }
  FullFolder(const FullFolder&) = delete;
  FullFolder& operator=(const FullFolder&) = delete;

  // Empty when the folder is full; else why it could not be made so.
  const std::string& Why() const { return why_; }
  // The system's text for a file that cannot be written here.
  std::string Reason() const { return root_ ? "No space left on device" : "Permission denied"; }
  void Mend() {
    if (mounted_)
      fs::remove(path_ + "/filler");
    else
      fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add);
  }

 private:
  std::string path_;
  bool root_;
  bool mounted_ = false;
  std::string why_;
};

// An installation of EventLog: the program in bin/, run from work/ (its settings, its page
// records), its System log in logs/ holding one record of 7036 from 2017-10-09 16:24 UTC.
class Installation {
 public:
  Installation() {
    fs::create_directory(Bin());
    fs::create_directory(Work());
    fs::copy_file(EVENTLOG_EXE, Bin() + "/EventLog");
    ProcessRun run;
    run.Executable = EVENTCREATE_EXE;
    run.Arguments = {"--dir",    directory_.File("logs"),
                     "--log",    "System",
                     "--source", kSource,
                     "--id",     "7036",
                     "--time",   std::to_string(kOctoberNinth),
                     "--string", kDetails};
    const ProcessResult written = RunProcess(run);
    EXPECT_EQ(written.ExitCode, 0) << written.Errors;
  }

  std::string Path(const std::string& name) const { return directory_.File(name); }
  std::string Bin() const { return Path("bin"); }
  std::string Work() const { return Path("work"); }

  static std::string SettingsXml(const std::string& action, int sleep,
                                 const std::string& loggedAfter = "") {
    return "<EventLog><LogFile>System</LogFile><Action>" + action + "</Action><Sleep>" +
           std::to_string(sleep) + "</Sleep>" +
           (loggedAfter.empty() ? "" : "<LoggedAfter>" + loggedAfter + "</LoggedAfter>") +
           "</EventLog>\r\n";
  }
  void Settings(const std::string& xml) { WriteFileBytes(Work() + "/EventLog.XML", xml); }

  ProcessRun Run(const std::string& gateway, std::map<std::string, std::string> environment) {
    ProcessRun run;
    run.Executable = Bin() + "/EventLog";
    run.WorkingDirectory = Work();
    run.RemovedVariables = {"LC_ALL",
                            "LC_TIME",
                            "LC_NUMERIC",
                            "LC_CTYPE",
                            "LANGUAGE",
                            "EVENTLOG_STATE_FILE",
                            "EVENTLOG_LOG_LEVEL",
                            "EVENTLOG_LOG_FILE",
                            "EVENTLOG_LOG_KEEPDAYS",
                            "EVENTLOG_SYSLOG_HOST",
                            "EVENTLOG_LOG_IDENT"};
    run.Environment = std::move(environment);
    run.Environment.emplace("EVENTLOG_DIR", Path("logs"));
    run.Environment.emplace("TZ", "UTC");
    run.Environment.emplace("LANG", "C");
    run.Environment.emplace("PAGING_GATEWAY_HOST", gateway);
    return run;
  }

  std::vector<std::string> PageRecords() const {
    return FilesMatching(Work(), R"(SendPage_\d{17}\.xml)");
  }

 private:
  TemporaryDirectory directory_;
};

// The lines of a run that reports the record once and then sleeps or ends.
std::string ReportedRun(const std::string& output, const std::string& action) {
  return AfterReportTime(output, std::string(kVersion) + "\r\n") ==
                 ReportLines("7036", kSource, "10/9/17 4:24:00 pm", kDetails, action)
             ? "report"
             : output;
}

std::string State(const std::string& loggedAfter, const std::string& pending = "") {
  return kStateHeader + (loggedAfter.empty() ? "" : loggedAfter + "\n") +
         (pending.empty() ? "" : "pending " + pending + "\n");
}

TEST(DeliveryStateEndToEnd, PendingBeforeTheReportFinishedAfterThePage) {
  struct Case {
    const char* name;
    std::string action;
    std::string loggedAfter;                  // the settings' LoggedAfter tag, if any
    std::optional<std::string> response;      // delayed by 1.5 s; none: nothing listens
    std::string pendingState, finishedState;  // pending empty: not looked at
  } cases[] = {
      {"page accepted", "page", "", Response(kMarkerBody), State("", kGenerated),
       State(kGenerated)},
      {"page accepted, LoggedAfter set", "page", "1/1/17", Response(kMarkerBody),
       State("2017-01-01 00:00:00.000", kGenerated), State(kGenerated)},
      {"page refused", "page", "", Response("no such pager"), State("", kGenerated),
       State(kGenerated)},
      {"page failed", "page", "", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n",
       State("", kGenerated), State(kGenerated)},
      {"nothing listens", "page", "", std::nullopt, "", State(kGenerated)},
      {"report only", "report", "", Response(kMarkerBody), "", State(kGenerated)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation eventLog;
    eventLog.Settings(Installation::SettingsXml(c.action, 0, c.loggedAfter));
    std::optional<LoopbackServer> gateway;
    std::string hostAndPort;
    if (c.response) {
      gateway.emplace(Gateway(*c.response, 1500ms));
      hostAndPort = gateway->HostAndPort();
    } else {
      hostAndPort = LoopbackServer(ServerScript{}).HostAndPort();
    }
    const std::string statePath = eventLog.Path("state/delivery.state");
    fs::create_directory(eventLog.Path("state"));
    ProcessRun run = eventLog.Run(hostAndPort, {{"EVENTLOG_STATE_FILE", statePath}});
    // The pending state is on disk before the report's first line is printed, and stays while
    // the gateway holds its answer.
    std::optional<std::string> seenAtReport, seenDuringPage;
    run.RequestWhen = [&](const std::string& output, const std::string&) {
      if (!seenAtReport && output.find("MyEventLogRecord") != std::string::npos)
        seenAtReport = ReadFileBytes(statePath);
      if (!seenDuringPage && gateway && RequestArrived(*gateway))
        seenDuringPage = ReadFileBytes(statePath);
      return false;
    };
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(ReportedRun(result.Output, c.action), "report");
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(result.ExitCode, 0);
    if (!c.pendingState.empty()) {
      EXPECT_EQ(seenAtReport.value_or("<not seen>"), c.pendingState);
      EXPECT_EQ(seenDuringPage.value_or("<not seen>"), c.pendingState);
    }
    EXPECT_EQ(ReadFileBytes(statePath), c.finishedState);
    EXPECT_EQ(FilesMatching(eventLog.Path("state"), ".*"),
              std::vector<std::string>{"delivery.state"});
  }
}

TEST(DeliveryStateEndToEnd, ASaveThatFailsIsSaidAndTriedAgainEachCycle) {
  Installation eventLog;
  eventLog.Settings(Installation::SettingsXml("report", 1));
  FullFolder folder(eventLog.Path("state"), {});
  if (!folder.Why().empty()) GTEST_SKIP() << folder.Why();
  const std::string statePath = eventLog.Path("state/delivery.state");
  ProcessRun run = eventLog.Run("127.0.0.1:9", {{"EVENTLOG_STATE_FILE", statePath}});
  bool mended = false;
  // Mended after the first cycle, whose two saves failed; stopped once the next cycle saved.
  run.RequestWhen = [&](const std::string& output, const std::string&) {
    if (!mended && output.find("Sleeping for 1 seconds.") != std::string::npos) {
      folder.Mend();
      mended = true;
    }
    return mended && PathExists(statePath);
  };
  const ProcessResult result = RunProcess(run);
  const std::string line = "EventLog: cannot save the delivery state to " + statePath + " (" +
                           statePath + ".tmp: " + folder.Reason() +
                           "); it is tried again every cycle, and a restart before then may "
                           "repeat the last report\r\n";
  EXPECT_EQ(result.Errors, line + line);
  EXPECT_EQ(ReadFileBytes(statePath), State(kGenerated));
  EXPECT_FALSE(PathExists(statePath + ".tmp"));
  // Outside a page a stop acts at once, as it always did.
  EXPECT_EQ(result.Signal, SignalNumber(ProcessRun::Request::Terminate));
  EXPECT_FALSE(result.Stopped);
  const std::string rest = AfterReportTime(result.Output, std::string(kVersion) + "\r\n");
  EXPECT_EQ(rest.substr(0, rest.find("Sleeping")),
            ReportLines("7036", kSource, "10/9/17 4:24:00 pm", kDetails, "report"));
}

TEST(StopRequestsEndToEnd, AStopDuringAPageWaitsForTheAnswerTheRecordAndTheState) {
  struct Case {
    const char* name;
    ProcessRun::Request request;
    bool duringPage;  // else while it sleeps
  } cases[] = {
      {"SIGTERM during the page", ProcessRun::Request::Terminate, true},
      {"SIGINT during the page", ProcessRun::Request::Interrupt, true},
      {"SIGTERM while it sleeps", ProcessRun::Request::Terminate, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation eventLog;
    eventLog.Settings(Installation::SettingsXml("page", 60));
    LoopbackServer gateway(Gateway(Response(kMarkerBody), c.duringPage ? 1500ms : 0ms));
    const std::string statePath = eventLog.Path("delivery.state");
    ProcessRun run = eventLog.Run(gateway.HostAndPort(), {{"EVENTLOG_STATE_FILE", statePath}});
    run.RequestSent = c.request;
    run.RequestWhen = [&](const std::string& output, const std::string&) {
      return c.duringPage ? RequestArrived(gateway)
                          : output.find("Sleeping for 60 seconds.") != std::string::npos;
    };
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = RunProcess(run);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.Signal, SignalNumber(c.request));
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.Errors, "");
    const std::string rest = AfterReportTime(result.Output, std::string(kVersion) + "\r\n");
    const std::string report = ReportLines("7036", kSource, "10/9/17 4:24:00 pm", kDetails, "page");
    EXPECT_EQ(rest, c.duringPage ? report : report + "Sleeping for 60 seconds.\r\n");
    if (c.duringPage) {
      EXPECT_GE(took, 1500ms);
    }
    EXPECT_LT(took, 10s);
    // The page went out once, its record is whole and the state says it is done.
    EXPECT_EQ(gateway.Requests().size(), 1u);
    const auto records = eventLog.PageRecords();
    ASSERT_EQ(records.size(), 1u);
    const std::string record = ReadFileBytes(eventLog.Work() + "/" + records[0]);
    EXPECT_TRUE(record.starts_with("<xml>\r\n<PagerRec></PagerRec>\r\n")) << record;
    EXPECT_TRUE(record.ends_with("</URL>\r\n<PageSent>True</PageSent>\r\n")) << record;
    EXPECT_EQ(ReadFileBytes(statePath), State(kGenerated));
  }
}

// A regular expression of the text: {name} stands for the token's expression, the rest as it is.
std::string Pattern(const std::string& text, const std::map<std::string, std::string>& tokens) {
  std::string pattern;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('{', at);
    const std::size_t close = open == std::string::npos ? open : text.find('}', open);
    const auto token = close == std::string::npos
                           ? tokens.end()
                           : tokens.find(text.substr(open + 1, close - open - 1));
    if (token == tokens.end()) {
      const std::size_t end = open == std::string::npos ? text.size() : open + 1;
      pattern += RegexEscape(text.substr(at, end - at));
      at = end;
      continue;
    }
    pattern += RegexEscape(text.substr(at, open - at)) + token->second;
    at = close + 1;
  }
  return pattern;
}

TEST(KitEntriesEndToEnd, EveryPageOutcomeIsSentAsADatagramAndWrittenToTheDailyFile) {
  const std::string accepted =
      "<133>{time}: %eventlog-e2e: 50400: [Function=tarn32.SendPage][MSG={message}]"
      "[PagerNo=730418][RESULT=OK][Filename={record}][HTTPResponse.txt Not created]";
  const std::string refused =
      "<133>{time}: %eventlog-e2e: 50400: [Function=tarn32.SendPage][MSG={message}]"
      "[PagerNo=730418][RESULT=Error][Filename={record}][HTTPResponse.txt Not created]";
  struct Case {
    const char* name;
    std::optional<std::string> response;  // none: nothing listens
    bool fullWork;                        // the page record cannot be written
    std::vector<std::string> datagrams;
  } cases[] = {
      {"accepted", Response(kMarkerBody), false, {accepted}},
      {"refused",
       Response("Pager [730418] unknown\r\n\xFF"),
       false,
       {"<132>{time}: %eventlog-e2e: 40400: [Function=tarn32.SendPage]"
        "[Answer=Pager \\x5B730418\\x5D unknown\\x0D\\x0A\\xFF][Filename={record}]",
        refused}},
      {"failed",
       std::nullopt,
       false,
       {"<131>{time}: %eventlog-e2e: 30000: [Function=tarn32.SendPage][Classname=ESocketError]"
        "[Message=Socket Error # 10061Connection refused.][Trace=310][Filename={report}]"
        "[CoInitializeCount=0][Notes=http://{gateway}/cgi-bin/xmhscgi?password=KRVOT"
        "&pagerid=730418&message={escaped}]"}},
      {"record not written",
       Response(kMarkerBody),
       true,
       {"<131>{time}: %eventlog-e2e: 30100: [Function=tarn32.SendPage]"
        "[Note=the page record could not be written][Filename={record}][Reason={reason}]",
        accepted}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation eventLog;
    const std::string xml = Installation::SettingsXml("page", 0);
    eventLog.Settings(xml);
    std::optional<FullFolder> fullWork;
    if (c.fullWork) {
      fullWork.emplace(eventLog.Work(), std::map<std::string, std::string>{{"EventLog.XML", xml}});
      if (!fullWork->Why().empty()) GTEST_SKIP() << fullWork->Why();
    }
    std::optional<LoopbackServer> gateway;
    std::string hostAndPort;
    if (c.response) {
      gateway.emplace(Gateway(*c.response));
      hostAndPort = gateway->HostAndPort();
    } else {
      hostAndPort = LoopbackServer(ServerScript{}).HostAndPort();
    }
    UdpReceiver receiver;
    std::string error;
    ASSERT_TRUE(receiver.Bind(0, 1s, error)) << error;
    // Retention: dated CSV files of the base's name in its folder are aged, others stay.
    const std::string csv = eventLog.Path("csv");
    fs::create_directory(csv);
    for (const char* name :
         {"EventLog-20000101.CSV", "EventLog-20000101.txt", "Other-20000101.CSV"})
      WriteFileBytes(csv + "/" + name, "old\r\n");

    const ProcessResult result = RunProcess(eventLog.Run(
        hostAndPort, {{"EVENTLOG_LOG_LEVEL", "5"},
                      {"EVENTLOG_LOG_FILE", csv + "/EventLog"},
                      {"EVENTLOG_LOG_KEEPDAYS", "2"},
                      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1:" + std::to_string(receiver.Port())},
                      {"EVENTLOG_LOG_IDENT", "eventlog-e2e"}}));
    EXPECT_EQ(ReportedRun(result.Output, "page"), "report");
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(result.ExitCode, 0);

    const std::string dateTime = R"(\d{1,2}/\d{1,2}/\d\d(?: \d{1,2}:\d\d:\d\d (?:am|pm))?)";
    const std::string host = RegexEscape(GetHostName());
    const std::map<std::string, std::string> tokens = {
        {"time", R"([A-Z][a-z][a-z] \d\d \d{4} \d\d:\d\d:\d\d)"},
        {"message", "EventLog: " + dateTime + " Host%3D" + host + " Source%3D" +
                        RegexEscape(kSource) + " EventID%3D7036"},
        {"escaped", "EventLog:%20" + std::regex_replace(dateTime, std::regex(" "), "%20") +
                        "%20Host%3D" + host + "%20Source%3DService%20Control%20Manager" +
                        "%20EventID%3D7036"},
        {"record", R"((SendPage_\d{17}\.xml))"},
        {"report", RegexEscape(eventLog.Bin()) + R"(/EXCEPTION-\d{17}\.XML)"},
        {"gateway", RegexEscape(hostAndPort)},
        {"reason", fullWork ? RegexEscape(fullWork->Reason()) : "none"},
    };
    const std::vector<std::string> datagrams = receiver.ReceiveFor(500ms);
    ASSERT_EQ(datagrams.size(), c.datagrams.size());
    std::vector<std::string> records;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
      std::smatch match;
      EXPECT_TRUE(
          std::regex_match(datagrams[i], match, std::regex(Pattern(c.datagrams[i], tokens))))
          << datagrams[i];
      if (match.size() > 1 && match[1].matched) records.push_back(match.str(1));
    }
    // The entries of one page name one record.
    for (const std::string& record : records) EXPECT_EQ(record, records.front());

    // The daily file holds the same entries, one line each; the old dated file is gone.
    const auto daily = FilesMatching(csv, R"(EventLog-\d{8}\.CSV)");
    ASSERT_EQ(daily.size(), 1u);
    EXPECT_NE(daily[0], "EventLog-20000101.CSV");
    const std::string lines = ReadFileBytes(csv + "/" + daily[0]);
    std::size_t count = 0;
    for (std::size_t at = lines.find("\r\n"); at != std::string::npos;
         at = lines.find("\r\n", at + 2))
      ++count;
    EXPECT_EQ(count, c.datagrams.size()) << lines;
    EXPECT_TRUE(PathExists(csv + "/EventLog-20000101.txt"));
    EXPECT_TRUE(PathExists(csv + "/Other-20000101.CSV"));
    EXPECT_TRUE(FilesMatching(eventLog.Bin(), R"(.*\.CSV)").empty());
  }
}

TEST(KitEntriesEndToEnd, ABareRunWritesNoDailyFileAndABadValueStopsTheStart) {
  Installation eventLog;
  eventLog.Settings(Installation::SettingsXml("page", 0));
  LoopbackServer gateway(Gateway(Response(kMarkerBody)));
  const ProcessResult bare = RunProcess(eventLog.Run(gateway.HostAndPort(), {}));
  EXPECT_EQ(ReportedRun(bare.Output, "page"), "report");
  EXPECT_EQ(bare.Errors, "");
  EXPECT_EQ(bare.ExitCode, 0);
  // The default base is the program's own path: nothing is written beside it or in work/.
  EXPECT_TRUE(FilesMatching(eventLog.Bin(), R"(.*\.CSV)").empty());
  EXPECT_TRUE(FilesMatching(eventLog.Work(), R"(.*\.CSV)").empty());

  const ProcessResult bad =
      RunProcess(eventLog.Run(gateway.HostAndPort(), {{"EVENTLOG_SYSLOG_HOST", "loghost:syslog"}}));
  EXPECT_EQ(bad.Output, std::string(kVersion) +
                            "Error: EVENTLOG_SYSLOG_HOST='loghost:syslog' is not valid: give host "
                            "or host:port with a port from 1 to 65535, or unset it "
                            "(EConvertError) Trace=0\r\n");
  EXPECT_EQ(bad.ExitCode, 1);
  EXPECT_EQ(gateway.Requests().size(), 1u);
}

TEST(DurableReplace, ALeftoverTemporaryGoesOnlyWhenItIsAPlainFileOfOurs) {
  struct Case {
    const char* name;
    std::string leftover;  // "", "file", "link", "folder"
    bool saved;
  } cases[] = {
      {"no leftover", "", true},
      {"a leftover file of ours", "file", true},
      {"a link planted there", "link", false},
      {"a folder in the way", "folder", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory directory;
    const std::string path = directory.File("state");
    const std::string temporary = path + ".tmp";
    const std::string victim = directory.File("victim");
    WriteFileBytes(path, "old\n");
    WriteFileBytes(victim, "victim\n");
    if (c.leftover == "file") WriteFileBytes(temporary, "half");
    if (c.leftover == "link") fs::create_symlink(victim, temporary);
    if (c.leftover == "folder") fs::create_directory(temporary);
    std::string error;
    EXPECT_EQ(platform::ReplaceFileDurably(path, "new\n", 0644, error), c.saved);
    EXPECT_EQ(ReadFileBytes(path), c.saved ? "new\n" : "old\n");
    EXPECT_EQ(ReadFileBytes(victim), "victim\n");
    EXPECT_EQ(error,
              c.saved ? "" : temporary + ": in the way and not a file of this user; remove it");
    if (c.saved) {
      EXPECT_FALSE(PathExists(temporary));
      EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                    fs::perms::others_read);
    }
  }
}

}  // namespace
