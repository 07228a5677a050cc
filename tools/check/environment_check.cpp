// The environment (environment_check.h).
#include "tools/check/environment_check.h"

#include "monitor/settings.h"
#include "monitor/settings_lint.h"
#include "platform/system.h"

namespace check {

namespace {

bool IsOwnVariable(const std::string& name) {
  for (const tEnvironmentVariable& variable : EnvironmentVariables())
    if (name == variable.Name) return true;
  return false;
}

void CheckEnvironmentFile(const std::optional<AppliedEnvironment>& applied, Findings& findings) {
  if (applied) {
    Print("The environment file " + applied->Path + ":");
    if (!applied->Exists && applied->Optional) {
      Print("  none: the watch runs with the shared environment");
    } else if (!applied->Exists) {
      Print("  none: the service runs with the environment systemd gives it");
      findings.Note(applied->Path +
                    " does not exist: EventLog runs with its built-in defaults (the gateway, the "
                    "log folder /var/log/eventlog)");
    } else if (applied->Failure) {
      findings.Fail(applied->Path + " cannot be read (" + *applied->Failure +
                    "): the check runs without it");
    } else {
      Print("  " + Plural(int(applied->Content.Assignments.size()), "assignment") +
            ", applied over the current environment for this check");
      for (const core::EnvironmentLineProblem& problem : applied->Content.Problems)
        findings.Warn(applied->Path + " line " + std::to_string(problem.Line) + " is no " +
                      "assignment (" + problem.Problem +
                      "), so systemd skips it: " + EscapedText(problem.Text));
      for (const core::EnvironmentAssignment& assignment : applied->Content.Assignments) {
        const bool ours =
            assignment.Name.rfind("EVENTLOG_", 0) == 0 || assignment.Name.rfind("PAGING_", 0) == 0;
        if (ours && !IsOwnVariable(assignment.Name))
          findings.Warn(applied->Path + " line " + std::to_string(assignment.Line) + ": " +
                        assignment.Name +
                        " is no variable EventLog or its service reads: check its spelling");
      }
    }
  }
}

}  // namespace

void CheckEnvironment(const std::optional<AppliedEnvironment>& applied, Findings& findings,
                      const std::optional<AppliedEnvironment>& watchFile) {
  CheckEnvironmentFile(applied, findings);
  CheckEnvironmentFile(watchFile, findings);
  const tEnvironmentLint lint = LintEnvironment();
  Print("The environment EventLog gets:");
  if (lint.Lines.empty()) Print("  none of its variables is set: EventLog's defaults hold");
  for (const std::string& line : lint.Lines) Print(line);
  findings.Add(lint.Findings);
}

AppliedEnvironment ApplyEnvironmentFile(const std::string& path) {
  AppliedEnvironment applied;
  applied.Path = path;
  const tFileContent file = ReadFileContent(path);
  applied.Exists = file.Exists;
  if (!file.Exists) return applied;
  if (file.Failure || !file.Opened) {
    applied.Failure = file.Failure ? file.Failure->Message : "this user cannot open it";
    return applied;
  }
  applied.Content = core::ParseEnvironmentFile(file.Bytes);
  for (const core::EnvironmentAssignment& assignment : applied.Content.Assignments) {
    std::string error;
    if (!platform::SetEnvironmentValue(assignment.Name, assignment.Value, error))
      applied.Content.Problems.push_back(
          {assignment.Line, assignment.Name + "=" + assignment.Value, error});
  }
  return applied;
}

}  // namespace check
