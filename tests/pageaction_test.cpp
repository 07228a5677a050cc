// The page action: the one-line alert for a reported record and its page to the gateway.
#include "monitor/pageaction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "kit/helpers.h"
#include "kit/records.h"
#include "monitor/eventsearch.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;

TDateTime Moment(int year, int month, int day, int hour, int minute, int second) {
  return EncodeDateTime({year, month, day, hour, minute, second, 0});
}

tMyEventLogRecord Record(const std::string& source, std::uint32_t eventId) {
  tMyEventLogRecord record;
  record.Source = source;
  record.EventLogRecord.EventID = eventId;
  record.Details = "details never paged";
  return record;
}

TEST(PageMessageTest, JoinsDateTimeHostSourceAndEventId) {
  ScopedFormatSettings regional{RegionalSettings{}};
  const TDateTime afternoon = Moment(2017, 10, 9, 16, 24, 0);
  struct Case {
    const char* name;
    TDateTime now;
    std::string host;
    tMyEventLogRecord record;
    std::string message;
  } cases[] = {
      {"a service event", afternoon, "ALPHA", Record("Service Control Manager", 105),
       "EventLog: 10/9/17 4:24:00 pm Host=ALPHA Source=Service Control Manager EventID=105"},
      {"midnight shows the date alone", Moment(2017, 10, 10, 0, 0, 0), "ALPHA", Record("Disk", 7),
       "EventLog: 10/10/17 Host=ALPHA Source=Disk EventID=7"},
      {"the zero moment shows nothing", 0, "ALPHA", Record("Disk", 7),
       "EventLog:  Host=ALPHA Source=Disk EventID=7"},
      {"a carried-over report", afternoon, "beta.example", Record("", 0),
       "EventLog: 10/9/17 4:24:00 pm Host=beta.example Source= EventID=0"},
      {"the highest event ID", afternoon, "ALPHA", Record("Tcpip", 65535),
       "EventLog: 10/9/17 4:24:00 pm Host=ALPHA Source=Tcpip EventID=65535"},
      {"nothing is escaped here", afternoon, "", Record("A&B=C D\r\n", 1),
       "EventLog: 10/9/17 4:24:00 pm Host= Source=A&B=C D\r\n EventID=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PageMessage(c.now, c.host, c.record), c.message) << c.name;
  }
}

TEST(PageMessageTest, TheDateTimeFollowsTheRegionalSettings) {
  ScopedFormatSettings regional{DottedSettings()};
  EXPECT_EQ(PageMessage(Moment(2017, 10, 9, 16, 24, 5), "ALPHA", Record("Disk", 7)),
            "EventLog: 09.10.2017 16.24.05 Host=ALPHA Source=Disk EventID=7");
}

// The message as the URL carries it, for texts that hold no control characters.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ' ')
      escaped += "%20";
    else if (c == '&')
      escaped += "%26";
    else if (c == '=')
      escaped += "%3D";
    else
      escaped += c;
  }
  return escaped;
}

class PageActionTest : public ::testing::Test {
 protected:
  PageActionTest() { GlobalSettings = tGlobalSettings{}; }

  ScopedGlobalSettings settings_;
  ScopedFormatSettings regional_{RegionalSettings{}};
  TemporaryDirectory work_;
  ScopedCurrentDirectory inWork_{work_.Path()};
};

TEST_F(PageActionTest, FillsTheRequestAndPagesTheGateway) {
  LoopbackServer gateway([] {
    ServerScript script;
    script.Steps = {{ProtocolBytes("answers/accepted.txt")}};
    return script;
  }());
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  // Whatever an earlier page left is replaced.
  SendPageRec = tSendPageRec{"old message", "old", 1, 99};
  const TDateTime before = Now();
  RunPageAction(Record("Service Control Manager", 105));
  const TDateTime after = Now();

  EXPECT_EQ(SendPageRec.PagerNo, 730418);
  EXPECT_EQ(SendPageRec.Password, "KRVOT");
  EXPECT_EQ(SendPageRec.Reserved, 0);
  std::smatch parts;
  const std::string message = SendPageRec.Message;
  ASSERT_TRUE(std::regex_match(message, parts, std::regex("EventLog: (.*) Host=(.*) Source=(.*)")))
      << message;
  TDateTime moment = 0;
  ASSERT_TRUE(TryStrToDateTime(parts[1].str(), moment, RegionalSettings{})) << message;
  EXPECT_GE(moment, before - 1.0 / 86400) << message;
  EXPECT_LE(moment, after) << message;
  EXPECT_EQ(parts[2].str(), GetHostName());
  EXPECT_EQ(parts[3].str(), "Service Control Manager EventID=105");

  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(
      requests[0],
      PageRequestBytes("/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=" + Escaped(message),
                       gateway.HostAndPort()));
  // The page sender left its record in the current directory.
  std::vector<std::string> records;
  for (const auto& entry : fs::directory_iterator(work_.Path()))
    records.push_back(entry.path().filename().string());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::regex_match(records[0], std::regex(R"(SendPage_\d{17}\.xml)"))) << records[0];
}

TEST_F(PageActionTest, AFailedPageRaisesNothing) {
  std::string hostAndPort;
  {
    LoopbackServer closed{ServerScript{}};
    hostAndPort = closed.HostAndPort();
  }
  ScopedEnvironment host("PAGING_GATEWAY_HOST", hostAndPort.c_str());
  std::set<std::string> before;
  for (const auto& entry : fs::directory_iterator(GetAppPath()))
    before.insert(entry.path().filename().string());
  EXPECT_NO_THROW(RunPageAction(Record("Disk", 7)));
  EXPECT_EQ(SendPageRec.PagerNo, 730418);
  // The failure left its report next to the test program; it is removed again here.
  int reports = 0;
  std::vector<fs::path> ours;
  for (const auto& entry : fs::directory_iterator(GetAppPath())) {
    const std::string name = entry.path().filename().string();
    if (before.count(name) || !std::regex_match(name, std::regex(R"(EXCEPTION-\d{17}\.XML)")))
      continue;
    pugi::xml_document document;
    if (!document.load_file(entry.path().c_str())) continue;
    const std::string notes = document.child("xml").child("Exception").child_value("Notes");
    if (notes.rfind("http://" + hostAndPort + "/", 0) != 0) continue;
    ++reports;
    EXPECT_EQ(std::string(document.child("xml").child("Exception").child_value("ClassName")),
              "ESocketError");
    ours.push_back(entry.path());
  }
  for (const auto& path : ours) fs::remove(path);
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(fs::is_empty(work_.Path()));
}

}  // namespace
