#include "platform/versionprobe.h"

#include <dlfcn.h>
#include <sys/utsname.h>

namespace platform {

// uname answers for the system's version on this side.
bool QuerySystemVersion() {
  utsname version;
  return uname(&version) == 0;
}

std::uintptr_t ImageOffset(const void* code) {
  Dl_info image;
  if (dladdr(code, &image) == 0 || image.dli_fbase == nullptr)
    return reinterpret_cast<std::uintptr_t>(code);
  return reinterpret_cast<std::uintptr_t>(code) - reinterpret_cast<std::uintptr_t>(image.dli_fbase);
}

}  // namespace platform
