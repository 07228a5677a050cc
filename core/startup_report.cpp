#include "core/startup_report.h"

#include <cstdio>

std::string StartupFailureReport(const std::string& className, const std::string& module,
                                 std::uintptr_t address, const std::string& message) {
  char addressText[9];
  std::snprintf(addressText, sizeof addressText, "%08X",
                static_cast<unsigned>(address & 0xFFFFFFFFu));
  const bool endsWithStop = !message.empty() && message.back() == '.';
  return "Exception " + className + " in module " + module + " at " + addressText + ".\r\n" +
         message + (endsWithStop ? "" : ".") + "\r\n\r\n";
}
