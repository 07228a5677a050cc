// How the Windows service ends (service_end.h).
#include "tools/service/service_end.h"

#include <cstdio>

namespace service {

ServiceEnd EndFor(EndCause cause) {
  switch (cause) {
    case EndCause::StopRequested:
      return {0, 0};
    case EndCause::SettingsError:
      return {kErrorServiceSpecific, kExitSettings};
    case EndCause::CannotStart:
      return {kErrorServiceSpecific, kExitCannotStart};
    case EndCause::EndedByItself:
      return {kErrorProcessAborted, 0};
    case EndCause::ServiceFailure:
      break;
  }
  return {kErrorServiceSpecific, kExitServiceFailure};
}

EndCause CauseOfProgramEnd(bool stopRequested, std::uint32_t exitCode, bool endedOnErrorLine) {
  if (stopRequested) return EndCause::StopRequested;
  if (exitCode == 1 && endedOnErrorLine) return EndCause::SettingsError;
  return EndCause::EndedByItself;
}

std::string EndText(EndCause cause, std::uint32_t exitCode) {
  char code[16];
  // Exit codes of Windows' own (0xC000013A after Ctrl-Break) read best in hexadecimal.
  std::snprintf(code, sizeof code, exitCode > 0xFFFF ? "0x%08X" : "%u", exitCode);
  switch (cause) {
    case EndCause::StopRequested:
      return std::string("EventLog stopped as asked (exit code ") + code + "); the service stops";
    case EndCause::SettingsError:
      return std::string("EventLog ended on the error above (exit code ") + code +
             "): mend EventLog.XML; the service stops with service-specific exit code 1 and its "
             "recovery actions try again";
    case EndCause::EndedByItself:
      return std::string("EventLog ended without being asked (exit code ") + code +
             "; a Sleep of 0 runs one cycle only): the service stops with exit code 1067 and its "
             "recovery actions start it again";
    case EndCause::CannotStart:
      return "EventLog could not be started: the service stops with service-specific exit code 2";
    case EndCause::ServiceFailure:
      break;
  }
  return "the service failed: it stops with service-specific exit code 3";
}

}  // namespace service
