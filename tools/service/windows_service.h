// The Windows service: what runs on the service's thread once the Service Control Manager has
// started eventlog-service.exe. The install folder is the folder of the .exe and holds the
// operator's EventLog.XML and EventLog.exe; the working folder is its "service" folder, which
// holds the working copies of both (EventLog's page records and reports land beside its program),
// the delivery state LoggedAfter.state, EventLog's console output (EventLog.console.log) and the
// service's own log (eventlog-service.log), both rotated as rotating_log.h says.
#pragma once

#include <string>

#include "tools/service/step.h"

namespace service {

constexpr const char* kWorkingFolderName = "service";
// A watch NAME (eventlog-service.exe --watch NAME, the service EventLogPager-NAME) reads
// <folder>\NAME.XML and works in <folder>\watches\NAME\service.
constexpr const char* kWatchesFolderName = "watches";
constexpr const char* kConsoleLogName = "EventLog.console.log";
constexpr const char* kServiceLogName = "eventlog-service.log";
// How long a stop waits for EventLog to finish a page in flight before it is ended hard.
constexpr unsigned kStopWaitMilliseconds = 30000;

// The options of a service installed in the folder, for the watch or (empty) the plain service.
Options ServiceOptions(const std::string& installFolder, const std::string& watch = {});

// The watch the service runs, checked already; set before the service is dispatched.
void SetServiceWatch(const std::string& watch);

// Runs the service named name to its end and reports every state to the manager.
void RunWindowsService(const std::string& name);

}  // namespace service
