// eventlog-service.exe: EventLog as a Windows service. Registered with the Service Control Manager
// (sc create EventLogPager binPath= "<folder>\eventlog-service.exe"), it carries LoggedAfter from
// EventLog's delivery state into a working copy of the settings, runs EventLog in the working
// folder with its console output in a rotating file and its log entries relayed into the
// service's own log, passes a stop on so that a page in flight finishes, and makes the state
// durable once EventLog has ended. The service is the library in tools/service/; this is its entry.
#include <cstdio>
#include <string>

#include "core/errors.h"
#include "core/watch_name.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/service_control.h"
#include "platform/system.h"
#include "tools/arguments.h"
#include "tools/service/application_log.h"
#include "tools/service/windows_service.h"

namespace {

// --register-source and --unregister-source, which the installer runs as administrator.
int ChangeSourceRegistration(bool registering) {
  try {
    if (registering) {
      service::RegisterApplicationLogSource(platform::ExecutablePath());
      std::printf("eventlog-service: the Application log source %s names %s\n",
                  service::kApplicationLogSource, platform::ExecutablePath().c_str());
    } else {
      service::UnregisterApplicationLogSource();
      std::printf("eventlog-service: the Application log source %s is removed\n",
                  service::kApplicationLogSource);
    }
    return 0;
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::fprintf(stderr,
                 "eventlog-service: cannot %s the Application log source %s: %s (%s). Run it "
                 "as administrator\n",
                 registering ? "register" : "remove", service::kApplicationLogSource,
                 description.Message.c_str(), description.ClassName.c_str());
    return 1;
  }
}

const char kUsage[] =
    "usage: eventlog-service.exe            (started by the Service Control Manager)\n"
    "       eventlog-service.exe --watch NAME   (the service of one watch, EventLogPager-NAME)\n"
    "       eventlog-service.exe --register-source | --unregister-source\n"
    "       eventlog-service.exe --help | --version\n"
    "\n"
    "Runs EventLog as the Windows service EventLogPager. Register it once, as administrator\n"
    "(install.ps1 does this and more):\n"
    "  sc.exe create EventLogPager binPath= \"<folder>\\eventlog-service.exe\" start= auto\n"
    "  sc.exe start EventLogPager\n"
    "The folder holds EventLog.exe and the settings EventLog.XML. At each start the service\n"
    "checks the settings, copies them and EventLog.exe into <folder>\\service with LoggedAfter\n"
    "carried forward from <folder>\\service\\LoggedAfter.state, and runs EventLog there. "
    "EventLog's\n"
    "output goes to service\\EventLog.console.log, the service's own lines and the page outcomes\n"
    "to service\\eventlog-service.log (each rotated at 1 MiB, three old files kept). A stop lets "
    "a\n"
    "page in flight finish (at most 30 s). The service sets its display name, description and\n"
    "recovery actions (restart after 1, 1 and 5 minutes) itself when it may.\n"
    "Page outcomes and the service's own events go to the Application log under the source\n"
    "EventLogPager; --register-source (as administrator; install.ps1 does it) registers the\n"
    "source with this executable's message table, --unregister-source removes it.\n"
    "With --watch NAME (install.ps1 -Watch NAME) the service runs one of several watches: its\n"
    "settings are <folder>\\NAME.XML, its working folder <folder>\\watches\\NAME\\service, and\n"
    "EventLog gets EVENTLOG_WATCH=NAME. NAME is 1 to 64 letters, digits, '-' or '_', not "
    "EventLog.\n"
    "\n"
    "Exit codes (from a console; under the manager, sc query shows the service's):\n"
    "  0  --help, --version, or the source was registered or removed\n"
    "  1  the Service Control Manager could not be reached, the source could not be\n"
    "     registered or removed, or NAME is no watch name\n"
    "  2  bad arguments, or started from a console instead of by the Service Control Manager\n"
    "Service-specific exit codes: 1 settings error, 2 EventLog.exe cannot be started, 3 the\n"
    "service failed; 1067 when EventLog ended without being asked.\n";

}  // namespace

int main(int argc, char** argv) {
  tools::ProgramArguments arguments(argc, argv);
  static constexpr tools::OptionSpec kOptions[] = {
      {"--help"}, {"--version"}, {"--register-source"}, {"--unregister-source"}, {"--watch", true}};
  for (const tools::Argument& argument :
       tools::ReadArguments(arguments.Count(), arguments.Values(), kOptions)) {
    if (argument.Kind == tools::ArgumentKind::Option && argument.Name == "--watch") {
      if (const std::string problem = core::WatchNameProblem(argument.Value); !problem.empty()) {
        std::fprintf(stderr, "eventlog-service: %s\n", problem.c_str());
        return 1;
      }
      service::SetServiceWatch(argument.Value);
      continue;
    }
    if (argument.Kind == tools::ArgumentKind::Option && argument.Name == "--version") {
      std::fputs("eventlog-service " EVENTLOG_VERSION "\n", stdout);
      return 0;
    }
    if (argument.Kind == tools::ArgumentKind::Option && argument.Name.ends_with("register-source"))
      return ChangeSourceRegistration(argument.Name == "--register-source");
    if (argument.Kind == tools::ArgumentKind::Option) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "eventlog-service: %s\n\n%s", tools::UsualArgumentError(argument).c_str(),
                 kUsage);
    return 2;
  }
  // Dates are read and written as EventLog reads and writes them: the same regional settings.
  LoadRegionalSettings();
  std::uint32_t errorCode = 0;
  switch (platform::RunAsService(service::RunWindowsService, errorCode)) {
    case platform::DispatchOutcome::Ran:
      return 0;
    case platform::DispatchOutcome::NotAService:
      std::fprintf(stderr,
                   "eventlog-service: this is a Windows service and runs only when the Service "
                   "Control Manager starts it. Register it as administrator with\n"
                   "  sc.exe create EventLogPager binPath= \"%s\" start= auto\n"
                   "and start it with: sc.exe start EventLogPager (or run install.ps1).\n",
                   platform::ExecutablePath().c_str());
      return 2;
    case platform::DispatchOutcome::Failed:
      break;
  }
  std::fprintf(stderr, "eventlog-service: cannot reach the Service Control Manager: %s\n",
               platform::SystemErrorText(errorCode).c_str());
  return 1;
}
