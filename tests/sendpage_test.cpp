// The page sender against a loopback gateway: the request bytes, the page record file, the log
// entries, the exception report and the escaping of the message.
#include "paging/sendpage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/datetime.h"
#include "kit/helpers.h"
#include "kit/records.h"
#include "paging/httpclient.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr char kMarker[] = "Message succesfully sent";
constexpr char kPath[] = "/cgi-bin/xmhscgi?password=";

// The two time columns of a log line written now (24-hour clock, ':' separators); the ident
// column is ten blanks, as nothing names the program.
const std::string kLogLineStart = R"(\d\d:\d\d:\d\d,"\[\d\d:\d\d:\d\d\.\d\d\d\]","          ",)";

constexpr char kReportName[] = R"(EXCEPTION-\d{17}\.XML)";
constexpr char kPageRecordName[] = R"(SendPage_(\d{17})\.xml)";

std::string Response(const std::string& body, const std::string& statusLine = "HTTP/1.1 200 OK") {
  return statusLine +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

ServerScript Answering(const std::string& response) {
  ServerScript script;
  script.Steps = {{response}};
  return script;
}

// The texts of an exception report's ten elements by name; empty when it does not parse.
std::map<std::string, std::string> ReadReport(const std::string& path, std::string* problem) {
  const std::string raw = ReadFileBytes(path);
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(
      raw.data(), raw.size(), (pugi::parse_default | pugi::parse_ws_pcdata) & ~pugi::parse_eol);
  std::map<std::string, std::string> texts;
  if (!parsed) {
    if (problem) *problem = parsed.description() + "\n"s + raw;
    return texts;
  }
  const pugi::xml_node report = document.child("xml").child("Exception");
  for (const pugi::xml_node element : report.children())
    texts[element.name()] = element.child_value();
  return texts;
}

// Keeps the process-wide HTTP limits and shortens them, so that a silent gateway is given up
// within a fraction of a second.
class ScopedHttpLimits : public ScopedValue<tHttpLimits> {
 public:
  ScopedHttpLimits() : ScopedValue(HttpLimits) {
    HttpLimits.ConnectMilliseconds = 2000;
    HttpLimits.WaitMilliseconds = 400;
    HttpLimits.ExchangeMilliseconds = 3000;
  }
};

// A port on which nothing listens: a listener that has just been closed.
std::uint16_t ClosedPort() {
  LoopbackServer server{ServerScript{}};
  return server.Port();
}

// What one call left behind.
struct Outcome {
  bool Sent = false;
  TDateTime Before = 0, After = 0;
  std::vector<std::string> PageRecords;                     // names of new page record files
  std::vector<std::string> LogLines;                        // new log lines, each with its CR LF
  std::vector<std::map<std::string, std::string>> Reports;  // new reports about this gateway
  std::vector<std::string> ReportPaths;
  tSendPageRec Request;  // the request after the call (the configured pager's values)
};

// Every call runs in a fresh current directory, the log writer at level 9 writing into a
// directory of its own, the settings at their defaults and the HTTP limits shortened.
class SendPageTest : public ::testing::Test {
 protected:
  SendPageTest() {
    GlobalSettings = tGlobalSettings{};
    GlobalSettings.Log.Level = 9;
    GlobalSettings.Log.FileName = logs_.File("paging");
    for (const auto& file : FilesMatching(GetAppPath(), kReportName)) reportsBefore_.insert(file);
  }

  ~SendPageTest() override {
    std::error_code ignored;
    for (const auto& path : claimed_) fs::remove(path, ignored);
  }

  std::string LogText() const {
    std::string text;
    for (const auto& file : FilesMatching(logs_.Path(), R"(paging-\d{8}\.CSV)"))
      text += ReadFileBytes(logs_.File(file));
    return text;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end + 2 - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }

  // Sends the page to the gateway named by the environment and collects what the call left; to
  // the pager the environment names with configured, whose failing reports carry no URL and are
  // known by the text they hold.
  Outcome Send(const tSendPageRec& request, bool configured = false,
               const std::string& reportHolding = "") {
    Outcome outcome;
    // A page in the same millisecond as the one before would write the same record file: the
    // records of earlier calls are gone before this one.
    for (const auto& file : FilesMatching(work_.Path(), kPageRecordName))
      fs::remove(work_.File(file));
    const std::size_t linesBefore = Lines(LogText()).size();
    outcome.Before = Now();
    outcome.Request = request;
    outcome.Sent = configured ? SendPageToConfiguredPager(outcome.Request) : SendPage(request);
    outcome.After = Now();
    for (const auto& file : FilesMatching(work_.Path(), kPageRecordName))
      outcome.PageRecords.push_back(file);
    const auto lines = Lines(LogText());
    outcome.LogLines.assign(lines.begin() + std::min(linesBefore, lines.size()), lines.end());
    // Reports of other test processes may land in the same directory: only those whose notes
    // name this gateway are this call's.
    const std::string ours = "http://" + PagingGatewayHost() + "/";
    for (const auto& file : FilesMatching(GetAppPath(), kReportName)) {
      const std::string path = GetAppPath() + file;
      if (reportsBefore_.count(file) ||
          std::find(claimed_.begin(), claimed_.end(), path) != claimed_.end())
        continue;
      std::string problem;
      auto texts = ReadReport(path, &problem);
      const bool holds =
          !reportHolding.empty() && texts["e.Message"].find(reportHolding) != std::string::npos;
      if (texts["Notes"].rfind(ours, 0) != 0 && !holds) continue;
      claimed_.push_back(path);
      outcome.Reports.push_back(std::move(texts));
      outcome.ReportPaths.push_back(path);
    }
    return outcome;
  }

  std::string PageRecordText(const std::string& name) const {
    return ReadFileBytes(work_.File(name));
  }

  // The gateway URL as the record, the log and the report show it.
  static std::string Url(const std::string& hostAndPort, const std::string& password,
                         const std::string& pagerNo, const std::string& escaped) {
    return "http://" + hostAndPort + kPath + password + "&pagerid=" + pagerNo +
           "&message=" + escaped;
  }

  // The twelve lines of a page record, its date-time given.
  static std::string PageRecord(const std::string& dateTime, const std::string& pagerNo,
                                const std::string& password, const std::string& url,
                                const std::string& selfName = "", const std::string& version = "",
                                const std::string& hostName = "",
                                const std::string& runningUnder = "False",
                                const std::string& pageSent = "True") {
    return ProtocolBytes("records/page-record.txt", {{"datetime", dateTime},
                                                     {"selfname", selfName},
                                                     {"version", version},
                                                     {"hostname", hostName},
                                                     {"delphi", runningUnder},
                                                     {"pagerno", pagerNo},
                                                     {"password", password},
                                                     {"url", url},
                                                     {"sent", pageSent}});
  }

  // Checks the record's name and DateTime against the call's bounds and returns the DateTime
  // text found in it.
  std::string CheckRecordTimes(const Outcome& outcome, const std::string& name) {
    std::smatch digits;
    EXPECT_TRUE(std::regex_match(name, digits, std::regex(kPageRecordName))) << name;
    const std::string stamp = digits[1];
    EXPECT_LE(FormatDateTime("yyyymmddhhnnsszzz", outcome.Before), stamp);
    EXPECT_GE(FormatDateTime("yyyymmddhhnnsszzz", outcome.After), stamp);
    const std::string text = PageRecordText(name);
    std::smatch line;
    static const std::regex kDateTimeLine("<DateTime>([^<\r\n]*)</DateTime>");
    if (!std::regex_search(text, line, kDateTimeLine)) {
      ADD_FAILURE() << "no DateTime line in " << text;
      return "";
    }
    const std::string dateTime = line[1];
    TDateTime moment = 0;
    EXPECT_TRUE(TryStrToDateTime(dateTime, moment, RegionalSettings{})) << dateTime;
    // The text holds whole seconds.
    EXPECT_GE(moment, outcome.Before - 1.0 / 86400) << dateTime;
    EXPECT_LE(moment, outcome.After) << dateTime;
    return dateTime;
  }

  static void ExpectLogLine(const std::string& line, const std::string& code,
                            const std::string& text) {
    std::smatch start;
    ASSERT_TRUE(std::regex_search(line, start, std::regex("^" + kLogLineStart))) << line;
    EXPECT_EQ(line.substr(start.length()), code + ",\"" + text + "\"\r\n");
  }

  ScopedGlobalSettings settings_;
  ScopedFormatSettings regional_{RegionalSettings{}};
  ScopedHttpLimits limits_;
  TemporaryDirectory work_;
  TemporaryDirectory logs_;
  ScopedCurrentDirectory inWork_{work_.Path()};
  std::set<std::string> reportsBefore_;
  std::vector<std::string> claimed_;
};

// A query value as the gateway's form decoding reads it: "%" and two hex digits are that byte,
// "+" is a blank.
std::string FormDecoded(const std::string& value) {
  std::string decoded;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += value[i] == '+' ? ' ' : value[i];
    }
  }
  return decoded;
}

