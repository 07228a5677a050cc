// An environment file as systemd's EnvironmentFile= reads plain assignments: one KEY=VALUE a
// line; blank lines and lines that begin with "#" or ";" are comments; blanks around the key and
// around the value go; a value wholly in double or single quotes loses them (in double quotes a
// backslash takes the next character as it stands); a line ending in a backslash goes on in
// the next one. A line that is no assignment is kept as a problem, as systemd logs and skips it.
#pragma once

#include <string>
#include <vector>

namespace core {

struct EnvironmentAssignment {
  int Line = 0;  // where the assignment begins, from 1
  std::string Name;
  std::string Value;
};

struct EnvironmentLineProblem {
  int Line = 0;
  std::string Text;     // the line as written
  std::string Problem;  // "no '=' in the line", "'X Y' is not a variable name"
};

struct EnvironmentFile {
  std::vector<EnvironmentAssignment> Assignments;  // in the file's order; a later one wins
  std::vector<EnvironmentLineProblem> Problems;
};

EnvironmentFile ParseEnvironmentFile(const std::string& text);

}  // namespace core
