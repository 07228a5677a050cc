// --all-watches on Windows: the watches it checks are the Linux service's units; on Windows each
// watch is a service of its own, checked in its folder.
#include <cstdio>

#include "tools/check/watches.h"

namespace check {

int CheckAllWatches(const Options&) {
  std::fputs(
      "eventlog-check: --all-watches checks the Linux service's watches; on Windows check each "
      "watch's folder\n",
      stderr);
  return kExitUsage;
}

}  // namespace check
