#include "platform/errors.h"

#include <new>

#include "platform/clock.h"

namespace {

// The system's text for a code: at most 256 bytes, without trailing blanks, control
// characters and full stops.
std::string TrimmedSystemErrorText(std::uint32_t errorCode) {
  constexpr std::size_t kLongestText = 256;
  std::string text = platform::SystemErrorText(errorCode);
  if (text.size() > kLongestText) text.resize(kLongestText);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

}  // namespace

void RaiseLastOSError(std::uint32_t errorCode) {
  if (errorCode == 0) throw EOSError(0, "A call to an OS function failed");
  throw EOSError(errorCode, "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" +
                                TrimmedSystemErrorText(errorCode));
}

FailureDescription DescribeFailure(const std::exception& failure) {
  if (auto* known = dynamic_cast<const Exception*>(&failure))
    return {known->ClassName(), known->Message()};
  if (dynamic_cast<const std::bad_alloc*>(&failure)) return {"EOutOfMemory", "Out of memory"};
  return {"Exception", failure.what()};
}
