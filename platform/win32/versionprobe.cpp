#include "platform/versionprobe.h"

#include "platform/win32/windows_api.h"

namespace platform {

bool QuerySystemVersion() {
  OSVERSIONINFOA version{};
  static_assert(sizeof version == 148);
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExA(&version) != FALSE;
#pragma GCC diagnostic pop
}

std::uintptr_t ImageOffset(const void* code) {
  const auto address = reinterpret_cast<std::uintptr_t>(code);
  // The image that holds the code, which for a program linked statically is the executable.
  HMODULE image = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const char*>(code), &image) ||
      image == nullptr)
    return address;
  return address - reinterpret_cast<std::uintptr_t>(image);
}

}  // namespace platform
