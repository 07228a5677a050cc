// The alert post: the JSON body byte for byte (escaping, 8-bit texts, times), the list of
// Alertmanagers and its bad entries, and one post against a loopback peer: the request bytes,
// the outcome's log entry, report and count.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/alert_json.h"
#include "kit/helpers.h"
#include "kit/records.h"
#include "kit/watch.h"
#include "monitor/alertaction.h"
#include "paging/alertpost.h"
#include "paging/httpclient.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"
#include "tools/service/log_entries.h"

namespace {

TEST(AlertJson, TextsBecomeValidJsonStrings) {
  const struct {
    const char* name;
    std::string text, json;
  } cases[] = {
      {"plain", "Service Control Manager", R"("Service Control Manager")"},
      {"empty", "", R"("")"},
      {"quotes and backslash", R"(say "hi" \ there)", R"("say \"hi\" \\ there")"},
      {"controls and DEL", std::string("a\tb\r\nc\x01\b\f\x7F", 10),
       R"("a\tb\r\nc\u0001\b\f\u007f")"},
      {"NUL", std::string("a\0b", 3), R"("a\u0000b")"},
      {"valid UTF-8 stays", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"ANSI bytes as Windows-1252", "Caf\xE9 \x80 \xFF", "\"Caf\xC3\xA9 \xE2\x82\xAC \xC3\xBF\""},
      {"bytes the code page lacks", "\x81\x8D\x8F\x90\x9D", R"("\u0081\u008d\u008f\u0090\u009d")"},
      {"a sequence cut short", "\xE2\x82", "\"\xC3\xA2\xE2\x80\x9A\""},
      {"a surrogate", "\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xE2\x82\xAC\""},
      {"an overlong form", "\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "\"\xC3\xB4\\u0090\xE2\x82\xAC\xE2\x82\xAC\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(core::JsonString(c.text), c.json);
  }
}

TEST(AlertJson, MomentsAreRfc3339InUtc) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "1970-01-01T00:00:00Z"},         {1507566240, "2017-10-09T16:24:00Z"},
      {951868799, "2000-02-29T23:59:59Z"}, {4294967295, "2106-02-07T06:28:15Z"},
      {-1, "1969-12-31T23:59:59Z"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(core::Rfc3339Utc(seconds), text);
}

// 2017-10-09 16:24:00 UTC, and the report six minutes later.
constexpr std::uint32_t kGenerated = 1507566240;
constexpr std::int64_t kReported = 1507566600;

tMyEventLogRecord Record(const std::string& source, std::uint32_t generated = kGenerated) {
  tMyEventLogRecord record;
  record.Source = source;
  record.EventLogRecord.EventID = 7036;
  record.EventLogRecord.TimeGenerated = generated;
  return record;
}

std::string Body(const tMyEventLogRecord& record) {
  tAlertContext context;
  context.HostName = "ALPHA";
  context.LogFile = "System";
  context.Watch = "web";
  context.Message = "EventLog: 10/9/17 4:30:00 pm Host=ALPHA Source=" + record.Source;
  context.NowUnix = kReported;
  return core::AlertsBody(ReportAlert(record, context));
}

std::string ExpectedBody(const std::string& jsonSource, const std::string& startsAt = "16:24:00",
                         const std::string& endsAt = "17:30:00") {
  return R"([{"labels":{"alertname":"EventLogEvent","host":"ALPHA","log":"System","source":")" +
         jsonSource + R"(","event_id":"7036","watch":"web"},"annotations":{"message":)" +
         R"("EventLog: 10/9/17 4:30:00 pm Host=ALPHA Source=)" + jsonSource +
         R"(","report_time":"2017-10-09T16:30:00Z"},"startsAt":"2017-10-09T)" + startsAt +
         R"(Z","endsAt":"2017-10-09T)" + endsAt + R"(Z"}])";
}

TEST(AlertJson, TheBodyOfARecordsAlert) {
  const struct {
    const char* name;
    tMyEventLogRecord record;
    std::string body;
  } cases[] = {
      {"plain", Record("Service Control Manager"), ExpectedBody("Service Control Manager")},
      {"quotes, backslash, controls", Record("a\"b\\c\td\x01"),
       ExpectedBody(R"(a\"b\\c\td\u0001)")},
      {"8-bit bytes", Record("M\xFCller \x80"), ExpectedBody("M\xC3\xBCller \xE2\x82\xAC")},
      {"empty source", Record(""), ExpectedBody("")},
      {"no generation time: the report's", Record("S", 0), ExpectedBody("S", "16:30:00")},
      {"generated two hours before: an hour after the report", Record("S", kGenerated - 7200),
       ExpectedBody("S", "14:24:00")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Body(c.record), c.body);
  }
}

