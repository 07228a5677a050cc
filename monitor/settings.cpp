#include "monitor/settings.h"

#include "core/ascii.h"
#include "core/errors.h"
#include "monitor/pageaction.h"
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

void ApplyLogFile(const std::string& text, tEventSearchRecord& settings) {
  settings.LogFile = text;
}
void ApplyEventId(const std::string& text, tEventSearchRecord& settings) {
  settings.EventID = StrToIntOrZero(text);
}
void ApplyAction(const std::string& text, tEventSearchRecord& settings) {
  settings.Action = AsciiLowerCase(text);
}
void ApplyLoggedAfter(const std::string& text, tEventSearchRecord& settings) {
  settings.LoggedAfter = StrToDateTimeOrZero(text);
}
void ApplySleep(const std::string& text, tEventSearchRecord& settings) {
  settings.Sleep = StrToIntOrZero(text);
}

std::string DescribeLogFile(const tEventSearchRecord& settings) {
  if (settings.LogFile.empty()) return VisibleText(kDefaultLogName) + " (the default)";
  return VisibleText(settings.LogFile);
}
std::string DescribeEventId(const tEventSearchRecord& settings) {
  if (settings.EventID == 0) return "0 (any event)";
  if (settings.EventID < 0 || settings.EventID > kLargestEventId)
    return std::to_string(settings.EventID) + " (never matches)";
  return std::to_string(settings.EventID);
}
std::string DescribeAction(const tEventSearchRecord& settings) {
  return VisibleText(settings.Action) +
         (settings.Action == kPageAction ? " (pages)" : " (does not page)");
}
std::string DescribeLoggedAfter(const tEventSearchRecord& settings) {
  if (settings.LoggedAfter == 0) return "none (the newest match is reported at once)";
  return FullYearDateTimeText(settings.LoggedAfter);
}
std::string DescribeSleep(const tEventSearchRecord& settings) {
  if (settings.Sleep <= 0) return std::to_string(settings.Sleep) + " (one cycle)";
  return std::to_string(settings.Sleep) + " (seconds between cycles)";
}

}  // namespace

const std::array<tSettingTag, 5> kSettingTags = {{
    {"LogFile", &tSettingsText::LogFile, ApplyLogFile, DescribeLogFile,
     "EventLog watches Application", ""},
    {"EventID", &tSettingsText::EventID, ApplyEventId, DescribeEventId, "any event matches", ""},
    {"Action", &tSettingsText::Action, ApplyAction, DescribeAction, "EventLog does not page", ""},
    {"LoggedAfter", &tSettingsText::LoggedAfter, ApplyLoggedAfter, DescribeLoggedAfter,
     "the newest match is reported at once", "not a date-time"},
    {"Sleep", &tSettingsText::Sleep, ApplySleep, DescribeSleep, "EventLog runs one cycle and ends",
     ""},
}};

tSettingsText ReadSettingsText(const std::string& fileName) {
  tSettingsText text;
  for (const tSettingTag& tag : kSettingTags) text.*tag.Text = ReadXMLTag(fileName, tag.Name);
  return text;
}

tSettingsText SettingsTextOf(const std::string& content) {
  tSettingsText text;
  for (const tSettingTag& tag : kSettingTags) text.*tag.Text = TagText(content, tag.Name);
  return text;
}

void ApplySettingsText(const tSettingsText& text, tEventSearchRecord& settings) {
  for (const tSettingTag& tag : kSettingTags) tag.Apply(text.*tag.Text, settings);
}

std::string AsciiLowerCase(std::string text) { return core::AsciiLowered(text); }

std::string ReadXMLTag(std::string fileName, std::string tagName) {
  if (!platform::FileExists(fileName)) return "";
  return TagText(ReadFileToString(fileName), tagName);
}

std::string TagText(const std::string& content, const std::string& tagName) {
  std::string openingMarker = "<" + tagName + ">";
  std::string closingMarker = "</" + tagName + ">";
  if (content.find(openingMarker) == std::string::npos ||
      content.find(closingMarker) == std::string::npos)
    return "";
  return ExtractBetween(content, openingMarker, closingMarker);
}

tFileContent ReadFileContent(const std::string& fileName) {
  tFileContent content;
  content.Exists = platform::FileExists(fileName);
  if (!content.Exists) return content;
  try {
    // A link, a FIFO, a device or a file past the cap is refused unread, and the monitor's
    // error line names it; a file that cannot be opened reads as empty.
    const platform::WholeFile file = platform::ReadRegularFile(fileName, kLargestSettingsFile);
    if (platform::IsRefused(file))
      throw EFOpenError(platform::WholeFileProblem(fileName, file, kLargestSettingsFile) +
                        "; settings are read only from a regular file of at most " +
                        platform::SizeText(kLargestSettingsFile) + ", not through a link");
    content.Opened = file.Outcome != platform::WholeFileOutcome::CannotOpen;
    content.Bytes = file.Content;
    if (file.Outcome == platform::WholeFileOutcome::ReadFailed)
      content.Failure =
          FailureDescription{"EInOutError", platform::WholeFileProblem(fileName, file, 0)};
  } catch (const EFOpenError&) {
    throw;
  } catch (const std::exception& failure) {
    content.Failure = DescribeFailure(failure);
  }
  return content;
}

std::string ReadFileToString(std::string fileName) {
  const tFileContent content = ReadFileContent(fileName);
  if (!content.Exists) return fileName + " does not exist";
  if (content.Failure)
    return "Error: " + content.Failure->Message + " (" + content.Failure->ClassName + ")";
  return content.Bytes;
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

namespace {

void AppendEscaped(char c, bool quoted, std::string& shown) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  if (c == '\r')
    shown += "\\r";
  else if (c == '\n')
    shown += "\\n";
  else if (c == '\t')
    shown += "\\t";
  else if (quoted && (c == '"' || c == '\\'))
    shown += std::string("\\") + c;
  else if (byte < 32 || byte == 127)
    shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
  else
    shown += c;
}

}  // namespace

std::string EscapedText(const std::string& text) {
  std::string shown;
  for (char c : text) AppendEscaped(c, false, shown);
  return shown;
}

std::string VisibleText(const std::string& text) {
  std::string shown = "\"";
  for (char c : text) AppendEscaped(c, true, shown);
  return shown + "\"";
}

std::string FullYearDateTimeText(TDateTime moment) {
  RegionalSettings settings = FormatSettings();
  std::string& format = settings.ShortDateFormat;
  const std::size_t first = format.find_first_of("yY");
  if (first != std::string::npos) {
    std::size_t end = first;
    while (end < format.size() && (format[end] == 'y' || format[end] == 'Y')) ++end;
    if (end - first < 4) format.replace(first, end - first, "yyyy");
  }
  return DateTimeToStr(moment, settings);
}
