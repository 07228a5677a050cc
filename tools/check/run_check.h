// The whole check, in the order the operator reads it; returns the exit code.
#pragma once

#include <optional>

#include "tools/check/environment_check.h"
#include "tools/check/target.h"

namespace check {

// watchEnvironment: a watch's own environment file, applied after environment.
int RunCheck(const Target& target, const std::optional<AppliedEnvironment>& environment,
             const std::optional<AppliedEnvironment>& watchEnvironment = std::nullopt);

}  // namespace check
