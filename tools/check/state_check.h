// The carried delivery state the next start of the service goes by.
#pragma once

#include <string>

#include "core/datetime.h"
#include "tools/check/findings.h"

namespace check {

// The LoggedAfter the next start uses: the later of the settings' and the carried one.
TDateTime CheckState(const std::string& path, TDateTime configured, Findings& findings);

}  // namespace check
