// eventlog-service's lines for the journal: each line of EventLog's and of the service's own,
// with its sd-daemon priority in front when its stream is the journal.
#pragma once

#include <string>
#include <string_view>

#include "platform/supervision.h"

namespace service {

// The sd-daemon priority of a line, written in front of it when its stream is the journal.
enum class Priority { Err = 3, Warning = 4, Info = 6 };

// Every line gets its prefix when the stream is the journal, so that no text, however it
// begins, picks its own priority; elsewhere lines are written as they are.
void WriteLine(platform::StandardStream stream, Priority priority, std::string_view text);

// The service's own messages.
void Say(Priority priority, const std::string& text);

}  // namespace service
