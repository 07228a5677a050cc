// Windows gives a program no pseudo-terminal whose bytes the parent can read back, so nothing is
// run: the tests that need one are left out of the Windows suite (tests/windows.cmake).
#include "tests/support/terminal.h"

TerminalResult RunOnTerminal(const std::string&, const std::vector<std::string>&,
                             const std::map<std::string, std::string>&, const std::string&,
                             std::chrono::milliseconds) {
  return {};
}
