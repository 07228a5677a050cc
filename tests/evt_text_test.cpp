// Conversion between UTF-16 and the locale's character set. The set is read once per process,
// so each locale runs in a child process of this test binary.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/posix/charset.h"
#include "platform/text.h"
#include "process.h"

namespace {

struct TextCase {
  std::u16string wide;
  std::string utf8;
  std::string ascii;
};

const TextCase kCases[] = {
    {u"plain text", "plain text", "plain text"},
    {u"Gr\u00FC\u00DFe",
     "Gr\xC3\xBC\xC3\x9F"
     "e",
     "Gr??e"},
    {u"\u07FF\u0800\u20AC", "\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC", "???"},
    {u"\xD83D\xDE00!", "\xF0\x9F\x98\x80!", "?!"},  // a surrogate pair is one character
    {u"a\xD83D"
     u"b",
     "a?b", "a?b"},            // unpaired high surrogate
    {u"\xDE00z", "?z", "?z"},  // unpaired low surrogate
    {u"x\xD83D", "x?", "x?"},  // high surrogate at the end
    {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", "?"},
};

}  // namespace

// Disabled in the suite itself: it runs in the children of EvtText.WideToAnsiFollowsTheLocale,
// where EVT_TEXT_CHARSET names the charset their locale has.
TEST(EvtTextInLocale, DISABLED_ConvertsBothWays) {
  const char* charset = std::getenv("EVT_TEXT_CHARSET");
  ASSERT_NE(charset, nullptr) << "runs inside EvtText.WideToAnsiFollowsTheLocale";
  const bool utf8 = std::string(charset) == "utf8";
  for (const TextCase& c : kCases) {
    const std::string& expected = utf8 ? c.utf8 : c.ascii;
    EXPECT_EQ(platform::WideToAnsi(c.wide), expected) << expected;
  }
  struct Incoming {
    std::string text;
    std::u16string utf8;
    std::u16string ascii;
  };
  const Incoming incoming[] = {
      {"abc", u"abc", u"abc"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       u"Gr\u00FC\u00DFe", u"Gr????e"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00", u"????"},
      {"\xFF"
       "a",
       u"?a", u"?a"},                    // no UTF-8 lead byte
      {"\xC3", u"?", u"?"},              // sequence cut short
      {"\xC0\xAF", u"??", u"??"},        // overlong form
      {"\xED\xA0\x80", u"???", u"???"},  // encoded surrogate
  };
  for (const Incoming& c : incoming)
    EXPECT_EQ(platform::AnsiToWide(c.text), utf8 ? c.utf8 : c.ascii) << c.text;
}

TEST(EvtText, WideToAnsiFollowsTheLocale) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const auto& [locale, charset] :
       {std::pair{"C.UTF-8", "utf8"}, std::pair{"C", "ascii"}, std::pair{"POSIX", "ascii"}}) {
    SCOPED_TRACE(locale);
    ProcessRun run;
    run.Executable = self;
    run.Arguments = {"--gtest_filter=EvtTextInLocale.*", "--gtest_also_run_disabled_tests"};
    run.Environment = {{"LC_ALL", locale}, {"EVT_TEXT_CHARSET", charset}};
    ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
  }
}
