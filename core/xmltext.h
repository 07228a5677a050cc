// The characters an XML document can hold. Both XML backends pass every text through this one
// filter, so a report stays well-formed whatever a gateway or an event log put into its texts.
#pragma once

#include <string>
#include <string_view>

namespace core {

// The text without the characters XML 1.0 cannot hold: the controls other than tab, line feed
// and carriage return (NUL among them), U+FFFE, U+FFFF and unpaired surrogates. Everything else,
// surrogate pairs included, stays as it is.
std::u16string XmlCharacters(std::u16string_view text);

}  // namespace core
