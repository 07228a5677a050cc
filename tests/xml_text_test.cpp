// The one filter both XML backends pass their texts through: it drops exactly the characters
// XML 1.0 cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "core/xmltext.h"

TEST(XmlCharactersTest, DropsWhatXmlCannotHoldAndNothingElse) {
  struct Case {
    const char* what;
    std::u16string text, kept;
  };
  const Case cases[] = {
      {"plain text", u"Socket Error # 10061", u"Socket Error # 10061"},
      {"NUL does not end the text", std::u16string(u"200\0 OK", 7), u"200 OK"},
      {"controls", u"\x01\x08\x0B\x0C\x0E\x1F|", u"|"},
      {"tab and line ends stay", u"a\tb\r\nc", u"a\tb\r\nc"},
      {"DEL and the C1 controls stay", u"\x7F\x80\x85\x9F", u"\x7F\x80\x85\x9F"},
      {"U+FFFE and U+FFFF", u"x\xFFFEy\xFFFFz", u"xyz"},
      {"the neighbours stay", u"\xD7FF\xE000\xFFFD", u"\xD7FF\xE000\xFFFD"},
      {"a surrogate pair stays", u"\xD83D\xDE00\xDBFF\xDFFF", u"\xD83D\xDE00\xDBFF\xDFFF"},
      {"lone halves go",
       u"a\xD83D"
       u"b\xDE00"
       u"c\xD83D",
       u"abc"},
      {"two high halves, then a pair", u"\xD800\xD83D\xDE00", u"\xD83D\xDE00"},
      {"empty", u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(core::XmlCharacters(c.text), c.kept) << c.what;
}
