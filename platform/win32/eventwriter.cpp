// Windows has its own event log service, whose logs are no files of a directory of ours: the
// writer of .evt logs (eventcreate) is a Linux tool, and here each entry point says so.
#include "platform/eventwriter.h"

#include "platform/system.h"

namespace platform {

std::string EventLogDirectory() { return {}; }

std::string LocalComputerName() { return ComputerName(); }

bool MakeDirectories(const std::string&) { return false; }

std::string AppendEvent(const std::string&, const std::string& logName, const core::evt::NewRecord&,
                        std::uint32_t) {
  return "cannot write to the log " + logName +
         ": writing .evt logs is not available on Windows (the system's own event log service "
         "keeps the logs there)";
}

}  // namespace platform
