// The Windows program on the Windows services: EventLog.exe run as the operator runs it, a page
// through Winsock and an exception report through the system's XML document object. The event
// log service here has no records, so every cycle finds nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "kit/records.h"
#include "paging/sendpage.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/file_version.h"
#include "tests/support/kit_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/nonwaiting_pipes.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"

namespace {

constexpr char kVersion[] = "Version: 201710091624\r\n";
constexpr char kQuestions[] = "Logfile (Application): Event ID (0): Source: ";

class WindowsProgram : public ::testing::Test {
 protected:
  void Settings(const std::string& xml) { WriteFileBytes(directory_.File("EventLog.XML"), xml); }

  ProcessResult Run(const std::string& input = "") {
    ProcessRun run;
    run.Executable = EVENTLOG_EXE;
    run.WorkingDirectory = directory_.Path();
    run.Input = input;
    run.Timeout = std::chrono::seconds(60);
    return RunProcess(run);
  }

  TemporaryDirectory directory_;
};

// Pipes in PIPE_NOWAIT mode: the answer is not there yet when the read starts, and the reader
// is slower than the writer; both are waited for, and nothing is lost.
TEST(WindowsConsole, NonWaitingPipesAreWaitedForNeverFailed) {
  using namespace std::chrono_literals;
  std::string report;
  for (int i = 0; i < 60000; ++i) report += static_cast<char>(i % 78 == 77 ? '\n' : 'a' + i % 26);
  NonWaitingStandardPipes pipes("System\r\n", 300ms, 700, 2ms);
  ASSERT_TRUE(pipes.Ready()) << pipes.Why();
  int errorCode = 0;
  char buffer[100];
  const long answered = platform::ReadStandardInput(buffer, sizeof buffer, errorCode);
  const std::string answer(buffer, answered > 0 ? static_cast<std::size_t>(answered) : 0);
  const long ended = platform::ReadStandardInput(buffer, sizeof buffer, errorCode);
  const bool written = platform::WriteStandardOutput(report.data(), report.size(), errorCode);
  const std::string output = pipes.Output();
  EXPECT_EQ(answer, "System\r\n") << "read " << answered << ", error " << errorCode;
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(written) << "error " << errorCode;
  EXPECT_TRUE(output == report) << output.size() << " of " << report.size() << " bytes";
}

TEST_F(WindowsProgram, ConsoleModeAsksThreeQuestionsAndFindsNothing) {
  ProcessResult result = Run("System\r\n105\r\nService Control Manager\r\n");
  EXPECT_EQ(result.Output, std::string(kVersion) + kQuestions + "\r\nNo events found.\r\n");
  EXPECT_EQ(result.ExitCode, 0) << result.Errors;
}

TEST_F(WindowsProgram, FileModeRunsOneCycleOrSleeps) {
  struct Case {
    std::string settings;
    std::string expected;
  } cases[] = {
      {"<LogFile>System</LogFile><EventID>105</EventID>", "\r\nNo events found.\r\n"},
      {"<LogFile>Application</LogFile><Sleep>0</Sleep>", "\r\nNo events found.\r\n"},
      {"<LogFile>NoSuchLog</LogFile><Action>page</Action>", "\r\nNo events found.\r\n"},
  };
  for (const Case& c : cases) {
    Settings(c.settings);
    ProcessResult result = Run("never read\r\n");
    EXPECT_EQ(result.Output, kVersion + c.expected) << c.settings;
    EXPECT_EQ(result.ExitCode, 0) << c.settings;
  }
}

TEST_F(WindowsProgram, APositiveSleepSaysSoAndCyclesAgain) {
  Settings("<LogFile>System</LogFile><Sleep>1</Sleep>");
  ProcessRun run;
  run.Executable = EVENTLOG_EXE;
  run.WorkingDirectory = directory_.Path();
  run.StopWhenOutputHolds = "Sleeping for 1 seconds.\r\n";
  run.StopAfterOccurrences = 2;
  run.Timeout = std::chrono::seconds(60);
  ProcessResult result = RunProcess(run);
  EXPECT_TRUE(result.Stopped);
  const std::string cycle = "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n";
  const std::string expected = kVersion + cycle + cycle;
  EXPECT_EQ(result.Output.substr(0, expected.size()), expected);
}

// The date format follows the regional settings the system reports for the language the suite
// runs in: a child keeps its parent's locale, so the suite runs once per language.
TEST_F(WindowsProgram, LoggedAfterIsReadInTheLanguagesDateFormat) {
  const char* languageVariable = std::getenv("LANG");
  const std::string language = languageVariable ? languageVariable : "";
  struct Case {
    std::string language;
    std::string loggedAfter;
    std::string expected;
  } cases[] = {
      {"en_US.UTF-8", "10/9/2017 4:24:00 PM", "\r\nNo events found.\r\n"},
      {"en_US.UTF-8", "09.10.2017 16:24:00",
       "Error: '09.10.2017 16:24:00' is not a valid date and time (EConvertError) Trace=0\r\n"},
      {"de_DE.UTF-8", "09.10.2017 16:24:00", "\r\nNo events found.\r\n"},
      {"de_DE.UTF-8", "10/9/2017",
       "Error: '10/9/2017' is not a valid date and time (EConvertError) Trace=0\r\n"},
  };
  int checked = 0;
  for (const Case& c : cases) {
    if (c.language != language) continue;
    ++checked;
    Settings("<LogFile>System</LogFile><LoggedAfter>" + c.loggedAfter + "</LoggedAfter>");
    ProcessResult result = Run();
    EXPECT_EQ(result.Output, kVersion + c.expected) << c.loggedAfter;
    EXPECT_EQ(result.ExitCode, c.expected[0] == 'E' ? 1 : 0) << c.loggedAfter;
  }
  if (checked == 0) GTEST_SKIP() << "no cases for LANG=" << language;
}

TEST(WindowsPage, SendPageReachesALoopbackGatewayWithTheExactRequest) {
  ServerScript accepts;
  accepts.Steps.push_back({ProtocolBytes("answers/accepted.txt"), {}});
  LoopbackServer gateway(accepts);
  ScopedEnvironment host("PAGING_GATEWAY_HOST", gateway.HostAndPort().c_str());
  TemporaryDirectory directory;
  ScopedCurrentDirectory inDirectory(directory.Path());

  EXPECT_TRUE(SendPage({"Disk full: a=b & c\r\n", "KRVOT", 730418, 0}));
  ASSERT_EQ(gateway.Requests().size(), 1u);
  EXPECT_EQ(gateway.Requests()[0],
            PageRequestBytes("/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message="
                             "Disk%20full:%20a%3Db%20%26%20c%0D%0A",
                             gateway.HostAndPort()));
  std::set<std::string> records;
  for (const auto& entry : std::filesystem::directory_iterator(directory.Path()))
    records.insert(entry.path().filename().string());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::regex_match(*records.begin(), std::regex(R"(SendPage_\d{17}\.xml)")));
}