TEST(AlertmanagerList, EachUrlIsCheckedAndBadOnesSayHowToWriteThem) {
  const struct {
    const char* url;
    const char* problem;  // a part of the problem's text; empty: usable
  } cases[] = {
      {"http://127.0.0.1:9093", ""},
      {"HTTP://am.example:9093/alertmanager/", ""},
      {"http://am", ""},
      {"https://am:9093", "https is not supported"},
      {"am:9093", "it does not begin with http://; write http://host:port"},
      {"ftp://am:9093", "it does not begin with http://"},
      {"http://", "it names no host"},
      {"http://:9093", "it names no host"},
      {"http://am:0", "its port is not a number from 1 to 65535"},
      {"http://am:65536", "its port is not a number from 1 to 65535"},
      {"http://am:x", "its port is not a number from 1 to 65535"},
      {"http://am:", "its port is not a number from 1 to 65535"},
      {"http://am:9093/?a=b", "a query or fragment"},
      {"http://am:9093/#top", "a query or fragment"},
      {"http://u:p@am:9093", "a user name or password"},
      {"http://am\x01:9093", "a control character"},
      {"http://[::1]:9093", ""},
      {"http://[2001:db8::1]/am", ""},
      {"http://[::1]:", "its port is not a number from 1 to 65535"},
      {"http://[zz::1]:9093", "its host is no IPv6 address in brackets"},
      {"http://[::1:9093", "its host is no IPv6 address in brackets"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string problem = AlertmanagerUrlProblem(c.url);
    if (*c.problem == '\0')
      EXPECT_EQ(problem, "");
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  const auto list = ReadAlertmanagerList(" http://a:1,http://b:2 ,,\thttps://c ");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Url, "http://a:1");
  EXPECT_EQ(list[1].Url, "http://b:2");
  EXPECT_EQ(list[2].Url, "https://c");
  EXPECT_EQ(list[0].Problem + list[1].Problem, "");
  EXPECT_NE(list[2].Problem, "");
  EXPECT_TRUE(ReadAlertmanagerList(" , ").empty());
  EXPECT_EQ(AlertmanagerEndpoint("http://a:1/", "/api/v2/alerts"), "http://a:1/api/v2/alerts");
  EXPECT_EQ(AlertmanagerEndpoint("http://a:1/am", "/api/v2/alerts"), "http://a:1/am/api/v2/alerts");
}

std::string LogText(const std::string& directory) {
  std::string text;
  for (const auto& file : FilesMatching(directory, R"(alerts-\d{8}\.CSV)"))
    text += ReadFileBytes(directory + "/" + file);
  return text;
}

TEST(AlertPost, EachOutcomeHasItsEntryCountAndReport) {
  ScopedGlobalSettings settings;
  ScopedValue<tHttpLimits> limits(HttpLimits);
  HttpLimits.ConnectMilliseconds = 2000;
  HttpLimits.WaitMilliseconds = 1000;
  ScopedValue<tRunCounters> counters(RunCounters);
  TemporaryDirectory logs;
  GlobalSettings = tGlobalSettings{};
  GlobalSettings.Log.Level = 9;
  GlobalSettings.Log.FileName = logs.File("alerts");
  const std::string body = R"([{"labels":{"alertname":"x"}}])";
  const std::uint16_t closedPort = [] {
    LoopbackServer server{ServerScript{}};
    return server.Port();
  }();

  const struct {
    const char* name;
    std::optional<std::string> answer;  // none: nothing listens
    std::string base;                   // the base URL; empty: the peer's
    bool accepted;
    std::string entry;  // a regular expression of the entry's code and text
  } cases[] = {
      {"accepted", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", true,
       R"(50410,"\[Function=tarn32\.PostAlert\]\[URL={url}\]\[Status=HTTP/1\.1 200 OK\]")"},
      {"refused", "HTTP/1.1 400 Bad Request\r\nContent-Length: 9\r\n\r\nbad\r\n[x]\xFF", "", false,
       R"(40410,"\[Function=tarn32\.PostAlert\]\[URL={url}\]\[Status=HTTP/1\.1 400 Bad Request\])"
       R"(\[Answer=bad\\x0D\\x0A\\x5Bx\\x5D\\xFF\]")"},
      {"nothing listens", std::nullopt, "http://127.0.0.1:" + std::to_string(closedPort), false,
       R"(30010,"\[Function=tarn32\.PostAlert\]\[URL={url}\]\[Classname=ESocketError\])"
       R"(\[Message=Socket Error # 10061 Connection refused\.\]\[Trace=310\]\[Filename=(.+)\]")"},
      {"https", std::nullopt, "https://127.0.0.1:1", false,
       R"(30010,"\[Function=tarn32\.PostAlert\]\[URL={url}\]\[Classname=EAlertmanagerUrl\])"
       R"(\[Message=ALERTMANAGER_URL https://127\.0\.0\.1:1: https is not supported: [^\]]+\])"
       R"(\[Trace=110\]\[Filename=(.+)\]")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<LoopbackServer> peer;
    std::string base = c.base;
    if (c.answer) {
      ServerScript script;
      script.Steps = {{*c.answer}};
      peer.emplace(script);
      base = "http://" + peer->HostAndPort();
    }
    const std::string url = base + "/api/v2/alerts";
    const tRunCounters before = RunCounters;
    const std::size_t logBefore = LogText(logs.Path()).size();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(PostAlert(base, body), c.accepted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(RunCounters.AlertPostsAccepted - before.AlertPostsAccepted, c.accepted ? 1 : 0);
    EXPECT_EQ(RunCounters.AlertPostsFailed - before.AlertPostsFailed, c.accepted ? 0 : 1);

    const std::string entry = LogText(logs.Path()).substr(logBefore);
    std::string pattern = c.entry;
    pattern.replace(pattern.find("{url}"), 5, RegexEscape(url));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(entry, match, std::regex(pattern + "\r\n$"))) << entry;
    if (match.size() > 1) {
      // The failure's exception report names the function and the URL.
      const std::string report = ReadFileBytes(match[1]);
      EXPECT_NE(report.find("tarn32.PostAlert"), std::string::npos) << report;
      EXPECT_NE(report.find(url), std::string::npos) << report;
      std::filesystem::remove(match[1].str());
    }
    if (peer) {
      const std::string expected =
          "POST /api/v2/alerts HTTP/1.1\r\nContent-Type: "
          "application/json\r\nHost: " +
          peer->HostAndPort() +
          "\r\nAccept: application/json\r\nUser-Agent: Mozilla/3.0 "
          "(compatible; Tarn32 Library)\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body;
      for (int wait = 0;
           wait < 100 && (peer->Requests().empty() || peer->Requests()[0].size() < expected.size());
           ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ASSERT_EQ(peer->Requests().size(), 1u);
      EXPECT_EQ(peer->Requests()[0], expected);
    }
  }
}

}  // namespace

