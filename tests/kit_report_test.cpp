// Exception reports: the XML file next to the program, its name, the fallback journal line and
// the alarm tones.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <regex>
#include <string>
#include <vector>

#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"
#include "tests/support/terminal.h"

namespace {

namespace fs = std::filesystem;

// Removes a report that landed next to the test binary.
struct RemoveAtEnd {
  std::string path;
  ~RemoveAtEnd() {
    std::error_code ignored;
    if (!path.empty()) fs::remove(path, ignored);
  }
};

std::string Self() { return fs::read_symlink("/proc/self/exe").string(); }

const std::vector<std::string> kElements = {"DateTime",  "MachineUpTime", "SelfName", "Version",
                                            "Function",  "Trace",         "HostName", "ClassName",
                                            "e.Message", "Notes"};

// Parses a report and hands back the texts of the ten elements, checking the document's shape.
void ReadReport(const std::string& path, std::vector<std::string>& texts) {
  const std::string raw = ReadFileBytes(path);
  EXPECT_EQ(raw.find("<?xml"), std::string::npos) << raw;
  pugi::xml_document document;
  // Line ends stay as written, and texts of blanks only stay texts.
  const pugi::xml_parse_result parsed = document.load_buffer(
      raw.data(), raw.size(), (pugi::parse_default | pugi::parse_ws_pcdata) & ~pugi::parse_eol);
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << raw;
  const pugi::xml_node root = document.first_child();
  ASSERT_EQ(root.next_sibling(), pugi::xml_node()) << raw;
  ASSERT_EQ(std::string(root.name()), "xml");
  EXPECT_EQ(root.first_attribute(), pugi::xml_attribute());
  const pugi::xml_node report = root.first_child();
  ASSERT_EQ(std::string(report.name()), "Exception") << raw;
  EXPECT_EQ(report.next_sibling(), pugi::xml_node()) << raw;
  EXPECT_EQ(report.first_attribute(), pugi::xml_attribute());
  texts.clear();
  std::vector<std::string> names;
  for (const pugi::xml_node element : report.children()) {
    ASSERT_EQ(element.type(), pugi::node_element) << raw;
    EXPECT_EQ(element.first_attribute(), pugi::xml_attribute());
    names.push_back(element.name());
    const pugi::xml_node text = element.first_child();
    EXPECT_TRUE(!text || (text.type() == pugi::node_pcdata && !text.next_sibling()))
        << element.name();
    texts.push_back(text.value());
  }
  ASSERT_EQ(names, kElements) << raw;
}

// The up time text "<w>w<d>d<h>h<m>m<s>s" in seconds; -1 when it has another shape.
std::int64_t UpTimeSeconds(const std::string& text) {
  std::smatch m;
  if (!std::regex_match(text, m, std::regex(R"((\d+)w(\d+)d(\d+)h(\d+)m(\d+)s)"))) return -1;
  const std::int64_t unitSeconds[] = {7 * 86400, 86400, 3600, 60, 1};
  std::int64_t seconds = 0;
  for (int i = 0; i < 5; ++i) seconds += std::stoll(m[i + 1]) * unitSeconds[i];
  return seconds;
}

// Whether text is the date-time text of one of the whole seconds from `from` to `to`.
bool IsDateTimeTextBetween(const std::string& text, TDateTime from, TDateTime to) {
  for (auto s = static_cast<std::int64_t>(std::floor(from * 86400));
       s <= static_cast<std::int64_t>(std::ceil(to * 86400)); ++s)
    if (DateTimeToStr(static_cast<double>(s) / 86400) == text) return true;
  return false;
}

struct ReportCase {
  const char* what;
  std::string selfName, version, hostName;
  tExceptionRec record;
};

// Writes the report of a case and checks every element against what went in.
void ExpectRoundTrip(const ReportCase& c) {
  SCOPED_TRACE(c.what);
  ScopedGlobalSettings keep;
  GlobalSettings.SelfName = c.selfName;
  GlobalSettings.Version = c.version;
  GlobalSettings.HostName = c.hostName;
  const TDateTime from = Now();
  const std::int64_t upFrom = GetMachineUpTime().Ticks / 1000;
  RemoveAtEnd written{SaveExceptionRecAsXML(c.record)};
  const std::int64_t upTo = GetMachineUpTime().Ticks / 1000;
  const TDateTime to = Now();

  // The case's templates hold the placeholder.
  const std::string lead = GetAppPath() + c.record.FileName.substr(0, c.record.FileName.find("{"));
  ASSERT_EQ(written.path.substr(0, lead.size()), lead);
  const std::string timestamp = written.path.substr(lead.size(), 17);
  EXPECT_TRUE(std::regex_match(timestamp, std::regex(R"(\d{17})"))) << written.path;
  EXPECT_LE(FormatDateTime("yyyymmddhhnnsszzz", from), timestamp);
  EXPECT_GE(FormatDateTime("yyyymmddhhnnsszzz", to), timestamp);
  ASSERT_TRUE(PathExists(written.path)) << written.path;

  std::vector<std::string> texts;
  ASSERT_NO_FATAL_FAILURE(ReadReport(written.path, texts));
  EXPECT_LE(FormatDateTime("YYYY-MM-DD HH:MM:SS", from), texts[0]);
  EXPECT_GE(FormatDateTime("YYYY-MM-DD HH:MM:SS", to), texts[0]);
  const std::string sep = std::string("\\") + FormatSettings().TimeSeparator;
  EXPECT_TRUE(std::regex_match(
      texts[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d)" + sep + R"(\d\d)" + sep + R"(\d\d)")))
      << texts[0];
  const std::int64_t up = UpTimeSeconds(texts[1]);
  EXPECT_GE(up, upFrom) << texts[1];
  EXPECT_LE(up, upTo) << texts[1];
  const std::vector<std::string> expected = {
      c.selfName, c.version,          c.record.FunctionName, std::to_string(c.record.Trace),
      c.hostName, c.record.ClassName, c.record.Message,      c.record.Notes};
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()), expected);
}

tExceptionRec Record(std::string function, std::string className, std::string message,
                     std::int32_t trace, std::string notes, std::string fileName) {
  tExceptionRec record;
  record.FunctionName = std::move(function);
  record.ClassName = std::move(className);
  record.Message = std::move(message);
  record.Trace = trace;
  record.Notes = std::move(notes);
  record.FileName = std::move(fileName);
  return record;
}

}  // namespace

