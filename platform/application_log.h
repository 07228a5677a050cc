// The Windows Application log: an event source opened by name, events reported through it
// (type, event ID, category 0, insertion strings), and the source's registration, which tells
// Event Viewer the file whose message table holds the events' texts.
// Windows only: the Linux service writes to the journal instead (tools/service/journal_lines.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {

// The event types, with the event log's own numbers (EVENTLOG_ERROR_TYPE ...).
enum class EventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

// An open event source; null when none is open.
using EventSourceHandle = void*;

// The types a registered source says it reports: error, warning and information.
constexpr std::uint32_t kTypesSupported = 7;

// Opens the source of that name in the local Application log; null with the system's error
// code. The event log opens a source that is not registered too: its events then lack their
// texts (see ReadEventSourceRegistration).
EventSourceHandle OpenEventSourceNamed(const std::string& source, std::uint32_t& errorCode);
// Reports one event in category 0; the strings are 8-bit texts (the ANSI code page), sent as
// UTF-16. False with the system's error code.
bool ReportToEventSource(EventSourceHandle source, EventType type, std::uint32_t eventId,
                         const std::vector<std::string>& strings, std::uint32_t& errorCode);
// Gives the handle back; null is left alone.
void CloseEventSource(EventSourceHandle source);

// The code of a registration or value that is not there (ERROR_FILE_NOT_FOUND).
constexpr std::uint32_t kErrorNotRegistered = 2;

// The registration under HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>:
// EventMessageFile (the file with the message table, REG_EXPAND_SZ) and TypesSupported. Writing
// needs an administrator. False with the system's error code (ERROR_FILE_NOT_FOUND when the
// source or a value is not there).
bool WriteEventSourceRegistration(const std::string& source, const std::string& messageFile,
                                  std::uint32_t& errorCode);
bool ReadEventSourceRegistration(const std::string& source, std::string& messageFile,
                                 std::uint32_t& typesSupported, std::uint32_t& errorCode);
bool DeleteEventSourceRegistration(const std::string& source, std::uint32_t& errorCode);

// The calls above, raising EOSError with the system's code when they are refused.
inline EventSourceHandle OpenApplicationEventSource(const std::string& source) {
  std::uint32_t errorCode = 0;
  const EventSourceHandle handle = OpenEventSourceNamed(source, errorCode);
  if (handle == nullptr) RaiseLastOSError(errorCode);
  return handle;
}
inline void ReportApplicationEvent(EventSourceHandle source, EventType type, std::uint32_t eventId,
                                   const std::vector<std::string>& strings) {
  std::uint32_t errorCode = 0;
  if (!ReportToEventSource(source, type, eventId, strings, errorCode)) RaiseLastOSError(errorCode);
}
inline void RegisterApplicationEventSource(const std::string& source,
                                           const std::string& messageFile) {
  std::uint32_t errorCode = 0;
  if (!WriteEventSourceRegistration(source, messageFile, errorCode)) RaiseLastOSError(errorCode);
}
inline void UnregisterApplicationEventSource(const std::string& source) {
  std::uint32_t errorCode = 0;
  if (!DeleteEventSourceRegistration(source, errorCode)) RaiseLastOSError(errorCode);
}

}  // namespace platform
