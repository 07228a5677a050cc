// EventLog's log entries and the service's own messages as events of the Windows Application log:
// each one's type, its message ID in the service's message table (tools/service/messages.mc) and
// its insertion strings (%1, %2 ... of the message). The same table on every system; Windows
// records the events (tools/service/application_log.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/settings_lint.h"
#include "tools/service/journal_lines.h"
#include "tools/service/log_entries.h"

namespace service {

// The message IDs of messages.mc, which are the event IDs Event Viewer shows; a page's are the
// codes of the kit's log entries.
constexpr std::uint32_t kMsgPageAccepted = 50400;       // {page message, page record}
constexpr std::uint32_t kMsgPageRefused = 40400;        // {gateway's answer, page record}
constexpr std::uint32_t kMsgPageNotConfirmed = 40401;   // {page record}
constexpr std::uint32_t kMsgPageFailed = 30000;         // {class name, message, report}
constexpr std::uint32_t kMsgRecordUnwritten = 30100;    // {page record, reason}
constexpr std::uint32_t kMsgServiceStarted = 1000;      // {EventLog's version, folder}
constexpr std::uint32_t kMsgServiceStopped = 1001;      // {how EventLog ended}
constexpr std::uint32_t kMsgLoggedAfterCarried = 1002;  // {LoggedAfter}
constexpr std::uint32_t kMsgServiceNote = 1003;         // {text}
constexpr std::uint32_t kMsgServiceWarning = 1004;      // {text}
constexpr std::uint32_t kMsgServiceError = 1005;        // {text}
constexpr std::uint32_t kMsgEventLogError = 1006;       // {EventLog's error line}
constexpr std::uint32_t kMsgSettingsError = 1007;       // {finding}
constexpr std::uint32_t kMsgSettingsWarning = 1008;     // {finding}
constexpr std::uint32_t kMsgOtherEntry = 1009;          // {code, text}

// The longest insertion string in bytes: a longer one (a gateway's whole HTML page) is cut and
// ends in kCutMark, so that the event stays within what the event log takes.
constexpr std::size_t kMaxInsertionBytes = 8000;
constexpr const char* kCutMark = " [...]";

enum class ApplicationEventType { Information, Warning, Error };

struct ApplicationEvent {
  ApplicationEventType Type = ApplicationEventType::Information;
  std::uint32_t Id = 0;
  std::vector<std::string> Strings;
  bool operator==(const ApplicationEvent&) const = default;
};

// The event of a relayed log entry (ReadLogEntry); none for an outcome whose refusal was said.
std::optional<ApplicationEvent> ApplicationEventOf(const JournalEntry& entry);

// The service's own events.
ApplicationEvent ServiceStartedEvent(const std::string& version, const std::string& folder);
ApplicationEvent ServiceStoppedEvent(const std::string& howEventLogEnded);
ApplicationEvent LoggedAfterCarriedEvent(const std::string& loggedAfter);
// A line the service says (Say), at its priority.
ApplicationEvent ServiceMessageEvent(Priority priority, const std::string& text);
// EventLog's error line, "Error: <message> (<class>) Trace=<n>" (the "Error: " is left out).
ApplicationEvent EventLogErrorEvent(const std::string& line);
// A finding of the settings check at the start; notes are not recorded.
std::optional<ApplicationEvent> SettingsFindingEvent(const tFinding& finding);

// Where the events go: every receiver added gets every event, one at a time, from whichever
// thread records it. The Windows service adds the Application log; on Linux none is added, as
// the journal already holds every line the events are made of.
using EventReceiver = std::function<void(const ApplicationEvent& event)>;
void AddEventReceiver(EventReceiver receiver);
void RecordEvent(const ApplicationEvent& event);
void RecordEvent(const std::optional<ApplicationEvent>& event);

}  // namespace service
