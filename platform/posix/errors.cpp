// The system's error texts from the C library.
#include "platform/errors.h"

#include <cstring>

namespace platform {
namespace {

// strerror_r comes in a GNU form returning the text and an XSI form filling the buffer.
[[maybe_unused]] std::string ErrorTextFrom(const char* text, const char*) { return text; }
[[maybe_unused]] std::string ErrorTextFrom(int result, const char* buffer) {
  return result == 0 ? buffer : std::string();
}

}  // namespace

std::string SystemErrorText(std::uint32_t errorCode) {
  char buffer[256] = {};
  return ErrorTextFrom(strerror_r(static_cast<int>(errorCode), buffer, sizeof buffer), buffer);
}

}  // namespace platform
