// The journal as the event log Journal, read through the platform's event log calls: journal
// files written by systemd-journal-remote in temporary directories, the records compared byte
// for byte, and the rules of journal.rules.
#include "platform/journal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "core/event_record.h"
#include "core/utf8.h"
#include "monitor/eventsearch.h"
#include "platform/eventlog.h"
#include "tests/support/journal_writer.h"
#include "tests/support/process.h"
#include "tests/support/scoped.h"

namespace {

// 2023-11-14 22:13:20 UTC and a fraction of a second.
constexpr std::uint64_t kMoment = 1700000000123456;
constexpr std::uint32_t kSecond = 1000000;
constexpr std::uint32_t kMomentSeconds = 1700000000;
constexpr std::uint32_t kRecordBound = 0x40000;

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[at + i]);
  return value;
}

struct ExpectedRecord {
  std::uint32_t Number;
  std::uint32_t Time;
  std::uint32_t EventID;
  std::uint16_t Type;
  std::string Source;
  std::string Computer;
  std::vector<std::string> Strings;
};

// The record as the event log service lays it out: header, names, no SID, strings, no data
// (the layout itself is pinned down byte by byte in event_record_test.cpp).
std::string Encode(const ExpectedRecord& expected) {
  core::EventRecordFields fields;
  fields.RecordNumber = expected.Number;
  fields.TimeGenerated = expected.Time;
  fields.TimeWritten = expected.Time;
  fields.EventID = expected.EventID;
  fields.EventType = expected.Type;
  fields.Source = expected.Source;
  fields.Computer = expected.Computer;
  fields.Strings = expected.Strings;
  return core::BuildEventRecord(fields);
}

JournalEntry Entry(std::uint64_t realtime,
                   std::vector<std::pair<std::string, std::string>> fields) {
  return {realtime, std::move(fields)};
}

// Splits a block of records by their Length.
void SplitRecords(const std::uint8_t* block, std::uint32_t size, std::vector<std::string>& out) {
  for (std::uint32_t at = 0; at + 4 <= size;) {
    std::string head(reinterpret_cast<const char*>(block + at), 4);
    const std::uint32_t length = Get32(head, 0);
    ASSERT_GE(length, 56u);
    ASSERT_LE(at + length, size);
    out.emplace_back(reinterpret_cast<const char*>(block + at), length);
    at += length;
  }
}

// Every record of the Journal log, newest first, read with a buffer of bufferSize bytes.
std::vector<std::string> ReadJournalRecords(std::uint32_t bufferSize = 4097) {
  std::vector<std::string> records;
  platform::EventLogHandle log = platform::OpenEventLog("Journal");
  if (log == nullptr) {
    ADD_FAILURE() << "the journal does not open";
    return records;
  }
  std::vector<std::uint8_t> buffer(bufferSize);
  for (;;) {
    std::uint32_t bytesRead = 0, needed = 0, error = 0;
    if (!platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                         bytesRead, needed, error)) {
      if (error == platform::kErrorInsufficientBuffer) {
        buffer.resize(needed);
        continue;
      }
      EXPECT_EQ(error, platform::kErrorHandleEof);
      break;
    }
    SplitRecords(buffer.data(), bytesRead, records);
  }
  platform::CloseEventLog(log);
  return records;
}

class JournalLog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (JournalRemotePath().empty()) GTEST_SKIP() << "systemd-journal-remote is not installed";
    SetTestEnvironment("EVENTLOG_JOURNAL_DIR", directory_.Path());
    SetTestEnvironment("EVENTLOG_DIR", directory_.Path());
  }
  void TearDown() override {
    ClearTestEnvironment("EVENTLOG_JOURNAL_DIR");
    ClearTestEnvironment("EVENTLOG_DIR");
  }
  void Write(const std::vector<JournalEntry>& entries, const std::string& name = "a.journal") {
    const std::string error = WriteJournalFile(directory_.File(name), entries);
    ASSERT_EQ(error, "");
  }
  void Rules(const std::string& text) { WriteFileBytes(directory_.File("journal.rules"), text); }

  TemporaryDirectory directory_;
};

