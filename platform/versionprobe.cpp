#include "platform/versionprobe.h"

#include <cstdio>

#include "platform/errors.h"

void ProbeWindowsVersion() {
  if (!platform::QuerySystemVersion())
    throw Exception("Exception", "Can't get the Windows version");
}

std::string StartupFailureReport(const std::string& className, const std::string& module,
                                 std::uintptr_t address, const std::string& message) {
  char addressText[9];
  std::snprintf(addressText, sizeof addressText, "%08X",
                static_cast<unsigned>(address & 0xFFFFFFFFu));
  const bool endsWithStop = !message.empty() && message.back() == '.';
  return "Exception " + className + " in module " + module + " at " + addressText + ".\r\n" +
         message + (endsWithStop ? "" : ".") + "\r\n\r\n";
}
