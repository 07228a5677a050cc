// The gateway: where pages go, whether its host can work and, with --probe, whether it
// answers.
#pragma once

#include "monitor/settings.h"
#include "tools/check/findings.h"

namespace check {

void CheckGateway(const tEventSearchRecord* settings, bool probe, Findings& findings);

}  // namespace check
