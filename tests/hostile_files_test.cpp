// Files that others plant or swap where EventLog, eventcreate and the rules reader expect a plain
// file: symbolic links, FIFOs, devices, hard links, files past their cap. Each is refused with a
// text that names it, nothing is written through it, and nothing waits on it.
#include "tests/support/hostile_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/evt_codec.h"
#include "platform/eventlog.h"
#include "platform/eventwriter.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kVersion[] = "Version: 201710091624\r\n";

// Runs work on a thread of its own; when it has not ended within the bound (a read left waiting
// on a FIFO), releases the FIFO's reader until it ends and says so.
bool EndsWithin(std::chrono::seconds bound, const std::string& fifo,
                const std::function<void()>& work) {
  std::atomic<bool> ended = false;
  std::thread worker([&] {
    work();
    ended = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!ended && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  const bool inTime = ended;
  while (!ended) {
    ReleaseFifoReader(fifo);
    std::this_thread::sleep_for(10ms);
  }
  worker.join();
  return inTime;
}

// -- whole files read by their readers ----------------------------------------------------------

TEST(ReadRegularFile, ReadsOnlyARegularFileWithinItsLimitAndNeverWaits) {
  TemporaryDirectory dir;
  WriteFileBytes(dir.File("ten"), "0123456789");
  WriteFileBytes(dir.File("empty"), "");
  fs::create_symlink(dir.File("ten"), dir.File("link"));
  fs::create_symlink(dir.File("missing"), dir.File("dangling"));
  ASSERT_TRUE(MakeFifo(dir.File("fifo")));
  using Outcome = platform::WholeFileOutcome;
  struct Case {
    std::string name;
    std::size_t limit;
    Outcome outcome;
    std::string content, problem;
  } cases[] = {
      {dir.File("ten"), 10, Outcome::Read, "0123456789", ""},
      {dir.File("empty"), 10, Outcome::Read, "", ""},
      {dir.File("ten"), 9, Outcome::TooLarge, "", dir.File("ten") + " is larger than 9 bytes"},
      {dir.File("link"), 10, Outcome::SymbolicLink, "",
       dir.File("link") + " is a symbolic link, which is not followed"},
      {dir.File("dangling"), 10, Outcome::SymbolicLink, "",
       dir.File("dangling") + " is a symbolic link, which is not followed"},
      {dir.File("fifo"), 10, Outcome::NotRegular, "",
       dir.File("fifo") + " is not a regular file but a FIFO"},
      {"/dev/zero", 10, Outcome::NotRegular, "", "/dev/zero is not a regular file but a device"},
      {dir.Path(), 10, Outcome::NotRegular, "", dir.Path() + " is not a regular file but a folder"},
      {dir.File("missing"), 10, Outcome::CannotOpen, "",
       "cannot open " + dir.File("missing") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::WholeFile file;
    ASSERT_TRUE(EndsWithin(5s, dir.File("fifo"),
                           [&] { file = platform::ReadRegularFile(c.name, c.limit); }));
    EXPECT_EQ(file.Outcome, c.outcome);
    EXPECT_EQ(file.Content, c.content);
    EXPECT_EQ(platform::WholeFileProblem(c.name, file, c.limit), c.problem);
  }
  EXPECT_EQ(platform::SizeText(std::size_t(16) << 20), "16 MiB");
}

// EventLog's own settings file: refused with its error line, which names the file, the cap and
// what the settings must be.
TEST(HostileSettingsFile, IsRefusedWithTheErrorLine) {
  const std::string fix =
      "; settings are read only from a regular file of at most 1 MiB, not through a link "
      "(EFOpenError) Trace=0\r\n";
  const std::string settings = "<LogFile>System</LogFile><Sleep>0</Sleep>";
  struct Case {
    std::string name;
    std::function<void(const TemporaryDirectory&)> plant;
    std::string output;
    int exitCode;
  } cases[] = {
      {"a link to a settings file",
       [&](const TemporaryDirectory& dir) {
         WriteFileBytes(dir.File("real.xml"), settings);
         fs::create_symlink(dir.File("real.xml"), dir.File("EventLog.XML"));
       },
       std::string(kVersion) + "Error: EventLog.XML is a symbolic link, which is not followed" +
           fix,
       1},
      {"a link to a device",
       [](const TemporaryDirectory& dir) {
         fs::create_symlink("/dev/null", dir.File("EventLog.XML"));
       },
       std::string(kVersion) + "Error: EventLog.XML is a symbolic link, which is not followed" +
           fix,
       1},
      {"a FIFO",
       [](const TemporaryDirectory& dir) { ASSERT_TRUE(MakeFifo(dir.File("EventLog.XML"))); },
       std::string(kVersion) + "Error: EventLog.XML is not a regular file but a FIFO" + fix, 1},
      {"one byte past 1 MiB",
       [&](const TemporaryDirectory& dir) {
         std::string big = settings;
         big.resize((1 << 20) + 1, ' ');
         WriteFileBytes(dir.File("EventLog.XML"), big);
       },
       std::string(kVersion) + "Error: EventLog.XML is larger than 1 MiB (1048576 bytes)" + fix, 1},
      {"exactly 1 MiB",
       [&](const TemporaryDirectory& dir) {
         std::string big = settings;
         big.resize(1 << 20, ' ');
         WriteFileBytes(dir.File("EventLog.XML"), big);
       },
       std::string(kVersion) + "\r\nNo events found.\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory dir;
    c.plant(dir);
    ProcessRun run;
    run.Executable = EVENTLOG_EXE;
    run.WorkingDirectory = dir.Path();
    run.Environment = {{"EVENTLOG_DIR", dir.File("logs")}, {"LANG", "C"}};
    run.Timeout = 10s;
    const ProcessResult result = RunProcess(run);
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.Output, c.output);
    EXPECT_EQ(result.ExitCode, c.exitCode);
  }
}

// journal.rules in the log folder: not read, and the reason says what to do.
TEST(HostileJournalRules, AreNotReadAndSayWhy) {
  struct Case {
    std::string name;
    std::function<void(const TemporaryDirectory&)> plant;
    std::string problem;  // after the path
  } cases[] = {
      {"a link",
       [](const TemporaryDirectory& dir) {
         WriteFileBytes(dir.File("real.rules"), "1001 kernel oom\n");
         fs::create_symlink(dir.File("real.rules"), dir.File("journal.rules"));
       },
       " is a symbolic link, which is not followed; to keep the logs and rules in another "
       "folder, point EVENTLOG_DIR at it"},
      {"a FIFO",
       [](const TemporaryDirectory& dir) { ASSERT_TRUE(MakeFifo(dir.File("journal.rules"))); },
       " is not a regular file but a FIFO; the rules must be a regular file of at most 16 MiB"},
      {"one byte past 16 MiB",
       [](const TemporaryDirectory& dir) {
         std::string big = "1001 kernel oom\n#";
         big.resize((std::size_t(16) << 20) + 1, '#');
         WriteFileBytes(dir.File("journal.rules"), big);
       },
       " is larger than 16 MiB (16777216 bytes); the rules must be a regular file of at most "
       "16 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory dir;
    c.plant(dir);
    SetTestEnvironment("EVENTLOG_DIR", dir.Path());
    platform::JournalRulesFile file;
    EXPECT_TRUE(
        EndsWithin(5s, dir.File("journal.rules"), [&] { file = platform::ReadJournalRules(); }));
    ClearTestEnvironment("EVENTLOG_DIR");
    EXPECT_FALSE(file.Readable);
    EXPECT_TRUE(file.Rules.empty());
    EXPECT_EQ(file.Problem, file.Path + c.problem);
  }
}

// -- logs: eventcreate writes through nothing but a plain log -----------------------------------

core::evt::NewRecord Record(std::uint32_t id) {
  core::evt::NewRecord record;
  record.EventID = id;
  record.TimeGenerated = record.TimeWritten = 1507566240;
  record.Source = u"Disk";
  record.Computer = u"HOST";
  record.Strings = {u"bad block"};
  return record;
}

ProcessResult RunEventCreate(const std::string& dir, const std::string& log = "Disk") {
  ProcessRun run;
  run.Executable = EVENTCREATE_EXE;
  run.Arguments = {"--dir", dir, "--log", log, "--source", "Disk", "--id", "7"};
  run.Timeout = 10s;
  return RunProcess(run);
}

TEST(HostileLogEntry, EventcreateWritesThroughNoLinkAndIntoNoOtherFile) {
  struct Case {
    std::string name;
    // Plants Disk.evt in logs; the file it must not touch lies in elsewhere.
    std::function<void(const TemporaryDirectory& logs, const TemporaryDirectory& elsewhere)> plant;
    std::string error;  // after "eventcreate: <logs>/Disk.evt"
    bool needsRoot = false;
    bool refusedUnopened = true;  // refused before its lock file is made
  };
  const std::string link =
      " is a symbolic link, which eventcreate does not follow; to keep the logs in another "
      "folder, point EVENTLOG_DIR (or --dir) at that folder; nothing written\n";
  const Case cases[] = {
      {"a link to an empty file of someone else",
       [](const TemporaryDirectory& logs, const TemporaryDirectory& elsewhere) {
         WriteFileBytes(elsewhere.File("target"), "");
         fs::create_symlink(elsewhere.File("target"), logs.File("Disk.evt"));
       },
       link},
      {"a dangling link",
       [](const TemporaryDirectory& logs, const TemporaryDirectory& elsewhere) {
         fs::create_symlink(elsewhere.File("target"), logs.File("Disk.evt"));
       },
       link},
      {"a link to a device",
       [](const TemporaryDirectory& logs, const TemporaryDirectory&) {
         fs::create_symlink("/dev/null", logs.File("Disk.evt"));
       },
       link},
      {"a FIFO",
       [](const TemporaryDirectory& logs, const TemporaryDirectory&) {
         ASSERT_TRUE(MakeFifo(logs.File("Disk.evt")));
       },
       " is not a regular file but a FIFO; nothing written\n"},
      {"a device node",
       [](const TemporaryDirectory& logs, const TemporaryDirectory&) {
         ASSERT_TRUE(MakeNullDevice(logs.File("Disk.evt")));
       },
       " is not a regular file but a device; nothing written\n", true},
      {"a hard link to an empty file of someone else",
       [](const TemporaryDirectory& logs, const TemporaryDirectory& elsewhere) {
         WriteFileBytes(elsewhere.File("target"), "");
         fs::create_hard_link(elsewhere.File("target"), logs.File("Disk.evt"));
       },
       " has 2 names (hard links), so writing it would change a file elsewhere; nothing "
       "written\n",
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && !RunningAsRoot()) {
      std::cout << "[  SKIPPED ] " << c.name << ": making a device node needs root\n";
      continue;
    }
    TemporaryDirectory logs, elsewhere;
    c.plant(logs, elsewhere);
    const ProcessResult result = RunEventCreate(logs.Path());
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Errors, "eventcreate: " + logs.File("Disk.evt") + c.error);
    // Nothing was made or changed elsewhere: the target is as planted, or still missing.
    if (fs::exists(elsewhere.File("target")))
      EXPECT_EQ(ReadFileBytes(elsewhere.File("target")), "");
    else
      EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
    // An entry that is no regular file got no lock file beside it either.
    if (c.refusedUnopened) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(logs.File("Disk.evt.lock"))));
    }
  }
}

