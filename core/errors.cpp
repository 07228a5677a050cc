#include "core/errors.h"

#include <new>

namespace {

// The system's text for a code: at most 256 bytes, without trailing blanks, control
// characters and full stops.
std::string TrimmedSystemErrorText(std::string text) {
  constexpr std::size_t kLongestText = 256;
  if (text.size() > kLongestText) text.resize(kLongestText);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

}  // namespace

EOSError OSErrorFor(std::uint32_t errorCode, const std::string& systemText) {
  if (errorCode == 0) return EOSError(0, "A call to an OS function failed");
  return EOSError(errorCode, "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" +
                                 TrimmedSystemErrorText(systemText));
}

FailureDescription DescribeFailure(const std::exception& failure) {
  if (auto* known = dynamic_cast<const Exception*>(&failure))
    return {known->ClassName(), known->Message()};
  if (dynamic_cast<const std::bad_alloc*>(&failure)) return {"EOutOfMemory", "Out of memory"};
  return {"Exception", failure.what()};
}
