// Environment files read as systemd's EnvironmentFile= reads them: the assignments and the lines
// it skips.
#include "core/environment_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace core {
void PrintTo(const EnvironmentAssignment& assignment, std::ostream* out) {
  *out << assignment.Line << ": " << assignment.Name << "=[" << assignment.Value << "]";
}
bool operator==(const EnvironmentAssignment& a, const EnvironmentAssignment& b) {
  return a.Line == b.Line && a.Name == b.Name && a.Value == b.Value;
}
}  // namespace core

namespace {

TEST(EnvironmentFile, ReadsAssignmentsAsSystemdDoes) {
  using core::EnvironmentAssignment;
  struct Case {
    std::string text;
    std::vector<EnvironmentAssignment> assignments;
    std::vector<std::string> problems;  // "line: problem"
  } cases[] = {
      {"A=1\n", {{1, "A", "1"}}, {}},
      {"# comment\n; comment\n\n  B =  two words  \n", {{4, "B", "two words"}}, {}},
      {"C=\"quoted \\\" value\"\nD='single \\ quoted'\n",
       {{1, "C", "quoted \" value"}, {2, "D", "single \\ quoted"}},
       {}},
      {"E=\"unclosed\n", {{1, "E", "\"unclosed"}}, {}},
      {"F=1\r\nG=\r\n", {{1, "F", "1"}, {2, "G", ""}}, {}},
      {"H=a\\\nb\nI=2", {{1, "H", "ab"}, {3, "I", "2"}}, {}},
      {"J=a\\\n# dropped\nb\n", {{1, "J", "ab"}}, {}},
      {"no assignment\n1X=2\nK L=3\n",
       {},
       {"1: no '=' in the line", "2: '1X' is not a variable name",
        "3: 'K L' is not a variable name"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const core::EnvironmentFile file = core::ParseEnvironmentFile(c.text);
    EXPECT_EQ(file.Assignments, c.assignments);
    std::vector<std::string> problems;
    for (const auto& problem : file.Problems)
      problems.push_back(std::to_string(problem.Line) + ": " + problem.Problem);
    EXPECT_EQ(problems, c.problems);
  }
}

}  // namespace
