#include "core/utf8.h"

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u < 0xE000; }

void AppendUtf16(char32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out.push_back(char16_t(c));
  } else {
    c -= 0x10000;
    out.push_back(char16_t(0xD800 + (c >> 10)));
    out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
  }
}

}  // namespace

void core::AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | c >> 18));
    out.push_back(char(0x80 | (c >> 12 & 0x3F)));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

std::string core::Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = '?';
    }
    AppendUtf8(c, out);
  }
  return out;
}

std::u16string core::Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char b = text[i];
    int extra = b < 0x80             ? 0
                : (b & 0xE0) == 0xC0 ? 1
                : (b & 0xF0) == 0xE0 ? 2
                : (b & 0xF8) == 0xF0 ? 3
                                     : -1;
    char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
    bool ok = extra >= 0 && i + extra < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char cont = text[i + k];
      ok = (cont & 0xC0) == 0x80;
      c = c << 6 | (cont & 0x3F);
    }
    const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (ok && extra > 0)
      ok = c >= minimum[extra] && c <= 0x10FFFF && !IsHighSurrogate(c) && !IsLowSurrogate(c);
    if (!ok) {
      out.push_back(u'?');
      ++i;
      continue;
    }
    AppendUtf16(c, out);
    i += extra + 1;
  }
  return out;
}
