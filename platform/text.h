// Texts: 8-bit strings in the locale's character set.
#pragma once

#include <string>
#include <string_view>

namespace platform {
// Converts UTF-16 text to the locale's character set; a character it lacks becomes "?".
std::string WideToAnsi(std::u16string_view text);
}  // namespace platform
