// The logs of this machine (log_list.h).
#include "tools/check/log_list.h"

#include <cstddef>
#include <string>
#include <vector>

#include "monitor/settings_lint.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/system.h"
#include "tools/check/findings.h"

namespace check {

namespace {

// Enough for the channels of a busy server, few enough to read.
constexpr std::size_t kMostLogs = 400;

std::string KindWord(platform::EventLogKind kind) {
  switch (kind) {
    case platform::EventLogKind::kClassicLog:
      return "classic log";
    case platform::EventLogKind::kChannel:
      return "channel    ";
    case platform::EventLogKind::kJournal:
      return "journal    ";
    case platform::EventLogKind::kLogFile:
      return "log file   ";
    case platform::EventLogKind::kNone:
      break;
  }
  return "           ";
}

}  // namespace

int ListLogs() {
  bool more = false;
  const std::vector<platform::EventLogName> logs = platform::ListEventLogs(kMostLogs, more);
  Print("The logs of this machine, and whether " + EscapedText(platform::CurrentUserName()) +
        " may read them:");
  if (logs.empty()) Print("  none found");
  for (const platform::EventLogName& log : logs) {
    const platform::EventLogReadProbe probe = platform::TryEventLogRead(log.Name);
    Print("  " + KindWord(log.Kind) + "  " + EscapedText(log.Name) + ": " +
          (probe.Readable ? std::string("readable")
           : probe.Error != 0
               ? "not readable (" + EscapedText(platform::SystemErrorText(probe.Error)) + ")"
               : std::string("not readable")));
  }
  if (more) Print("  (only the first " + std::to_string(kMostLogs) + " are listed)");
  return kExitSound;
}

}  // namespace check
