#include "platform/errors.h"

void RaiseLastOSError(std::uint32_t errorCode) {
  throw OSErrorFor(errorCode,
                   errorCode == 0 ? std::string() : platform::SystemErrorText(errorCode));
}
