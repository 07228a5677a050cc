// What eventlog-service's steps share: the options, the files in the working folder, the
// failure a step ends with, and the whole-file read of the service's files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/files.h"

namespace service {

constexpr const char* kStateFileName = "LoggedAfter.state";
#ifdef _WIN32
constexpr const char* kProgramFileName = "EventLog.exe";
// Where the operator finds a sample of the settings, and where the service's environment is set.
constexpr const char* kSampleSettings = "the zip's EventLog.XML";
constexpr const char* kServiceEnvironment = "the machine's environment variables";
#else
constexpr const char* kProgramFileName = "EventLog";
constexpr const char* kSampleSettings = "/usr/share/doc/eventlog/EventLog.XML";
constexpr const char* kServiceEnvironment = "/etc/default/eventlog";
#endif
constexpr std::size_t kStateLimit = std::size_t{64} << 10;

struct Options {
  std::string Command;
  // The watch this service runs (eventlog@NAME, or the Windows service of the watch); empty for
  // the plain service.
  std::string Watch;
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
