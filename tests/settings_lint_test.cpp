// The settings check as a library: settings texts, environments and hosts against the findings
// they give, severity and text word for word (the start step's check: settings_lint_start_test).
#include "monitor/settings_lint.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "paging/sendpage.h"
#include "platform/system.h"

inline void PrintTo(const tFinding& finding, std::ostream* out) {
  *out << SeverityWord(finding.Severity) << ": " << finding.Text;
}

namespace {

using namespace std::string_literals;
constexpr tSeverity N = tSeverity::Note;
constexpr tSeverity W = tSeverity::Warning;
constexpr tSeverity E = tSeverity::Error;

constexpr char kSound[] =
    "<?xml version=\"1.0\"?>\n<EventLog>\n  <LogFile>System</LogFile>\n"
    "  <EventID>7036</EventID>\n  <Action>page</Action>\n"
    "  <LoggedAfter>10/9/2017 4:00:00 PM</LoggedAfter>\n  <Sleep>60</Sleep>\n</EventLog>\n";

std::string With(const std::string& from, const std::string& to) {
  std::string xml = kSound;
  xml.replace(xml.find(from), from.size(), to);
  return xml;
}

const std::string kSpelling =
    " tag names are matched exactly, in this letter case and without attributes, ";
const std::string kNotOneNumber =
    " is not one number (decimal, or hexadecimal as $1B7C or 0x1B7C): EventLog takes 0 and ";
const std::string kRange =
    ": EventLog compares it with the low 16 bits of each record's event ID (0 to 65535), so it "
    "never matches; the low 16 bits of ";
const std::string kOneCycle =
    "Sleep 0: EventLog runs one cycle and ends (a positive Sleep repeats the cycle)";

TEST(SettingsLint, FindsEveryTrapOfTheSettingsFile) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<tFinding> findings;
  } cases[] = {
      {"sound", kSound, {}},
      {"the sample, without LoggedAfter",
       With("  <LoggedAfter>10/9/2017 4:00:00 PM</LoggedAfter>\n", ""),
       {{N, "no <LoggedAfter>: the newest match is reported at the first cycle"}}},
      {"empty",
       "",
       {{N, "no <LogFile>: EventLog watches Application"},
        {N, "no <EventID>: any event matches"},
        {N, "no <Action>: EventLog reports without paging"},
        {N, "no <LoggedAfter>: the newest match is reported at the first cycle"},
        {W, kOneCycle}}},
      {"empty values",
       With("<LogFile>System<", "<LogFile><"),
       {{N, "<LogFile> is empty: EventLog watches Application"}}},
      {"an event ID above 65535",
       With(">7036<", ">70000<"),
       {{E, "EventID 70000 is above 65535" + kRange + "\"70000\" are 4464"}}},
      {"a negative event ID",
       With(">7036<", ">-1<"),
       {{E, "EventID -1 is below 0" + kRange + "\"-1\" are 65535"}}},
      {"two event IDs",
       With(">7036<", ">7036, 7040<"),
       {{E, "<EventID> \"7036, 7040\"" + kNotOneNumber + "any event matches"}}},
      {"a range of event IDs",
       With(">7036<", ">7036-7040<"),
       {{E, "<EventID> \"7036-7040\"" + kNotOneNumber + "any event matches"}}},
      {"blanks around the event ID",
       With(">7036<", "> 9999 <"),
       {{E,
         "<EventID> holds blanks or line ends, \" 9999 \": the number becomes 0 and any event "
         "matches; write <EventID>9999</EventID>"}}},
      {"a pretty-printed event ID",
       With(">7036<", ">\n    7036\n  <"),
       {{E,
         "<EventID> holds blanks or line ends, \"\\n    7036\\n  \": the number becomes 0 and "
         "any event matches; write <EventID>7036</EventID>"}}},
      {"a blank before the event ID",
       With(">7036<", "> 7036<"),
       {{W,
         "<EventID> \" 7036\" holds blanks or control characters around the number: EventLog "
         "reads 7036 all the same; write <EventID>7036</EventID>"}}},
      {"a zero byte after the event ID, which ends the number",
       With(">7036<", ">7036\0<"s),
       {{W,
         "the file holds a zero byte (line 4): EventLog reads it as part of the text around "
         "it"},
        {W,
         "<EventID> \"7036\\x00\" holds blanks or control characters around the number: "
         "EventLog reads 7036 all the same; write <EventID>7036</EventID>"}}},
      {"event ID 0", With(">7036<", ">0<"), {{N, "EventID 0: any event matches"}}},
      {"hexadecimal event IDs", With(">7036<", ">$1B7C<"), {}},
      {"0x event IDs", With(">7036<", ">0x1B7C<"), {}},
      {"an event ID past 32 bits",
       With(">7036<", ">99999999999<"),
       {{E,
         "<EventID> \"99999999999\" does not fit 32 bits: EventLog takes 0 and any event "
         "matches"}}},
      {"a tag in other letter case",
       With("<EventID>7036</EventID>", "<eventid>7036</eventid>"),
       {{E, "<eventid> (line 4), </eventid> (line 4) are not <EventID> or </EventID>:" + kSpelling +
                "so EventLog does not find <EventID>: any event matches"},
        {N, "no <EventID>: any event matches"}}},
      {"a tag in other letter case beside the real one",
       With("</EventLog>", "<EVENTID>1</EVENTID>\n</EventLog>"),
       {{W, "<EVENTID> (line 8), </EVENTID> (line 8) are not <EventID> or </EventID>:" + kSpelling +
                "so EventLog passes them by"}}},
      {"many other spellings",
       With("</EventLog>", "<sleep/><sleep/><sleep/><sleep/><sleep/>\n</EventLog>"),
       {{W,
         "<sleep/> (line 8), <sleep/> (line 8), <sleep/> (line 8) and 2 more are not <Sleep> "
         "or </Sleep>:" +
             kSpelling + "so EventLog passes them by"}}},
      {"a tag EventLog does not read",
       With("</EventLog>", "  <Source>Disk</Source>\n</EventLog>"),
       {{E,
         "<Source> (line 8) is no tag EventLog reads (it reads <LogFile>, <EventID>, <Action>, "
         "<LoggedAfter> and <Sleep>): there is no source setting: every source matches; "
         "remove it"}}},
      {"another unknown tag, given twice",
       With("</EventLog>", "  <Pager>1</Pager><Pager>2</Pager>\n</EventLog>"),
       {{E,
         "<Pager> (line 8) is no tag EventLog reads (it reads <LogFile>, <EventID>, <Action>, "
         "<LoggedAfter> and <Sleep>): EventLog passes it by; remove it"}}},
      {"twelve tags EventLog does not read",
       With("</EventLog>",
            "<T1/><T2/><T3/><T4/><T5/><T6/><T7/><T8/><T9/><T10/><T11/><T12/>\n"
            "</EventLog>"),
       [] {
         std::vector<tFinding> findings;
         for (int i = 1; i <= 10; ++i)
           findings.push_back(
               {E, "<T" + std::to_string(i) +
                       "/> (line 8) is no tag EventLog reads (it reads <LogFile>, <EventID>, "
                       "<Action>, <LoggedAfter> and <Sleep>): EventLog passes it by; remove it"});
         findings.push_back({E, "and 2 more tags that EventLog does not read"});
         return findings;
       }()},
      {"another root element",
       "<Settings><LogFile>System</LogFile><EventID>7036</EventID><Action>page</Action>"
       "<LoggedAfter>10/9/2017</LoggedAfter><Sleep>60</Sleep></Settings>",
       {}},
      {"unknown tags inside comments",
       With("</EventLog>", "<!-- <Source>x</Source> <eventid>1</eventid> -->\n</EventLog>"),
       {}},
      {"an opening tag without its end",
       With("<Sleep>60</Sleep>", "<Sleep>60"),
       {{E,
         "<Sleep> has no </Sleep> in the file: EventLog does not find it: EventLog runs one "
         "cycle and ends"},
        {W, kOneCycle}}},
      {"a file saved as UTF-16",
       [] {
         std::string wide = "\xFF\xFE";
         for (char c : std::string(kSound)) wide += std::string(1, c) + '\0';
         return wide;
       }(),
       {{E,
         "the file holds zero bytes, as text saved as UTF-16 (\"Unicode\") does: EventLog "
         "reads it as 8-bit text and finds none of its tags; save it as ANSI or UTF-8"},
        {N, "no <LogFile>: EventLog watches Application"},
        {N, "no <EventID>: any event matches"},
        {N, "no <Action>: EventLog reports without paging"},
        {N, "no <LoggedAfter>: the newest match is reported at the first cycle"},
        {W, kOneCycle}}},
      {"a zero byte in the log name",
       With(">System<", ">Sys\0tem<"s),
       {{W,
         "the file holds a zero byte (line 3): EventLog reads it as part of the text around "
         "it"},
        {E,
         "<LogFile> holds blanks, line ends or control characters, \"Sys\\x00tem\": EventLog "
         "looks for a log of exactly that name; write <LogFile>System</LogFile>"}}},
      {"a blank after the log name",
       With(">System<", ">System <"),
       {{E,
         "<LogFile> holds blanks, line ends or control characters, \"System \": EventLog "
         "looks for a log of exactly that name; write <LogFile>System</LogFile>"}}},
      {"a log name with a blank inside", With(">System<", ">Directory Service<"), {}},
      {"the first tag inside a comment",
       With("<EventLog>\n", "<EventLog>\n<!-- <Sleep>0</Sleep> -->\n"),
       {{W,
         "the first <Sleep> (line 3) is inside an XML comment: EventLog still reads it, "
         "\"0\", not the one on line 8"},
        {W, kOneCycle}}},
      {"a tag given twice",
       With("</EventLog>", "<Action>none</Action>\n</EventLog>"),
       {{W,
         "<Action> appears again on line 8: EventLog reads only the first, on line 5, "
         "\"page\""}}},
      {"another action",
       With(">page<", ">mail<"),
       {{W,
         "<Action> \"mail\" does not page: only page (in any letter case) pages, any other "
         "action only reports"}}},
      {"the action in capitals", With(">page<", ">PAGE<"), {}},
      {"a blank after the action",
       With(">page<", ">page <"),
       {{E,
         "<Action> holds blanks or line ends, \"page \": the action does not page; write "
         "<Action>page</Action>"}}},
      {"a LoggedAfter in the future",
       With("10/9/2017 4:00:00 PM", "1/1/2099"),
       {{W,
         "LoggedAfter 1/1/2099 lies in the future: nothing generated before then is "
         "reported"}}},
      {"a LoggedAfter that is no date-time",
       With("10/9/2017 4:00:00 PM", "2017-10-09"),
       {{E,
         "EventLog would stop on its error line: Error: '2017-10-09' is not a valid date and "
         "time (EConvertError) Trace=0; under the current regional settings a date-time reads "
         "like {now}"}}},
      {"line ends around the LoggedAfter",
       With("10/9/2017 4:00:00 PM", "\r\n10/9/2017\r\n"),
       {{E,
         "<LoggedAfter> holds blanks or line ends, \"\\r\\n10/9/2017\\r\\n\", which make it no "
         "date-time; write <LoggedAfter>10/9/2017</LoggedAfter>"},
        {E,
         "EventLog would stop on its error line: Error: '\\r\\n10/9/2017\\r\\n' is not a valid "
         "date and time (EConvertError) Trace=0; under the current regional settings a "
         "date-time reads like {now}"}}},
      {"a blank after the sleep",
       With(">60<", ">60 <"),
       {{E,
         "<Sleep> holds blanks or line ends, \"60 \": the number becomes 0 and EventLog runs "
         "one cycle and ends; write <Sleep>60</Sleep>"}}},
      {"a sleep that is no number",
       With(">60<", ">one minute<"),
       {{E, "<Sleep> \"one minute\"" + kNotOneNumber + "EventLog runs one cycle and ends"}}},
      {"no sleep", With(">60<", ">0<"), {{W, kOneCycle}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tSettingsLint lint = LintSettingsContent(c.content);
    // The example of a date-time is the time of the check.
    for (tFinding& finding : lint.Findings)
      finding.Text = std::regex_replace(
          finding.Text, std::regex(R"(reads like \d+/\d+/\d{4} \d+:\d\d:\d\d [ap]m$)"),
          "reads like {now}");
    EXPECT_EQ(lint.Findings, c.findings);
  }
}

// With Alertmanagers listed, another action is the way to post alerts without paging.
TEST(SettingsLint, AnotherActionWithAlertmanagersIsANote) {
  std::string error;
  ASSERT_TRUE(platform::SetEnvironmentValue("ALERTMANAGER_URL", "http://am:9093", error)) << error;
  const std::vector<tFinding> findings = LintSettingsContent(With(">page<", ">alert<")).Findings;
  ASSERT_TRUE(platform::SetEnvironmentValue("ALERTMANAGER_URL", "", error)) << error;
  EXPECT_EQ(
      findings,
      (std::vector<tFinding>{{N,
                              "<Action> \"alert\" does not page: each report goes only to the "
                              "Alertmanagers of ALERTMANAGER_URL; write <Action>page</Action> to "
                              "page as well"}}));
}

TEST(SettingsLint, PrintsEachTagWithTheValueEventLogUses) {
  EXPECT_EQ(
      LintSettingsContent(With("7036<", "70000<").replace(0, 0, "<LoggedAfter>x</LoggedAfter>"))
          .TagLines,
      (std::vector<std::string>{"  <LogFile>     \"System\" -> \"System\"",
                                "  <EventID>     \"70000\" -> 70000 (never matches)",
                                "  <Action>      \"page\" -> \"page\" (pages)",
                                "  <LoggedAfter> \"x\" -> not a date-time: EventLog stops",
                                "  <Sleep>       \"60\" -> 60 (seconds between cycles)"}));
  EXPECT_EQ(LintSettingsContent("").TagLines,
            (std::vector<std::string>{
                "  <LogFile>     not found -> \"Application\" (the default)",
                "  <EventID>     not found -> 0 (any event)",
                "  <Action>      not found -> \"\" (does not page)",
                "  <LoggedAfter> not found -> none (the newest match is reported at once)",
                "  <Sleep>       not found -> 0 (one cycle)"}));
}

TEST(SettingsLint, ChecksTheEnvironmentValues) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::vector<tFinding> findings;
  } cases[] = {
      {{}, {}},
      {{{"EVENTLOG_LOG_LEVEL", "5"}, {"EVENTLOG_LOG_KEEPDAYS", "30"}}, {}},
      {{{"EVENTLOG_LOG_LEVEL", "12"}},
       {{W, "EVENTLOG_LOG_LEVEL=12 lies outside the levels 0 to 9"}}},
      {{{"EVENTLOG_LOG_LEVEL", " 5"}},
       {{E,
         "EVENTLOG_LOG_LEVEL=\" 5\" is not a whole decimal number without blanks: EventLog "
         "cannot use it; write for example EVENTLOG_LOG_LEVEL=5"}}},
      {{{"EVENTLOG_LOG_KEEPDAYS", "-3"}},
       {{W, "EVENTLOG_LOG_KEEPDAYS=-3 lies outside 0 (kept for ever) and above"}}},
      {{{"EVENTLOG_LOG_KEEPDAYS", "99999999999"}},
       {{E,
         "EVENTLOG_LOG_KEEPDAYS=\"99999999999\" is not a whole decimal number without blanks: "
         "EventLog cannot use it; write for example EVENTLOG_LOG_KEEPDAYS=30"}}},
      {{{"EVENTLOG_SYSLOG_HOST", "loghost"}, {"PAGING_GATEWAY_HOST", "pager:8080"}}, {}},
      {{{"EVENTLOG_SYSLOG_HOST", "udp://loghost"}},
       {{E,
         "EVENTLOG_SYSLOG_HOST=\"udp://loghost\" holds a scheme (udp://), which EventLog adds "
         "itself: it can never be reached; write host or host:port, as in "
         "EVENTLOG_SYSLOG_HOST=pager.example.com:8080"}}},
      {{{"PAGING_GATEWAY_HOST", "[::1]:8080"}, {"PAGING_PAGER_ID", "-42"}}, {}},
      {{{"PAGING_PAGER_ID", "0"}, {"PAGING_PASSWORD", "a b&c#d"}}, {}},
      {{{"EVENTLOG_SYSLOG_HOST", "[::1]"}},
       {{E,
         "EVENTLOG_SYSLOG_HOST=\"[::1]\" is an IPv6 address, and the receiver is reached over "
         "IPv4 only: write an IPv4 address or a name with an IPv4 address"}}},
      {{{"PAGING_GATEWAY_HOST", "[zz::1]"}},
       {{E,
         "PAGING_GATEWAY_HOST=\"[zz::1]\" holds no IPv6 address between '[' and ']' (an IPv6 "
         "address is written as [2001:db8::1] or [2001:db8::1]:8080): it can never be reached; "
         "write host or host:port, as in PAGING_GATEWAY_HOST=pager.example.com:8080"}}},
      {{{"PAGING_GATEWAY_HOST", ""}, {"PAGING_PAGER_ID", ""}, {"PAGING_PASSWORD", ""}},
       {{W, "PAGING_GATEWAY_HOST is set but empty: EventLog uses the built-in gateway " +
                PagingGatewayHost() + "; give it a value or remove the line"},
        {W,
         "PAGING_PAGER_ID is set but empty: EventLog uses the built-in pager 730418; give it "
         "a value or remove the line"},
        {W,
         "PAGING_PASSWORD is set but empty: EventLog uses the built-in password; give it a "
         "value or remove the line"}}},
  };
  // A PAGING_PAGER_ID that names no pager: the error, with the part that names the problem.
  const std::string kFix =
      ": every page fails with an exception report and none is sent; write the pager's number, "
      "as in PAGING_PAGER_ID=730418, or remove it to page the built-in pager";
  const std::pair<std::string, std::string> badPagers[] = {
      {"73O418", "\"73O418\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {" 730418", "\" 730418\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"+5", "\"+5\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"-", "\"-\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"7.5", "\"7.5\" is not a whole decimal number (digits, a \"-\" at most, no blanks)"},
      {"0730418", "\"0730418\" has a leading zero, which the pager number would drop"},
      {"-0", "\"-0\" is no pager number"},
      {"2147483648", "\"2147483648\" lies outside -2147483648 to 2147483647"},
      {"-2147483649", "\"-2147483649\" lies outside -2147483648 to 2147483647"},
      {"99999999999999999999", "\"99999999999999999999\" lies outside -2147483648 to 2147483647"},
  };
  for (const auto& [value, problem] : badPagers) {
    const tEnvironmentLint lint =
        LintEnvironment([&](const std::string& name) -> std::optional<std::string> {
          if (name == "PAGING_PAGER_ID") return value;
          return std::nullopt;
        });
    EXPECT_EQ(lint.Findings, (std::vector<tFinding>{{E, "PAGING_PAGER_ID=" + problem + kFix}}))
        << value;
  }
  EXPECT_EQ(PagerIdProblem("-2147483648"), "");
  EXPECT_EQ(PagerIdProblem("2147483647"), "");
  for (const auto& c : cases) {
    const tEnvironmentLint lint =
        LintEnvironment([&](const std::string& name) -> std::optional<std::string> {
          const auto found = c.environment.find(name);
          if (found == c.environment.end()) return std::nullopt;
          return found->second;
        });
    EXPECT_EQ(lint.Findings, c.findings);
    EXPECT_EQ(lint.Lines.size(), c.environment.size());
  }
}

