#include "core/regional.h"

#include <string_view>

namespace {

constexpr std::string_view kDefaultTimeFormatAmPm = "%I:%M:%S %p";

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Where a directive ends: after "%", any E or O modifier, and the conversion character.
size_t DirectiveEnd(std::string_view format, size_t percent) {
  size_t end = percent + 1;
  while (end < format.size() && (format[end] == 'E' || format[end] == 'O')) ++end;
  return end < format.size() ? end + 1 : format.size();
}

// Replaces the composite directives by their parts, so that a scan meets single items only.
std::string ExpandComposites(std::string_view format, std::string_view amPmFormat) {
  std::string expanded;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      expanded += format[i++];
      continue;
    }
    const size_t end = DirectiveEnd(format, i);
    const char conversion = format[end - 1];
    switch (end - i > 1 ? conversion : '\0') {
      case 'D':
        expanded += "%m/%d/%y";
        break;
      case 'F':
        expanded += "%Y-%m-%d";
        break;
      case 'T':
        expanded += "%H:%M:%S";
        break;
      case 'R':
        expanded += "%H:%M";
        break;
      case 'r':
        // An empty or self-referring 12-hour format falls back to the POSIX one.
        expanded += ExpandComposites(amPmFormat.empty() ? kDefaultTimeFormatAmPm : amPmFormat,
                                     kDefaultTimeFormatAmPm);
        break;
      case '\0':
        expanded += '%';
        break;
      default:
        expanded += '%';
        expanded += conversion;  // modifiers dropped
    }
    i = end;
  }
  return expanded;
}

// Literal text of a date format, quoted when it holds letters the formatter would take as items.
void AppendLiteral(std::string& pattern, const std::string& literal) {
  bool needsQuotes = false;
  for (char c : literal) needsQuotes |= IsAsciiLetter(c) || c == '"' || c == '\'';
  if (!needsQuotes) {
    pattern += literal;
    return;
  }
  const char quote = literal.find('"') == std::string::npos ? '"' : '\'';
  pattern += quote;
  pattern += literal;
  pattern += quote;
}

std::string_view DateItemFor(char conversion) {
  switch (conversion) {
    case 'd':
      return "dd";
    case 'e':
      return "d";
    case 'm':
      return "MM";
    case 'y':
      return "yy";
    case 'Y':
      return "yyyy";
    case 'b':
    case 'h':
      return "MMM";
    case 'B':
      return "MMMM";
    case '%':
      return "%";
    default:
      return "";  // weekday names, eras and the like have no short date item
  }
}

// Whether a byte of a locale's format is a character of its own. A byte above 127 may begin a
// character of several bytes (UTF-8, the East Asian sets: 년, 年, 時), which one byte cannot hold.
bool IsSingleByteCharacter(char c) { return static_cast<unsigned char>(c) < 0x80; }

void InterpretDateFormat(std::string_view dateFormat, LocaleValues& values) {
  const std::string format = ExpandComposites(dateFormat, "");
  std::string pattern;
  std::string literal;
  std::string itemsOnly;  // the items joined by the regional date separator
  std::optional<char> separator;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%' || i + 1 == format.size()) {
      if (!separator) separator = format[i];
      literal += format[i++];
      continue;
    }
    const size_t end = DirectiveEnd(format, i);
    AppendLiteral(pattern, literal);
    literal.clear();
    const std::string_view item = DateItemFor(format[end - 1]);
    pattern += item;
    if (!item.empty()) itemsOnly += (itemsOnly.empty() ? "" : "/") + std::string(item);
    i = end;
  }
  AppendLiteral(pattern, literal);
  if (separator && !IsSingleByteCharacter(*separator)) {
    // The locale marks its items with characters (2017년 10월 9일): the default separator joins
    // them instead, so that the date stays whole characters and reads back.
    if (!itemsOnly.empty()) values.ShortDateFormat = itemsOnly;
    return;
  }
  if (!pattern.empty()) values.ShortDateFormat = pattern;
  if (separator) values.DateSeparator = separator;
}