TEST(WindowsReport, IsSavedThroughTheXmlDocumentObjectAndReadsBack) {
  ScopedGlobalSettings keep;
  GlobalSettings.ExceptionFileName = "windows-report-{timestamp}.XML";
  tExceptionRec record;
  record.FunctionName = "tarn32.SendPage";
  record.ClassName = "ESocketError";
  record.Message = "Socket Error # 10061\r\nConnection refused.";
  record.Trace = 310;
  record.Notes = "http://localhost/cgi-bin/xmhscgi?password=KRVOT&pagerid=1&message=<a>";
  record.FileName = GlobalSettings.ExceptionFileName;
  const std::string fileName = SaveExceptionRecAsXML(record);
  ASSERT_TRUE(PathExists(fileName)) << fileName;
  const std::string xml = ReadFileBytes(fileName);
  std::filesystem::remove(fileName);

  const std::regex shape(
      "(?:<\\?xml[^>]*\\?>\\s*)?<xml><Exception><DateTime>[^<]+</DateTime>"
      "<MachineUpTime>\\d+w\\d+d\\d+h\\d+m\\d+s</MachineUpTime><SelfName/?>(?:</SelfName>)?"
      "<Version/?>(?:</Version>)?<Function>tarn32\\.SendPage</Function><Trace>310</Trace>"
      "<HostName/?>(?:</HostName>)?<ClassName>ESocketError</ClassName>"
      "<e\\.Message>Socket Error # 10061(?:\\r|&#13;)?\\nConnection refused\\.</e\\.Message>"
      "<Notes>http://localhost/cgi-bin/xmhscgi\\?password=KRVOT&amp;pagerid=1&amp;message="
      "&lt;a&gt;</Notes></Exception></xml>\\s*");
  EXPECT_TRUE(std::regex_match(xml, shape)) << xml;
}

