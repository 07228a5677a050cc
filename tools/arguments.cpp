// The command lines of the tools (arguments.h).
#include "tools/arguments.h"

#include "core/ascii.h"
#include "platform/system.h"

namespace tools {

namespace {

const OptionSpec* Known(std::span<const OptionSpec> options, std::string_view name) {
  for (const OptionSpec& option : options)
    if (option.Name == name) return &option;
  return nullptr;
}

}  // namespace

ProgramArguments::ProgramArguments(int argc, char** argv) {
  std::vector<std::string> lost;
  texts_ = platform::ProgramArguments(argc, argv, lost);
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
  if (!lost.empty())
    problem_ = "the argument \"" + lost.front() +
               "\" holds a character that the system's code page lacks (shown as ?), and the "
               "tools take names only in that code page: rename the folder or file, or give "
               "its short name (dir /x shows it)";
}

bool IsHelpSpelling(std::string_view text) {
  return text == "--help" || text == "-h" || text == "/?" || text == "-?" ||
         core::AsciiLowered(text) == "/help";
}

std::vector<Argument> ReadArguments(int argc, const char* const* argv,
                                    std::span<const OptionSpec> options) {
  std::vector<Argument> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view text = argv[i];
    if (IsHelpSpelling(text)) {
      arguments.push_back({ArgumentKind::Option, "--help", {}});
      continue;
    }
    if (const OptionSpec* option = Known(options, text)) {
      if (!option->TakesValue) {
        arguments.push_back({ArgumentKind::Option, std::string(text), {}});
      } else if (i + 1 < argc) {
        arguments.push_back({ArgumentKind::Option, std::string(text), argv[++i]});
      } else {
        arguments.push_back({ArgumentKind::MissingValue, std::string(text), {}});
      }
      continue;
    }
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos) {
      const OptionSpec* option = Known(options, text.substr(0, equals));
      if (option != nullptr && option->TakesValue) {
        arguments.push_back({ArgumentKind::Option, std::string(option->Name),
                             std::string(text.substr(equals + 1))});
        continue;
      }
    }
    arguments.push_back({ArgumentKind::Operand, {}, std::string(text)});
  }
  return arguments;
}

std::string UsualArgumentError(const Argument& argument) {
  if (argument.Kind == ArgumentKind::MissingValue) return "missing value for " + argument.Name;
  if (argument.Kind == ArgumentKind::Operand) {
    const std::string& text = argument.Value;
    if (text.substr(0, 1) == "-") return "unknown option " + text;
    return "unexpected argument " + text + " (every value follows its option)";
  }
  return {};
}

}  // namespace tools
