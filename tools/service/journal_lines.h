// eventlog-service's lines for the journal: each line of EventLog's and of the service's own,
// with its sd-daemon priority in front when its stream is the journal.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/service_common.h"

namespace service {

// The sd-daemon priority of a line, written in front of it when its stream is the journal.
enum class Priority { Err = 3, Warning = 4, Info = 6 };

// Every line gets its prefix when the stream is the journal, so that no text, however it
// begins, picks its own priority; elsewhere lines are written as they are.
void WriteLine(platform::StandardStream stream, Priority priority, std::string_view text);

// The service's own messages, each also recorded as the service's note, warning or error event
// (application_events.h).
void Say(Priority priority, const std::string& text);
// A message of the service's that is recorded as an event of its own kind, or not at all (the
// Application log's own failures, which would feed themselves).
void SayOnly(Priority priority, const std::string& text);

// Where the lines go instead of the standard streams: every line WriteLine and Say write, shown
// as the journal would show it (EventLog's console lines and errors, its log entries, the
// service's own messages), with its priority and the stream it was meant for. Each receiver added
// gets every line, one line at a time, from whichever thread writes it; with none the lines go to
// the standard streams. The Windows service, which has no standard streams, adds its log file.
using LineReceiver =
    std::function<void(platform::StandardStream stream, Priority priority, std::string_view text)>;
void AddLineReceiver(LineReceiver receiver);

}  // namespace service
