// The service's events in the Windows Application log under the source EventLogPager, and the
// source's registration that the installer runs (eventlog-service.exe --register-source,
// --unregister-source). Windows only; the events themselves are application_events.h's.
#pragma once

#include <optional>
#include <string>

#include "platform/application_log.h"
#include "tools/service/application_events.h"

namespace service {

constexpr const char* kApplicationLogSource = "EventLogPager";

// The service's source, opened at the first event. A failing Application log never stops the
// service: a failure is said once, and again only after a success.
struct ApplicationLog {
  std::string Source = kApplicationLogSource;
  platform::EventSourceHandle Handle = nullptr;
  bool Checked = false;  // the registration was looked at
  bool Failing = false;
};

// Records the event. The service's own line to say (at warning) comes back the first time the
// Application log fails, and when the source is not registered; nothing otherwise.
std::optional<std::string> RecordInApplicationLog(ApplicationLog& log,
                                                  const ApplicationEvent& event);
// Gives the source back.
void CloseApplicationLog(ApplicationLog& log);

// Registers the source with the executable that holds the message table (the service's own path);
// raises EOSError, ERROR_ACCESS_DENIED when not run as administrator.
void RegisterApplicationLogSource(const std::string& executable);
// Removes the registration; a source that is not registered is no failure.
void UnregisterApplicationLogSource();

}  // namespace service