TEST_F(JournalLog, DeliversEachEntryNewestFirstAsAnEightBitRecord) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> Fields;
    ExpectedRecord Record;  // Number and Time are filled in from the position
  };
  const std::vector<Case> cases = {
      {{{"SYSLOG_IDENTIFIER", "kernel"},
        {"_COMM", "ignored"},
        {"_HOSTNAME", "web-01"},
        {"PRIORITY", "3"},
        {"MESSAGE", "Out of memory: Killed process 1234 (stress)"}},
       {0, 0, 0, 1, "kernel", "web-01", {"Out of memory: Killed process 1234 (stress)"}}},
      {{{"_COMM", "sshd"},
        {"_HOSTNAME", "web-01"},
        {"PRIORITY", "4"},
        {"_SYSTEMD_UNIT", "ssh.service"},
        {"MESSAGE", "Failed password for root"}},
       {0, 0, 0, 2, "sshd", "web-01", {"Failed password for root", "ssh.service"}}},
      {{{"MESSAGE", "no source, no host, no priority"}},
       {0, 0, 0, 4, "", "", {"no source, no host, no priority"}}},
      {{{"SYSLOG_IDENTIFIER", "app"}, {"PRIORITY", "0"}, {"MESSAGE", std::string("bin\0ary", 7)}},
       {0, 0, 0, 1, "app", "", {"bin"}}},
      {{{"SYSLOG_IDENTIFIER", "app"}, {"PRIORITY", "5"}, {"MESSAGE", "notice"}},
       {0, 0, 0, 4, "app", "", {"notice"}}},
      {{{"SYSLOG_IDENTIFIER", "app"}, {"PRIORITY", "7"}, {"MESSAGE", "debug\nsecond line"}},
       {0, 0, 0, 4, "app", "", {"debug\nsecond line"}}},
      {{{"SYSLOG_IDENTIFIER", "systemd"},
        {"PRIORITY", "2"},
        {"_SYSTEMD_UNIT", "init.scope"},
        {"MESSAGE", ""}},
       {0, 0, 0, 1, "systemd", "", {"", "init.scope"}}},
  };
  std::vector<JournalEntry> entries;
  for (std::size_t i = 0; i < cases.size(); ++i)
    entries.push_back(Entry(kMoment + i * kSecond, cases[i].Fields));
  Write(entries);

  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ExpectedRecord expected = cases[i].Record;
    expected.Number = std::uint32_t(i + 1);  // the writer's sequence numbers start at 1
    expected.Time = kMomentSeconds + std::uint32_t(i);
    EXPECT_EQ(records[cases.size() - 1 - i], Encode(expected)) << "entry " << i;
  }
}

TEST_F(JournalLog, GivesEachEntryTheEventIdOfTheFirstRuleItMatches) {
  Rules(
      "# event IDs for the journal\n"
      "\n"
      "   # an indented comment\n"
      "100 kernel Out of memory: Killed process\n"
      "101\tKERN*\tsegfault at [0-9a-f]+\r\n"
      "0 kernel never: the ID is out of range\n"
      "65536 kernel never: the ID is out of range\n"
      "x1 kernel never: the ID is no number\n"
      "102 sshd\n"
      "103 * ([unclosed\n"
      "104 ss?d Failed password|Invalid user\n"
      "105 * .\n");
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"kernel", "Out of memory: Killed process 1234 (stress)"},  // 100
      {"Kernel", "a.out[77]: segfault at 0 ip 0 sp 0 error 4"},   // 101, any letter case
      {"kernel", "never: the ID is out of range"},                // 105: the bad lines skipped
      {"sshd", "Invalid user admin from 10.0.0.1 port 2222"},     // 104
      {"sshd", "Accepted publickey for ops"},                     // 105
      {"cron", ""},                                               // no rule: 0
  };
  const std::uint32_t expectedIds[] = {100, 101, 105, 104, 105, 0};
  std::vector<JournalEntry> journal;
  for (std::size_t i = 0; i < entries.size(); ++i)
    journal.push_back(Entry(kMoment + i * kSecond, {{"SYSLOG_IDENTIFIER", entries[i].first},
                                                    {"MESSAGE", entries[i].second}}));
  Write(journal);
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(Get32(records[entries.size() - 1 - i], 20), expectedIds[i]) << entries[i].second;
}

