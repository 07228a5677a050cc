#include "monitor/settings.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "tests/support/process.h"

namespace {

using namespace std::string_literals;

TEST(ExtractBetween, CutsAfterTheStartAndBeforeTheFirstEndAfterIt) {
  struct Case {
    std::string text, start, end, expected;
  } cases[] = {
      {"a<x>value</x>b", "<x>", "</x>", "value"},
      {"<x> v \r\n</x>", "<x>", "</x>", " v \r\n"},
      {"<x>1</x><x>2</x>", "<x>", "</x>", "1"},
      {"</x><x>tail", "<x>", "</x>", "tail"},
      {"no marker", "<x>", "</x>", ""},
      {"whole</x>rest", "", "</x>", "whole"},
      {"<x>everything after", "<x>", "", "everything after"},
      {"", "", "", ""},
      {"a\0b<x>c\0d</x>"s, "<x>", "</x>", "c\0d"s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractBetween(c.text, c.start, c.end), c.expected) << c.text;
}

TEST(StrToIntOrZero, ConvertsTheWholeTextOrGivesZero) {
  struct Case {
    std::string text;
    std::int32_t expected;
  } cases[] = {
      {"60", 60},
      {" 60", 60},
      {"   -60", -60},
      {"60 ", 0},
      {"\t60", 0},
      {"+7", 7},
      {"-2147483648", INT32_MIN},
      {"2147483647", 2147483647},
      {"2147483648", 0},
      {"-2147483649", 0},
      {"$1F", 31},
      {"x1F", 31},
      {"X1f", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"$FFFFFFFF", -1},
      {"$100000000", 0},
      {"$000000001", 1},
      {"-$1", -1},
      {"-0x80000000", INT32_MIN},
      {"$", 0},
      {"0x", 0},
      {"- 5", 0},
      {"", 0},
      {"-", 0},
      {"+", 0},
      {"12abc", 0},
      {"60\r\n", 0},
      {"007", 7},
      {"0", 0},
      {"60\0garbage"s, 60},
      {"$1F\0z"s, 31},
      {"1e3", 0},
      {"$1G", 0},
      {"99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToIntOrZero(c.text), c.expected) << '"' << c.text << '"';
}

TEST(StrToDateTimeOrZero, EmptyTextIsZeroAndOtherTextMustBeADateTime) {
  EXPECT_EQ(StrToDateTimeOrZero(""), 0.0);
  try {
    StrToDateTimeOrZero("2017-13-01");
    FAIL() << "no failure raised";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.ClassName(), "EConvertError");
    EXPECT_EQ(failure.Message(), "'2017-13-01' is not a valid date and time");
  }
}

class SettingsFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) {
    std::string path = directory_.File("EventLog.XML");
    WriteFileBytes(path, content);
    return path;
  }
  TemporaryDirectory directory_;
};

TEST_F(SettingsFile, ReadXMLTagFindsTheTextBetweenTheFirstMarkers) {
  struct Case {
    std::string content, expected;
  } cases[] = {
      {"<?xml version=\"1.0\"?>\r\n<EventLog>\r\n<LogFile>System</LogFile>\r\n</EventLog>\r\n",
       "System"},
      {"<LogFile> System\r\n</LogFile>", " System\r\n"},
      {"<LogFile>first</LogFile><LogFile>second</LogFile>", "first"},
      {"<LogFile>no closing marker", ""},
      {"</LogFile> before <LogFile>rest of file\r\n", "rest of file\r\n"},
      {"<logfile>System</logfile>", ""},
      {"<LogFile >System</LogFile>", ""},
      {"<LogFile a=\"1\">System</LogFile>", ""},
      {"<!-- <LogFile>Commented</LogFile> -->", "Commented"},
      {"<LogFile>Sys\0tem</LogFile>"s, "Sys\0tem"s},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadXMLTag(Write(c.content), "LogFile"), c.expected);
}

TEST_F(SettingsFile, ReadXMLTagOfAMissingFileIsEmpty) {
  EXPECT_EQ(ReadXMLTag(directory_.File("absent.XML"), "LogFile"), "");
  EXPECT_EQ(ReadXMLTag(directory_.Path(), "LogFile"), "") << "a directory is not a file";
}

TEST_F(SettingsFile, ReadFileToStringReturnsEveryByteWhateverTheLength) {
  for (std::size_t length : {0u, 1u, 2047u, 2048u, 2049u, 4096u, 4097u, 10000u}) {
    std::string content;
    for (std::size_t i = 0; i < length; ++i) content += static_cast<char>(i * 7 % 256);
    EXPECT_EQ(ReadFileToString(Write(content)), content) << length << " bytes";
  }
}

TEST_F(SettingsFile, ReadFileToStringOfAMissingFileSaysSo) {
  std::string name = directory_.File("absent.XML");
  EXPECT_EQ(ReadFileToString(name), name + " does not exist");
}

}  // namespace