TEST(ExceptionReportTest, TheTenElementsCarryTheirTextsUnchanged) {
  const ReportCase cases[] = {
      {"markup and line ends", "Event<Log>", "1.0 \"beta\" & 'rc'", "host>one",
       Record("tarn32.SendPage", "ESocketError", "Socket Error # 10061\r\nConnection refused.", 420,
              "http://gw/cgi?password=a&pagerid=1&message=<b>\"x\"</b>",
              "kit-report-test-markup-{timestamp}.xml")},
      {"everything empty", "", "", "",
       Record("", "", "", 0, "", "kit-report-test-empty-{timestamp}")},
      {"blanks and extremes", " ", "\t", "h",
       Record("f", "  E  ", "\r\n", -2147483647 - 1, "  padded  \r\n\r\n",
              "kit-report-test-blanks-{timestamp}.xml")},
      {"entity look-alikes", "&amp;", "&#60;", "]]>",
       Record("a&b", "<![CDATA[x]]>", "&lt;", 2147483647, "<!-- no comment -->",
              "kit-report-test-entities-{timestamp}.xml")},
  };
  for (const ReportCase& c : cases) ExpectRoundTrip(c);
  // The date and time follow the regional time separator.
  ScopedFormatSettings dotted(DottedSettings());
  ExpectRoundTrip(cases[0]);
}