// A new log and its lock file are writable by the folder's group whatever the writer's umask,
// and take the folder's group.
TEST(HostileLogEntry, NewLogsAndLocksAreTheGroupsWhateverTheUmask) {
  TemporaryDirectory logs;
  // Root can give the folder any group; then the new files must take it although the folder is
  // not setgid.
  const unsigned group = 4242;
  const bool regrouped = RunningAsRoot() && GiveToGroup(logs.Path(), group);
  ProcessRun run;
  run.Executable = "/bin/sh";
  run.Arguments = {"-c",
                   "umask 077 && exec \"$0\" \"$@\"",
                   EVENTCREATE_EXE,
                   "--dir",
                   logs.Path(),
                   "--log",
                   "Disk",
                   "--source",
                   "Disk",
                   "--id",
                   "7"};
  const ProcessResult result = RunProcess(run);
  ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  EXPECT_EQ(result.Errors, "");
  for (const std::string name : {"Disk.evt", "Disk.evt.lock"}) {
    SCOPED_TRACE(name);
    const EntryStatus status = StatusOf(logs.File(name));
    ASSERT_TRUE(status.Exists);
    EXPECT_EQ(status.Mode, 0660u);
    if (regrouped) {
      EXPECT_EQ(status.Group, group);
    }
  }
  if (!regrouped) std::cout << "[  SKIPPED ] the folder's group: giving it one needs root\n";
}

