// The log: what LogFile resolves to, whether it opens, and its newest record and newest match
// as EventLog prints them.
#pragma once

#include "monitor/settings.h"
#include "tools/check/findings.h"

namespace check {

void CheckLog(const tEventSearchRecord& settings, Findings& findings);

}  // namespace check
