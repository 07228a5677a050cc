// Conversion between UTF-16 and the locale's character set. The set is read once per process,
// so each locale runs in a child process of this test binary. The plain C and POSIX locales take
// their texts as UTF-8, as C.UTF-8 does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/text.h"
#include "tests/support/process.h"

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

namespace {

// Texts whose ASCII runs start and end at every place within the four units the fast copy
// takes at a time.
const std::u16string kFastPathTexts[] = {
    u"",
    u"a",
    u"abc",
    u"abcd",
    u"Service Control Manager",
    u"The Print Spooler service entered the running state.",
    std::u16string(u"nul\0inside\0", 11),
    std::u16string(u"\0", 1),
    u"\u00E9",
    u"a\u00E9",
    u"ab\u00E9",
    u"abc\u00E9",
    u"abcd\u00E9",
    u"abcde\u00E9fghijk",
    u"abcdefg\u00FCabcdefg\u00DF",
    u"\u007F\u0080\u00FF\u0100",
    u"Gr\u00FC\u00DFe aus K\u00F6ln \u20AC",
    u"\u041F\u0440\u0438\u0432\u0435\u0442, world",
    u"abcd\xD83D\xDE00wxyz",
    u"abcd\xD83D",
    u"abc\xDE00xyz",
    u"ab\xD83D"
    u"cdefgh",
    u"\x4100\x0041\x8000\x0080",  // high bytes that are ASCII in the other half of the unit
};

std::string LittleEndianBytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(char(unit & 0xFF));
    bytes.push_back(char(unit >> 8));
  }
  return bytes;
}

}  // namespace

// Disabled in the suite itself: it runs in the children of EvtText.FastPathFollowsTheLocale.
// The record reader's copy of ASCII runs must give the very bytes of the general conversion.
TEST(EvtTextFastPathInLocale, DISABLED_MatchesGeneralPath) {
  const char* umlaut = std::getenv("EVT_TEXT_UMLAUT");
  ASSERT_NE(umlaut, nullptr);
  EXPECT_EQ(platform::WideToAnsi(u"\u00FC"), umlaut);
  for (const std::u16string& text : kFastPathTexts) {
    const std::string bytes = LittleEndianBytes(text);
    std::string fast = "prefix";
    platform::AppendUtf16LeAsAnsi(reinterpret_cast<const std::uint8_t*>(bytes.data()), text.size(),
                                  fast);
    EXPECT_EQ(fast, "prefix" + platform::WideToAnsi(text)) << bytes.size() << " bytes";
  }
}

TEST(EvtText, FastPathFollowsTheLocale) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  // 8-bit locales compiled into a private directory; a system without their definitions
  // checks the UTF-8 ones only.
  TemporaryDirectory locales;
  struct Locale {
    std::string name;
    std::string umlaut;  // how the locale writes u-umlaut
    std::string source;  // definition and character map for localedef, empty for built-in ones
    std::string charmap;
  };
  const Locale all[] = {{"C.UTF-8", "\xC3\xBC", "", ""},
                        {"C", "\xC3\xBC", "", ""},
                        {"POSIX", "\xC3\xBC", "", ""},
                        {"de_DE.ISO-8859-1", "\xFC", "de_DE", "ISO-8859-1"},
                        {"ru_RU.KOI8-R", "?", "ru_RU", "KOI8-R"}};
  int checked = 0;
  for (const Locale& locale : all) {
    SCOPED_TRACE(locale.name);
    if (!locale.source.empty()) {
      ProcessRun compile;
      compile.Executable = "/usr/bin/localedef";
      compile.Arguments = {"-i", locale.source, "-f", locale.charmap, locales.File(locale.name)};
      RunProcess(compile);
      // localedef ends with 1 after mere warnings too; what counts is the compiled locale.
      if (!PathExists(locales.File(locale.name) + "/LC_CTYPE")) continue;
    }
    ProcessRun run;
    run.Executable = self;
    run.Arguments = {"--gtest_filter=EvtTextFastPathInLocale.*", "--gtest_also_run_disabled_tests"};
    run.Environment = {
        {"LC_ALL", locale.name}, {"LOCPATH", locales.Path()}, {"EVT_TEXT_UMLAUT", locale.umlaut}};
    ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("[  PASSED  ] 1 test"), std::string::npos) << result.Output;
    ++checked;
  }
  EXPECT_GE(checked, 3);
}