// Disabled in the suite itself: it runs in the child of ExceptionReportTest.BytesAbove127...,
// whose locale has UTF-8 as its character set.
TEST(ExceptionReportInUtf8, DISABLED_TextsRoundTrip) {
  ExpectRoundTrip(
      {"UTF-8 texts",
       "Ereignis\xC3\xBC"
       "berwachung",
       "\xE2\x82\xAC 1.0", "h\xC3\xB6st",
       Record("tarn32.Gr\xC3\xBC\xC3\x9F"
              "e",
              "E\xC3\x84rger", "Zugriff verweigert \xE2\x80\x93 \xF0\x9F\x98\x80", 460,
              "\xE6\x97\xA5\xE6\x9C\xAC\r\n\xC3\xA9", "kit-report-test-utf8-{timestamp}.xml")});
}

TEST(ExceptionReportTest, BytesAbove127RoundTripInAUtf8Locale) {
  ProcessRun run;
  run.Executable = Self();
  run.Arguments = {"--gtest_filter=ExceptionReportInUtf8.*", "--gtest_also_run_disabled_tests"};
  run.Environment = {{"LC_ALL", "C.UTF-8"}};
  const ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Output << result.Errors;
  EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
}

// Whether a strict parser takes the file as well-formed XML; its complaint otherwise.
::testing::AssertionResult StrictlyWellFormed(const std::string& path) {
  ProcessRun run;
  run.Executable = "/usr/bin/xmllint";
  run.Arguments = {"--noout", path};
  const ProcessResult result = RunProcess(run);
  if (result.ExitCode == 0 && result.Errors.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "xmllint: " << result.Errors << result.Output;
}

// Disabled in the suite itself: runs in the children of ExceptionReportTest.OnlyCharacters...,
// under the locale the parent chose.
TEST(ExceptionReportXmlCharacters, DISABLED_Filtered) {
  struct Case {
    const char* what;
    std::string text, kept;
  };
  const Case cases[] = {
      {"NUL inside a status line", std::string("HTTP/1.1 502 Bad\0Gateway", 24),
       "HTTP/1.1 502 BadGateway"},
      {"controls", std::string("\0\x01\x08\x0B\x0C\x0E\x1F|", 8), "|"},
      {"tab, line ends and DEL stay", "a\tb\r\nc\x7F", "a\tb\r\nc\x7F"},
      {"U+FFFE and U+FFFF", "x\xEF\xBF\xBEy\xEF\xBF\xBFz", "xyz"},
      {"the characters around them stay",
       "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xC2\x85\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
       "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xC2\x85\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      {"nothing left", std::string("\0\xEF\xBF\xBF", 4), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedGlobalSettings keep;
    GlobalSettings.SelfName = c.text;
    GlobalSettings.Version = c.text;
    GlobalSettings.HostName = c.text;
    RemoveAtEnd written{SaveExceptionRecAsXML(
        Record(c.text, c.text, c.text, 502, c.text, "kit-report-test-chars-{timestamp}.xml"))};
    ASSERT_TRUE(PathExists(written.path)) << written.path;
    EXPECT_TRUE(StrictlyWellFormed(written.path));
    std::vector<std::string> texts;
    ASSERT_NO_FATAL_FAILURE(ReadReport(written.path, texts));
    const std::vector<std::string> expected = {c.kept, c.kept, c.kept, "502",
                                               c.kept, c.kept, c.kept, c.kept};
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()), expected);
  }
}

TEST(ExceptionReportTest, OnlyCharactersXmlCanHoldReachTheReport) {
  if (!PathExists("/usr/bin/xmllint")) GTEST_SKIP() << "xmllint (libxml2-utils) is missing";
  // The plain C locale takes its texts as UTF-8 too.
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    ProcessRun run;
    run.Executable = Self();
    run.Arguments = {"--gtest_filter=ExceptionReportXmlCharacters.*",
                     "--gtest_also_run_disabled_tests"};
    run.Environment = {{"LC_ALL", locale}};
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Output << result.Errors;
    EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
  }
}

