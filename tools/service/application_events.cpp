// The Application log's events (application_events.h).
#include "tools/service/application_events.h"

#include <mutex>
#include <string_view>

namespace service {

namespace {

std::string Insertion(std::string text) {
  if (text.size() > kMaxInsertionBytes) {
    text.resize(kMaxInsertionBytes - std::string_view(kCutMark).size());
    text += kCutMark;
  }
  return text;
}

ApplicationEvent Event(ApplicationEventType type, std::uint32_t id,
                       std::vector<std::string> strings) {
  for (std::string& text : strings) text = Insertion(std::move(text));
  return {type, id, std::move(strings)};
}

ApplicationEventType TypeOf(Priority priority) {
  switch (priority) {
    case Priority::Err:
      return ApplicationEventType::Error;
    case Priority::Warning:
      return ApplicationEventType::Warning;
    case Priority::Info:
      break;
  }
  return ApplicationEventType::Information;
}

}  // namespace

std::optional<ApplicationEvent> ApplicationEventOf(const JournalEntry& entry) {
  const std::vector<std::string>& parts = entry.Parts;
  using enum ApplicationEventType;
  switch (entry.Kind) {
    case EntryKind::PageAccepted:
      return Event(Information, kMsgPageAccepted, {parts.at(0), parts.at(1)});
    case EntryKind::PageRefused:
      return Event(Warning, kMsgPageRefused,
                   {parts.at(0).empty() ? "(an empty answer)" : parts.at(0), parts.at(1)});
    case EntryKind::PageNotConfirmed:
      return Event(Warning, kMsgPageNotConfirmed, {parts.at(0)});
    case EntryKind::PageFailed:
      return Event(
          Error, kMsgPageFailed,
          {parts.at(0), parts.at(1), parts.at(2).empty() ? "(none was written)" : parts.at(2)});
    case EntryKind::RecordUnwritten:
      return Event(Warning, kMsgRecordUnwritten, {parts.at(0), parts.at(1)});
    case EntryKind::Other:
      return Event(TypeOf(entry.Level), kMsgOtherEntry, {parts.at(0), parts.at(1)});
    case EntryKind::AlreadySaid:
      break;
  }
  return std::nullopt;
}

ApplicationEvent ServiceStartedEvent(const std::string& version, const std::string& folder) {
  return Event(ApplicationEventType::Information, kMsgServiceStarted, {version, folder});
}

ApplicationEvent ServiceStoppedEvent(const std::string& howEventLogEnded) {
  return Event(ApplicationEventType::Information, kMsgServiceStopped, {howEventLogEnded});
}

ApplicationEvent LoggedAfterCarriedEvent(const std::string& loggedAfter) {
  return Event(ApplicationEventType::Information, kMsgLoggedAfterCarried, {loggedAfter});
}

ApplicationEvent ServiceMessageEvent(Priority priority, const std::string& text) {
  const ApplicationEventType type = TypeOf(priority);
  const std::uint32_t id = type == ApplicationEventType::Error     ? kMsgServiceError
                           : type == ApplicationEventType::Warning ? kMsgServiceWarning
                                                                   : kMsgServiceNote;
  return Event(type, id, {text});
}

ApplicationEvent EventLogErrorEvent(const std::string& line) {
  constexpr std::string_view kPrefix = "Error: ";
  return Event(ApplicationEventType::Error, kMsgEventLogError,
               {line.starts_with(kPrefix) ? line.substr(kPrefix.size()) : line});
}

std::optional<ApplicationEvent> SettingsFindingEvent(const tFinding& finding) {
  switch (finding.Severity) {
    case tSeverity::Error:
      return Event(ApplicationEventType::Error, kMsgSettingsError, {finding.Text});
    case tSeverity::Warning:
      return Event(ApplicationEventType::Warning, kMsgSettingsWarning, {finding.Text});
    case tSeverity::Note:
      break;
  }
  return std::nullopt;
}

namespace {
std::mutex eventReceiversMutex;
std::vector<EventReceiver> eventReceivers;
}  // namespace

void AddEventReceiver(EventReceiver receiver) {
  const std::lock_guard<std::mutex> lock(eventReceiversMutex);
  eventReceivers.push_back(std::move(receiver));
}

void RecordEvent(const ApplicationEvent& event) {
  const std::lock_guard<std::mutex> lock(eventReceiversMutex);
  for (const EventReceiver& receiver : eventReceivers) receiver(event);
}

void RecordEvent(const std::optional<ApplicationEvent>& event) {
  if (event) RecordEvent(*event);
}

}  // namespace service
