// The walk over a tool's command line (tools/arguments.h): known options with and without
// values, a value given after "=", a value that reads like an option, a missing value, and
// everything else left as an operand in its place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/arguments.h"

namespace {

constexpr tools::OptionSpec kOptions[] = {{"--port", true}, {"--answer", true}};

bool TakesValue(const std::string& name) {
  for (const tools::OptionSpec& option : kOptions)
    if (option.Name == name) return option.TakesValue;
  return false;
}

// Each argument as "option NAME=VALUE", "flag NAME", "operand TEXT" or "missing NAME".
std::vector<std::string> Walk(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "tool");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::vector<std::string> shown;
  for (const tools::Argument& argument :
       tools::ReadArguments(int(argv.size()), argv.data(), kOptions)) {
    switch (argument.Kind) {
      case tools::ArgumentKind::Option:
        shown.push_back(TakesValue(argument.Name) ? "option " + argument.Name + "=" + argument.Value
                                                  : "flag " + argument.Name + argument.Value);
        break;
      case tools::ArgumentKind::Operand:
        shown.push_back("operand " + argument.Value);
        break;
      case tools::ArgumentKind::MissingValue:
        shown.push_back("missing " + argument.Name);
        break;
    }
  }
  return shown;
}

TEST(ToolArguments, WalksTheCommandLineAgainstTheTable) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> walked;
  };
  const Case cases[] = {
      {{}, {}},
      {{"--port", "8080"}, {"option --port=8080"}},
      {{"--port=8080"}, {"option --port=8080"}},
      {{"--answer=a=b"}, {"option --answer=a=b"}},
      {{"--answer="}, {"option --answer="}},
      {{"--answer", ""}, {"option --answer="}},
      // A value that reads like an option is the option's value.
      {{"--answer", "--help", "-h"}, {"option --answer=--help", "flag --help"}},
      {{"--port"}, {"missing --port"}},
      {{"-h", "--port"}, {"flag --help", "missing --port"}},
      // Every spelling of help is the option --help, whatever the tool's table holds.
      {{"/?"}, {"flag --help"}},
      {{"-?", "/help", "/Help", "--help"},
       {"flag --help", "flag --help", "flag --help", "flag --help"}},
      {{"--port", "/?"}, {"option --port=/?"}},
      {{"/?x", "/h", "?", "--Help"}, {"operand /?x", "operand /h", "operand ?", "operand --Help"}},
      {{"--help", "folder"}, {"flag --help", "operand folder"}},
      // Unknown options stay operands in their place; the tool names them.
      {{"--bogus", "--port", "1"}, {"operand --bogus", "option --port=1"}},
      {{"--help=x"}, {"operand --help=x"}},
      {{"--por=1"}, {"operand --por=1"}},
      {{"-"}, {"operand -"}},
      {{"--PORT", "1"}, {"operand --PORT", "operand 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    EXPECT_EQ(Walk(c.arguments), c.walked);
  }
}

}  // namespace
