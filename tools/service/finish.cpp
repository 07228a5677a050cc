// The step "finish" (finish.h).
#include "tools/service/finish.h"

#include <string>

#include "core/datetime.h"
#include "monitor/settings.h"
#include "platform/files.h"
#include "platform/service_common.h"
#include "tools/service/journal_lines.h"
#include "tools/service/prepare.h"

namespace service {

int Finish(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  for (const std::string& path : {paths.State, paths.WorkingSettings, paths.WorkingProgram}) {
    std::string error;
    if (!platform::RemoveIfRegularFile(path + ".tmp", error))
      Say(Priority::Warning, "a stale temporary file stays: " + error);
  }
  std::string bytes, error;
  if (ReadWholeFile(paths.State, kStateLimit, platform::Links::Refused, bytes, error) ==
      Reading::Missing)
    return 0;
  if (!platform::FlushToDisk(paths.State, error)) throw StepFailure{"cannot flush " + error};
  const auto state = ReadState(paths.State);
  if (state && state->LoggedAfter)
    Say(Priority::Info,
        "the next start reports only events after " + DateTimeToStrOrEmpty(*state->LoggedAfter));
  if (state && state->Pending)
    Say(Priority::Warning, "the event of " + DateTimeToStrOrEmpty(*state->Pending) +
                               " will be reported and paged again at the next start: EventLog "
                               "was stopped before its page ended");
  return 0;
}

}  // namespace service