// Root makes a missing log folder for the group eventlog, or says what to do without it.
TEST(HostileLogEntry, RootMakesTheLogFolderForTheGroup) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the folder is given to root:eventlog only by root";
  TemporaryDirectory base;
  const std::string folder = base.File("var/log/eventlog");
  const ProcessResult result = RunEventCreate(folder);
  ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  const EntryStatus status = StatusOf(folder);
  EXPECT_EQ(status.Owner, 0u);
  if (const long group = GroupNumber("eventlog"); group >= 0) {
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(status.Mode, 03770u);
    EXPECT_EQ(status.Group, unsigned(group));
  } else {
    EXPECT_EQ(result.Errors,
              "eventcreate: note: " + folder +
                  " was made for root alone (root:root, mode 0755), since there is no group "
                  "eventlog; to let others write events: groupadd eventlog; chgrp eventlog " +
                  folder + "; chmod 3770 " + folder + "; adduser USER eventlog\n");
    EXPECT_EQ(status.Mode, 0755u);
    EXPECT_EQ(status.Group, 0u);
  }
  EXPECT_EQ(StatusOf(folder + "/Disk.evt").Mode, 0660u);
}

// -- logs: the reader opens nothing but a plain log ---------------------------------------------

TEST(HostileLogEntry, TheReaderFollowsNoLinkAndSaysWhatToDo) {
  TemporaryDirectory logs, elsewhere;
  ASSERT_EQ(platform::AppendEvent(elsewhere.Path(), "System", Record(7036), 65536), "");
  fs::create_symlink(elsewhere.File("System.evt"), logs.File("System.evt"));
  ASSERT_TRUE(MakeFifo(logs.File("Pipe.evt")));
  SetTestEnvironment("EVENTLOG_DIR", logs.Path());
  EXPECT_EQ(platform::OpenEventLog("System"), nullptr);
  const platform::EventLogLocation link = platform::LocateEventLog("System");
  const platform::EventLogLocation fifo = platform::LocateEventLog("Pipe");
  ClearTestEnvironment("EVENTLOG_DIR");
  EXPECT_FALSE(link.Exists);
  EXPECT_EQ(link.Description, "no log: " + logs.File("System.evt") +
                                  " is a symbolic link, which EventLog does not follow; to keep "
                                  "the logs in another folder, point EVENTLOG_DIR at that folder");
  EXPECT_FALSE(fifo.Exists);
  EXPECT_EQ(fifo.Description,
            "no log: " + logs.File("Pipe.evt") + " is not a regular file but a FIFO");
}