TEST_F(SendPageTest, MessagesAreEscapedForTheRequestAndShownInRecordAndLog) {
  LoopbackServer gateway(Answering(Response(kMarker)));
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  struct Case {
    const char* name;
    std::string message;
    std::int32_t pagerNo;
    std::string password;
    std::string escaped;  // what the URL carries
    std::string sent;     // what the request line carries after "&message="
    std::string shown;    // the MSG item of the log entry
  } cases[] = {
      {"blank, & and =", "Disk full: a=b & c", 730418, "KRVOT", "Disk%20full:%20a%3Db%20%26%20c",
       "Disk%20full:%20a%3Db%20%26%20c", "Disk full: a%3Db %26 c"},
      {"a typed %20", "50%20 off", 730418, "KRVOT", "50%2520%20off", "50%2520%20off",
       "50%2520 off"},
      {"empty message", "", 730418, "KRVOT", "", "", ""},
      {"negative pager number", "x", -42, "KRVOT", "x", "x", "x"},
      {"lowest pager number", "x", INT32_MIN, "KRVOT", "x", "x", "x"},
      // The URL carries the password escaped, so that "&" and "=" cannot cut the query; the
      // record keeps it as given.
      {"the password goes escaped", "x", 1, "p=w&1", "x", "x", "x"},
      {"# goes escaped, the request whole", "RAID#2 degraded", 730418, "KRVOT",
       "RAID%232%20degraded", "RAID%232%20degraded", "RAID%232 degraded"},
      {"% is escaped itself", "100%25", 730418, "KRVOT", "100%2525", "100%2525", "100%2525"},
      {"+ is no blank", "a+b", 730418, "KRVOT", "a%2Bb", "a%2Bb", "a%2Bb"},
      {"bytes of 0x80 and above",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       730418, "KRVOT", "Gr%C3%BC%C3%9Fe", "Gr%C3%BC%C3%9Fe", "Gr%C3%BC%C3%9Fe"},
      {"the page record keeps its layout", "</URL><PageSent>False</PageSent><!--", 730418, "KRVOT",
       "%3C/URL%3E%3CPageSent%3EFalse%3C/PageSent%3E%3C!--",
       "%3C/URL%3E%3CPageSent%3EFalse%3C/PageSent%3E%3C!--",
       "%3C/URL%3E%3CPageSent%3EFalse%3C/PageSent%3E%3C!--"},
      {"CR LF cannot split the request", "Source=Evil\r\nX-Injected: 1", 730418, "KRVOT",
       "Source%3DEvil%0D%0AX-Injected:%201", "Source%3DEvil%0D%0AX-Injected:%201",
       "Source%3DEvil%0D%0AX-Injected: 1"},
      {"backslashes go escaped", "C:\\Temp\\a.log", 730418, "KRVOT", "C:%5CTemp%5Ca.log",
       "C:%5CTemp%5Ca.log", "C:%5CTemp%5Ca.log"},
      {"what a query may hold stays", "ok-._~!$'()*,;:@/?", 730418, "KRVOT", "ok-._~!$'()*,;:@/?",
       "ok-._~!$'()*,;:@/?", "ok-._~!$'()*,;:@/?"},
  };
  std::size_t connections = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tSendPageRec request{c.message, c.password, c.pagerNo, 0};
    Outcome outcome = Send(request);
    EXPECT_TRUE(outcome.Sent);
    const std::string pagerNo = std::to_string(c.pagerNo);
    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), ++connections);
    EXPECT_EQ(requests.back(), PageRequestBytes(std::string(kPath) + EscapePageMessage(c.password) +
                                                    "&pagerid=" + pagerNo + "&message=" + c.sent,
                                                gateway.HostAndPort()));
    // What the gateway decodes is the message, byte for byte.
    EXPECT_EQ(FormDecoded(c.sent), c.message);
    ASSERT_EQ(outcome.PageRecords.size(), 1u);
    const std::string name = outcome.PageRecords[0];
    const std::string url =
        Url(gateway.HostAndPort(), EscapePageMessage(c.password), pagerNo, c.escaped);
    const std::string dateTime = CheckRecordTimes(outcome, name);
    EXPECT_EQ(PageRecordText(name), PageRecord(dateTime, pagerNo, c.password, url));
    ASSERT_EQ(outcome.LogLines.size(), 1u);
    ExpectLogLine(outcome.LogLines[0], "50400",
                  "[Function=tarn32.SendPage][MSG=" + c.shown + "][PagerNo=" + pagerNo +
                      "][RESULT=OK][Filename=" + name + "][HTTPResponse.txt Not created]");
    EXPECT_TRUE(outcome.Reports.empty());
  }
}