// The settings check on the Windows services: a log that neither the registry nor the event
// channels know is an error, as the event log service would open Application in its place.
TEST(WindowsCheck, NamesTheRegistryKeyOfAMissingLogAndPrintsItsHelp) {
  TemporaryDirectory directory;
  WriteFileBytes(directory.File("EventLog.XML"), "<LogFile>NoSuchLog</LogFile><Sleep>60</Sleep>");
  ProcessRun run;
  run.Executable = EVENTLOG_CHECK_EXE;
  run.WorkingDirectory = directory.Path();
  run.Arguments = {"--program-dir", directory.Path()};
  run.Timeout = std::chrono::seconds(60);
  ProcessResult result = RunProcess(run);
  EXPECT_NE(result.Output.find("  no registry key "
                               "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\NoSuchLog and "
                               "no event channel of that name\r\n"),
            std::string::npos)
      << result.Output;
  EXPECT_NE(result.Output.find("error: the log \"NoSuchLog\" is neither a log of the event log "
                               "service nor an event channel: the service opens Application in "
                               "its place, so EventLog reports Application's events; set LogFile "
                               "to a name that eventlog-check --list-logs shows\r\n"),
            std::string::npos)
      << result.Output;
  EXPECT_EQ(result.ExitCode, 2) << result.Output;

  for (const char* help : {"--help", "/?"}) {
    run.Arguments = {help};
    result = RunProcess(run);
    EXPECT_EQ(result.Output.rfind("usage: eventlog-check [options] [FOLDER]\r\n", 0), 0u)
        << result.Output;
    EXPECT_EQ(result.ExitCode, 0);
  }
}

// A folder with blanks and letters beyond ASCII, given to eventlog-check as FOLDER and as
// --program-dir: "€" is a letter of the ANSI code page that Latin-1 does not have, where
// std::filesystem's own reading of a narrow name would look for another folder.
TEST(WindowsCheck, TakesAFolderWithBlanksAndLettersBeyondAscii) {
  TemporaryDirectory directory;
  const std::string folder =
      directory.Path() + "\\" + platform::WideToAnsi(u"Program Files\\Event Log \u00dc \u20ac");
  if (platform::WideToAnsi(u"\u00dc\u20ac") != "\xdc\x80")
    GTEST_SKIP() << "the ANSI code page is not 1252 (Wine takes it from LANG; the suite runs "
                    "with en_US.UTF-8)";
  std::filesystem::create_directories(platform::PathOf(folder));
  struct Case {
    bool settings;       // an EventLog.XML in the folder
    std::string output;  // a line of the output
  };
  const Case cases[] = {
      {true, "The settings in " + folder + "/EventLog.XML:\r\n"},
      {false, "no EventLog.XML in " + folder + ": EventLog will ask its three questions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    if (c.settings)
      WriteFileBytes(folder + "\\EventLog.XML", "<LogFile>System</LogFile><Sleep>60</Sleep>");
    else
      std::filesystem::remove(platform::PathOf(folder + "\\EventLog.XML"));
    ProcessRun run;
    run.Executable = EVENTLOG_CHECK_EXE;
    run.WorkingDirectory = directory.Path();
    run.Arguments = {folder, "--program-dir", folder};
    run.Timeout = std::chrono::seconds(60);
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.Errors, "");
    EXPECT_NE(result.ExitCode, 3);
    EXPECT_NE(result.Output.find(c.output), std::string::npos) << result.Output;
  }
}

// A folder named with a letter the code page lacks: the C library's narrow arguments would hand
// the check the best fit "Event Log O", another folder that exists; the check refuses instead.
TEST(WindowsCheck, RefusesALetterTheCodePageLacksInsteadOfCheckingAnotherFolder) {
  TemporaryDirectory directory;
  const std::string path = directory.Path() + "\\Event Log ";
  std::filesystem::create_directories(platform::PathOf(path + "O"));
  std::filesystem::create_directories(std::filesystem::path(platform::PathOf(directory.Path())) /
                                      L"Event Log \u03a9");
  WriteFileBytes(path + "O\\EventLog.XML", "<LogFile>System</LogFile>");
  ProcessRun run;
  run.Executable = EVENTLOG_CHECK_EXE;
  run.WorkingDirectory = directory.Path();
  run.Arguments = {path + "\xce\xa9"};  // "Ω" in UTF-8
  run.Utf8Arguments = true;
  run.Timeout = std::chrono::seconds(60);
  const ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 2);
  EXPECT_EQ(result.Output, "");
  EXPECT_EQ(result.Errors,
            "eventlog-check: the argument \"" + path +
                "?\" holds a character that the system's code page lacks (shown as ?), and the "
                "tools take names only in that code page: rename the folder or file, or give its "
                "short name (dir /x shows it)\r\n");
}

