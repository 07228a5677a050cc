// The settings file (settings_check.h).
#include "tools/check/settings_check.h"

#include <filesystem>
#include <vector>

#include "monitor/settings_lint.h"
#include "platform/files.h"

namespace check {

namespace fs = std::filesystem;

void ExplainMissingSettings(const std::string& path, Findings& findings) {
  const fs::path file = platform::PathOf(path);
  const std::string folder = file.has_parent_path() ? platform::PathText(file.parent_path()) : ".";
  const std::string fileName = platform::PathText(file.filename());
  std::vector<std::string> names;
  platform::FindFileNames(path, names);
  std::string explanation;
  for (const auto& name : names)
    explanation += name == fileName
                       ? "; its last-write time lies outside the years 1980 to 2107, so EventLog "
                         "does not see it"
                       : "; there is " + name + ", but EventLog looks for " + fileName +
                             " in exactly this letter case";
  findings.Warn("no " + fileName + " in " + folder + explanation +
                ": EventLog will ask its three questions (Logfile, Event ID, Source) on the "
                "console and run one cycle; with no one to answer, it watches Application for "
                "any event");
}

std::optional<tEventSearchRecord> CheckSettings(const Target& target, Findings& findings) {
  const std::string& path = target.SettingsFile;
  const tFileContent file = ReadFileContent(path);
  if (!file.Exists) {
    if (!target.Service) {
      ExplainMissingSettings(path, findings);
    } else {
      findings.Fail(path +
                    " does not exist: the service does not start without it; restore it (a "
                    "sample is /usr/share/doc/eventlog/EventLog.XML)");
    }
    return std::nullopt;
  }
  Print("The settings in " + path + ":");
  if (file.Failure || !file.Opened) {
    findings.Fail(path + " cannot be read: " +
                  (file.Failure ? file.Failure->Message + " (" + file.Failure->ClassName + ")"
                                : std::string("this user cannot open it")) +
                  ": EventLog takes every setting as missing and watches Application for any "
                  "event");
    return std::nullopt;
  }
  const tSettingsLint lint = LintSettingsContent(file.Bytes);
  for (const std::string& line : lint.TagLines) Print(line);
  findings.Add(lint.Findings);
  return lint.Values;
}

}  // namespace check
