// The program folder (can it take exception reports, its newest report) and the traces of
// pages in the folder EventLog runs in.
#pragma once

#include <string>

#include "tools/check/findings.h"

namespace check {

void CheckProgramFolder(const std::string& programDirectory, Findings& findings);

void PrintTraces(const std::string& folder);

}  // namespace check