TEST_F(JournalLog, WithoutRulesEveryEntryHasEventIdZero) {
  Write({Entry(kMoment, {{"SYSLOG_IDENTIFIER", "kernel"}, {"MESSAGE", "anything"}})});
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Get32(records[0], 20), 0u);
}

// The journal writes sequence numbers in hexadecimal in its cursors: 26 entries reach 0x1a.
TEST_F(JournalLog, RecordNumbersAreTheEntriesSequenceNumbers) {
  std::vector<JournalEntry> entries;
  for (std::uint64_t i = 0; i < 26; ++i)
    entries.push_back(Entry(kMoment + i * kSecond, {{"MESSAGE", "first"}, {"MESSAGE", "second"}}));
  Write(entries);
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), 26u);
  for (std::uint32_t i = 0; i < 26; ++i) {
    EXPECT_EQ(Get32(records[i], 8), 26 - i);
    // A field given twice counts with its first value.
    EXPECT_STREQ(records[i].c_str() + Get32(records[i], 36), "first");
  }
}

TEST_F(JournalLog, ReadsNewestFirstAcrossSeveralFiles) {
  Write({Entry(kMoment, {{"MESSAGE", "one"}}), Entry(kMoment + 2 * kSecond, {{"MESSAGE", "three"}}),
         Entry(kMoment + 4 * kSecond, {{"MESSAGE", "five"}})},
        "a.journal");
  Write({Entry(kMoment + kSecond, {{"MESSAGE", "two"}}),
         Entry(kMoment + 3 * kSecond, {{"MESSAGE", "four"}})},
        "b.journal");
  std::vector<std::string> messages;
  for (const std::string& record : ReadJournalRecords())
    messages.push_back(record.c_str() + Get32(record, 36));
  EXPECT_EQ(messages, (std::vector<std::string>{"five", "four", "three", "two", "one"}));
}

TEST_F(JournalLog, AnEmptyJournalEndsTheFirstReadWithEof) {
  platform::EventLogHandle log = platform::OpenEventLog("JOURNAL");
  ASSERT_NE(log, nullptr);
  std::uint8_t buffer[4097];
  std::uint32_t bytesRead = 7, needed = 7, error = 0;
  EXPECT_FALSE(
      platform::ReadEventLogBackwards(log, buffer, sizeof buffer, bytesRead, needed, error));
  EXPECT_EQ(bytesRead, 0u);
  EXPECT_EQ(error, platform::kErrorHandleEof);
  platform::CloseEventLog(log);
  tEventSearchRecord criteria;
  criteria.LogFile = "journal";
  tMyEventLogRecord result;
  EXPECT_FALSE(FindLatestEvent(criteria, result));
}

TEST_F(JournalLog, AMissingDirectoryFindsNothing) {
  SetTestEnvironment("EVENTLOG_JOURNAL_DIR", directory_.File("missing"));
  tEventSearchRecord criteria;
  criteria.LogFile = "Journal";
  tMyEventLogRecord result;
  EXPECT_FALSE(FindLatestEvent(criteria, result));
  EXPECT_FALSE(platform::LocateEventLog("journal").Exists);
  EXPECT_EQ(platform::LocateEventLog("journal").Description,
            "no journal: the directory " + directory_.File("missing") +
                " does not exist (EVENTLOG_JOURNAL_DIR)");
}

