#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "kit/logentry.h"
#include "kit/records.h"
#include "kit/syslog.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"
#include "tests/support/test_sockets.h"
#include "tests/support/udp_receiver.h"

namespace {

// Marks this run's datagrams, so that a datagram of another test process is not counted.
std::string RunToken() {
  static const std::string token = [] {
    std::random_device random;
    return "run" + std::to_string(random()) + std::to_string(random());
  }();
  return token;
}

std::vector<std::string> Ours(const std::vector<std::string>& datagrams) {
  std::vector<std::string> ours;
  for (const auto& d : datagrams)
    if (d.find(RunToken()) != std::string::npos) ours.push_back(d);
  return ours;
}

// Regional settings unlike the defaults: the time separator and the month names show in the
// header of every datagram.
RegionalSettings GermanMonthSettings() {
  RegionalSettings settings;
  settings.TimeSeparator = '.';
  settings.ShortMonthNames = {"Jan", "Feb", "M\xE4r", "Apr", "Mai", "Jun",
                              "Jul", "Aug", "Sep",    "Okt", "Nov", "Dez"};
  return settings;
}

// The header's date as the forwarder writes it now, with a tolerant time of day.
std::string HeaderDatePattern() {
  return RegexEscape(FormatDateTime("mmm dd yyyy ", Now())) + R"(\d\d\.\d\d\.\d\d)";
}

class SyslogTest : public ::testing::Test {
 protected:
  SyslogTest() : saved_(GlobalSettings), base_(dir_.File("syslogged")) {
    GlobalSettings = tGlobalSettings{};
    GlobalSettings.Log.FileName = base_;
  }
  ~SyslogTest() override { GlobalSettings = saved_; }

  // Binds the syslog port on the loopback address, or says why the test cannot.
  bool BindReceiver(std::string& why) {
    if (!MayBindPrivilegedPorts()) {
      why = "binding UDP port 514 needs root";
      return false;
    }
    return receiver_.Bind(kSyslogPort, std::chrono::seconds(10), why);
  }

  tGlobalSettings saved_;
  TemporaryDirectory dir_;
  std::string base_;
  ScopedFormatSettings regional_{GermanMonthSettings()};
  UdpReceiver receiver_;
};

TEST(SyslogDatagramText, HeaderIsPriDateIdentThenTheText) {
  ScopedFormatSettings regional(GermanMonthSettings());
  const TDateTime october = EncodeDateTime({2017, 10, 9, 16, 4, 5, 999});
  const TDateTime march = EncodeDateTime({2023, 3, 2, 7, 8, 9, 0});
  struct Case {
    std::int32_t pri;
    TDateTime moment;
    std::string ident, text, expected;
  } cases[] = {
      {133, october, "abc", "50400: done", "<133>Okt 09 2017 16.04.05: %abc: 50400: done"},
      {0, march, "x", "t", "<0>M\xE4r 02 2023 07.08.09: %x: t"},
      {131, march, "", "30000: failed", "<131>M\xE4r 02 2023 07.08.09: %: 30000: failed"},
      {137, october, "LongIdentifier", "a\r\nb 'q'",
       "<137>Okt 09 2017 16.04.05: %LongIdentifier: a\r\nb 'q'"},
      {191, october, "id", "", "<191>Okt 09 2017 16.04.05: %id: "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SyslogDatagram(c.pri, c.moment, c.ident, c.text), c.expected) << c.pri;

  ScopedFormatSettings defaults{RegionalSettings{}};
  EXPECT_EQ(SyslogDatagram(134, EncodeDateTime({1999, 12, 31, 23, 59, 59, 0}), "y2k", "x"),
            "<134>Dec 31 1999 23:59:59: %y2k: x");
}

TEST(SyslogAddress, LocalhostAndDottedAddressesNeedNoLookup) {
  struct Case {
    std::string host;
    bool parsed;
    std::uint32_t address;
  } cases[] = {
      {"LOCALHOST", true, 0x7F000001},
      {"localhost", true, 0x7F000001},
      {"LocalHost", true, 0x7F000001},
      {"127.0.0.1", true, 0x7F000001},
      {"10.1.2.3", true, 0x0A010203},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"192.168.200.1", true, 0xC0A8C801},
      // Leading zeros are decimal, whatever their number.
      {"0127.0.0.1", true, 0x7F000001},
      {"127.0.0.010", true, 0x7F00000A},
      {"010.0.00.0255", true, 0x0A0000FF},
      {"000000000127.0.0.1", true, 0x7F000001},
      {"1.2.3.256", false, 0},
      {"1.2.3.0256", false, 0},
      {"4294967296.1.1.1", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"a.b.c.d", false, 0},
      {"", false, 0},
      {" 1.2.3.4", false, 0},
      {"1.2.3.4 ", false, 0},
      {"1..2.3", false, 0},
      {"-1.2.3.4", false, 0},
      {"localhost.", false, 0},
      {"localhosts", false, 0},
      {"syslog.example", false, 0},
  };
  for (const auto& c : cases) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(ParseHostAddress(c.host, address), c.parsed) << '"' << c.host << '"';
    if (c.parsed) {
      EXPECT_EQ(address, c.address) << c.host;
    }
  }
}

