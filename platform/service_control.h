// Running as a service of the Service Control Manager and supervising one program under it:
// connecting to the manager, reporting the service's state with wait hints, receiving its requests
// to stop (stop, shutdown), setting the service's own display name, description and recovery
// actions, and starting the program with its standard output and error on pipes, in a job that
// ends it when the service goes, asking it to stop through an event it takes as Ctrl-Break, and
// ending it hard.
// Windows only: the Windows service (eventlog-service.exe); platform/win32/service_control.cpp.
// Linux's service is supervised by systemd (platform/supervision.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/service_common.h"

namespace platform {

// How the connection to the Service Control Manager ended.
enum class DispatchOutcome { Ran, NotAService, Failed };

// Connects this process to the Service Control Manager and runs body on the service's thread
// with the name the manager started it under; returns once the service has stopped. NotAService
// when the process was not started by the manager (run from a console); Failed with the system's
// error code otherwise.
DispatchOutcome RunAsService(void (*body)(const std::string& name), std::uint32_t& errorCode);

enum class ServiceState { StartPending, Running, StopPending, Stopped };

// Reports the service's state; a pending state counts its checkpoint up and promises the next
// report within waitHint milliseconds. Stopped carries the exit codes: win32ExitCode 1066
// (ERROR_SERVICE_SPECIFIC_ERROR) makes serviceExitCode the one the manager shows.
void ReportServiceState(ServiceState state, std::uint32_t waitHint = 0,
                        std::uint32_t win32ExitCode = 0, std::uint32_t serviceExitCode = 0);

// Whether the manager asked the service to stop (a stop request or the system's shutdown).
bool StopRequested();

// The service's own entry as a bare registration leaves it incomplete: the display name, the
// description, and the recovery actions (restart after each delay in turn, the last one for every
// later failure; the failure count reset after resetSeconds), taken also when the service stops
// with a non-zero exit code. Each part that cannot be set is said in problems; true when all were.
struct ServiceConfiguration {
  std::string DisplayName;
  std::string Description;
  std::vector<std::uint32_t> RestartDelays;  // milliseconds
  std::uint32_t ResetSeconds = 0;
};
bool ConfigureService(const std::string& name, const ServiceConfiguration& configuration,
                      std::vector<std::string>& problems);

// A started program: its process, the job that holds it, and the reading ends of its standard
// output and standard error (kernel handles as numbers; -1 when closed).
struct ChildProgram {
  std::intptr_t Process = -1;
  std::intptr_t Job = -1;
  std::intptr_t Output = -1;
  std::intptr_t Errors = -1;
  std::intptr_t StopEvent = -1;
  std::uint32_t Id = 0;
};

// Starts the program in the directory with standard input from NUL, standard output and error on
// pipes of their own, in a process group of its own on a console of its own without a window,
// inside a job that ends it when this process ends, with this process's environment and the
// settings on top (which name the stop event to the program: platform/signals.h). The stop event
// is made with the name given, which should hold a secret. False with the system's error code.
bool LaunchChild(const std::string& program, const std::string& directory,
                 const std::vector<EnvironmentSetting>& environment,
                 const std::string& stopEventName, ChildProgram& child, std::uint32_t& errorCode);

// Reads up to size bytes of one of the child's streams, waiting for them; 0 at its end, -1 on
// failure (errorCode set).
long ReadChildStream(std::intptr_t stream, char* buffer, std::size_t size,
                     std::uint32_t& errorCode);

// Waits up to the time for the child to end or, until one came, a request to stop; true when the
// child ended.
bool WaitForChildEnd(const ChildProgram& child, std::uint32_t milliseconds);

// Signals the child's stop event, which it takes as Ctrl-Break; false with the system's error
// code.
bool AskChildToStop(const ChildProgram& child, std::uint32_t& errorCode);

// Ends the child and everything it started at once.
void EndChildHard(const ChildProgram& child);

// The child's exit code once it has ended.
std::uint32_t ChildExitCode(const ChildProgram& child);

// Closes what is left of the child's handles (a stream still read by another thread stays open
// until that thread closes it with CloseChildStream).
void CloseChild(ChildProgram& child);
void CloseChildStream(std::intptr_t& stream);

}  // namespace platform
