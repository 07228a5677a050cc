#include "core/datetime_parse.h"

#include <optional>
#include <utility>

#include "core/ascii.h"
#include "core/datetime_format.h"

namespace {

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

DateOrder DateOrderOf(std::string_view shortDateFormat) {
  for (size_t i = 0; i < shortDateFormat.size();) {
    if (shortDateFormat[i] == '"' || shortDateFormat[i] == '\'') {
      i = QuotedTextEnd(shortDateFormat, i);
      continue;
    }
    switch (core::AsciiLower(shortDateFormat[i++])) {
      case 'd':
        return DateOrder::DayMonthYear;
      case 'm':
        return DateOrder::MonthDayYear;
      case 'y':
      case 'e':
        return DateOrder::YearMonthDay;
    }
  }
  return DateOrder::MonthDayYear;
}

struct ScannedNumber {
  int Value = 0;
  int Digits = 0;
};

// Reads date-time text left to right; a failed step leaves the position where it was.
class TextScanner {
 public:
  explicit TextScanner(std::string_view text, size_t position = 0)
      : text_(text), position_(position) {}

  size_t Position() const { return position_; }
  bool AtEnd() const { return position_ >= text_.size(); }

  void SkipBlanks() {
    while (position_ < text_.size() && text_[position_] == ' ') ++position_;
  }

  // Blanks, then digits while the value so far is below 1000.
  bool Number(ScannedNumber& number) {
    const size_t start = position_;
    SkipBlanks();
    number = {};
    while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9' &&
           number.Value < 1000) {
      number.Value = number.Value * 10 + (text_[position_++] - '0');
      ++number.Digits;
    }
    if (number.Digits > 0) return true;
    position_ = start;
    return false;
  }

  // Blanks, then exactly the given character.
  bool Separator(char separator) {
    const size_t start = position_;
    SkipBlanks();
    if (position_ < text_.size() && text_[position_] == separator) {
      ++position_;
      return true;
    }
    position_ = start;
    return false;
  }

  // Blanks, then a designator compared without regard to case; the result says which one.
  std::optional<bool> Designator(const RegionalSettings& settings) {
    const size_t start = position_;
    SkipBlanks();
    const std::pair<std::string_view, bool> candidates[] = {
        {settings.TimeAMString, false}, {settings.TimePMString, true}, {"AM", false}, {"PM", true}};
    for (const auto& [word, afternoon] : candidates) {
      if (!word.empty() && core::StartsWithIgnoringAsciiCase(text_.substr(position_), word)) {
        position_ += word.size();
        SkipBlanks();
        return afternoon;
      }
    }
    position_ = start;
    return std::nullopt;
  }

 private:
  std::string_view text_;
  size_t position_;
};

int YearInWindow(int year, int currentYear) {
  const int windowStart = currentYear - 50;
  year += 100 * (windowStart / 100);
  if (year < windowStart) year += 100;
  return year;
}

bool ScanDate(TextScanner& scanner, const RegionalSettings& settings, int currentYear,
              TDateTime& date) {
  ScannedNumber first, second, third;
  if (!scanner.Number(first) || !scanner.Separator(settings.DateSeparator) ||
      !scanner.Number(second))
    return false;
  const DateOrder order = DateOrderOf(settings.ShortDateFormat);
  int year = currentYear, month, day;
  if (scanner.Separator(settings.DateSeparator)) {
    if (!scanner.Number(third)) return false;
    const ScannedNumber yearNumber = order == DateOrder::YearMonthDay ? first : third;
    year = yearNumber.Digits <= 2 ? YearInWindow(yearNumber.Value, currentYear) : yearNumber.Value;
    if (order == DateOrder::MonthDayYear) {
      month = first.Value, day = second.Value;
    } else if (order == DateOrder::DayMonthYear) {
      day = first.Value, month = second.Value;
    } else {
      month = second.Value, day = third.Value;
    }
  } else if (order == DateOrder::DayMonthYear) {
    day = first.Value, month = second.Value;
  } else {
    month = first.Value, day = second.Value;
  }
  scanner.Separator(settings.DateSeparator);
  scanner.SkipBlanks();
  return TryEncodeDate(year, month, day, date);
}

bool ScanTime(TextScanner& scanner, const RegionalSettings& settings, TDateTime& time) {
  std::optional<bool> afternoon = scanner.Designator(settings);
  ScannedNumber hour, minute, second, millisecond;
  if (!scanner.Number(hour)) return false;
  if (scanner.Separator(settings.TimeSeparator)) {
    if (!scanner.Number(minute)) return false;
    if (scanner.Separator(settings.TimeSeparator)) {
      if (!scanner.Number(second)) return false;
      if (scanner.Separator(settings.DecimalSeparator) && !scanner.Number(millisecond))
        return false;
    }
  }
  if (!afternoon) afternoon = scanner.Designator(settings);
  scanner.SkipBlanks();
  int hourOfDay = hour.Value;
  if (afternoon) {
    if (hourOfDay < 1 || hourOfDay > 12) return false;
    hourOfDay = hourOfDay % 12 + (*afternoon ? 12 : 0);
  }
  return TryEncodeTime(hourOfDay, minute.Value, second.Value, millisecond.Value, time);
}

}  // namespace

bool TryStrToDateTime(std::string_view text, TDateTime& moment, const RegionalSettings& settings,
                      int currentYear) {
  TextScanner scanner(text);
  TDateTime date = 0, time = 0;
  if (ScanDate(scanner, settings, currentYear, date)) {
    if (scanner.AtEnd()) {
      moment = date;
      return true;
    }
    if (ScanTime(scanner, settings, time)) {
      moment = ComposeDateTime(date, time);
      return true;
    }
  }
  TextScanner timeAlone(text);
  if (ScanTime(timeAlone, settings, time) && timeAlone.AtEnd()) {
    moment = time;
    return true;
  }
  return false;
}
