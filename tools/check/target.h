// What the check looks at, once the mode and the options are applied.
#pragma once

#include <optional>
#include <string>

namespace check {

struct Target {
  bool Service = false;
  std::string Folder;  // where EventLog runs: page records and Exception.txt
  std::string SettingsFile;
  std::string ProgramDirectory;
  std::optional<std::string> EnvironmentFile;
  std::optional<std::string> Watch;                 // the watch eventlog@NAME, with --service
  std::optional<std::string> WatchEnvironmentFile;  // its own, read after EnvironmentFile
  std::optional<std::string> MissingWatchFolder;    // not made yet: Folder is where it will be
  std::optional<std::string> StateFile;
  std::optional<std::string> User;  // the user to check as, when this process can switch
  bool Probe = false;
  bool Page = false;
};

}  // namespace check
