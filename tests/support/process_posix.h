// What the POSIX process runners share: the child's environment and argument vectors, built
// before the fork, since a child of a threaded test may not allocate.
#pragma once

#include <string>
#include <vector>

#include "tests/support/process.h"

// The test's environment with the run's variables set on top and its removed ones left out.
std::vector<std::string> ChildEnvironment(const ProcessRun& run);

// The texts as a null-terminated vector of pointers for exec.
std::vector<char*> Pointers(std::vector<std::string>& texts);
