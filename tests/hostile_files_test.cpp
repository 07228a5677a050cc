// Files that others plant or swap where EventLog, eventcreate and the rules reader expect a plain
// file: symbolic links, FIFOs, devices, hard links, files past their cap. Each is refused with a
// text that names it, nothing is written through it, and nothing waits on it.
#include "tests/support/hostile_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/files.h"
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

}  // namespace