TEST_F(JournalLog, ASmallBufferGetsTheSizeOfTheNextRecordAndLosesNothing) {
  Write({Entry(kMoment, {{"MESSAGE", "older"}}),
         Entry(kMoment + kSecond, {{"MESSAGE", "newer, and longer"}})});
  const std::string newer = Encode({2, kMomentSeconds + 1, 0, 4, "", "", {"newer, and longer"}});
  const std::string older = Encode({1, kMomentSeconds, 0, 4, "", "", {"older"}});
  platform::EventLogHandle log = platform::OpenEventLog("Journal");
  ASSERT_NE(log, nullptr);
  std::vector<std::uint8_t> buffer(newer.size() - 1);
  std::uint32_t bytesRead = 0, needed = 0, error = 0;
  EXPECT_FALSE(platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                               bytesRead, needed, error));
  EXPECT_EQ(error, platform::kErrorInsufficientBuffer);
  EXPECT_EQ(needed, newer.size());
  // A buffer that holds the newer record but not both: one record per read.
  buffer.resize(newer.size() + older.size() - 1);
  ASSERT_TRUE(platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                              bytesRead, needed, error));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + bytesRead), newer);
  ASSERT_TRUE(platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                              bytesRead, needed, error));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + bytesRead), older);
  EXPECT_FALSE(platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                               bytesRead, needed, error));
  EXPECT_EQ(error, platform::kErrorHandleEof);
  platform::CloseEventLog(log);
}

TEST_F(JournalLog, AnOverlongMessageIsCutAtACharacterBoundaryWithinTheRecordBound) {
  // Three-byte characters: a cut at a byte count would split one.
  std::string message;
  while (message.size() < 300000) message += "\xE2\x82\xAC";  // the euro sign in UTF-8
  Write({Entry(
      kMoment,
      {{"SYSLOG_IDENTIFIER", "big"}, {"_SYSTEMD_UNIT", "big.service"}, {"MESSAGE", message}})});
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), 1u);
  const std::string& record = records[0];
  EXPECT_LE(record.size(), kRecordBound);
  EXPECT_GT(record.size(), kRecordBound - 8);
  const std::string delivered = record.c_str() + Get32(record, 36);
  // The room the guide states: 262,075 bytes less the source (3) and the unit with its zero byte
  // (12), down to a whole character.
  EXPECT_EQ(delivered.size(), 262059u);
  EXPECT_EQ(message.compare(0, delivered.size(), delivered), 0);
  EXPECT_EQ(std::string(record.c_str() + Get32(record, 36) + delivered.size() + 1), "big.service");
  EXPECT_EQ(Get32(record, record.size() - 4), record.size());
}