// PAGING_PAGER_ID and PAGING_PASSWORD, set, empty or unset, on a gateway at [::1]: the request
// bytes, the page record (the password as given, the URL with it escaped) and the log entry.
TEST_F(SendPageTest, TheEnvironmentsPagerAndPasswordGoToAnIPv6Gateway) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback [::1] to listen on";
  ServerScript script = Answering(Response(kMarker));
  script.IPv6 = true;
  LoopbackServer gateway(script);
  const std::string hostAndPort = gateway.HostAndPort();
  ASSERT_EQ(hostAndPort.rfind("[::1]:", 0), 0u);
  ScopedEnvironment host("PAGING_GATEWAY_HOST", hostAndPort.c_str());
  struct Case {
    const char* pagerId;   // nullptr: unset
    const char* password;  // nullptr: unset
    std::int32_t pagerNo;
    std::string recorded;  // the password in the record
    std::string sent;      // the password in the URL
  } cases[] = {
      {nullptr, nullptr, 730418, "KRVOT", "KRVOT"},
      {"", "", 730418, "KRVOT", "KRVOT"},
      {"42", nullptr, 42, "KRVOT", "KRVOT"},
      {"-7", "s3cret", -7, "s3cret", "s3cret"},
      {"2147483647", "a&b#c d=e%", INT32_MAX, "a&b#c d=e%", "a%26b%23c%20d%3De%25"},
      {"-2147483648", "<K>", INT32_MIN, "<K>", "%3CK%3E"},
  };
  std::size_t connections = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pagerId ? c.pagerId : "(unset)") + " " +
                 (c.password ? c.password : "(unset)"));
    ScopedEnvironment pagerId("PAGING_PAGER_ID", c.pagerId);
    ScopedEnvironment password("PAGING_PASSWORD", c.password);
    Outcome outcome = Send({"Disk full", "KRVOT", 730418, 0}, true);
    EXPECT_TRUE(outcome.Sent);
    EXPECT_EQ(outcome.Request.PagerNo, c.pagerNo);
    EXPECT_EQ(outcome.Request.Password, c.recorded);
    const std::string pagerNo = std::to_string(c.pagerNo);
    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), ++connections);
    EXPECT_EQ(requests.back(), PageRequestBytes(std::string(kPath) + c.sent +
                                                    "&pagerid=" + pagerNo + "&message=Disk%20full",
                                                hostAndPort));
    ASSERT_EQ(outcome.PageRecords.size(), 1u);
    const std::string name = outcome.PageRecords[0];
    EXPECT_EQ(PageRecordText(name), PageRecord(CheckRecordTimes(outcome, name), pagerNo, c.recorded,
                                               Url(hostAndPort, c.sent, pagerNo, "Disk%20full")));
    ASSERT_EQ(outcome.LogLines.size(), 1u);
    ExpectLogLine(outcome.LogLines[0], "50400",
                  "[Function=tarn32.SendPage][MSG=Disk full][PagerNo=" + pagerNo +
                      "][RESULT=OK][Filename=" + name + "][HTTPResponse.txt Not created]");
  }
}

