// The service's events in the Application log (application_log.h).
#include "tools/service/application_log.h"

#include <cstdint>

#include "messages.h"
#include "platform/errors.h"

namespace service {

// The message table holds the IDs the events name.
static_assert(MSG_PAGE_ACCEPTED == kMsgPageAccepted);
static_assert(MSG_PAGE_REFUSED == kMsgPageRefused);
static_assert(MSG_PAGE_NOT_CONFIRMED == kMsgPageNotConfirmed);
static_assert(MSG_PAGE_FAILED == kMsgPageFailed);
static_assert(MSG_RECORD_UNWRITTEN == kMsgRecordUnwritten);
static_assert(MSG_SERVICE_STARTED == kMsgServiceStarted);
static_assert(MSG_SERVICE_STOPPED == kMsgServiceStopped);
static_assert(MSG_LOGGED_AFTER_CARRIED == kMsgLoggedAfterCarried);
static_assert(MSG_SERVICE_NOTE == kMsgServiceNote);
static_assert(MSG_SERVICE_WARNING == kMsgServiceWarning);
static_assert(MSG_SERVICE_ERROR == kMsgServiceError);
static_assert(MSG_EVENTLOG_ERROR == kMsgEventLogError);
static_assert(MSG_SETTINGS_ERROR == kMsgSettingsError);
static_assert(MSG_SETTINGS_WARNING == kMsgSettingsWarning);
static_assert(MSG_OTHER_ENTRY == kMsgOtherEntry);

namespace {

platform::EventType TypeOf(ApplicationEventType type) {
  switch (type) {
    case ApplicationEventType::Error:
      return platform::EventType::Error;
    case ApplicationEventType::Warning:
      return platform::EventType::Warning;
    case ApplicationEventType::Information:
      break;
  }
  return platform::EventType::Information;
}

std::string NotRegistered(const std::string& source) {
  return "the event source " + source +
         " is not registered, so Event Viewer shows its events without their texts; run "
         "eventlog-service.exe --register-source as administrator";
}

}  // namespace

std::optional<std::string> RecordInApplicationLog(ApplicationLog& log,
                                                  const ApplicationEvent& event) {
  std::optional<std::string> said;
  if (!log.Checked) {
    log.Checked = true;
    std::string file;
    std::uint32_t types = 0, errorCode = 0;
    if (!platform::ReadEventSourceRegistration(log.Source, file, types, errorCode))
      said = NotRegistered(log.Source);
  }
  std::uint32_t errorCode = 0;
  if (log.Handle == nullptr) log.Handle = platform::OpenEventSourceNamed(log.Source, errorCode);
  if (log.Handle != nullptr && platform::ReportToEventSource(log.Handle, TypeOf(event.Type),
                                                             event.Id, event.Strings, errorCode)) {
    log.Failing = false;
    return said;
  }
  if (log.Failing) return said;
  log.Failing = true;
  const std::string failure = "cannot record in the Application log (source " + log.Source +
                              "): " + platform::SystemErrorText(errorCode) +
                              "; paging goes on, and this is said again after a success";
  return said ? *said + "; " + failure : failure;
}

void CloseApplicationLog(ApplicationLog& log) {
  platform::CloseEventSource(log.Handle);
  log.Handle = nullptr;
}

void RegisterApplicationLogSource(const std::string& executable) {
  platform::RegisterApplicationEventSource(kApplicationLogSource, executable);
}

void UnregisterApplicationLogSource() {
  std::uint32_t errorCode = 0;
  if (platform::DeleteEventSourceRegistration(kApplicationLogSource, errorCode)) return;
  if (errorCode != platform::kErrorNotRegistered) RaiseLastOSError(errorCode);
}

}  // namespace service
