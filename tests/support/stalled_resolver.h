// A resolver that stalls: the test program's own name lookup answers names under
// kStalledDomain only after a pause, the way a resolver behind an unreachable name server does.
// Every other name goes to the system's resolver.
#pragma once

#include <chrono>
#include <string>

// "<milliseconds>.stalled.test" pauses that long, then answers 127.0.0.1.
inline const std::string kStalledDomain = ".stalled.test";

inline std::string StalledName(std::chrono::milliseconds pause) {
  return std::to_string(pause.count()) + kStalledDomain;
}