TEST(ExceptionReportTest, FileNamesFollowTheTemplate) {
  struct Case {
    std::string nameTemplate;
    std::string before, after;  // the name around the timestamp; no timestamp when after is "-"
  };
  const Case cases[] = {
      {"", "EXCEPTION-", ".XML"},
      {"kit-report-test-twice-{timestamp}-{timestamp}.xml", "kit-report-test-twice-",
       "-{timestamp}.xml"},
      {"{timestamp}.kit-report-test", "", ".kit-report-test"},
      {"kit-report-test-{TIMESTAMP}.xml", "kit-report-test-{TIMESTAMP}.xml", "-"},
      {"kit-report-test-{timestamp.xml", "kit-report-test-{timestamp.xml", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nameTemplate);
    tExceptionRec record = Record("f", "E", "m", 1, "n", c.nameTemplate);
    const std::string from = FormatDateTime("yyyymmddhhnnsszzz", Now());
    RemoveAtEnd written{SaveExceptionRecAsXML(record)};
    const std::string to = FormatDateTime("yyyymmddhhnnsszzz", Now());
    ASSERT_TRUE(PathExists(written.path)) << written.path;
    std::vector<std::string> texts;
    ASSERT_NO_FATAL_FAILURE(ReadReport(written.path, texts));
    EXPECT_EQ(texts[9], "n");
    const std::string directory = GetAppPath();
    if (c.after == "-") {
      EXPECT_EQ(written.path, directory + c.before);
      continue;
    }
    ASSERT_EQ(written.path.size(), directory.size() + c.before.size() + 17 + c.after.size())
        << written.path;
    EXPECT_EQ(written.path.substr(0, directory.size() + c.before.size()), directory + c.before);
    EXPECT_EQ(written.path.substr(written.path.size() - c.after.size()), c.after);
    const std::string stamp = written.path.substr(directory.size() + c.before.size(), 17);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{17})"))) << stamp;
    EXPECT_LE(from, stamp);
    EXPECT_GE(to, stamp);
  }
}

TEST(ExceptionReportTest, ATemplateWithoutPlaceholderIsReplacedEachTime) {
  RemoveAtEnd written{GetAppPath() + "kit-report-test-fixed.xml"};
  ASSERT_FALSE(PathExists(written.path));
  for (const char* notes : {"first report", "second"}) {
    EXPECT_EQ(SaveExceptionRecAsXML(Record("f", "E", "m", 7, notes, "kit-report-test-fixed.xml")),
              written.path);
    std::vector<std::string> texts;
    ASSERT_NO_FATAL_FAILURE(ReadReport(written.path, texts));
    EXPECT_EQ(texts[9], notes);
  }
}

TEST(ExceptionReportTest, AFailedSaveWritesTheFallbackLine) {
  struct Case {
    const char* nameTemplate;
    std::string journalBefore;
  };
  const Case cases[] = {
      {"kit-report-missing-subdir/x.xml", ""},
      {"kit-report-missing-subdir/{timestamp}.xml", "earlier line\r\n"},
      // A full path is still taken relative to the program's directory.
      {"/kit-report-missing-abs/x.xml", ""},
  };
  ScopedFormatSettings dotted(DottedSettings());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nameTemplate);
    TemporaryDirectory cwd;
    if (!c.journalBefore.empty()) WriteFileBytes(cwd.File("Exception.txt"), c.journalBefore);
    tExceptionRec record = Record("tarn32.SendPage", "ESocketError", "m", 3, "n", c.nameTemplate);
    record.Beep = true;
    std::string result;
    const TDateTime from = Now();
    {
      ScopedCurrentDirectory inside(cwd.Path());
      result = SaveExceptionRecAsXML(record);
    }
    const TDateTime to = Now();
    std::string expectedName = GetAppPath() + c.nameTemplate;
    const std::size_t placeholder = expectedName.find("{timestamp}");
    if (placeholder != std::string::npos)
      expectedName.replace(placeholder, 11, result.substr(placeholder, 17));
    EXPECT_EQ(result, expectedName);
    EXPECT_FALSE(PathExists(result));

    const std::string journal = ReadFileBytes(cwd.File("Exception.txt"));
    ASSERT_EQ(journal.substr(0, c.journalBefore.size()), c.journalBefore);
    const std::string line = journal.substr(c.journalBefore.size());
    const std::string head = ": tarn32.SaveExceptionRecAsXML LogRec.Trace=420 E.Message=";
    const std::string tail = " sFileName=" + expectedName + " \r\n";
    const std::size_t at = line.find(head);
    ASSERT_NE(at, std::string::npos) << line;
    EXPECT_TRUE(IsDateTimeTextBetween(line.substr(0, at), from, to)) << line;
    ASSERT_GE(line.size(), at + head.size() + tail.size()) << line;
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    const std::string message =
        line.substr(at + head.size(), line.size() - tail.size() - at - head.size());
    EXPECT_FALSE(message.empty()) << line;
    EXPECT_EQ(message.find("\r\n"), std::string::npos) << line;
  }
}

