// The settings file: each tag as EventLog reads it and the findings of the settings check;
// why EventLog would not find the file when it is missing.
#pragma once

#include <optional>
#include <string>

#include "monitor/settings.h"
#include "tools/check/findings.h"
#include "tools/check/target.h"

namespace check {

// EventLog looks for the settings file by its exact name and only when its stamp is plausible.
void ExplainMissingSettings(const std::string& path, Findings& findings);

// The values EventLog will use, when the settings file reads.
std::optional<tEventSearchRecord> CheckSettings(const Target& target, Findings& findings);

}  // namespace check
