// The command lines of the tools: one walk over the arguments against the table of options a
// tool knows. An option is known by its exact name. One that takes a value takes the next
// argument, whatever it reads ("--answer --help" answers "--help"), or the text after its name
// and "=" in the same argument ("--port=8080"). Every other argument is an operand, in its place;
// each tool says itself what an operand that starts with "-" is, so that each keeps its messages.
// Help is asked the same way of every tool, whatever its table: "--help" and "-h", and as Windows
// programs are asked, "/?", "-?" and "/help" (in any letter case); each is the option "--help".
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

struct OptionSpec {
  std::string_view Name;  // "--port", "--version"
  bool TakesValue = false;
};

enum class ArgumentKind {
  Option,        // a known option: Name, and Value when it takes one
  Operand,       // anything else: Value is the argument as given
  MissingValue,  // the last argument is an option that takes a value: Name
};

struct Argument {
  ArgumentKind Kind = ArgumentKind::Operand;
  std::string Name;
  std::string Value;
};

// The program's own arguments as the walk takes them: main's argc and argv read again through
// platform::ProgramArguments, so that on Windows no character is silently replaced by a similar
// one. A tool refuses to run when Problem() says something.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  ProgramArguments(const ProgramArguments&) = delete;
  ProgramArguments& operator=(const ProgramArguments&) = delete;
  int Count() const { return static_cast<int>(pointers_.size()) - 1; }
  char** Values() { return pointers_.data(); }
  // Empty, or what is wrong and what to do: an argument that holds a character the system's code
  // page lacks.
  const std::string& Problem() const { return problem_; }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;  // into texts_, ended by a null pointer as argv is
  std::string problem_;
};

// The arguments after the program's name, in their order; a missing value can only be the last.
std::vector<Argument> ReadArguments(int argc, const char* const* argv,
                                    std::span<const OptionSpec> options);

// Whether an argument is one of the spellings of help above.
bool IsHelpSpelling(std::string_view text);

// What eventcreate and pagegateway answer to an argument that is not a known option with its
// value ("missing value for --port", "unknown option -x", "unexpected argument x (...)"); empty
// for a known option.
std::string UsualArgumentError(const Argument& argument);

}  // namespace tools
