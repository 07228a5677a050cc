// The command lines of the built pagegateway and eventcreate: --help on standard output with exit
// code 0, --version, and usage errors on standard error with exit code 2. pagegateway listens
// until it is stopped, so a run that would start it is ended by its time-out and fails the check.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

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
    SCOPED_TRACE(c.program + " " + ::testing::PrintToString(c.arguments));
    TemporaryDirectory dir;
    ProcessRun run;
    run.Executable = c.program;
    run.Arguments = c.arguments;
    run.WorkingDirectory = dir.Path();
    run.Environment["EVENTLOG_DIR"] = dir.Path();
    run.Timeout = std::chrono::milliseconds(5000);
    const ProcessResult result = RunProcess(run);
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(result.ExitCode, c.exitCode);
    EXPECT_EQ(result.Output.substr(0, c.outputStart.size()), c.outputStart);
    if (c.outputStart.empty()) {
      EXPECT_EQ(result.Output, "");
    }
    EXPECT_EQ(result.Errors, c.errors);
  }
}

}  // namespace
