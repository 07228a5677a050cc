// The built eventcreate's command line: --help, every refusal naming its problem, the warning
// for an event ID EventLog can never match, and types in any letter case.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;

// The fixed header of the log file, then the first record; its event type at offset 24.
constexpr std::size_t kFirstRecord = 48;
constexpr std::size_t kEventTypeOffset = 24;

ProcessResult RunEventCreate(const std::vector<std::string>& arguments) {
  ProcessRun run;
  run.Executable = EVENTCREATE_EXE;
  run.Arguments = arguments;
  return RunProcess(run);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(EventCreateCommandLine, HelpPrintsTheUsageAndExitsZero) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"-h"}, {"--log", "L", "--help"}}) {
    TemporaryDirectory dir;
    std::vector<std::string> all = {"--dir", dir.Path()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ProcessResult result = RunEventCreate(all);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(FirstLine(result.Output),
              "usage: eventcreate [--dir DIR] --log NAME --source NAME --id N");
    EXPECT_NE(result.Output.find("       eventcreate --help\n"), std::string::npos);
    EXPECT_NE(result.Output.find("\n\nExit codes:\n  0  written"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
  }
}

TEST(EventCreateCommandLine, EveryRefusalNamesItsProblemAndWritesNothing) {
  const std::vector<std::string> good = {"--log", "L", "--source", "S", "--id", "1"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = good;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  } cases[] = {
      {with({"--colour", "red"}), "unknown option --colour"},
      {{"--bogus"}, "unknown option --bogus"},
      {with({"stray"}), "unexpected argument stray (every value follows its option)"},
      {{"--log"}, "missing value for --log"},
      {with({"--string"}), "missing value for --string"},
      {{"--log", "a/b", "--source", "S", "--id", "1"},
       "bad log name a/b: a log name cannot hold '/'"},
      {{"--log", "", "--source", "S", "--id", "1"}, "the log name is empty"},
      {{"--source", "S", "--id", "1"}, "--log NAME is required"},
      {{"--log", "L", "--id", "1"}, "--source NAME is required"},
      {{"--log", "L", "--source", "S"}, "--id N is required"},
      {{"--log", "L", "--source", "S", "--id", "12x"},
       "bad event ID 12x: a decimal or 0x-hexadecimal number up to 4294967295"},
      {{"--log", "L", "--source", "S", "--id", "4294967296"},
       "bad event ID 4294967296: a decimal or 0x-hexadecimal number up to 4294967295"},
      {with({"--type", "fatal"}),
       "bad type fatal: one of error, warning, information, success, audit-success, "
       "audit-failure"},
      {with({"--category", "65536"}), "bad category 65536: a number from 0 to 65535"},
      {with({"--time", "-1"}), "bad time -1: seconds since 1970 (UTC), up to 4294967295"},
      {with({"--data-hex", "abc"}), "bad hex data abc: pairs of hex digits"},
      {with({"--max-size", "1000"}), "bad maximum size 1000: from 65536 to 4294967280 bytes"},
  };
  for (const Case& c : cases) {
    TemporaryDirectory dir;
    std::vector<std::string> arguments = {"--dir", dir.Path()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.error);
    ProcessResult result = RunEventCreate(arguments);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(FirstLine(result.Errors), "eventcreate: " + c.error);
    EXPECT_NE(result.Errors.find("\nusage: eventcreate"), std::string::npos);
    EXPECT_EQ(result.Output, "");
    EXPECT_TRUE(fs::is_empty(dir.Path()));
  }
}

TEST(EventCreateCommandLine, WritesWithAWarningForIdsAboveSixteenBitsAndTypesInAnyCase) {
  struct Case {
    std::vector<std::string> arguments;
    std::string errors;
    std::uint16_t type;
  } cases[] = {
      {{"--id", "70000"},
       "eventcreate: warning: event ID 70000 is above 65535: EventLog shows this record's ID as "
       "4464 (its low 16 bits), and an <EventID> of 70000 never matches it\n",
       4},
      {{"--id", "0xC0001B7C", "--type", "Warning"},
       "eventcreate: warning: event ID 3221232508 is above 65535: EventLog shows this record's ID "
       "as 7036 (its low 16 bits), and an <EventID> of 3221232508 never matches it\n",
       2},
      {{"--id", "65535", "--type", "ERROR"}, "", 1},
      {{"--id", "7036", "--type", "Audit-Failure"}, "", 16},
  };
  for (const Case& c : cases) {
    TemporaryDirectory dir;
    std::vector<std::string> arguments = {"--dir", dir.Path(), "--log", "L", "--source", "S"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.arguments[1]);
    ProcessResult result = RunEventCreate(arguments);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Errors, c.errors);
    const std::string log = ReadFileBytes(dir.File("L.evt"));
    ASSERT_GT(log.size(), kFirstRecord + kEventTypeOffset + 2);
    const auto type = static_cast<std::uint16_t>(
        static_cast<unsigned char>(log[kFirstRecord + kEventTypeOffset]) |
        static_cast<unsigned char>(log[kFirstRecord + kEventTypeOffset + 1]) << 8);
    EXPECT_EQ(type, c.type);
  }
}

// A log folder with blanks and a letter beyond ASCII, given with its trailing separator as an
// operator copies it: eventcreate makes the folder and writes the log into it.
TEST(EventCreateCommandLine, WritesIntoAFolderWithBlanksAndLettersBeyondAscii) {
  TemporaryDirectory dir;
  const std::string folder = dir.Path() + "/Program Files/Event Log \u00dc/";
  ProcessResult result =
      RunEventCreate({"--dir", folder, "--log", "System", "--source", "S", "--id", "7036"});
  EXPECT_EQ(result.ExitCode, 0) << result.Errors;
  EXPECT_EQ(result.Output, "");
  EXPECT_GT(ReadFileBytes(folder + "System.evt").size(), kFirstRecord);
}

}  // namespace
