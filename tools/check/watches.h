// The services of one machine: the plain service and its watches (eventlog@NAME), each checked
// in a run of eventlog-check of its own, and the files that two of them would both write.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/check/command_line.h"

namespace check {

// One service as systemd will run it: its unit, its folder and the files its environment names.
struct ServiceFiles {
  std::string Unit;                  // eventlog.service or eventlog@NAME.service
  std::optional<std::string> Watch;  // the watch's name; none for the plain service
  std::string Folder;
  std::string LogFile;      // the daily log files' base name; empty: none
  std::string MetricsFile;  // the liveness file; empty: none
};

// The service's files from its unit's defaults and its environment files (as systemd reads
// them: later assignments win), the way eventlog-service's run step places them.
ServiceFiles FilesOf(const std::optional<std::string>& watch,
                     const std::vector<std::string>& environmentFiles);

// "error: ..." texts for every file that two of the services would both write.
std::vector<std::string> SharedFiles(const std::vector<ServiceFiles>& services);

// --service --all-watches: every service's block and the shared files; the worst exit code.
int CheckAllWatches(const Options& options);

}  // namespace check
