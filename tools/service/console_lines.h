// EventLog's console output as the services pass it on: the bytes of a stream split into lines,
// and EventLog's lines with its error line held back until it is known whether it was the last.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/service/application_events.h"
#include "tools/service/journal_lines.h"

namespace service {

// The lines of one stream, split at LF.
class LineSplitter {
 public:
  template <typename Take>
  void Add(const char* bytes, std::size_t count, Take take) {
    pending_.append(bytes, count);
    std::size_t start = 0, end;
    while ((end = pending_.find('\n', start)) != std::string::npos) {
      take(pending_.substr(start, end - start));
      start = end + 1;
    }
    pending_.erase(0, start);
  }
  template <typename Take>
  void End(Take take) {
    if (!pending_.empty()) take(pending_);
    pending_.clear();
  }

 private:
  std::string pending_;
};

// EventLog's console lines at info, but its error line, the last line when it ends with exit
// code 1, at err: a line that begins "Error: " waits until the next line or the end shows
// whether it was the last.
class ConsoleLines {
 public:
  void Take(const std::string& line) {
    Release(Priority::Info);
    if (line.starts_with("Error: "))
      held_ = line;
    else
      WriteLine(platform::StandardStream::Output, Priority::Info, line);
  }
  void Release(Priority priority) {
    if (held_) {
      WriteLine(platform::StandardStream::Output, priority, *held_);
      if (priority == Priority::Err) RecordEvent(EventLogErrorEvent(*held_));
    }
    held_.reset();
  }
  // Whether the last line so far was an error line.
  bool EndsOnErrorLine() const { return held_.has_value(); }

 private:
  std::optional<std::string> held_;
};

}  // namespace service
