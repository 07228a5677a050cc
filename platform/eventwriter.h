// Writing events to the .evt logs of the Linux event log service (eventcreate's service; Linux
// only: on Windows the system's own event log service keeps the logs). Each log is a .evt file in
// the log directory, and a record is appended to it under an exclusive lock; the event log reader
// (platform/eventlog.h) takes the same lock, shared.
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

// Creates the directory and its parents as needed; false when it cannot be made.
bool MakeDirectories(const std::string& path);

// Appends one record to the named log in dir, creating the log (with maxSize bytes at most) when
// it is missing and overwriting the oldest records when it is full. Gives up without writing
// when another program keeps the log locked for kEventLogLockWaitMilliseconds. Returns an error
// text naming the file, empty on success.
std::string AppendEvent(const std::string& dir, const std::string& logName,
                        const core::evt::NewRecord& record, std::uint32_t maxSize);

}  // namespace platform