namespace service {
namespace {

TEST(AlertPostEntries, TheJournalSaysEachOutcomeAtItsPriority) {
  const struct {
    const char* code;
    std::string text;
    Priority level;
    std::string line;
  } cases[] = {
      {"50410",
       "[Function=tarn32.PostAlert][URL=http://am:9093/api/v2/alerts][Status=HTTP/1.1 200 OK]",
       Priority::Info, "alert posted to http://am:9093/api/v2/alerts: HTTP/1.1 200 OK"},
      {"40410",
       "[Function=tarn32.PostAlert][URL=http://am:9093/api/v2/alerts][Status=HTTP/1.1 400 Bad "
       "Request][Answer=bad \\x5Bx\\x5D]",
       Priority::Warning,
       "alert refused by the Alertmanager at http://am:9093/api/v2/alerts: HTTP/1.1 400 Bad "
       "Request; its answer: bad \\x5Bx\\x5D"},
      {"30010",
       "[Function=tarn32.PostAlert][URL=http://am:9093/api/v2/alerts][Classname=ESocketError]"
       "[Message=Socket Error # 10061 Connection refused.][Trace=310][Filename=/o/EXCEPTION-1.XML]",
       Priority::Err,
       "alert post to http://am:9093/api/v2/alerts failed: Socket Error # 10061 Connection "
       "refused. (ESocketError); report /o/EXCEPTION-1.XML"},
      {"30010", "[Function=tarn32.PostAlert][URL=x][Classname=E]", Priority::Err,
       "log entry 30010: [Function=tarn32.PostAlert][URL=x][Classname=E]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string refusedRecord;
    const JournalEntry entry = ReadLogEntry(c.code, c.text, refusedRecord);
    EXPECT_EQ(entry.Level, c.level);
    EXPECT_EQ(entry.Text, c.line);
    EXPECT_EQ(entry.Kind, EntryKind::Other);
    EXPECT_EQ(entry.Parts, (std::vector<std::string>{c.code, c.text}));
  }
}

}  // namespace
}  // namespace service