// A PAGING_PAGER_ID that names no pager pages no one, the built-in pager least: the failure path
// with marker 100, an exception report and a 30000 entry that name the variable and the fix.
TEST_F(SendPageTest, APagerIdThatNamesNoPagerFailsVisiblyAndPagesNoOne) {
  LoopbackServer gateway(Answering(Response(kMarker)));
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  const std::string fix =
      ": no page was sent; set it to the pager's number, as in PAGING_PAGER_ID=730418, or unset "
      "it to page the built-in pager";
  const std::pair<std::string, std::string> cases[] = {
      {"73O418", "\"73O418\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"730418 ", "\"730418 \" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"0730418", "\"0730418\" has a leading zero, which the pager number would drop"},
      {"4294967296", "\"4294967296\" lies outside -2147483648 to 2147483647"},
      {"7[3]\r\n",
       "\"7\\x5B3\\x5D\\x0D\\x0A\" is not a whole decimal number (digits, a \"-\" at "
       "most, no blanks)"},
  };
  for (const auto& [value, problem] : cases) {
    SCOPED_TRACE(value);
    ScopedEnvironment pagerId("PAGING_PAGER_ID", value.c_str());
    const std::string message = "PAGING_PAGER_ID=" + problem + fix;
    Outcome outcome = Send({"Disk full", "KRVOT", 730418, 0}, true, problem);
    EXPECT_FALSE(outcome.Sent);
    EXPECT_TRUE(outcome.PageRecords.empty());
    ASSERT_EQ(outcome.Reports.size(), 1u);
    EXPECT_EQ(outcome.Reports[0]["ClassName"], "EPagingSetting");
    EXPECT_EQ(outcome.Reports[0]["e.Message"], message);
    EXPECT_EQ(outcome.Reports[0]["Trace"], "100");
    EXPECT_EQ(outcome.Reports[0]["Notes"], "");
    ASSERT_EQ(outcome.LogLines.size(), 1u);
    // The log writer's CSV field shows each '"' as "'".
    std::string logged = message;
    std::replace(logged.begin(), logged.end(), '"', '\'');
    ExpectLogLine(outcome.LogLines[0], "30000",
                  "[Function=tarn32.SendPage][Classname=EPagingSetting][Message=" + logged +
                      "][Trace=100][Filename=" + outcome.ReportPaths[0] +
                      "][CoInitializeCount=0][Notes=]");
  }
  EXPECT_TRUE(gateway.Requests().empty());
}

