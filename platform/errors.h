// The system's error codes: their texts, and the failure a refused call raises.
//
// The rule for failures across platform/:
// - A backend (platform/posix/, platform/win32/) never raises the program's exceptions; only
//   exhausted memory (std::bad_alloc) passes through one. A call gives back its result, and a
//   failure in one of these forms, said at the function:
//     false, -1 or the invalid handle, with the code in an errorCode out-parameter, in one of
//       three code spaces: the Windows Sockets numbers of core/socket_errors.h (sockets, on
//       every system), the event log read codes of platform/eventlog.h (Windows' own numbers),
//       or the system's error code (errno, GetLastError), whose text is SystemErrorText;
//     false (or an outcome) with a text that names the object and the system's reason, where the
//       operator reads that sentence as it stands (files, supervision, users);
//     a plain false, empty or invalid value, where no caller reports a reason.
// - The exception carrying the class name and message the program prints is raised by the
//   shared part of the service (platform/<service>.cpp, or an inline wrapper in the header of
//   a Linux-only service) or by the caller: ESocketError from a socket number, EOSError from a
//   system code (RaiseLastOSError), EInOutError for the console, EXMLDocError for the document
//   object, EStackInitializationFailed for the socket layer.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors.h"

namespace platform {
// The system's text for an error code.
std::string SystemErrorText(std::uint32_t errorCode);
}  // namespace platform

// Raises EOSError for a refused call: "System Error.  Code: %d." CR LF + the system's text.
[[noreturn]] void RaiseLastOSError(std::uint32_t errorCode);
