// The built EventLog and eventlog-check watching journal files made by systemd-journal-remote in
// temporary directories: console transcripts byte for byte, pages to a loopback gateway.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/journal_writer.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/transcript.h"

namespace {

constexpr char kVersion[] = "Version: 201710091624\r\n";
constexpr char kQuestions[] = "Logfile (Application): Event ID (0): Source: ";
// 2023-11-14 22:13:20 UTC
constexpr std::uint64_t kMoment = 1700000000000000;
constexpr std::uint64_t kSecond = 1000000;
constexpr char kOomKill[] = "Out of memory: Killed process 1234 (stress)";
constexpr char kRules[] =
    "1001 kernel Out of memory: Killed process\n"
    "1003 systemd Failed with result\n";

JournalEntry KernelEntry(std::uint64_t realtime, const std::string& message) {
  return {realtime,
          {{"SYSLOG_IDENTIFIER", "kernel"},
           {"_HOSTNAME", "web-01"},
           {"PRIORITY", "3"},
           {"MESSAGE", message}}};
}

class JournalEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (JournalRemotePath().empty()) GTEST_SKIP() << "systemd-journal-remote is not installed";
  }
  std::string Logs() const { return directory_.File("logs"); }
  std::string Journal() const { return directory_.File("journal"); }

  void MakeFolders() {
    ProcessRun run;
    run.Executable = "/bin/mkdir";
    run.Arguments = {"-p", Logs(), Journal(), directory_.File("program")};
    ASSERT_EQ(RunProcess(run).ExitCode, 0);
  }
  void Write(const std::vector<JournalEntry>& entries) {
    ASSERT_EQ(WriteJournalFile(Journal() + "/system.journal", entries), "");
  }
  void Rules(const std::string& text) { WriteFileBytes(Logs() + "/journal.rules", text); }
  void Settings(const std::string& xml) { WriteFileBytes(directory_.File("EventLog.XML"), xml); }

  ProcessRun Program(const std::string& executable) {
    ProcessRun run;
    run.Executable = executable;
    run.WorkingDirectory = directory_.Path();
    run.RemovedVariables = {"LC_ALL",   "LC_TIME",         "LC_NUMERIC",     "LC_CTYPE",
                            "LANGUAGE", "PAGING_PAGER_ID", "PAGING_PASSWORD"};
    run.Environment = {{"EVENTLOG_DIR", Logs()},
                       {"EVENTLOG_JOURNAL_DIR", Journal()},
                       {"TZ", "UTC"},
                       {"LANG", "C"},
                       {"PAGING_GATEWAY_HOST", "127.0.0.1:9"}};
    return run;
  }
  ProcessResult Run(const std::string& input = "") {
    ProcessRun run = Program(EVENTLOG_EXE);
    run.Input = input;
    return RunProcess(run);
  }

  TemporaryDirectory directory_;
};

TEST_F(JournalEndToEnd, FileModePagesTheOomKillerThroughTheGateway) {
  MakeFolders();
  Rules(kRules);
  Write({KernelEntry(kMoment, kOomKill),
         KernelEntry(kMoment + kSecond, "EXT4-fs (sda1): mounted filesystem")});
  Settings("<LogFile>Journal</LogFile><EventID>1001</EventID><Action>page</Action>");
  ServerScript accepts;
  accepts.Steps.push_back({ProtocolBytes("answers/accepted.txt"), {}});
  LoopbackServer gateway(accepts);
  ProcessRun run = Program(EVENTLOG_EXE);
  run.Environment["PAGING_GATEWAY_HOST"] = gateway.HostAndPort();
  ProcessResult result = RunProcess(run);
  EXPECT_EQ(AfterReportTime(result.Output, std::string(kVersion) + "\r\n"),
            ReportLines("1001", "kernel", "11/14/23 10:13:20 pm", kOomKill, "page"));
  EXPECT_EQ(result.ExitCode, 0);
  ASSERT_EQ(gateway.Requests().size(), 1u);
  EXPECT_NE(gateway.Requests()[0].find("%20Host%3D"), std::string::npos) << gateway.Requests()[0];
  EXPECT_NE(gateway.Requests()[0].find("Source%3Dkernel%20EventID%3D1001 HTTP/1.1\r\n"),
            std::string::npos)
      << gateway.Requests()[0];
}

