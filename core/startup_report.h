// The report of a start-up failure on standard error.
#pragma once

#include <cstdint>
#include <string>

// "Exception <class> in module <module> at <address>." CR LF, the message with a full stop
// added when it lacks one, CR LF, CR LF. The address shows as eight upper-case hex digits.
std::string StartupFailureReport(const std::string& className, const std::string& module,
                                 std::uintptr_t address, const std::string& message);
