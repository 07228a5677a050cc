// The command lines of the built tools: help in each of its spellings on standard output with
// exit code 0 and the exit codes at its end, --version, and usage errors on standard error with
// exit code 2. pagegateway listens until it is stopped, so a run that would start it is ended by
// its time-out and fails the check. On Windows the tools write their lines with CR LF, and
// eventcreate is not built there.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

// A text of "\n" lines as the programs write it on this system.
std::string Written(const std::string& text) {
#ifdef _WIN32
  std::string written;
  for (char c : text) written += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return written;
#else
  return text;
#endif
}

ProcessResult RunTool(const std::string& program, const std::vector<std::string>& arguments) {
  TemporaryDirectory dir;
  ProcessRun run;
  run.Executable = program;
  run.Arguments = arguments;
  run.WorkingDirectory = dir.Path();
  run.Environment["EVENTLOG_DIR"] = dir.Path();
  run.Timeout = std::chrono::milliseconds(20000);
  return RunProcess(run);
}

// Every tool that takes arguments, asked for help in each spelling and given a bad option: the
// exit code, the first line, and for help the exit codes as the text's last part.
TEST(ToolHelp, EverySpellingOfHelpAndABadOption) {
  struct Tool {
    std::string program;
    std::string name;
    std::string usage;    // the first line of the help
    std::string refusal;  // the first line on standard error for --bogus
  };
  std::vector<Tool> tools = {
      {EVENTLOG_CHECK_EXE, "eventlog-check", "usage: eventlog-check [options] [FOLDER]",
       "eventlog-check: unknown option --bogus"},
      {PAGEGATEWAY_EXE, "pagegateway", "usage: pagegateway [--port N] [--answer TEXT]",
       "pagegateway: unknown option --bogus"},
  };
  // The Linux-only tools; the Windows build defines their paths empty.
  if (!std::string(EVENTCREATE_EXE).empty())
    tools.push_back({EVENTCREATE_EXE, "eventcreate",
                     "usage: eventcreate [--dir DIR] --log NAME --source NAME --id N",
                     "eventcreate: unknown option --bogus"});
  if (!std::string(EVENTLOG_SERVICE_EXE).empty())
    tools.push_back({EVENTLOG_SERVICE_EXE, "eventlog-service",
                     "usage: eventlog-service prepare|run|finish [--dir DIR] [--settings FILE] "
                     "[--program FILE]",
                     "eventlog-service: unknown argument '--bogus'"});
  struct Ask {
    std::vector<std::string> arguments;
    int exitCode;
    bool help;  // on standard output; else the error and the usage on standard error
  };
  const Ask asks[] = {
      {{"--help"}, 0, true},   {{"-h"}, 0, true},       {{"/?"}, 0, true},
      {{"-?"}, 0, true},       {{"/help"}, 0, true},    {{"/HELP"}, 0, true},
      {{"--bogus"}, 2, false}, {{"-x", "/?"}, 0, true},  // help wins wherever it stands
  };
  for (const Tool& tool : tools) {
    for (const Ask& ask : asks) {
      SCOPED_TRACE(tool.name + " " + ::testing::PrintToString(ask.arguments));
      const ProcessResult result = RunTool(tool.program, ask.arguments);
      EXPECT_FALSE(result.Stopped);
      EXPECT_EQ(result.ExitCode, ask.exitCode);
      if (ask.help) {
        EXPECT_EQ(result.Output.substr(0, tool.usage.size() + Written("\n").size()),
                  Written(tool.usage + "\n"));
        EXPECT_EQ(result.Errors, "");
        // The exit codes end the text: "Exit codes" begins its last paragraph.
        const std::size_t codes = result.Output.rfind(Written("\n\nExit codes"));
        ASSERT_NE(codes, std::string::npos) << result.Output;
        EXPECT_EQ(result.Output.find(Written("\n\n"), codes + 1), std::string::npos)
            << result.Output.substr(codes);
        // Each code on a line of its own; 2 is bad arguments for every tool.
        const std::size_t two = result.Output.find(Written("\n  2  "), codes);
        ASSERT_NE(two, std::string::npos) << result.Output.substr(codes);
        EXPECT_NE(result.Output.find("bad arguments", two), std::string::npos)
            << result.Output.substr(codes);
      } else {
        EXPECT_EQ(result.Output, "");
        const std::string expected = Written(tool.refusal + "\n" + tool.usage + "\n");
        EXPECT_EQ(result.Errors.substr(0, expected.size()), expected);
      }
    }
  }
}

struct Case {
  std::string program;  // the executable
  std::vector<std::string> arguments;
  int exitCode;
  std::string outputStart;  // the first bytes of standard output
  std::string errors;       // standard error, whole
};

const std::string kGatewayUsage =
    "usage: pagegateway [--port N] [--answer TEXT]\n"
    "       pagegateway --help | --version\n";
const std::string kVersion = EVENTLOG_VERSION;

TEST(ToolCommandLine, HelpVersionAndUsageErrors) {
  const Case cases[] = {
      {PAGEGATEWAY_EXE, {"--help"}, 0, kGatewayUsage + "\nA loopback stand-in", ""},
      {PAGEGATEWAY_EXE, {"-h"}, 0, kGatewayUsage, ""},
      {PAGEGATEWAY_EXE, {"--port", "0", "--help"}, 0, kGatewayUsage, ""},
      // A value that reads like an option is still the option's value.
      {PAGEGATEWAY_EXE,
       {"--answer", "--help", "--bogus"},
       2,
       "",
       "pagegateway: unknown option --bogus\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE, {"--version"}, 0, "pagegateway " + kVersion + "\n", ""},
      {PAGEGATEWAY_EXE,
       {"--bogus"},
       2,
       "",
       "pagegateway: unknown option --bogus\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"8080"},
       2,
       "",
       "pagegateway: unexpected argument 8080 (every value follows its option)\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--port"},
       2,
       "",
       "pagegateway: missing value for --port\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--answer"},
       2,
       "",
       "pagegateway: missing value for --answer\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--port", "65536"},
       2,
       "",
       "pagegateway: bad port 65536: a number from 0 to 65535\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--port", ""},
       2,
       "",
       "pagegateway: bad port : a number from 0 to 65535\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--port", "-1"},
       2,
       "",
       "pagegateway: bad port -1: a number from 0 to 65535\n" + kGatewayUsage},
      {PAGEGATEWAY_EXE,
       {"--port", "99999999999999999999"},
       2,
       "",
       "pagegateway: bad port 99999999999999999999: a number from 0 to 65535\n" + kGatewayUsage},
      {EVENTCREATE_EXE, {"--version"}, 0, "eventcreate " + kVersion + "\n", ""},
      {EVENTCREATE_EXE, {"--log", "L", "--version"}, 0, "eventcreate " + kVersion + "\n", ""},
      {EVENTCREATE_EXE, {"--help"}, 0, "usage: eventcreate [--dir DIR]", ""},
  };
  for (const Case& c : cases) {
    if (c.program.empty()) continue;  // eventcreate on Windows
    SCOPED_TRACE(c.program + " " + ::testing::PrintToString(c.arguments));
    const ProcessResult result = RunTool(c.program, c.arguments);
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.ExitCode, c.exitCode);
    const std::string outputStart = Written(c.outputStart);
    EXPECT_EQ(result.Output.substr(0, outputStart.size()), outputStart);
    if (c.outputStart.empty()) {
      EXPECT_EQ(result.Output, "");
    }
    EXPECT_EQ(result.Errors, Written(c.errors));
  }
}

}  // namespace
