// eventlog-service's command line: its usage text and the step and options it names.
#pragma once

#include "tools/service/step.h"

namespace service {

extern const char* const kUsage;

// Refused: the arguments name no usable watch (said already); the step ends with 1.
enum class Parsed { Run, Help, Version, Wrong, Refused };

// Reads the step and the options (the paths made absolute); says what is wrong itself.
Parsed ParseArguments(int argc, char** argv, Options& options);

}  // namespace service