TEST(JournalRules, NamesTheLinesThatCannotBeUsedAndWhy) {
  TemporaryDirectory directory;
  SetTestEnvironment("EVENTLOG_DIR", directory.Path());
  WriteFileBytes(directory.File("journal.rules"),
                 "# comment\n"
                 "1 kernel ok\n"
                 "70000 kernel x\n"
                 "two kernel x\n"
                 "3 kernel\n"
                 "4\n"
                 "5 * (\n"
                 "6 * a{1\n"
                 "7 _TRANSPORT=kernel,_UID=0 oom\n"
                 "8 _PID=1 x\n"
                 "9 _UID= x\n"
                 "10 _UID=0,,_COMM=a x\n"
                 "11 * (a*)*\\1b\n");
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  ClearTestEnvironment("EVENTLOG_DIR");
  EXPECT_TRUE(file.Readable);
  EXPECT_EQ(file.Path, directory.File("journal.rules"));
  std::vector<std::string> found;
  for (const auto& rule : file.Rules)
    found.push_back(std::to_string(rule.Line) + " " + std::to_string(rule.EventID) + " [" +
                    rule.Identifier + "] [" + rule.Pattern + "] " + rule.Problem);
  const std::vector<std::string> expected = {
      "2 1 [kernel] [ok] ",
      "3 0 [kernel] [x] bad event ID \"70000\": it must be a number from 1 to 65535",
      "4 0 [kernel] [x] bad event ID \"two\": it must be a number from 1 to 65535",
      "5 0 [kernel] [] missing fields: a rule is EVENT_ID IDENTIFIER MESSAGE-PATTERN",
      "6 0 [] [] missing fields: a rule is EVENT_ID IDENTIFIER MESSAGE-PATTERN",
      "7 5 [*] [(] bad regular expression: missing ): ( (write a POSIX extended regular "
      "expression without back-references)",
      "8 6 [*] [a{1] ",
      "9 7 [_TRANSPORT=kernel,_UID=0] [oom] ",
      "10 8 [_PID=1] [x] unknown field _PID: a rule tests SYSLOG_IDENTIFIER, _TRANSPORT, _UID, "
      "_COMM, _EXE or _SYSTEMD_UNIT",
      "11 9 [_UID=] [x] no pattern for _UID",
      "12 10 [_UID=0,,_COMM=a] [x] bad condition \"\": conditions are FIELD=PATTERN joined by "
      "commas",
      "13 11 [*] [(a*)*\\1b] bad regular expression: invalid escape sequence: \\1 (back-references "
      "(\\1 to \\9) are not supported: write the repeated text out or match it more loosely)",
  };
  EXPECT_EQ(found, expected);
  // The older form tests the source; the newer one the fields it names.
  auto conditions = [&](std::size_t index) {
    std::string text;
    for (const auto& condition : file.Rules.at(index).Conditions)
      text += "[" + condition.Field + "=" + condition.Pattern + "]";
    return text;
  };
  EXPECT_EQ(conditions(0), "[=kernel]");
  EXPECT_EQ(conditions(7), "[_TRANSPORT=kernel][_UID=0]");
  EXPECT_EQ(conditions(8), "");
}

// The rules' locale: the texts and the rules in its character set, UTF-8 or Latin-1.
struct RulesLocaleCase {
  std::string Locale;
  bool Latin1;
  std::string Source;  // the locale's definition, compiled with localedef when not installed
};

// A UTF-8 text in Latin-1 (every character of these tests is one of it).
std::string Latin1(const std::string& utf8) {
  std::string text;
  for (char16_t unit : core::Utf8ToUtf16(utf8)) text.push_back(char(unit));
  return text;
}

// Why the locale cannot be used here, empty when it can; a Latin-1 one is compiled into
// locales, which LOCPATH then names.
std::string PrepareLocale(const RulesLocaleCase& locale, const TemporaryDirectory& locales) {
  if (!locale.Latin1) {
    ProcessRun list;
    list.Executable = "/usr/bin/locale";
    list.Arguments = {"-a"};
    std::string plain;
    for (char c : locale.Locale)
      if (c != '-')
        plain.push_back(
            c >= 'A' && c <= 'Z' && plain.find('.') != std::string::npos ? char(c - 'A' + 'a') : c);
    const std::string all = RunProcess(list).Output;
    return all.find(plain + "\n") == std::string::npos ? locale.Locale + " is not installed" : "";
  }
  ProcessRun compile;
  compile.Executable = "/usr/bin/localedef";
  compile.Arguments = {"-i", locale.Source, "-f", "ISO-8859-1", locales.File(locale.Locale)};
  compile.Timeout = std::chrono::seconds(120);
  // localedef ends with 1 after mere warnings too; what counts is the compiled locale.
  RunProcess(compile);
  return PathExists(locales.File(locale.Locale) + "/LC_CTYPE")
             ? ""
             : "localedef cannot compile " + locale.Locale;
}

const RulesLocaleCase kRulesLocales[] = {
    {"C.UTF-8", false, ""},
    {"de_DE.UTF-8", false, ""},
    {"de_DE.ISO-8859-1", true, "de_DE"},
};

