// The step "finish": makes the delivery state durable and removes what a kill left behind.
#pragma once

#include "tools/service/step.h"

namespace service {

int Finish(const Options& options);

}  // namespace service
