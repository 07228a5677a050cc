// eventlog-check: reads EventLog's settings with EventLog's own code and tells the operator what
// EventLog will do with them: the value of each tag and the findings of the settings check
// (monitor/settings_lint.h), the environment, the log it finds, the carried state, the program
// folder, the gateway and the latest traces of pages. --service checks the Debian service as it
// will run. The parts of the check are the library in tools/check/; this is its entry.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "core/errors.h"
#include "core/watch_name.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/system.h"
#include "tools/arguments.h"
#include "tools/check/command_line.h"
#include "tools/check/environment_check.h"
#include "tools/check/findings.h"
#include "tools/check/log_list.h"
#include "tools/check/paths.h"
#include "tools/check/run_check.h"
#include "tools/check/watches.h"

#ifndef EVENTLOG_VERSION
#define EVENTLOG_VERSION "unknown"
#endif

namespace fs = std::filesystem;
using namespace check;

namespace {

void SetVariable(const std::string& name, const std::string& value) {
  std::string error;
  if (!platform::SetEnvironmentValue(name, value, error))
    std::fprintf(stderr, "eventlog-check: cannot set %s: %s\n", name.c_str(), error.c_str());
}

// The unit's own Environment= lines, which its environment files may change.
void ApplyUnitEnvironment(const Target& target) {
  if (target.Watch) SetVariable("EVENTLOG_WATCH", *target.Watch);
  SetVariable("EVENTLOG_METRICS_FILE",
              JoinPath(kServiceMetricsFolder,
                       target.Watch ? "eventlog-" + *target.Watch + ".prom" : "eventlog.prom"));
}

// What eventlog-service run --watch gives EventLog on top: the watch's name, its log entries'
// name unless one is set, and its daily log files in its own folder.
void ApplyWatchRunEnvironment(const Target& target) {
  SetVariable("EVENTLOG_WATCH", *target.Watch);
  const char* ident = std::getenv("EVENTLOG_LOG_IDENT");
  if (ident == nullptr) SetVariable("EVENTLOG_LOG_IDENT", "eventlog-" + *target.Watch);
  const char* logFile = std::getenv("EVENTLOG_LOG_FILE");
  if (logFile != nullptr)
    if (const auto moved = core::WatchLogFile(logFile, kServiceDirectory, target.Folder))
      SetVariable("EVENTLOG_LOG_FILE", *moved);
}

}  // namespace

int main(int argc, char** argv) {
  tools::ProgramArguments arguments(argc, argv);
  if (!arguments.Problem().empty()) {
    std::fprintf(stderr, "eventlog-check: %s\n", arguments.Problem().c_str());
    return kExitUsage;
  }
  argc = arguments.Count();
  argv = arguments.Values();
  Options options;
  if (const std::string error = ParseOptions(argc, argv, options); !error.empty()) {
    std::fprintf(stderr, "eventlog-check: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(kUsage, stdout);
    return kExitSound;
  }
  if (options.Version) {
    std::printf("eventlog-check %s\n", EVENTLOG_VERSION);
    return kExitSound;
  }
  if (options.AllWatches) {
    const int code = CheckAllWatches(options);
    std::fflush(stdout);
    return code;
  }
  Target target = TargetOf(options);
  if (target.Watch && !IsFolder(target.Folder)) {
    // Before the watch's first start: its start makes the folder in the nearest one there, so
    // that one is checked; its state is the watch's own, which does not exist yet.
    if (!target.StateFile) target.StateFile = JoinPath(target.Folder, kServiceStateName);
    target.MissingWatchFolder = target.Folder;
    target.Folder = target.ProgramDirectory =
        IsFolder(kServiceWatchesFolder) ? kServiceWatchesFolder : kServiceDirectory;
  }
  for (const std::string& folder : {target.Folder, target.ProgramDirectory})
    if (!IsFolder(folder)) {
      std::fprintf(
          stderr, "eventlog-check: no folder %s%s\n", folder.c_str(),
          target.Service ? " (is the package installed? --program-dir DIR names another)" : "");
      return kExitCannotRun;
    }
  // The environment file is read as systemd reads it, before the switch to the service's user.
  std::optional<AppliedEnvironment> environment, watchEnvironment;
  if (target.Service) ApplyUnitEnvironment(target);
  if (target.EnvironmentFile) environment = ApplyEnvironmentFile(*target.EnvironmentFile);
  if (target.WatchEnvironmentFile) {
    watchEnvironment = ApplyEnvironmentFile(*target.WatchEnvironmentFile);
    watchEnvironment->Optional = true;
  }
  if (target.Watch) ApplyWatchRunEnvironment(target);
  if (const std::string error = BecomeUser(target); !error.empty()) {
    std::fprintf(stderr, "eventlog-check: %s\n", error.c_str());
    return kExitCannotRun;
  }
  if (options.ListLogs) {
    const int code = ListLogs();
    std::fflush(stdout);
    return code;
  }
  if (target.Service) {
    // The service runs in its working folder; its page records land there.
    std::error_code error;
    fs::current_path(platform::PathOf(target.Folder), error);
    if (error) {
      std::fprintf(stderr, "eventlog-check: cannot enter %s as %s: %s\n", target.Folder.c_str(),
                   platform::CurrentUserName().c_str(), error.message().c_str());
      return kExitCannotRun;
    }
    const char* stateFile = std::getenv("EVENTLOG_STATE_FILE");
    if (!target.StateFile)
      target.StateFile = stateFile != nullptr && *stateFile != '\0'
                             ? Absolute(stateFile)
                             : JoinPath(target.Folder, kServiceStateName);
  }
  LoadRegionalSettings();
  try {
    const int code = RunCheck(target, environment, watchEnvironment);
    std::fflush(stdout);
    return code;
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::fprintf(stderr, "eventlog-check: %s (%s)\n", description.Message.c_str(),
                 description.ClassName.c_str());
    return kExitCannotRun;
  }
}
