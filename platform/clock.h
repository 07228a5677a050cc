// The clock, local time and waiting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"

namespace platform {

// The local wall-clock time to the millisecond.
core::SystemTime LocalNow();

// The same moment in the machine's current time zone. False when the moment cannot be
// converted; errorCode then holds the system's code (0 when it gives none).
bool UtcToLocal(const core::SystemTime& utc, core::SystemTime& local, std::uint32_t& errorCode);

// Blocks the calling thread; 0 returns at once.
void SleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform

// The current local time, read anew at each call.
TDateTime Now();

// Parses date-time text by the regional rules, two-digit years placed around the current year;
// false when the text is not a date-time.
bool TryStrToDateTime(std::string_view text, TDateTime& moment,
                      const RegionalSettings& settings = FormatSettings());
