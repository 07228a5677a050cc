// Retention of dated files: what DeleteOldFiles removes and what it leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "kit/cleanup.h"
#include "platform/clock.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;

// "<k>" in a name stands for the date (yyyymmdd) k days before today; "<-1>" is tomorrow.
std::string Dated(std::string name) {
  for (int k = -1; k <= 5; ++k) {
    const std::string token = "<" + std::to_string(k) + ">";
    const std::string date = FormatDateTime("yyyymmdd", Now() - k);
    for (auto at = name.find(token); at != std::string::npos; at = name.find(token, at))
      name.replace(at, token.size(), date);
  }
  return name;
}

enum Kind { kFile, kDirectory, kReadOnly };

struct Entry {
  const char* name;
  Kind kind;
  bool staysKeeping2;  // DeleteOldFiles(prefix, extension, 2)
  bool staysKeeping0;  // DeleteOldFiles(prefix, extension, 0), and any days below 1
};

// For the prefix "Report" and the extension "xls".
const Entry kReportEntries[] = {
    {"Report-<0>.xls", kFile, true, false},
    {"Report-<1>.xls", kFile, true, false},
    {"Report-<2>.xls", kFile, false, false},
    {"Report-<5>.xls", kFile, false, false},
    {"Report-<-1>.xls", kFile, false, false},  // tomorrow protects nothing
    {"Report.xls", kFile, false, false},
    {"Report-<2>.XLS", kFile, false, false},
    {"Report-<2>.Xls", kFile, false, false},
    {"Report-<0>.XLS", kFile, true, false},
    {"Report_old_<1>_copy.xls", kFile, true, false},  // the date anywhere in the name
    {"Report<1>.xls", kFile, true, false},
    {"report-<2>.xls", kFile, true, true},  // the prefix in another letter case
    {"REPORT.xls", kFile, true, true},
    {"Report-<2>.xlsx", kFile, true, true},
    {"Report-<2>.xls.bak", kFile, true, true},
    {"Other-<2>.xls", kFile, true, true},
    {"<2>Report.xls", kFile, true, true},
    {"Report-<2>-folder.xls", kDirectory, true, true},
    {"Report-<2>-locked.xls", kReadOnly, true, true},
};

// For the daily log files: the prefix "EventLog" and the extension "csv".
const Entry kLogEntries[] = {
    {"EventLog-<0>.CSV", kFile, true, false},   {"EventLog-<1>.CSV", kFile, true, false},
    {"EventLog-<2>.CSV", kFile, false, false},  {"EventLog-<3>.Csv", kFile, false, false},
    {"EventLog-<4>.csv", kFile, false, false},  {"eventlog-<4>.CSV", kFile, true, true},
    {"EventLog-<4>.CSV.gz", kFile, true, true}, {"EventLog.exe", kFile, true, true},
};

void Lay(const std::string& directory, const Entry& entry) {
  const std::string path = directory + "/" + Dated(entry.name);
  if (entry.kind == kDirectory) {
    fs::create_directory(path);
    return;
  }
  WriteFileBytes(path, "data");
  if (entry.kind == kReadOnly)
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// Days 2 or 0 give the entries' columns; kUntouched expects every entry in place.
constexpr int kUntouched = 1000;

template <std::size_t N>
void ExpectSurvivors(const std::string& directory, const Entry (&entries)[N], int days) {
  for (const Entry& entry : entries) {
    const bool stays =
        days == kUntouched || (days >= 2 ? entry.staysKeeping2 : entry.staysKeeping0);
    EXPECT_EQ(PathExists(directory + "/" + Dated(entry.name)), stays)
        << entry.name << " with days " << days;
  }
}

struct Scenario {
  bool directoryInPrefix;
  const char* prefix;
  const char* extension;
  int days;
  bool logFiles;  // kLogEntries, else kReportEntries
};

}  // namespace

TEST(DeleteOldFilesTest, KeepsTheDatesOfTheLastDaysAndDeletesTheRest) {
  const std::string today = Dated("<0>");
  const Scenario scenarios[] = {
      {true, "Report", "xls", 2, false},  {true, "Report", "xls", 0, false},
      {true, "Report", "xls", -3, false}, {false, "Report", "xls", 2, false},
      {false, "Report", "xls", 0, false}, {true, "EventLog", "csv", 2, true},
      {true, "EventLog", "csv", 0, true}, {false, "EventLog", "csv", 2, true},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(std::string(s.directoryInPrefix ? "<dir>/" : "") + s.prefix + "*" + s.extension +
                 " days " + std::to_string(s.days));
    TemporaryDirectory dir;
    TemporaryDirectory elsewhere;  // the current directory when the prefix names a directory
    for (const Entry& entry : kReportEntries) Lay(dir.Path(), entry);
    for (const Entry& entry : kLogEntries) Lay(dir.Path(), entry);
    for (const Entry& entry : kReportEntries) Lay(elsewhere.Path(), entry);
    for (const Entry& entry : kLogEntries) Lay(elsewhere.Path(), entry);
    {
      ScopedCurrentDirectory cwd(s.directoryInPrefix ? elsewhere.Path() : dir.Path());
      DeleteOldFiles(s.directoryInPrefix ? dir.Path() + "/" + s.prefix : s.prefix, s.extension,
                     s.days);
    }
    if (Dated("<0>") != today) GTEST_SKIP() << "the day changed during the test";
    if (s.logFiles) {
      ExpectSurvivors(dir.Path(), kLogEntries, s.days);
      ExpectSurvivors(dir.Path(), kReportEntries, kUntouched);
    } else {
      ExpectSurvivors(dir.Path(), kReportEntries, s.days);
      ExpectSurvivors(dir.Path(), kLogEntries, kUntouched);
    }
    if (s.directoryInPrefix) {
      // Nothing outside the prefix's directory is touched.
      ExpectSurvivors(elsewhere.Path(), kReportEntries, kUntouched);
      ExpectSurvivors(elsewhere.Path(), kLogEntries, kUntouched);
    }
  }
}

TEST(DeleteOldFilesTest, NothingToDoLeavesEverything) {
  const std::string today = Dated("<0>");
  struct Case {
    const char* what;
    std::string prefix;  // "<dir>" stands for the directory of the files
    const char* extension;
    int days;
  };
  const Case cases[] = {
      {"empty prefix", "", "xls", 2},
      {"empty prefix, days 0", "", "xls", 0},
      {"empty prefix, log files", "", "csv", 0},
      {"missing directory", "<dir>/missing/Report", "xls", 0},
      {"no match", "<dir>/Summary", "xls", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TemporaryDirectory dir;
    for (const Entry& entry : kReportEntries) Lay(dir.Path(), entry);
    for (const Entry& entry : kLogEntries) Lay(dir.Path(), entry);
    std::string prefix = c.prefix;
    if (prefix.rfind("<dir>", 0) == 0) prefix.replace(0, 5, dir.Path());
    {
      ScopedCurrentDirectory cwd(dir.Path());
      DeleteOldFiles(prefix, c.extension, c.days);
    }
    if (Dated("<0>") != today) GTEST_SKIP() << "the day changed during the test";
    ExpectSurvivors(dir.Path(), kReportEntries, kUntouched);
    ExpectSurvivors(dir.Path(), kLogEntries, kUntouched);
  }
}
