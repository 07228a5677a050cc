#include "core/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

TEST(Utf8Test, WritesEachCharacterInTheFewestBytes) {
  struct Case {
    char32_t character;
    const char* bytes;
  };
  const Case cases[] = {{U'\0', "00"},
                        {U'A', "41"},
                        {0x7F, "7F"},
                        {0x80, "C2 80"},
                        {0xE4, "C3 A4"},
                        {0x7FF, "DF BF"},
                        {0x800, "E0 A0 80"},
                        {0x20AC, "E2 82 AC"},
                        {0xFFFD, "EF BF BD"},
                        {0xFFFF, "EF BF BF"},
                        {0x10000, "F0 90 80 80"},
                        {0x1F600, "F0 9F 98 80"},
                        {0x10FFFF, "F4 8F BF BF"}};
  for (const Case& c : cases) {
    std::string out = "x";
    core::AppendUtf8(c.character, out);
    EXPECT_EQ(Hex(out.substr(1)), c.bytes) << std::hex << unsigned(c.character);
    EXPECT_EQ(out[0], 'x');
  }
}

TEST(Utf8Test, JoinsSurrogatePairsAndMarksUnpairedOnes) {
  struct Case {
    std::u16string text;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"Hallo", "Hallo"},
      {u"\u00C4rger \u20AC", "\xC3\x84rger \xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string{char16_t(0xD83D)}, "?"},
      {std::u16string{char16_t(0xDE00), u'a'}, "?a"},
      {std::u16string{char16_t(0xD83D), u'a', char16_t(0xD83D), char16_t(0xDE00)},
       "?a\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(core::Utf16ToUtf8(c.text), c.utf8) << c.utf8;
}

TEST(Utf8Test, ReadsWellFormedTextAndGivesAQuestionMarkPerBadLeadByte) {
  struct Case {
    std::string utf8;
    std::u16string text;
  };
  const Case cases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"\xC3\xA4\xE2\x82\xAC", u"\u00E4\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\x80x", u"?x"},                    // a continuation byte alone
      {"\xC3", u"?"},                      // cut short at the end
      {"\xC3x", u"?x"},                    // a missing continuation byte
      {"\xC0\xAF", u"??"},                 // an overlong "/"
      {"\xE0\x80\xAF", u"???"},            // an overlong "/" in three bytes
      {"\xED\xA0\x80", u"???"},            // a surrogate
      {"\xF4\x90\x80\x80", u"????"},       // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", u"?????"},  // a five-byte form
      {"a\xE2\x82"
       "b",
       u"a??b"},  // a three-byte form cut short
  };
  for (const Case& c : cases) EXPECT_EQ(core::Utf8ToUtf16(c.utf8), c.text) << Hex(c.utf8);
}

TEST(Utf8Test, EveryCharacterGoesThereAndBack) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    std::string utf8;
    core::AppendUtf8(c, utf8);
    const std::u16string text = core::Utf8ToUtf16(utf8);
    ASSERT_EQ(core::Utf16ToUtf8(text), utf8) << std::hex << unsigned(c);
    ASSERT_EQ(text.size(), c < 0x10000 ? 1u : 2u) << std::hex << unsigned(c);
  }
}

}  // namespace
