#include "kit/watch.h"

#include <cstdlib>

tRunCounters RunCounters;

std::string WatchName() {
  const char* name = std::getenv("EVENTLOG_WATCH");
  if (name == nullptr || *name == '\0') return "default";
  return name;
}
