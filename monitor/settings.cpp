#include "monitor/settings.h"

#include "core/ascii.h"
#include "core/errors.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

// The most of a settings file that is read; a larger file is refused.
constexpr std::size_t kLargestSettingsFile = std::size_t(1) << 20;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Parses digits from position to the end of the text (or its first zero byte) into value.
bool ParseHexDigits(const std::string& text, std::size_t position, std::uint32_t& value) {
  std::size_t significant = 0;
  value = 0;
  if (position >= text.size() || !IsHexDigit(text[position])) return false;
  for (; position < text.size() && text[position] != '\0'; ++position) {
    if (!IsHexDigit(text[position])) return false;
    if (value == 0 && text[position] == '0') continue;  // leading zeros are not significant
    if (++significant > 8) return false;
    value = (value << 4) | static_cast<std::uint32_t>(HexValue(text[position]));
  }
  return true;
}

bool ParseDecimalDigits(const std::string& text, std::size_t position, bool negative,
                        std::int32_t& result) {
  constexpr std::int64_t kLimit = 2147483648LL;
  std::int64_t value = 0;
  if (position >= text.size() || text[position] < '0' || text[position] > '9') return false;
  for (; position < text.size() && text[position] != '\0'; ++position) {
    if (text[position] < '0' || text[position] > '9') return false;
    value = value * 10 + (text[position] - '0');
    if (value > kLimit) return false;
  }
  if (!negative && value == kLimit) return false;
  result = static_cast<std::int32_t>(negative ? -value : value);
  return true;
}

// The length of a hexadecimal prefix at position: "$", "x", "X", "0x", "0X"; 0 for none.
std::size_t HexPrefixLength(const std::string& text, std::size_t position) {
  if (position >= text.size()) return 0;
  char c = text[position];
  if (c == '$' || c == 'x' || c == 'X') return 1;
  if (c == '0' && position + 1 < text.size() && (text[position + 1] | 0x20) == 'x') return 2;
  return 0;
}

}  // namespace

tSettingsText ReadSettingsText(const std::string& fileName) {
  tSettingsText text;
  text.LogFile = ReadXMLTag(fileName, "LogFile");
  text.EventID = ReadXMLTag(fileName, "EventID");
  text.Action = ReadXMLTag(fileName, "Action");
  text.LoggedAfter = ReadXMLTag(fileName, "LoggedAfter");
  text.Sleep = ReadXMLTag(fileName, "Sleep");
  return text;
}

void ApplySettingsText(const tSettingsText& text, tEventSearchRecord& settings) {
  settings.LogFile = text.LogFile;
  settings.EventID = StrToIntOrZero(text.EventID);
  settings.Action = AsciiLowerCase(text.Action);
  settings.LoggedAfter = StrToDateTimeOrZero(text.LoggedAfter);
  settings.Sleep = StrToIntOrZero(text.Sleep);
}

std::string AsciiLowerCase(std::string text) { return core::AsciiLowered(text); }

std::string ReadXMLTag(std::string fileName, std::string tagName) {
  if (!platform::FileExists(fileName)) return "";
  std::string content = ReadFileToString(fileName);
  std::string openingMarker = "<" + tagName + ">";
  std::string closingMarker = "</" + tagName + ">";
  if (content.find(openingMarker) == std::string::npos ||
      content.find(closingMarker) == std::string::npos)
    return "";
  return ExtractBetween(content, openingMarker, closingMarker);
}

std::string ReadFileToString(std::string fileName) {
  if (!platform::FileExists(fileName)) return fileName + " does not exist";
  try {
    // A link, a FIFO, a device or a file past the cap is refused unread, and the monitor's
    // error line names it; a file that cannot be opened reads as empty.
    const platform::WholeFile file = platform::ReadRegularFile(fileName, kLargestSettingsFile);
    if (platform::IsRefused(file))
      throw EFOpenError(platform::WholeFileProblem(fileName, file, kLargestSettingsFile) +
                        "; settings are read only from a regular file of at most " +
                        platform::SizeText(kLargestSettingsFile) + ", not through a link");
    return file.Content;
  } catch (const EFOpenError&) {
    throw;
  } catch (const std::exception& failure) {
    FailureDescription description = DescribeFailure(failure);
    return "Error: " + description.Message + " (" + description.ClassName + ")";
  }
}

std::string ExtractBetween(std::string text, std::string startMarker, std::string endMarker) {
  std::size_t start = 0;
  if (!startMarker.empty()) {
    start = text.find(startMarker);
    if (start == std::string::npos) return "";
  }
  std::string rest = text.substr(start + startMarker.size());
  if (!endMarker.empty()) {
    std::size_t end = rest.find(endMarker);
    if (end != std::string::npos) rest.resize(end);
  }
  return rest;
}

std::int32_t StrToIntOrZero(std::string text) {
  std::size_t position = 0;
  while (position < text.size() && text[position] == ' ') ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  if (std::size_t prefix = HexPrefixLength(text, position); prefix > 0) {
    std::uint32_t pattern = 0;
    if (!ParseHexDigits(text, position + prefix, pattern)) return 0;
    if (negative) pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
  }
  std::int32_t value = 0;
  return ParseDecimalDigits(text, position, negative, value) ? value : 0;
}

TDateTime StrToDateTimeOrZero(std::string text) {
  if (text.empty()) return 0;
  TDateTime moment = 0;
  if (!TryStrToDateTime(text, moment))
    throw EConvertError("'" + text + "' is not a valid date and time");
  return moment;
}
