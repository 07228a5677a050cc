// --list-logs: the logs of this machine by name and kind, each with whether the running account
// may read it.
#pragma once

namespace check {

// Prints the list; returns the exit code.
int ListLogs();

}  // namespace check
