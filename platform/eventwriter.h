// Writing events to the .evt logs of the Linux event log service (eventcreate's service; Linux
// only: on Windows the system's own event log service keeps the logs). Each log is a .evt file in
// the log directory, and a record is appended to it under an exclusive lock on the log's lock
// file; the event log reader (platform/eventlog.h) takes the same lock, shared.
#pragma once

#include <cstdint>
#include <string>

#include "core/evt_codec.h"

namespace platform {

// How long a reader or a writer waits for a log that another process holds locked: a writer
// stuck while holding the lock must not freeze the monitor or the writers behind it.
constexpr int kEventLogLockWaitMilliseconds = 3000;

// The directory of the logs: EVENTLOG_DIR, else /var/log/eventlog.
std::string EventLogDirectory();

// The name a record carries as its computer when the writer names none: the host name.
std::string LocalComputerName();

// Creates the log directory and its parents as needed: an error text naming the folder that
// cannot be made, empty when it exists. Root gives a log directory it makes to root and the
// group eventlog with mode 3770 (sticky, setgid, closed to others); without that group it
// leaves it root's alone (0755) and says in note what to do.
std::string MakeLogDirectory(const std::string& path, std::string& note);

// Appends one record to the named log in dir, creating the log (with maxSize bytes at most) when
// it is missing and overwriting the oldest records when it is full. A new log gets mode 0660
// and the group of its folder, whatever the umask. Writes neither through a symbolic link nor
// to anything but a regular file with one name, and gives a header only to an empty file; a
// file with other content must be a log. Gives up without writing when another writer keeps
// the log's lock file ("<log file>.lock", made like a log) for kEventLogLockWaitMilliseconds.
// Returns an error text naming the file, empty on success.
std::string AppendEvent(const std::string& dir, const std::string& logName,
                        const core::evt::NewRecord& record, std::uint32_t maxSize);

}  // namespace platform