// The password never shows whole: not in the list of the environment, not in a finding.
TEST(SettingsLint, ShowsThePasswordMasked) {
  const std::pair<std::string, std::string> cases[] = {
      {"KRVOT", "\"K***T\""},
      {"correct horse", "\"c***e\""},
      {"abcd", "\"***\""},
      {"", "\"***\""},
      {"\x01secret\n", "\"\\x01***\\n\""},
      {"\"quoted\"", "\"\\\"***\\\"\""},
  };
  for (const auto& [secret, shown] : cases) {
    EXPECT_EQ(MaskedSecret(secret), shown) << secret;
    const tEnvironmentLint lint =
        LintEnvironment([&](const std::string& name) -> std::optional<std::string> {
          if (name == "PAGING_PASSWORD") return secret;
          return std::nullopt;
        });
    EXPECT_EQ(lint.Lines,
              std::vector<std::string>{"  PAGING_PASSWORD=" + shown + " (the gateway password)"});
  }
}

TEST(SettingsLint, TellsHostsThatCanNeverWork) {
  const std::string kIPv6Syntax =
      " (an IPv6 address is written as [2001:db8::1] or [2001:db8::1]:8080)";
  const std::pair<std::string, std::string> cases[] = {
      {"pager", ""},
      {"10.0.0.1:8080", ""},
      {"pager.example.com:65535", ""},
      {"", "is empty"},
      {"http://pager", "holds a scheme (http://), which EventLog adds itself"},
      {"pager ", "holds blanks or control characters"},
      {"pager/cgi-bin", "holds a path, which EventLog adds itself"},
      {"user@pager", "holds '@', which no host name has"},
      {":8080", "names no host before the ':'"},
      {"pager:", "names no port after the ':'"},
      {"pager:http", "has the port \"http\", which is no number"},
      {"pager:0", "has the port 0, outside 1 to 65535"},
      {"pager:99999", "has the port 99999, outside 1 to 65535"},
      {"pager:0000080", "has the port 0000080, outside 1 to 65535"},
      {"::1",
       "holds more than one ':' (an IPv6 address is written in brackets, as in "
       "[2001:db8::1]:8080)"},
      {"[::1]", ""},
      {"[::1]:8080", ""},
      {"[2001:db8::1]:80", ""},
      {"[::ffff:192.0.2.1]", ""},
      {"[::1", "opens '[' and never closes it" + kIPv6Syntax},
      {"[::1]x", "has text after ']' that is no \":port\"" + kIPv6Syntax},
      {"[zz::1]", "holds no IPv6 address between '[' and ']'" + kIPv6Syntax},
      {"[fe80::1%eth0]", "holds no IPv6 address between '[' and ']'" + kIPv6Syntax},
      {"[1:2:3:4:5:6:7:8:9]", "holds no IPv6 address between '[' and ']'" + kIPv6Syntax},
      {"[::1]:", "names no port after the ':'" + kIPv6Syntax},
      {"[::1]:0", "has the port 0, outside 1 to 65535"},
      {"pager[1]", "holds '[', which no host name has"},
  };
  for (const auto& [host, problem] : cases) EXPECT_EQ(HostProblem(host), problem) << host;
}

}  // namespace