// A log swapped for a FIFO between the search for it and its open: the open never waits.
TEST(HostileLogEntry, ALogSwappedForAFifoNeverHoldsTheReader) {
  TemporaryDirectory logs;
  ASSERT_EQ(platform::AppendEvent(logs.Path(), "System", Record(7036), 65536), "");
  ASSERT_TRUE(MakeFifo(logs.File("swapped")));
  SetTestEnvironment("EVENTLOG_DIR", logs.Path());
  long opened = 0, refused = 0;
  bool inTime = false;
  long swaps = 0;
  {
    EntrySwapper swapper(logs.File("System.evt"), logs.File("swapped"));
    // Whichever name the FIFO has when a waiting open is released, it is released.
    inTime = EndsWithin(10s, logs.File("System.evt"), [&] {
      const auto end = std::chrono::steady_clock::now() + 1500ms;
      while (std::chrono::steady_clock::now() < end) {
        platform::EventLogHandle log = platform::OpenEventLog("System");
        if (log == nullptr) {
          ++refused;
          continue;
        }
        ++opened;
        platform::CloseEventLog(log);
      }
    });
    swaps = swapper.Swaps();
  }
  ClearTestEnvironment("EVENTLOG_DIR");
  if (swaps == 0) GTEST_SKIP() << "the file system cannot swap two entries (renameat2)";
  EXPECT_TRUE(inTime) << "an open waited on the FIFO";
  EXPECT_GT(opened + refused, 100);
}

}  // namespace
