// What a process spent, for the benchmarks (Linux only): its processor time as the system counts
// it, its children's, and a file's pages dropped from the page cache for a cold reading.
#pragma once

#include <string>

struct ProcessorTime {
  double UserSeconds = 0;
  double SystemSeconds = 0;
  double Total() const { return UserSeconds + SystemSeconds; }
};

// This process's own processor time so far.
ProcessorTime OwnProcessorTime();
// The processor time of this process's children that ended and were waited for, so far.
ProcessorTime ChildrenProcessorTime();

// Asks the system to drop the file's cached pages, so that the next reading comes from the disk;
// false when the file cannot be opened or the system refuses.
bool DropFromPageCache(const std::string& path);
