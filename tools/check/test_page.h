// The test page (--page): one page sent as the monitor would, its outcome read from the files
// the sender leaves.
#pragma once

#include <string>

#include "tools/check/findings.h"

namespace check {

void SendTestPage(const std::string& programDirectory, Findings& findings);

}  // namespace check
