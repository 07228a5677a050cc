// The journal's rules (journal.rules), each with the newest entry it gives its event ID to.
#pragma once

#include "monitor/settings.h"
#include "tools/check/findings.h"

namespace check {

void CheckJournalRules(const tEventSearchRecord& settings, Findings& findings);

}  // namespace check
