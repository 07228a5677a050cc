// The start-up check that the system answers its version query, and the report of a start-up
// failure on standard error.
#pragma once

#include <cstdint>
#include <string>

// Raises Exception "Can't get the Windows version" when the system refuses the query.
void ProbeWindowsVersion();

// "Exception <class> in module <module> at <address>." CR LF, the message with a full stop
// added when it lacks one, CR LF, CR LF. The address shows as eight upper-case hex digits.
std::string StartupFailureReport(const std::string& className, const std::string& module,
                                 std::uintptr_t address, const std::string& message);

namespace platform {
// Asks the system for its version; false when it refuses.
bool QuerySystemVersion();
// A code address relative to the start of the executable's image.
std::uintptr_t ImageOffset(const void* code);
}  // namespace platform