void InterpretTimeFormat(std::string_view timeFormat, std::string_view amPmFormat,
                         LocaleValues& values) {
  const std::string format = ExpandComposites(timeFormat, amPmFormat);
  std::optional<char> hourDirective;
  bool designatorBeforeHour = false;
  bool twelveHour = false;
  char separator = ':';
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      ++i;
      continue;
    }
    const size_t end = DirectiveEnd(format, i);
    const char conversion = format[end - 1];
    if (conversion == 'p' || conversion == 'P') {
      twelveHour = true;
      if (!hourDirective) designatorBeforeHour = true;
    } else if (conversion == 'I' || conversion == 'l') {
      twelveHour = true;
    }
    const bool isHour =
        conversion == 'H' || conversion == 'I' || conversion == 'k' || conversion == 'l';
    if (isHour && !hourDirective) {
      hourDirective = conversion;
      // A mark of several bytes (16시 24분) gives way to the default separator.
      if (end < format.size() && format[end] != '%' && IsSingleByteCharacter(format[end]))
        separator = format[end];
    }
    i = end;
  }
  if (!hourDirective) return;  // nothing to build a clock from
  values.TimeSeparator = separator;
  values.TwelveHourClock = twelveHour;
  values.LeadingZeroHour = *hourDirective == 'H' || *hourDirective == 'I';
  values.DesignatorFirst = twelveHour && designatorBeforeHour;
}

std::optional<std::string> PresentText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// A separator the settings can hold: exactly one byte.
std::optional<char> SingleByte(const std::string& text) {
  if (text.size() != 1) return std::nullopt;
  return text[0];
}

std::string LongTimeFormatFor(const LocaleValues& values) {
  std::string format = values.LeadingZeroHour ? "hh:mm:ss" : "h:mm:ss";
  if (!values.TwelveHourClock) return format;
  return values.DesignatorFirst ? "AMPM " + format : format + " AMPM";
}

}  // namespace

LocaleValues InterpretLocaleItems(const LocaleItems& items) {
  LocaleValues values;
  if (!items.DateFormat.empty()) InterpretDateFormat(items.DateFormat, values);
  if (!items.TimeFormat.empty())
    InterpretTimeFormat(items.TimeFormat, items.TimeFormatAmPm, values);
  values.TimeAMString = PresentText(items.AMString);
  values.TimePMString = PresentText(items.PMString);
  values.DecimalSeparator = SingleByte(items.Radix);
  values.ThousandSeparator = SingleByte(items.ThousandsSeparator);
  bool allMonths = true;
  for (const std::string& month : items.AbbreviatedMonths) allMonths &= !month.empty();
  if (allMonths) values.ShortMonthNames = items.AbbreviatedMonths;
  return values;
}

RegionalSettings BuildRegionalSettings(const LocaleValues& values) {
  RegionalSettings settings;
  if (values.ShortDateFormat) settings.ShortDateFormat = *values.ShortDateFormat;
  if (values.DateSeparator) settings.DateSeparator = *values.DateSeparator;
  if (values.TimeSeparator) settings.TimeSeparator = *values.TimeSeparator;
  if (values.TimeAMString) settings.TimeAMString = *values.TimeAMString;
  if (values.TimePMString) settings.TimePMString = *values.TimePMString;
  if (values.DecimalSeparator) settings.DecimalSeparator = *values.DecimalSeparator;
  if (values.ThousandSeparator) settings.ThousandSeparator = *values.ThousandSeparator;
  if (values.ShortMonthNames) settings.ShortMonthNames = *values.ShortMonthNames;
  settings.LongTimeFormat = LongTimeFormatFor(values);
  return settings;
}

RegionalSettings& FormatSettings() {
  static RegionalSettings settings;
  return settings;
}