TEST_F(SyslogTest, FailuresRaiseSocketErrors) {
  struct Case {
    std::string host;
    std::size_t size;
    int error;
    std::string message;
  } cases[] = {
      {"no-such-host.invalid", 10, 11001, "Socket Error # 11001\r\nHost not found."},
      // Digits and dots that are no address never reach the resolver, which would read some
      // of them in its own ways ("127.1", octal parts).
      {"1.2.3.256", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"0127.0.0.300", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"127.1", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"1.2.3.4.", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"2130706433", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"1..2.3", 10, 10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {"127.0.0.1", 70000, 10040, "Socket Error # 10040\r\nMessage too long."},
  };
  for (const auto& c : cases) {
    GlobalSettings.Log.SyslogHost = c.host;
    try {
      SendSyslog(std::string(c.size, 'x'), 5, 16);
      ADD_FAILURE() << c.host << ": no failure";
    } catch (const ESocketError& failure) {
      EXPECT_EQ(failure.ErrorCode(), c.error);
      EXPECT_EQ(failure.ClassName(), "ESocketError");
      EXPECT_EQ(failure.Message(), c.message);
    }
  }
}

TEST_F(SyslogTest, FailedForwardingStillWritesTheLine) {
  for (const std::string host : {"no-such-host.invalid", "127.0.0.1"}) {
    GlobalSettings.Log.SyslogHost = host;
    GlobalSettings.Log.Level = 6;
    GlobalSettings.Log.ErrorCount = 4;
    const std::string text = host == "127.0.0.1" ? std::string(70000, 'y') : "unsent";
    LogEntry({50400, 0, text});
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0) << host;
    const std::string content = FileOrNothing(TodaysFile(base_));
    const std::string tail = "\"          \",50400,\"" + text + "\"\r\n";
    EXPECT_TRUE(content.size() >= tail.size() &&
                content.compare(content.size() - tail.size(), tail.size(), tail) == 0)
        << host << ": " << content.substr(0, 200);
  }
}

TEST_F(SyslogTest, ForwardsOneDatagramPerEntryToTheHost) {
  std::string why;
  if (!BindReceiver(why)) GTEST_SKIP() << why;
  struct Case {
    std::string host, ident;
    std::int32_t level, code;
    std::string text, safe;
    int pri;
  } cases[] = {
      {"LOCALHOST", "abc", 6, 50400, "say \"hi\"\r\nnext", "say 'hi'\r\nnext", 133},
      {"127.0.0.1", "LongIdentifier", 6, 50400, "plain", "plain", 133},
      {"localhost", "", 6, 30000, "[MSG=\"x\"]", "[MSG='x']", 131},
      {"LocalHost", "lvl", 9, 69990, "six", "six", 134},
      {"127.0.0.1", "lvl", 9, 99999, "nine", "nine", 137},
      {"127.0.0.1", "lvl", 0, 42, "zero", "zero", 128},
      {"127.0.0.1", "lvl", 0, -7, "negative", "negative", 128},
      // Leading zeros are decimal: 0127 is 127, not the octal 87.
      {"0127.0.0.01", "zeros", 6, 50400, "decimal", "decimal", 133},
      {"127.000.000.001", "zeros", 6, 50400, "decimal", "decimal", 133},
  };
  std::string expectedFile;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + " " + c.ident + " " + std::to_string(c.code));
    GlobalSettings.Log.SyslogHost = c.host;
    GlobalSettings.Log.Ident = c.ident;
    GlobalSettings.Log.Level = c.level;
    const std::string text = c.text + " " + RunToken();
    const std::string safe = c.safe + " " + RunToken();
    LogEntry({c.code, 0, text});
    const auto datagrams = Ours(receiver_.ReceiveFor(std::chrono::milliseconds(150)));
    ASSERT_EQ(datagrams.size(), 1u);
    const std::string pattern =
        RegexEscape("<" + std::to_string(c.pri) + ">") + HeaderDatePattern() +
        RegexEscape(": %" + c.ident + ": " + CodeText(c.code) + ": " + safe);
    EXPECT_TRUE(std::regex_match(datagrams[0], std::regex(pattern))) << datagrams[0];
    expectedFile += R"(\d\d\.\d\d\.\d\d,"\[\d\d\.\d\d\.\d\d\.\d\d\d\]",)" +
                    RegexEscape("\"" + (c.ident + "          ").substr(0, 10) + "\"," +
                                CodeText(c.code) + ",\"" + safe + "\"\r\n");
  }
  const std::string content = FileOrNothing(TodaysFile(base_));
  EXPECT_TRUE(std::regex_match(content, std::regex(expectedFile))) << content;
}

