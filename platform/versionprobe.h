// The start-up check that the system answers its version query.
#pragma once

#include <cstdint>

// Raises Exception "Can't get the Windows version" when the system refuses the query.
void ProbeWindowsVersion();

namespace platform {
// Asks the system for its version; false when it refuses.
bool QuerySystemVersion();
// A code address relative to the start of the executable's image.
std::uintptr_t ImageOffset(const void* code);
}  // namespace platform