// What grep -E and the shell match under the locale: "." is one character, "?" one character
// of a source, and letter case is ignored in the globs for letters beyond ASCII too. A rule
// that RE2 refuses is named and skipped; the lines after it still work.
TEST(JournalRules, MatchUnderTheLocalesCharacterSet) {
  const std::string rules =
      "50 * (a)\\1\n"
      "51 * ^Gr.\u00dfe$\n"
      "52 ?l .\n"
      "53 \u00e4rger* .\n"
      "54 _COMM=\u00c4rger* ^.$\n";
  struct Entry {
    std::string Source, Message;
    int Rule;
  } entries[] = {
      {"x", "Gr\u00fc\u00dfe", 1},
      {"x", "Gr\u00fc\u00fc\u00dfe", -1},
      {"x", "aa", -1},
      {"\u00d6l", "m", 2},
      {"\u00d6\u00d6l", "m", -1},
      {"\u00c4rgernis", "m", 3},
      {"\u00e4RGERNIS", "m", 3},
      {"Aergernis", "m", -1},
  };
  for (const RulesLocaleCase& locale : kRulesLocales) {
    SCOPED_TRACE(locale.Locale);
    TemporaryDirectory directory, locales;
    const std::string unusable = PrepareLocale(locale, locales);
    if (!unusable.empty()) {
      std::cout << "[  SKIPPED ] " << locale.Locale << ": " << unusable << "\n";
      continue;
    }
    auto encoded = [&](const std::string& utf8) { return locale.Latin1 ? Latin1(utf8) : utf8; };
    ScopedEnvironment logs("EVENTLOG_DIR", directory.Path().c_str());
    ScopedEnvironment all("LC_ALL", locale.Locale.c_str());
    ScopedEnvironment path("LOCPATH", locale.Latin1 ? locales.Path().c_str() : nullptr);
    WriteFileBytes(directory.File("journal.rules"), encoded(rules));
    const platform::JournalRulesFile file = platform::ReadJournalRules();
    ASSERT_EQ(file.Rules.size(), 5u);
    EXPECT_EQ(file.Rules[0].Problem,
              "bad regular expression: invalid escape sequence: \\1 (back-references (\\1 to "
              "\\9) are not supported: write the repeated text out or match it more loosely)");
    for (std::size_t i = 1; i < file.Rules.size(); ++i) EXPECT_EQ(file.Rules[i].Problem, "");
    const platform::JournalMatcher matcher(file.Rules);
    for (const Entry& entry : entries) {
      const std::string source = encoded(entry.Source);
      platform::JournalFields fields;
      fields.Source = source;
      fields.Message = encoded(entry.Message);
      EXPECT_EQ(matcher.FirstMatch(fields), entry.Rule) << entry.Source << ": " << entry.Message;
    }
    // A field condition is a glob like the source's: "Ärger*" holds for the command "ärgerlich",
    // and the message of one character beyond ASCII is "." under the locale.
    const std::string command = encoded("\u00e4rgerlich");
    platform::JournalFields fields;
    fields.Source = "y";
    fields.Command = command;
    fields.Message = encoded("\u00e9");
    EXPECT_EQ(matcher.FirstMatch(fields), 4);
    fields.Message = "ab";
    EXPECT_EQ(matcher.FirstMatch(fields), -1);
  }
}

