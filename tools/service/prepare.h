// The step "prepare": checks the settings and writes the working copies of the settings, with
// LoggedAfter carried forward from the delivery state, and of the program.
#pragma once

#include <optional>
#include <string>

#include "monitor/delivery_state.h"
#include "tools/service/step.h"

namespace service {

// The state file's contents; nothing when there is none or it does not read (said as a warning).
std::optional<tDeliveryState> ReadState(const std::string& path);

int Prepare(const Options& options);

}  // namespace service
