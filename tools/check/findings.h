// eventlog-check's output: each line on standard output, and the findings counted by
// severity, printed where they are found; the exit code follows from the worst of them.
#pragma once

#include <string>
#include <vector>

#include "monitor/settings_lint.h"

namespace check {

constexpr int kExitSound = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;

void Print(const std::string& line);

// Counts what was found and prints it where it was found.
struct Findings {
  int Warnings = 0;
  int Errors = 0;
  void Add(const tFinding& finding) {
    if (finding.Severity == tSeverity::Warning) ++Warnings;
    if (finding.Severity == tSeverity::Error) ++Errors;
    Print(std::string(SeverityWord(finding.Severity)) + ": " + finding.Text);
  }
  void Add(const std::vector<tFinding>& findings) {
    for (const tFinding& finding : findings) Add(finding);
  }
  void Note(const std::string& text) { Add({tSeverity::Note, text}); }
  void Warn(const std::string& text) { Add({tSeverity::Warning, text}); }
  void Fail(const std::string& text) { Add({tSeverity::Error, text}); }
  int ExitCode() const {
    return Errors > 0 ? kExitErrors : Warnings > 0 ? kExitWarnings : kExitSound;
  }
};

std::string Plural(int count, const std::string& noun);

}  // namespace check
