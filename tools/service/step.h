// What eventlog-service's steps share: the options, the files in the working folder, the
// failure a step ends with, and the whole-file read of the service's files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/files.h"

namespace service {

constexpr const char* kStateFileName = "LoggedAfter.state";
constexpr std::size_t kStateLimit = std::size_t{64} << 10;

struct Options {
  std::string Command;
  std::string Directory = "/var/lib/eventlog";
  std::string Settings = "/etc/eventlog/EventLog.XML";
  std::string Program;
};

struct Paths {
  std::string WorkingSettings;
  std::string WorkingProgram;
  std::string State;
};

Paths PathsIn(const std::string& directory);

// A failure of a step that the operator must mend; the message names the file and the fix.
struct StepFailure {
  std::string Message;
};

// The EventLog beside this tool.
std::string ProgramBesideThisTool();

std::optional<std::string> EnvironmentValue(const char* name);

// How a step's read of a whole file ended: Missing when there is no entry of that name; Refused
// with the problem, naming the file, in error.
enum class Reading { Read, Missing, Refused };

Reading ReadWholeFile(const std::string& path, std::size_t limit, platform::Links links,
                      std::string& bytes, std::string& error);

}  // namespace service
