// EventLog: watches one event log for a chosen event and pages when a new occurrence turns up.
#include <exception>
#include <string>

#include "core/errors.h"
#include "core/regional.h"
#include "core/startup_report.h"
#include "kit/logsettings.h"
#include "monitor/monitor.h"
#include "platform/console.h"
#include "platform/locale.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/versionprobe.h"

namespace {

std::string ExecutableFileName() {
  const std::string path = platform::ExecutablePath();
  std::size_t start = path.size();
  while (start > 0 && !platform::IsPathSeparator(path[start - 1])) --start;
  return path.substr(start);
}

// A start-up failure ends the program before the monitor's own failure handling exists.
int ReportStartupFailure(const std::exception& failure) {
  const FailureDescription description = DescribeFailure(failure);
  const auto probe = reinterpret_cast<const void*>(&ProbeWindowsVersion);
  ErrorWrite(StartupFailureReport(description.ClassName, ExecutableFileName(),
                                  platform::ImageOffset(probe), description.Message));
  return 1;
}

}  // namespace

int main() {
  LoadRegionalSettings();
  try {
    ProbeWindowsVersion();
  } catch (const std::exception& failure) {
    return ReportStartupFailure(failure);
  }
  // Under the Windows service a stop comes as an event (opt-in through the environment).
  platform::WatchStopEvent();
  // The kit's log settings come from the environment (all opt-in); a value that does not read ends
  // the monitor on its error line.
  return RunMonitor(ReadLogSettingsFromEnvironment);
}