TEST(ExceptionReportFileNameTest, BuildsTheNameFromDirectoryTemplateAndTimestamp) {
  const std::string ts = "20240229235959987";
  struct Case {
    const char* directory;
    const char* nameTemplate;
    std::string expected;
  };
  const Case cases[] = {
      {"/opt/eventlog/", "", "/opt/eventlog/EXCEPTION-" + ts + ".XML"},
      {"/opt/eventlog/", "{timestamp}", "/opt/eventlog/" + ts},
      {"/d/", "r-{timestamp}-{timestamp}.xml", "/d/r-" + ts + "-{timestamp}.xml"},
      {"/d/", "r-{TIMESTAMP}.xml", "/d/r-{TIMESTAMP}.xml"},
      {"/d/", "r-{Timestamp}.xml", "/d/r-{Timestamp}.xml"},
      {"/d/", "fixed.xml", "/d/fixed.xml"},
      {"/d/", "/abs/{timestamp}.xml", "/d//abs/" + ts + ".xml"},
      {"/d/", "C:\\reports\\x.xml", "/d/C:\\reports\\x.xml"},
      {"", "", "EXCEPTION-" + ts + ".XML"},
      {"", "{timestamp}{timestamp}", ts + "{timestamp}"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExceptionReportFileName(c.directory, c.nameTemplate, ts), c.expected)
        << c.directory << " + " << c.nameTemplate;
  EXPECT_EQ(ExceptionReportFileName("/d/", "a{timestamp}b", "x"), "/d/axb");
}

// Disabled in the suite itself: runs in the children of ExceptionReportTest.TonesPlay...,
// whose controlling terminal the parent reads.
TEST(ExceptionReportOnTerminal, DISABLED_Report) {
  const char* which = std::getenv("KIT_REPORT_CASE");
  ASSERT_NE(which, nullptr) << "runs inside ExceptionReportTest.TonesPlayOnlyAfterASuccess";
  const std::string mode = which;
  tExceptionRec record = Record("f", "E", "m", 1, "n",
                                mode == "failure" ? "kit-report-missing-subdir/x.xml"
                                                  : "kit-report-test-tty-{timestamp}.xml");
  record.Beep = mode != "quiet";
  const auto start = std::chrono::steady_clock::now();
  RemoveAtEnd written{SaveExceptionRecAsXML(record)};
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(PathExists(written.path), mode != "failure") << written.path;
  if (mode == "success") {
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
  }
}

TEST(ExceptionReportTest, TonesPlayOnlyAfterASuccess) {
  const std::pair<const char*, int> cases[] = {{"success", 4}, {"quiet", 0}, {"failure", 0}};
  for (const auto& [mode, bells] : cases) {
    SCOPED_TRACE(mode);
    TemporaryDirectory cwd;
    const TerminalResult result =
        RunOnTerminal(Self(),
                      {"--gtest_filter=ExceptionReportOnTerminal.*",
                       "--gtest_also_run_disabled_tests", "--gtest_color=no"},
                      {{"KIT_REPORT_CASE", mode}}, cwd.Path());
    if (!result.Available) GTEST_SKIP() << "no pseudo-terminal on this machine";
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
    EXPECT_EQ(std::count(result.Output.begin(), result.Output.end(), '\a'), bells);
    EXPECT_EQ(PathExists(cwd.File("Exception.txt")), std::string(mode) == "failure");
  }
}
