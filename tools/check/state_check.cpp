// The carried state (state_check.h).
#include "tools/check/state_check.h"

#include <optional>

#include "monitor/delivery_state.h"
#include "monitor/settings.h"

namespace check {

TDateTime CheckState(const std::string& path, TDateTime configured, Findings& findings) {
  Print("The carried state " + path + ":");
  const tFileContent file = ReadFileContent(path);
  if (!file.Exists) {
    Print("  none yet");
    findings.Note(path +
                  " does not exist yet: the next start goes by the settings' LoggedAfter alone");
    return configured;
  }
  if (file.Failure || !file.Opened) {
    findings.Warn(path + " cannot be read: " +
                  (file.Failure ? file.Failure->Message : std::string("this user cannot open it")) +
                  ": the service leaves it out and may report the last event again");
    return configured;
  }
  const std::optional<tDeliveryState> state = ParseDeliveryState(file.Bytes);
  if (!state) {
    findings.Warn(path +
                  " holds no state EventLog wrote: the service leaves it out and may report the "
                  "last event again; delete it to start afresh");
    return configured;
  }
  TDateTime effective = configured;
  if (state->LoggedAfter) {
    Print("  LoggedAfter " + FullYearDateTimeText(*state->LoggedAfter) +
          " (carried from the last finished report)");
    if (*state->LoggedAfter > effective) effective = *state->LoggedAfter;
  } else {
    Print("  no finished report yet");
  }
  if (state->Pending)
    Print("  pending: the record of " + FullYearDateTimeText(*state->Pending) +
          " was reported, but its page attempt had not ended: the next start reports it again");
  Print("  the next start reports events generated after " +
        (effective == 0 ? std::string("any time") : FullYearDateTimeText(effective)));
  return effective;
}

}  // namespace check
