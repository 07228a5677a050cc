// The Alertmanagers of ALERTMANAGER_URL: each base URL, the bad ones as errors and, with --probe,
// whether each answers GET /api/v2/status with 200. Says nothing when the variable is not set.
#pragma once

#include "tools/check/findings.h"

namespace check {

void CheckAlertmanagers(bool probe, Findings& findings);

}  // namespace check
