// Texts: 8-bit strings in the locale's character set (on Linux LC_CTYPE, read once, the plain C
// and POSIX locales counting as UTF-8; on Windows the ANSI code page), and UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Converts UTF-16 text to the locale's character set; a character it lacks becomes "?".
std::string WideToAnsi(std::u16string_view text);

// Appends units UTF-16 code units, stored little-endian at bytes, in the locale's character
// set; a character the set lacks, and an unpaired surrogate, becomes "?".
void AppendUtf16LeAsAnsi(const std::uint8_t* bytes, std::size_t units, std::string& out);

// Appends UTF-8 text in the locale's character set: under a UTF-8 locale a plain copy; else a
// character the set lacks, and a malformed sequence, becomes "?".
void AppendUtf8AsAnsi(std::string_view utf8, std::string& out);

// The locale's 8-bit text as UTF-16; bytes that are no character of the set become "?".
std::u16string AnsiToWide(std::string_view text);

}  // namespace platform