// Each executable the Windows build makes carries the project's version resource, read back as
// Explorer's Details tab reads it; the company and copyright are the Debian copyright file's.
TEST(WindowsVersion, EveryExecutableCarriesTheProjectsVersion) {
  const std::string copyright = ReadFileBytes(std::string(PACKAGING_DIR) + "/debian/copyright");
  const std::smatch holder = [&] {
    std::smatch match;
    std::regex_search(copyright, match, std::regex("\nCopyright: ([0-9-]+) ([^\r\n]+)"));
    return match;
  }();
  ASSERT_EQ(holder.size(), 3u) << copyright;
  struct Case {
    std::string path;
    std::string name;
  };
  const Case cases[] = {{EVENTLOG_EXE, "EventLog.exe"},
                        {EVENTLOG_CHECK_EXE, "eventlog-check.exe"},
                        {PAGEGATEWAY_EXE, "pagegateway.exe"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FileVersion version;
    std::string error;
    ASSERT_TRUE(ReadFileVersion(c.path, version, error)) << error;
    EXPECT_EQ(version.Numbers, std::string(EVENTLOG_VERSION) + ".0");
    EXPECT_EQ(version.Texts["FileVersion"], EVENTLOG_VERSION);
    EXPECT_EQ(version.Texts["ProductVersion"], EVENTLOG_VERSION);
    EXPECT_EQ(version.Texts["ProductName"], "EventLog");
    EXPECT_EQ(version.Texts["OriginalFilename"], c.name);
    EXPECT_EQ(version.Texts["CompanyName"], holder[2].str());
    EXPECT_EQ(version.Texts["LegalCopyright"],
              "Copyright (C) " + holder[1].str() + " " + holder[2].str());
    EXPECT_FALSE(version.Texts["FileDescription"].empty());
  }
}

TEST(WindowsReport, HoldsOnlyCharactersXmlAllows) {
  // A gateway's status line with a NUL and a control character in it: the NUL must not cut the
  // text, and neither may reach the document.
  tExceptionRec record;
  record.ClassName = "EHTTPProtocolException";
  record.Message = std::string("HTTP/1.1 502 Bad\0Gate\x01way", 26);
  record.Notes = std::string("a\x1F\tb", 4);
  record.FileName = "windows-report-chars-{timestamp}.XML";
  const std::string fileName = SaveExceptionRecAsXML(record);
  ASSERT_TRUE(PathExists(fileName)) << fileName;
  const std::string xml = ReadFileBytes(fileName);
  std::filesystem::remove(fileName);
  EXPECT_NE(xml.find("<e.Message>HTTP/1.1 502 BadGateway</e.Message>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Notes>a\tb</Notes>"), std::string::npos) << xml;
  for (const char c : xml)
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r' && c != '\n')
        << static_cast<int>(c) << " in " << xml;
}

TEST(WindowsSystem, FiguresComeFromTheSystem) {
  const char* computerName = std::getenv("COMPUTERNAME");
  ASSERT_NE(computerName, nullptr);
  EXPECT_EQ(GetHostName(), computerName);

  const std::string directory = GetAppPath();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), '\\');
  EXPECT_TRUE(PathExists(directory + "eventlog_tests.exe")) << directory;
  EXPECT_EQ(ProgramDirectoryOf("\\\\?\\C:\\Program Files\\EventLog.exe"), "C:\\Program Files\\");

  const tMemoryStatusRec memory = GetMemoryStatus();
  EXPECT_TRUE(memory.Valid);
  EXPECT_GT(memory.TotalPhys, 0);
  EXPECT_LE(memory.AvailPhys, memory.TotalPhys);
  EXPECT_GE(memory.TotalPageFile, memory.TotalPhys);

  const tMachineUpTime first = GetMachineUpTime();
  EXPECT_GT(first.Ticks, 0);
  EXPECT_TRUE(std::regex_match(first.Text, std::regex(R"(\d+w\d+d\d+h\d+m\d+s)"))) << first.Text;
}

}  // namespace