TEST_F(SyslogTest, NothingLeavesWithoutHostOrAboveTheLevel) {
  std::string why;
  if (!BindReceiver(why)) GTEST_SKIP() << why;
  struct Case {
    std::string host;
    std::int32_t level, code;
    bool written;
  } cases[] = {
      {"", 6, 50400, true},
      {"127.0.0.1", 4, 50400, false},
      {"LOCALHOST", -1, 0, false},
  };
  for (const auto& c : cases) {
    GlobalSettings.Log.SyslogHost = c.host;
    GlobalSettings.Log.Level = c.level;
    const std::string text = "quiet " + c.host + " " + RunToken();
    LogEntry({c.code, 0, text});
    EXPECT_TRUE(Ours(receiver_.ReceiveFor(std::chrono::milliseconds(150))).empty()) << c.host;
    EXPECT_EQ(FileOrNothing(TodaysFile(base_)).find(text) != std::string::npos, c.written)
        << c.host;
  }
  // SendSyslog itself does nothing without a host.
  GlobalSettings.Log.SyslogHost.clear();
  EXPECT_NO_THROW(SendSyslog("direct " + RunToken(), 5, 16));
  EXPECT_TRUE(Ours(receiver_.ReceiveFor(std::chrono::milliseconds(150))).empty());
}

TEST_F(SyslogTest, SendSyslogWritesPriWithoutLeadingZerosAndNoLineEnd) {
  std::string why;
  if (!BindReceiver(why)) GTEST_SKIP() << why;
  GlobalSettings.Log.SyslogHost = "127.0.0.1";
  GlobalSettings.Log.Ident = "direct";
  struct Case {
    std::int32_t severity, facility;
    std::string pri;
  } cases[] = {{0, 0, "<0>"}, {5, 16, "<133>"}, {7, 23, "<191>"}, {3, 1, "<11>"}};
  for (const auto& c : cases) {
    SendSyslog("text " + RunToken(), c.severity, c.facility);
    const auto datagrams = Ours(receiver_.ReceiveFor(std::chrono::milliseconds(150)));
    ASSERT_EQ(datagrams.size(), 1u) << c.pri;
    EXPECT_TRUE(
        std::regex_match(datagrams[0], std::regex(RegexEscape(c.pri) + HeaderDatePattern() +
                                                  RegexEscape(": %direct: text " + RunToken()))))
        << datagrams[0];
  }
}

TEST_F(SyslogTest, HeldWriteSectionStillForwardsTheEntry) {
  std::string why;
  if (!BindReceiver(why)) GTEST_SKIP() << why;
  GlobalSettings.Log.SyslogHost = "LOCALHOST";
  GlobalSettings.Log.Level = 5;
  GlobalSettings.Log.ErrorCount = 2;
  GlobalSettings.Log.Busy = true;
  LogEntry({50400, 0, "held " + RunToken()});
  GlobalSettings.Log.Busy = false;
  EXPECT_EQ(Ours(receiver_.ReceiveFor(std::chrono::milliseconds(150))).size(), 1u);
  EXPECT_FALSE(PathExists(TodaysFile(base_)));
  EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
}

}  // namespace
