#include "platform/versionprobe.h"

#include "core/errors.h"

void ProbeWindowsVersion() {
  if (!platform::QuerySystemVersion())
    throw Exception("Exception", "Can't get the Windows version");
}
