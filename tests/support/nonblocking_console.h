// Runs a program on non-blocking standard input and output, the way some supervisors and
// pipelines hand them over: its answers arrive only later, and a slow reader drains a small pipe.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/process.h"

struct TimedInput {
  std::chrono::milliseconds After;  // pause since the previous piece (or the start)
  std::string Text;
};

struct NonBlockingRun {
  // The program, its directory and environment, and the time limit; its Input is not used.
  ProcessRun Process;
  // Written piece by piece; the input is closed after the last piece.
  std::vector<TimedInput> Input;
  // The reader takes at most ReadSize bytes at a time and pauses after each read.
  std::size_t ReadSize = 512;
  std::chrono::milliseconds ReadPause{2};
};

struct NonBlockingResult {
  ProcessResult Result;
  // Whether the program's ends of the pipes were non-blocking, as the run meant them to be.
  bool InputWasNonBlocking = false;
  bool OutputWasNonBlocking = false;
};

NonBlockingResult RunOnNonBlockingPipes(const NonBlockingRun& run);
