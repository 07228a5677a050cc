// UTF-8, the one codec of the program: characters written as UTF-8, UTF-16 text as UTF-8 and
// UTF-8 text read back as UTF-16. Pure functions on strings.
#pragma once

#include <string>
#include <string_view>

namespace core {

// Appends the UTF-8 bytes (one to four) of a character up to U+10FFFF.
void AppendUtf8(char32_t c, std::string& out);

// UTF-16 text as UTF-8: a surrogate pair is one character; an unpaired surrogate becomes "?".
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 text as UTF-16. A malformed sequence (a stray or missing continuation byte, a sequence
// cut short, an overlong form, a surrogate, a value past U+10FFFF) gives "?" for its first byte,
// and reading goes on at the next byte.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace core
