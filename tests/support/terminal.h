// Runs a program in a session of its own whose controlling terminal is a fresh pseudo-terminal,
// and collects every byte that reaches that terminal.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

struct TerminalResult {
  bool Available = false;  // false: the system gave no pseudo-terminal; nothing was run
  int ExitCode = -1;       // -1 when it was ended by a signal or by the time-out
  bool Stopped = false;    // ended by the time-out
  std::string Output;      // all that the program wrote to the terminal, as the terminal passed it
};

TerminalResult RunOnTerminal(const std::string& executable,
                             const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment,
                             const std::string& workingDirectory,
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
