// The step "run": runs the working copy of EventLog in the working folder and passes its lines,
// its errors and its log entries into the journal; ends the way EventLog ended.
#pragma once

#include "tools/service/step.h"

namespace service {

int Run(const Options& options);

}  // namespace service
