#include "core/xmltext.h"

namespace core {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u < 0xE000; }

// A character of the Basic Multilingual Plane that XML 1.0 allows; surrogates are judged apart.
bool IsXmlCharacter(char16_t u) {
  if (u < 0x20) return u == u'\t' || u == u'\n' || u == u'\r';
  return u != 0xFFFE && u != 0xFFFF;
}

}  // namespace

std::u16string XmlCharacters(std::u16string_view text) {
  std::u16string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHighSurrogate(u)) {
      // A pair is a character beyond U+FFFF, all of which XML allows; a lone half is none.
      if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        kept += u;
        kept += text[++i];
      }
    } else if (!IsLowSurrogate(u) && IsXmlCharacter(u)) {
      kept += u;
    }
  }
  return kept;
}

}  // namespace core
