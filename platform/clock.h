// The clock, local time and waiting.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A calendar moment split into its fields, as the system's time services exchange it.
struct SystemTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// The local wall-clock time to the millisecond.
SystemTime LocalNow();

// The same moment in the machine's current time zone. False when the moment cannot be
// converted; errorCode then holds the system's code (0 when it gives none).
bool UtcToLocal(const SystemTime& utc, SystemTime& local, std::uint32_t& errorCode);

// The system's text for an error code.
std::string SystemErrorText(std::uint32_t errorCode);

// Blocks the calling thread; 0 returns at once.
void SleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform
