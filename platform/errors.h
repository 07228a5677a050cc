// The system's error codes: their texts, and the failure a refused call raises.
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
