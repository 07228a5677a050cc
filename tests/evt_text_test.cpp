// Conversion between UTF-16 and the locale's character set. The set is read once per process,
// so each locale runs in a child process of this test binary. The plain C and POSIX locales take
// their texts as UTF-8, as C.UTF-8 does.
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
};

const TextCase kCases[] = {
    {u"plain text", "plain text"},
    {u"Gr\u00FC\u00DFe",
     "Gr\xC3\xBC\xC3\x9F"
     "e"},
    {u"\u07FF\u0800\u20AC", "\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC"},
    {u"\xD83D\xDE00!", "\xF0\x9F\x98\x80!"},  // a surrogate pair is one character
    {u"a\xD83D"
     u"b",
     "a?b"},             // unpaired high surrogate
    {u"\xDE00z", "?z"},  // unpaired low surrogate
    {u"x\xD83D", "x?"},  // high surrogate at the end
    {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
};

}  // namespace

// Disabled in the suite itself: it runs in the children of EvtText.WideToAnsiFollowsTheLocale,
// each under a locale whose texts are UTF-8.
TEST(EvtTextInLocale, DISABLED_ConvertsBothWays) {
  for (const TextCase& c : kCases) EXPECT_EQ(platform::WideToAnsi(c.wide), c.utf8) << c.utf8;
  struct Incoming {
    std::string text;
    std::u16string utf8;
  };
  const Incoming incoming[] = {
      {"abc", u"abc"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       u"Gr\u00FC\u00DFe"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"\xFF"
       "a",
       u"?a"},                   // no UTF-8 lead byte
      {"\xC3", u"?"},            // sequence cut short
      {"\xC0\xAF", u"??"},       // overlong form
      {"\xED\xA0\x80", u"???"},  // encoded surrogate
  };
  for (const Incoming& c : incoming) EXPECT_EQ(platform::AnsiToWide(c.text), c.utf8) << c.text;
}

TEST(EvtText, WideToAnsiFollowsTheLocale) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const char* locale : {"C.UTF-8", "C", "POSIX"}) {
    SCOPED_TRACE(locale);
    ProcessRun run;
    run.Executable = self;
    run.Arguments = {"--gtest_filter=EvtTextInLocale.*", "--gtest_also_run_disabled_tests"};
    run.Environment = {{"LC_ALL", locale}};
    ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
  }
}
