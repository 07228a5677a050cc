// The environment: the environment file applied before the check (as systemd reads
// EnvironmentFile=) and EventLog's own variables as EventLog will see them.
#pragma once

#include <optional>
#include <string>

#include "core/environment_file.h"
#include "tools/check/findings.h"

namespace check {

// The environment file as it was read and applied, for the report.
struct AppliedEnvironment {
  std::string Path;
  bool Exists = false;
  std::optional<std::string> Failure;
  core::EnvironmentFile Content;
  bool Optional = false;  // a watch's own file, which may be absent
};

// Reads the environment file and applies its assignments to this process's environment.
AppliedEnvironment ApplyEnvironmentFile(const std::string& path);

// Prints the environment file (and a watch's own after it) and EventLog's variables with their
// findings.
void CheckEnvironment(const std::optional<AppliedEnvironment>& applied, Findings& findings,
                      const std::optional<AppliedEnvironment>& watchFile = std::nullopt);

}  // namespace check