// A pattern whose nested repetitions would take seconds and gigabytes for one entry: the
// largest is refused with its reason, the others run through a 1,000-character message and
// answer as grep -E does.
TEST(JournalRules, NestedRepetitionsCannotStallTheSearch) {
  TemporaryDirectory directory;
  ScopedEnvironment logs("EVENTLOG_DIR", directory.Path().c_str());
  WriteFileBytes(directory.File("journal.rules"),
                 "66 * ((x{1,100}){1,100}){1,100}y\n"
                 "67 * (x+x+)+y\n"
                 "68 * (x{1,10}){1,100}y\n"
                 "69 * ^(x|xx)+$\n");
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  ASSERT_EQ(file.Rules.size(), 4u);
  EXPECT_EQ(file.Rules[0].Problem,
            "bad regular expression: invalid repetition size: {1,100} (a repetition may count "
            "at most 1000, nested repetitions multiplied: use smaller counts, or + and *)");
  const platform::JournalMatcher matcher(file.Rules);
  struct Case {
    std::string Message;
    int Rule;
  } cases[] = {
      {std::string(1000, 'x') + "z", -1},
      {std::string(1000, 'x'), 3},
      {std::string(1000, 'x') + "y", 1},
      {"xy", 2},
  };
  for (const Case& c : cases) {
    platform::JournalFields fields;
    fields.Source = "kernel";
    fields.Message = c.Message;
    EXPECT_EQ(matcher.FirstMatch(fields), c.Rule) << c.Message.size();
    EXPECT_EQ(matcher.Matches(2, fields), c.Message.back() == 'y');
  }
}

TEST(JournalRules, AMissingFileIsNotReadable) {
  TemporaryDirectory directory;
  SetTestEnvironment("EVENTLOG_DIR", directory.Path());
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  ClearTestEnvironment("EVENTLOG_DIR");
  EXPECT_FALSE(file.Readable);
  EXPECT_EQ(file.Problem, "No such file or directory");
  EXPECT_TRUE(file.Rules.empty());
}

// The sample rules against messages as the kernel, systemd and sshd write them, each with the
// fields the journal gives it, and against the same messages forged by a user.
TEST_F(JournalLog, TheSampleRulesFindWhatTheyPromiseAndNoForgery) {
  WriteFileBytes(directory_.File("journal.rules"),
                 ReadFileBytes(std::string(PACKAGING_DIR) + "/../samples/journal.rules"));
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const Fields kernel = {{"SYSLOG_IDENTIFIER", "kernel"}, {"_TRANSPORT", "kernel"}};
  const Fields manager = {{"SYSLOG_IDENTIFIER", "systemd"},
                          {"_TRANSPORT", "journal"},
                          {"_UID", "0"},
                          {"_COMM", "systemd"},
                          {"_EXE", "/usr/lib/systemd/systemd"}};
  const Fields sshd = {{"SYSLOG_IDENTIFIER", "sshd"},
                       {"_TRANSPORT", "syslog"},
                       {"_UID", "0"},
                       {"_COMM", "sshd"},
                       {"_SYSTEMD_UNIT", "ssh.service"}};
  const Fields sshdSession = {{"SYSLOG_IDENTIFIER", "sshd-session"},
                              {"_TRANSPORT", "syslog"},
                              {"_UID", "0"},
                              {"_COMM", "sshd-session"}};
  // What `logger -t kernel ...` and friends write as a user: any identifier, their own fields.
  auto forged = [](const std::string& identifier, const std::string& command) {
    return Fields{{"SYSLOG_IDENTIFIER", identifier},
                  {"_TRANSPORT", "syslog"},
                  {"_UID", "1000"},
                  {"_COMM", command}};
  };
  struct Case {
    Fields Source;
    std::string Message;
    std::uint32_t EventID;
  };
  const std::vector<Case> cases = {
      {kernel,
       "Out of memory: Killed process 1234 (stress) total-vm:8421960kB, anon-rss:7823660kB, "
       "file-rss:4kB, shmem-rss:0kB, UID:0 pgtables:15356kB oom_score_adj:0",
       1001},
      {kernel, "oom_reaper: reaped process 1234 (stress), now anon-rss:0kB, file-rss:0kB", 0},
      {kernel,
       "stress[4242]: segfault at 0 ip 000055d5c2a1b1a9 sp 00007ffd7a3c1e40 error 6 in "
       "stress[55d5c2a1b000+1000] likely on CPU 1 (core 1, socket 0)",
       1002},
      {kernel, "EXT4-fs (sda1): mounted filesystem with ordered data mode.", 0},
      {manager, "nginx.service: Failed with result 'exit-code'.", 1003},
      {manager, "Failed to start nginx.service - A high performance web server.", 1003},
      {manager, "Unit nginx.service entered failed state.", 1003},
      {manager, "Started nginx.service - A high performance web server.", 0},
      {sshd, "Failed password for root from 203.0.113.5 port 52144 ssh2", 1004},
      {sshdSession, "Invalid user admin from 203.0.113.5 port 52146", 1004},
      {sshd, "Accepted publickey for ops from 10.0.0.2 port 50000 ssh2", 0},
      {forged("sudo", "sudo"), "Failed password for root", 0},
      {forged("kernel", "logger"), "Out of memory: Killed process 1 (forged)", 0},
      {forged("kernel", "logger"), "x[1]: segfault at 0 ip 0 sp 0 error 6", 0},
      {forged("systemd", "systemd"), "app.service: Failed with result 'exit-code'.", 0},
      {forged("sshd", "sshd"), "Failed password for root from 203.0.113.5 port 1 ssh2", 0},
  };
  std::vector<JournalEntry> entries;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    Fields fields = cases[i].Source;
    fields.push_back({"MESSAGE", cases[i].Message});
    entries.push_back(Entry(kMoment + i * kSecond, fields));
  }
  Write(entries);
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(Get32(records[cases.size() - 1 - i], 20), cases[i].EventID)
        << cases[i].Source[0].second << ": " << cases[i].Message;
}

// Conditions on fields the journal sets itself: every one must hold, a missing field holds for
// no pattern, letter case is ignored, "\," is a comma.
TEST_F(JournalLog, ConditionsTestTheEntrysOwnFields) {
  Rules(
      "200 _TRANSPORT=kernel,SYSLOG_IDENTIFIER=kern* alarm\n"
      "201 _UID=0,_EXE=/usr/sbin/* alarm\n"
      "202 _SYSTEMD_UNIT=ssh.service alarm\n"
      "203 _COMM=a\\,b alarm\n"
      "204 _UID=* alarm\n");
  using Fields = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    Fields Given;
    std::uint32_t EventID;
  } cases[] = {
      {{{"_TRANSPORT", "kernel"}, {"SYSLOG_IDENTIFIER", "kernel"}}, 200},
      {{{"_TRANSPORT", "KERNEL"}, {"SYSLOG_IDENTIFIER", "Kernel"}}, 200},
      {{{"_TRANSPORT", "kernel"}}, 0},  // no identifier: the condition on it fails
      {{{"_TRANSPORT", "syslog"}, {"SYSLOG_IDENTIFIER", "kernel"}}, 0},
      {{{"_UID", "0"}, {"_EXE", "/usr/sbin/cron"}}, 201},
      {{{"_UID", "1000"}, {"_EXE", "/usr/sbin/cron"}}, 204},
      {{{"_UID", "0"}, {"_EXE", "/home/u/usr/sbin/cron"}}, 204},
      {{{"_SYSTEMD_UNIT", "ssh.service"}}, 202},
      {{{"_SYSTEMD_UNIT", "user@1000.service"}, {"SYSLOG_IDENTIFIER", "ssh.service"}}, 0},
      {{{"_COMM", "a,b"}}, 203},
      {{{"_COMM", "ab"}}, 0},
  };
  std::vector<JournalEntry> entries;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Fields fields = cases[i].Given;
    fields.push_back({"MESSAGE", "alarm"});
    entries.push_back(Entry(kMoment + i * kSecond, fields));
  }
  Write(entries);
  const std::vector<std::string> records = ReadJournalRecords();
  ASSERT_EQ(records.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(Get32(records[std::size(cases) - 1 - i], 20), cases[i].EventID) << "entry " << i;
}

}  // namespace
