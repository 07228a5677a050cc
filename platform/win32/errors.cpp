// The system's error texts from the system's message tables.
#include "platform/errors.h"

#include "platform/win32/windows_api.h"

namespace platform {

std::string SystemErrorText(std::uint32_t errorCode) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, errorCode, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return {};
  std::string result(text, length);
  LocalFree(text);
  // The system's texts end with a line break.
  while (!result.empty() &&
         (result.back() == '\r' || result.back() == '\n' || result.back() == ' '))
    result.pop_back();
  return result;
}

}  // namespace platform