TEST_F(SendPageTest, TheMarkerAnywhereInTheBodyMeansSent) {
  struct Case {
    const char* name;
    std::string body;
    bool sent;
    std::string answer;  // as the refusal entry shows it
  } cases[] = {
      {"the marker alone", kMarker, true, ""},
      {"inside an HTML page",
       "<html><body><p>Status: Message succesfully sent to 730418</p></body></html>", true, ""},
      {"at the very end", "OK\r\nMessage succesfully sent", true, ""},
      {"spelt correctly", "Message successfully sent", false, "Message successfully sent"},
      {"other letter case", "message succesfully sent", false, "message succesfully sent"},
      {"cut short", "Message succesfully sen", false, "Message succesfully sen"},
      {"empty body", "", false, ""},
      {"a refusal", "<html>Pager 730418 unknown</html>", false,
       "<html>Pager 730418 unknown</html>"},
      {"a long refusal with brackets, controls and high bytes",
       "[denied]\t\xE9\x7F" + std::string(300, 'a'), false,
       R"(\x5Bdenied\x5D\x09\xE9\x7F)" + std::string(189, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer gateway(Answering(Response(c.body)));
    ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
    Outcome outcome = Send({"Disk full", "KRVOT", 730418, 0});
    EXPECT_EQ(outcome.Sent, c.sent);
    // The exchange completed either way: the record is written and says whether it was sent.
    ASSERT_EQ(outcome.PageRecords.size(), 1u);
    const std::string name = outcome.PageRecords[0];
    const std::string dateTime = CheckRecordTimes(outcome, name);
    EXPECT_EQ(PageRecordText(name),
              PageRecord(dateTime, "730418", "KRVOT",
                         Url(gateway.HostAndPort(), "KRVOT", "730418", "Disk%20full"), "", "", "",
                         "False", c.sent ? "True" : "False"));
    // A refusal is logged with the gateway's answer just before the outcome.
    ASSERT_EQ(outcome.LogLines.size(), c.sent ? 1u : 2u);
    if (!c.sent)
      ExpectLogLine(outcome.LogLines[0], "40400",
                    "[Function=tarn32.SendPage][Answer=" + c.answer + "][Filename=" + name + "]");
    ExpectLogLine(outcome.LogLines.back(), "50400",
                  "[Function=tarn32.SendPage][MSG=Disk full][PagerNo=730418][RESULT=" +
                      std::string(c.sent ? "OK" : "Error") + "][Filename=" + name +
                      "][HTTPResponse.txt Not created]");
    EXPECT_TRUE(outcome.Reports.empty());
  }
}

TEST_F(SendPageTest, AFailedExchangeLeavesAReportAndAFailureEntryButNoRecord) {
  struct Case {
    const char* name;
    ServerScript script;
    bool refused;
    std::string className, message;
  } cases[] = {
      {"refused", {}, true, "ESocketError", "Socket Error # 10061\r\nConnection refused."},
      {"status 500", Answering(Response("<html>oops</html>", "HTTP/1.1 500 Internal Server Error")),
       false, "EHTTPProtocolException", "HTTP/1.1 500 Internal Server Error"},
      {"redirect",
       Answering("HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n"),
       false, "EHTTPProtocolException", "HTTP/1.1 302 Found"},
      {"closed without an answer", Answering(""), false, "EConnClosedGracefully",
       "Connection Closed Gracefully."},
      {"silent", ServerScript{.ReadRequest = true, .Steps = {}, .Repeat = "", .HoldOpen = true},
       false, "EReadTimeout", "Read Timeout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<LoopbackServer> gateway;
    std::string hostAndPort = "127.0.0.1:" + std::to_string(ClosedPort());
    if (!c.refused) {
      gateway.emplace(c.script);
      hostAndPort = gateway->HostAndPort();
    }
    ScopedEnvironment host("PAGING_GATEWAY_HOST", hostAndPort.c_str());
    const auto started = std::chrono::steady_clock::now();
    Outcome outcome = Send({"Disk full: a=b", "KRVOT", 730418, 0});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_FALSE(outcome.Sent);
    EXPECT_TRUE(outcome.PageRecords.empty());
    const std::string url = Url(hostAndPort, "KRVOT", "730418", "Disk%20full:%20a%3Db");
    ASSERT_EQ(outcome.Reports.size(), 1u);
    auto& report = outcome.Reports[0];
    EXPECT_EQ(report["Function"], "tarn32.SendPage");
    EXPECT_EQ(report["Trace"], "310");
    EXPECT_EQ(report["ClassName"], c.className);
    EXPECT_EQ(report["e.Message"], c.message);
    EXPECT_EQ(report["Notes"], url);
    EXPECT_EQ(report["SelfName"], "");
    EXPECT_EQ(report["HostName"], "");
    std::string joined = c.message;
    if (auto crlf = joined.find("\r\n"); crlf != std::string::npos) joined.erase(crlf, 2);
    ASSERT_EQ(outcome.LogLines.size(), 1u);
    ExpectLogLine(outcome.LogLines[0], "30000",
                  "[Function=tarn32.SendPage][Classname=" + c.className + "][Message=" + joined +
                      "][Trace=310][Filename=" + outcome.ReportPaths[0] +
                      "][CoInitializeCount=0][Notes=" + url + "]");
  }
}

TEST_F(SendPageTest, TheRecordAndTheFailureEntryCarryTheGlobalSettings) {
  GlobalSettings.SelfName = "EventLog";
  GlobalSettings.Version = "1.0.0";
  GlobalSettings.HostName = "ALPHA";
  GlobalSettings.RunningUnderDelphi = true;
  GlobalSettings.CoInitializeCount = 2;
  {
    LoopbackServer gateway(Answering(Response(kMarker)));
    ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
    Outcome outcome = Send({"m", "KRVOT", 7, 0});
    EXPECT_TRUE(outcome.Sent);
    ASSERT_EQ(outcome.PageRecords.size(), 1u);
    const std::string name = outcome.PageRecords[0];
    EXPECT_EQ(PageRecordText(name), PageRecord(CheckRecordTimes(outcome, name), "7", "KRVOT",
                                               Url(gateway.HostAndPort(), "KRVOT", "7", "m"),
                                               "EventLog", "1.0.0", "ALPHA", "True"));
  }
  const std::string hostAndPort = "127.0.0.1:" + std::to_string(ClosedPort());
  ScopedEnvironment host("PAGING_GATEWAY_HOST", hostAndPort.c_str());
  Outcome outcome = Send({"m", "KRVOT", 7, 0});
  EXPECT_FALSE(outcome.Sent);
  ASSERT_EQ(outcome.Reports.size(), 1u);
  EXPECT_EQ(outcome.Reports[0]["SelfName"], "EventLog");
  EXPECT_EQ(outcome.Reports[0]["HostName"], "ALPHA");
  ASSERT_EQ(outcome.LogLines.size(), 1u);
  ExpectLogLine(outcome.LogLines[0], "30000",
                "[Function=tarn32.SendPage][Classname=ESocketError][Message=Socket Error # "
                "10061Connection refused.][Trace=310][Filename=" +
                    outcome.ReportPaths[0] +
                    "][CoInitializeCount=2][Notes=" + Url(hostAndPort, "KRVOT", "7", "m") + "]");
}

TEST_F(SendPageTest, AtLevelZeroNothingIsLoggedAndThePageStillGoesOut) {
  GlobalSettings.Log.Level = 0;
  LoopbackServer gateway(Answering(Response(kMarker)));
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  Outcome outcome = Send({"quiet", "KRVOT", 1, 0});
  EXPECT_TRUE(outcome.Sent);
  EXPECT_EQ(outcome.PageRecords.size(), 1u);
  EXPECT_EQ(LogText(), "");
  EXPECT_EQ(gateway.Requests().size(), 1u);
}

TEST_F(SendPageTest, EveryPageUsesANewConnectionAndANewRecordFile) {
  LoopbackServer gateway(Answering(Response(kMarker)));
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    // The record's name tells the millisecond: pages a few milliseconds apart get names of
    // their own.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    Outcome outcome = Send({"page " + std::to_string(i), "KRVOT", 1, 0});
    EXPECT_TRUE(outcome.Sent);
    ASSERT_EQ(outcome.PageRecords.size(), 1u);
    names.insert(outcome.PageRecords[0]);
    EXPECT_NE(PageRecordText(outcome.PageRecords[0])
                  .find("&message=page%20" + std::to_string(i) + "</URL>"),
              std::string::npos);
  }
  EXPECT_EQ(names.size(), 3u);
  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[2].find("&message=page%202 HTTP/1.1\r\n"), std::string::npos) << requests[2];
}

TEST(PageEscaping, EverythingAQueryMayNotHoldRawAndTheSeparatorsArePercentEncoded) {
  struct Case {
    std::string message, escaped;
  } cases[] = {
      {"", ""},
      {"Disk full: a=b & c", "Disk%20full:%20a%3Db%20%26%20c"},
      {"50%20 off", "50%2520%20off"},
      {"&&==  ++", "%26%26%3D%3D%20%20%2B%2B"},
      {"%26 stays", "%2526%20stays"},
      {"a\r\nb", "a%0D%0Ab"},
      {"tab\there", "tab%09here"},
      {"nul\0byte"s, "nul%00byte"},
      {"\x1F", "%1F"},
      {"\x1B[31m", "%1B%5B31m"},
      {"\x7F", "%7F"},
      {"!", "!"},
      {"caf\xE9", "caf%E9"},
      {"\x80\xA0\xFF", "%80%A0%FF"},
      {"\"#%<>[\\]^`{|}", "%22%23%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
      {"-._~!$'()*,;:@/?", "-._~!$'()*,;:@/?"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapePageMessage(c.message), c.escaped) << c.message;
}

TEST(PageEscaping, EveryByteValueOnItsOwn) {
  const char* hex = "0123456789ABCDEF";
  const std::string stands = "-._~!$'()*,;:@/?";
  for (int value = 0; value < 256; ++value) {
    const char byte = static_cast<char>(value);
    const bool alphanumeric = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                              (byte >= '0' && byte <= '9');
    std::string expected(1, byte);
    if (!alphanumeric && stands.find(byte) == std::string::npos)
      expected = {'%', hex[value >> 4], hex[value & 15]};
    EXPECT_EQ(EscapePageMessage(std::string(1, byte)), expected) << "byte " << value;
  }
}

TEST(PageEscaping, TheUrlJoinsHostPasswordPagerAndEscapedMessage) {
  struct Case {
    std::string host;
    tSendPageRec request;
    std::string url;
  } cases[] = {
      {"localhost",
       {"Disk full: a=b & c", "KRVOT", 730418, 0},
       "http://localhost/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message="
       "Disk%20full:%20a%3Db%20%26%20c"},
      {"gw.example:8080",
       {"", "", 0, 0},
       "http://gw.example:8080/cgi-bin/xmhscgi?password=&pagerid=0&message="},
      {"10.0.0.1",
       {"x", "a b&c=d", -730418, 0},
       "http://10.0.0.1/cgi-bin/xmhscgi?password=a%20b%26c%3Dd&pagerid=-730418&message=x"},
      {"[::1]:8080",
       {"y", "K#1", 1, 0},
       "http://[::1]:8080/cgi-bin/xmhscgi?password=K%231&pagerid=1&message=y"},
      {"gw",
       {"y", "K", INT32_MAX, 12345},
       "http://gw/cgi-bin/xmhscgi?password=K&pagerid=2147483647&message=y"},
  };
  for (const auto& c : cases) EXPECT_EQ(PageUrl(c.host, c.request), c.url) << c.url;
}

TEST(PagingGatewayHostTest, TheEnvironmentOverridesTheBuiltInHost) {
  std::string builtIn;
  {
    ScopedEnvironment unset("PAGING_GATEWAY_HOST", nullptr);
    builtIn = PagingGatewayHost();
    EXPECT_FALSE(GatewayHost().FromEnvironment);
  }
  EXPECT_FALSE(builtIn.empty());
  // Each case: the variable's value (nullptr: unset), then what GatewayHost says.
  struct Case {
    const char* value;
    std::string host;
    bool fromEnvironment;
  } cases[] = {
      {"", builtIn, false},
      {"127.0.0.1:8080", "127.0.0.1:8080", true},
      {"pager.example", "pager.example", true},
      {" blank ", " blank ", true},
      // Read at every call: once the variable is gone, the built-in host is back.
      {nullptr, builtIn, false},
  };
  for (const auto& c : cases) {
    ScopedEnvironment set("PAGING_GATEWAY_HOST", c.value);
    const tGatewayHost gateway = GatewayHost();
    EXPECT_EQ(gateway.Host, c.host) << (c.value ? c.value : "unset");
    EXPECT_EQ(gateway.FromEnvironment, c.fromEnvironment) << (c.value ? c.value : "unset");
    EXPECT_EQ(PagingGatewayHost(), c.host) << (c.value ? c.value : "unset");
  }
}

}  // namespace
