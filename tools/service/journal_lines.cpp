// The lines for the journal (journal_lines.h).
#include "tools/service/journal_lines.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/console.h"
#include "tools/service/application_events.h"

namespace service {

namespace {

// The journal shows a line with a control character as binary data: the CR of a CR LF goes, any
// other control character but the tab is shown as \xHH.
std::string Shown(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::string shown;
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

std::mutex receiversMutex;
std::vector<LineReceiver> receivers;

}  // namespace

void AddLineReceiver(LineReceiver receiver) {
  const std::lock_guard<std::mutex> lock(receiversMutex);
  receivers.push_back(std::move(receiver));
}

void WriteLine(platform::StandardStream stream, Priority priority, std::string_view text) {
  static const bool outputIsJournal =
      platform::StandardStreamIsJournal(platform::StandardStream::Output);
  static const bool errorsIsJournal =
      platform::StandardStreamIsJournal(platform::StandardStream::Errors);
  {
    const std::lock_guard<std::mutex> lock(receiversMutex);
    if (!receivers.empty()) {
      const std::string shown = Shown(text);
      for (const LineReceiver& receiver : receivers) receiver(stream, priority, shown);
      return;
    }
  }
  const bool journal =
      stream == platform::StandardStream::Output ? outputIsJournal : errorsIsJournal;
  std::string line = journal ? "<" + std::to_string(static_cast<int>(priority)) + ">" : "";
  line += Shown(text);
  line += '\n';
  int errorCode = 0;
  // Nowhere to report a failing journal; EventLog must go on regardless.
  if (stream == platform::StandardStream::Output)
    platform::WriteStandardOutput(line.data(), line.size(), errorCode);
  else
    platform::WriteStandardError(line.data(), line.size(), errorCode);
}

void SayOnly(Priority priority, const std::string& text) {
  WriteLine(platform::StandardStream::Errors, priority, "eventlog-service: " + text);
}

void Say(Priority priority, const std::string& text) {
  SayOnly(priority, text);
  RecordEvent(ServiceMessageEvent(priority, text));
}

}  // namespace service
