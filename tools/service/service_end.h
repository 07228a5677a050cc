// How the Windows service ends, told to the Service Control Manager: a stop that was asked for
// ends with 0; a settings error (the start step's findings, or EventLog's error line with exit
// code 1), a program that cannot be started and the service's own failure end with a service-
// specific exit code; EventLog ending by itself otherwise ends with ERROR_PROCESS_ABORTED. Every
// non-zero end lets the manager's recovery actions start the service again.
#pragma once

#include <cstdint>
#include <string>

namespace service {

constexpr std::uint32_t kErrorServiceSpecific = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
constexpr std::uint32_t kErrorProcessAborted = 1067;   // ERROR_PROCESS_ABORTED

// The service-specific exit codes (sc query shows them as SERVICE_EXIT_CODE).
constexpr std::uint32_t kExitSettings = 1;
constexpr std::uint32_t kExitCannotStart = 2;
constexpr std::uint32_t kExitServiceFailure = 3;

enum class EndCause {
  StopRequested,   // the manager asked (stop or shutdown) and EventLog ended
  SettingsError,   // the start step refused the settings, or EventLog ended on its error line
  CannotStart,     // EventLog.exe could not be started
  EndedByItself,   // EventLog ended without being asked, not on a settings error
  ServiceFailure,  // the service itself failed
};

struct ServiceEnd {
  std::uint32_t Win32ExitCode = 0;
  std::uint32_t ServiceExitCode = 0;
};

ServiceEnd EndFor(EndCause cause);

// Why EventLog ended: asked to stop, its error line as the last line with exit code 1, or by
// itself.
EndCause CauseOfProgramEnd(bool stopRequested, std::uint32_t exitCode, bool endedOnErrorLine);

// The service's line about the end, naming EventLog's exit code and what the manager does next.
std::string EndText(EndCause cause, std::uint32_t exitCode);

}  // namespace service