TEST_F(JournalEndToEnd, ConsoleAnswersChooseTheJournalInAnyLetterCase) {
  MakeFolders();
  Rules(kRules);
  Write({KernelEntry(kMoment, kOomKill),
         {kMoment + kSecond,
          {{"SYSLOG_IDENTIFIER", "systemd"},
           {"_SYSTEMD_UNIT", "init.scope"},
           {"MESSAGE", "nginx.service: Failed with result 'exit-code'."}}}});
  ProcessResult result = Run("JOURNAL\n1001\nKERNEL\n");
  EXPECT_EQ(AfterReportTime(result.Output, std::string(kVersion) + kQuestions + "\r\n"),
            ReportLines("1001", "kernel", "11/14/23 10:13:20 pm", kOomKill, ""));
  result = Run("journal\n\n\n");
  EXPECT_EQ(AfterReportTime(result.Output, std::string(kVersion) + kQuestions + "\r\n"),
            ReportLines("1003", "systemd", "11/14/23 10:13:21 pm",
                        "nginx.service: Failed with result 'exit-code'.", ""));
}

TEST_F(JournalEndToEnd, AJournalThatIsMissingEmptyOrNoDirectoryFindsNoEvents) {
  MakeFolders();
  Rules(kRules);
  Settings("<LogFile>Journal</LogFile>");
  WriteFileBytes(directory_.File("plain-file"), "not a journal directory");
  for (const std::string& dir :
       {Journal(), directory_.File("missing"), directory_.File("plain-file")}) {
    ProcessRun run = Program(EVENTLOG_EXE);
    run.Environment["EVENTLOG_JOURNAL_DIR"] = dir;
    ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.Output, std::string(kVersion) + "\r\nNo events found.\r\n") << dir;
    EXPECT_EQ(result.ExitCode, 0) << dir;
  }
}

TEST_F(JournalEndToEnd, AnEntryAppendedWhileWatchingIsReportedOnceInTheNextCycle) {
  MakeFolders();
  Rules(kRules);
  Write({KernelEntry(kMoment, "an older entry")});
  Settings("<Sleep>1</Sleep><LogFile>Journal</LogFile><EventID>1001</EventID>");
  WriteFileBytes(directory_.File("late.export"),
                 JournalExportText({KernelEntry(kMoment + kSecond, kOomKill)}));
  ProcessRun run = Program("/bin/sh");
  // EventLog watches; after 1.5 s the entry is appended, then EventLog runs two more seconds.
  run.Arguments = {"-c",
                   "\"$1\" & watcher=$!; sleep 1.5; \"$2\" -o \"$3\" - < late.export 2>/dev/null; "
                   "sleep 2.2; kill $watcher; wait $watcher",
                   "sh",
                   EVENTLOG_EXE,
                   JournalRemotePath(),
                   Journal() + "/system.journal"};
  ProcessResult result = RunProcess(run);
  std::size_t reports = 0;
  for (std::size_t at = result.Output.find("EventID=1001"); at != std::string::npos;
       at = result.Output.find("EventID=1001", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << result.Output;
  const std::string firstCycle =
      std::string(kVersion) + "\r\nNo events found.\r\nSleeping for 1 seconds.\r\n";
  EXPECT_EQ(result.Output.substr(0, firstCycle.size()), firstCycle);
  const std::size_t report =
      result.Output.find("MyEventLogRecord.Details=" + std::string(kOomKill));
  ASSERT_NE(report, std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("\r\nNo events found.\r\n", report), std::string::npos)
      << result.Output;
}

TEST_F(JournalEndToEnd, EventLogCheckListsTheRulesAndTheirNewestEntries) {
  MakeFolders();
  Rules(
      "# sample\n"
      "1001 kernel Out of memory: Killed process\n"
      "1002 kernel segfault at\n"
      "x kernel bad id\n"
      "1003 * (\n"
      "1004 sshd\n"
      "1005 KERN* .\n");
  Write({KernelEntry(kMoment, kOomKill), KernelEntry(kMoment + kSecond, "older note"),
         KernelEntry(kMoment + 2 * kSecond, "newer note")});
  Settings("<LogFile>Journal</LogFile><EventID>1001</EventID><Sleep>60</Sleep>");
  ProcessRun run = Program(EVENTLOG_CHECK_EXE);
  run.Arguments = {"--program-dir", directory_.File("program")};
  ProcessResult result = RunProcess(run);
  const std::string logs = Logs(), journal = Journal(), program = directory_.File("program");
  EXPECT_EQ(
      result.Output,
      "The environment EventLog gets:\n"
      "  EVENTLOG_DIR=\"" +
          logs +
          "\" (the folder of the .evt logs and journal.rules)\n"
          "  EVENTLOG_JOURNAL_DIR=\"" +
          journal +
          "\" (journal files read instead of the system journal)\n"
          "  PAGING_GATEWAY_HOST=\"127.0.0.1:9\" (the paging gateway)\n"
          "  TZ=\"UTC\" (the time zone of every time EventLog prints and reads)\n"
          "  LANG=\"C\" (the regional settings)\n"
          "The settings in ./EventLog.XML:\n"
          "  <LogFile>     \"Journal\" -> \"Journal\"\n"
          "  <EventID>     \"1001\" -> 1001\n"
          "  <Action>      not found -> \"\" (does not page)\n"
          "  <LoggedAfter> not found -> none (the newest match is reported at once)\n"
          "  <Sleep>       \"60\" -> 60 (seconds between cycles)\n"
          "note: no <Action>: EventLog reports without paging\n"
          "note: no <LoggedAfter>: the newest match is reported at the first cycle\n"
          "The log \"Journal\":\n"
          "  the journal files in " +
          journal +
          " (EVENTLOG_JOURNAL_DIR)\n"
          "  opens: 3 records\n"
          "  newest record:\n"
          "    MyEventLogRecord.EventLogRecord.EventID=1005\n"
          "    MyEventLogRecord.Source=kernel\n"
          "    MyEventLogRecord.TimeGeneratedAsDateTime=11/14/23 10:13:22 pm\n"
          "    MyEventLogRecord.Details=newer note\n"
          "    MyEventLogRecord.Action=\n"
          "  newest match:\n"
          "    MyEventLogRecord.EventLogRecord.EventID=1001\n"
          "    MyEventLogRecord.Source=kernel\n"
          "    MyEventLogRecord.TimeGeneratedAsDateTime=11/14/23 10:13:20 pm\n"
          "    MyEventLogRecord.Details=Out of memory: Killed process 1234 (stress)\n"
          "    MyEventLogRecord.Action=\n"
          "  it was generated after LoggedAfter: EventLog's first cycle reports it\n"
          "The rules in " +
          logs +
          "/journal.rules (each with the newest entry it gives its "
          "event ID to):\n"
          "  line 2: event ID 1001 for source \"kernel\" and message \"Out of memory: Killed "
          "process\"\n"
          "    newest entry: 11/14/2023 10:13:20 pm kernel: Out of memory: Killed process 1234 "
          "(stress)\n"
          "  line 3: event ID 1002 for source \"kernel\" and message \"segfault at\"\n"
          "    newest entry: none\n"
          "warning: journal.rules line 4 cannot be used (bad event ID \"x\": it must be a "
          "number from 1 to 65535), so EventLog skips it: x kernel bad id\n"
          "warning: journal.rules line 5 cannot be used (bad regular expression: missing ): ( "
          "(write a POSIX extended regular expression without back-references)), so EventLog "
          "skips it: 1003 * (\n"
          "warning: journal.rules line 6 cannot be used (missing fields: a rule is EVENT_ID "
          "IDENTIFIER MESSAGE-PATTERN), so EventLog skips it: 1004 sshd\n"
          "  line 7: event ID 1005 for source \"KERN*\" and message \".\"\n"
          "    newest entry: 11/14/2023 10:13:22 pm kernel: newer note\n"
          "The program folder " +
          program +
          ":\n"
          "  can take exception reports (for the user running this check)\n"
          "  newest exception report: none\n"
          "The gateway: http://127.0.0.1:9/cgi-bin/xmhscgi (from PAGING_GATEWAY_HOST)\n"
          "  pager: 730418 (built in; PAGING_PAGER_ID overrides it)\n"
          "  password: \"K***T\" (built in; PAGING_PASSWORD overrides it)\n"
          "  EventLog pages only with <Action>page</Action>\n"
          "In ., where EventLog runs:\n"
          "  newest page record: none\n"
          "Result: 3 warnings.\n");
  EXPECT_EQ(result.ExitCode, 1);

  // A watched ID that no usable rule gives: EventLog can never find anything.
  Settings("<LogFile>journal</LogFile><EventID>1003</EventID><Sleep>60</Sleep>");
  result = RunProcess(run);
  EXPECT_NE(result.Output.find("error: no usable rule in " + logs +
                               "/journal.rules gives event ID 1003: every journal entry has "
                               "another ID, so EventLog finds nothing\n"),
            std::string::npos)
      << result.Output;
  EXPECT_EQ(result.ExitCode, 2);

  // Without the rules file every entry has ID 0.
  ProcessRun removal;
  removal.Executable = "/bin/rm";
  removal.Arguments = {Logs() + "/journal.rules"};
  ASSERT_EQ(RunProcess(removal).ExitCode, 0);
  Settings("<LogFile>journal</LogFile><Sleep>60</Sleep>");
  result = RunProcess(run);
  EXPECT_NE(result.Output.find("The rules in " + logs +
                               "/journal.rules (each with the newest entry it gives its event ID "
                               "to):\n  cannot be read (No such file or directory): every "
                               "journal entry has event ID 0\nThe program folder"),
            std::string::npos)
      << result.Output;
  EXPECT_EQ(result.ExitCode, 0);
}

// The journal's UTF-8 reaches the console in the locale's 8-bit set, as texts of .evt logs do.
// Compiles de_DE.ISO-8859-1 into locales (which LOCPATH then names); false when localedef cannot.
bool CompileLatin1German(const TemporaryDirectory& locales) {
  ProcessRun compile;
  compile.Executable = "/usr/bin/localedef";
  compile.Arguments = {"-i", "de_DE", "-f", "ISO-8859-1", locales.File("de_DE.ISO-8859-1")};
  RunProcess(compile);
  // localedef ends with 1 after mere warnings too; what counts is the compiled locale.
  return PathExists(locales.File("de_DE.ISO-8859-1") + "/LC_CTYPE");
}

TEST_F(JournalEndToEnd, TextsAreConvertedToTheLocalesCharacterSet) {
  MakeFolders();
  TemporaryDirectory locales;
  if (!CompileLatin1German(locales)) GTEST_SKIP() << "localedef cannot compile de_DE.ISO-8859-1";
  Write({{kMoment,
          {{"SYSLOG_IDENTIFIER",
            "pr\xC3\xBC"
            "fer"},
           {"MESSAGE",
            "Pr\xC3\xBC"
            "fung fehlgeschlagen: 5 \xE2\x82\xAC"}}}});
  Settings("<LogFile>Journal</LogFile>");
  struct Case {
    std::string Locale, Source, Details;
  } cases[] = {
      {"de_DE.ISO-8859-1",
       "pr\xFC"
       "fer",
       "Pr\xFC"
       "fung fehlgeschlagen: 5 ?"},
      {"C.UTF-8",
       "pr\xC3\xBC"
       "fer",
       "Pr\xC3\xBC"
       "fung fehlgeschlagen: 5 \xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    ProcessRun run = Program(EVENTLOG_EXE);
    run.Environment["LC_ALL"] = c.Locale;
    run.Environment["LOCPATH"] = locales.Path();
    ProcessResult result = RunProcess(run);
    EXPECT_NE(result.Output.find("\r\nMyEventLogRecord.Source=" + c.Source + "\r\n"),
              std::string::npos)
        << c.Locale << ": " << result.Output;
    EXPECT_NE(result.Output.find("\r\nMyEventLogRecord.Details=" + c.Details + "\r\n"),
              std::string::npos)
        << c.Locale << ": " << result.Output;
  }
}

// The rules see the texts in the locale's set: "." is one character of it, under UTF-8 and
// under Latin-1 alike, and the rules file is written in that set.
TEST_F(JournalEndToEnd, RulesMatchInTheLocalesCharacterSet) {
  MakeFolders();
  TemporaryDirectory locales;
  const bool latin1 = CompileLatin1German(locales);
  Write({{kMoment,
          {{"SYSLOG_IDENTIFIER", "\xC3\x96l"},
           {"MESSAGE",
            "Gr\xC3\xBC\xC3\x9F"
            "e"}}}});
  Settings("<LogFile>Journal</LogFile><EventID>51</EventID>");
  struct Case {
    std::string Locale, Rules, Source, Details;
  } cases[] = {
      {"C.UTF-8",
       "51 ?l ^Gr.\xC3\x9F"
       "e$\n",
       "\xC3\x96l",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {"de_DE.ISO-8859-1",
       "51 ?l ^Gr.\xDF"
       "e$\n",
       "\xD6l",
       "Gr\xFC\xDF"
       "e"},
  };
  for (const Case& c : cases) {
    if (c.Locale != "C.UTF-8" && !latin1) {
      std::cout << "[  SKIPPED ] localedef cannot compile de_DE.ISO-8859-1\n";
      continue;
    }
    Rules(c.Rules);
    ProcessRun run = Program(EVENTLOG_EXE);
    run.Environment["LC_ALL"] = c.Locale;
    run.Environment["LOCPATH"] = locales.Path();
    ProcessResult result = RunProcess(run);
    EXPECT_NE(result.Output.find("\r\nMyEventLogRecord.EventLogRecord.EventID=51\r\n"
                                 "MyEventLogRecord.Source=" +
                                 c.Source + "\r\n"),
              std::string::npos)
        << c.Locale << ": " << result.Output;
    EXPECT_NE(result.Output.find("\r\nMyEventLogRecord.Details=" + c.Details + "\r\n"),
              std::string::npos)
        << c.Locale << ": " << result.Output;
  }
}

// eventlog-check times each usable rule against the entries it reads and says which is slow;
// a quick rule gets no such line.
TEST_F(JournalEndToEnd, EventLogCheckNamesASlowRule) {
  MakeFolders();
  Rules("1001 kernel (x{1,10}){1,100}y\n1002 kernel ^x\n");
  Write({KernelEntry(kMoment, std::string(1000, 'x'))});
  Settings("<LogFile>Journal</LogFile><EventID>1001</EventID><Sleep>60</Sleep>");
  ProcessRun run = Program(EVENTLOG_CHECK_EXE);
  run.Arguments = {"--program-dir", directory_.File("program")};
  const ProcessResult result = RunProcess(run);
  const std::regex expected(
      "  line 1: event ID 1001 for source \"kernel\" and message "
      "\"\\(x\\{1,10\\}\\)\\{1,100\\}y\"\n"
      "    newest entry: none\n"
      "    slow: [0-9]+\\.[0-9] ms for each entry on average over the newest entry \\(slow means "
      "more than 1 ms\\): EventLog tries the rules on every new entry; fewer or smaller "
      "repetitions in the pattern, or a narrower source, make it faster\n"
      "  line 2: event ID 1002 for source \"kernel\" and message \"\\^x\"\n"
      "    newest entry: 11/14/2023 10:13:20 pm kernel: x{160}\\.\\.\\.\n"
      "The program folder");
  EXPECT_TRUE(std::regex_search(result.Output, expected)) << result.Output;
}

}  // namespace

namespace {

std::string Repeated(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  while (times-- > 0) out += text;
  return out;
}

}  // namespace

// A text is cut only where the record (256 KiB) or a named limit ends, measured in the locale's
// set and at a character of it; a time past the record's 32 bits shows as the latest it holds.
TEST_F(JournalEndToEnd, TextsAndTimesAreCutOnlyAtTheRecordsStatedLimits) {
  MakeFolders();
  TemporaryDirectory locales;
  const bool latin1 = CompileLatin1German(locales);
  Settings("<LogFile>Journal</LogFile>");
  const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC";
  constexpr char kNow[] = "11/14/23 10:13:20 pm";
  // 2200-01-01 00:00:00 UTC; the latest time a record holds is 2106-02-07 06:28:15 UTC.
  constexpr std::uint64_t k2200 = 7258118400 * kSecond;
  // The message's room with the source "app" and the computer "web-01": 262,075 - 3 - 6.
  constexpr std::size_t kRoom = 262066;
  struct Case {
    std::string Name, Locale;
    std::uint64_t Time;
    std::string Identifier, Message;
    std::string Source, Shown, Details;
  } cases[] = {
      {"200,000 x e-acute fit a Latin-1 record", "de_DE.ISO-8859-1", kMoment, "app",
       Repeated(e, 200000), "app", kNow, std::string(200000, '\xE9')},
      {"a Latin-1 message past the record is cut at its room", "de_DE.ISO-8859-1", kMoment, "app",
       Repeated(e, 300000), "app", kNow, std::string(kRoom, '\xE9')},
      {"a UTF-8 message past the record is cut at a whole character", "C.UTF-8", kMoment, "app",
       Repeated(euro, 100000), "app", kNow, Repeated(euro, kRoom / 3)},
      {"a 2,000-byte identifier is kept whole", "C.UTF-8", kMoment, std::string(2000, 'i'), "x",
       std::string(2000, 'i'), kNow, "x"},
      {"an identifier is cut at 16 KiB", "C.UTF-8", kMoment, std::string(20000, 'i'), "x",
       std::string(16384, 'i'), kNow, "x"},
      {"an identifier of 10,000 x e-acute is kept whole in Latin-1", "de_DE.ISO-8859-1", kMoment,
       Repeated(e, 10000), "x", std::string(10000, '\xE9'), kNow, "x"},
      {"2200-01-01 shows as the latest time a record holds", "C.UTF-8", k2200, "app", "late", "app",
       "2/7/06 6:28:15 am", "late"},
  };
  ProcessRun removal;
  removal.Executable = "/bin/rm";
  removal.Arguments = {"-f", Journal() + "/system.journal"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Locale != "C.UTF-8" && !latin1) {
      std::printf("skipped: %s (localedef cannot compile de_DE.ISO-8859-1)\n", c.Name.c_str());
      continue;
    }
    ASSERT_EQ(RunProcess(removal).ExitCode, 0);
    Write({{c.Time,
            {{"SYSLOG_IDENTIFIER", c.Identifier},
             {"_HOSTNAME", "web-01"},
             {"PRIORITY", "3"},
             {"MESSAGE", c.Message}}}});
    ProcessRun run = Program(EVENTLOG_EXE);
    // The character set only: the dates keep the C locale's form.
    run.Environment["LC_CTYPE"] = c.Locale;
    run.Environment["LOCPATH"] = locales.Path();
    const ProcessResult result = RunProcess(run);
    const std::string shown = AfterReportTime(result.Output, std::string(kVersion) + "\r\n");
    const std::string expected = ReportLines("0", c.Source, c.Shown, c.Details, "");
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_TRUE(shown == expected) << shown.substr(0, 300);
    EXPECT_EQ(result.ExitCode, 0);
  }
}
