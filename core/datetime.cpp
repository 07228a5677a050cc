#include "core/datetime.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "core/ascii.h"
#include "core/errors.h"

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kUnixEpochSerial = 25569;  // 1970-01-01 counted from 1899-12-30
// Beyond these the calendar arithmetic is meaningless; 10000 years each way is plenty.
constexpr double kLargestDayCount = 4000000.0;

// Days from 1970-01-01 in the proleptic Gregorian calendar (valid for any year).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, core::SystemTime& fields) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  fields.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  fields.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  fields.Year = static_cast<int>(yearOfEra + era * 400 + (fields.Month <= 2 ? 1 : 0));
}

// Whether the text begins with the word, letter case aside.
bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
  return core::StartsWithIgnoringAsciiCase(text, word);
}

// ---- Formatting ----

const char* const kEnglishDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};

std::string Padded(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The length of a designator item ("AMPM", "am/pm", "a/p") starting at a position, else 0.
size_t DesignatorItemLength(std::string_view pattern, size_t at) {
  const std::string_view rest = pattern.substr(at);
  if (EqualsIgnoringCase(rest, "ampm")) return 4;
  if (EqualsIgnoringCase(rest, "am/pm")) return 5;
  if (EqualsIgnoringCase(rest, "a/p")) return 3;
  return 0;
}

// Where quoted text ends: after the closing quote, or at the end of an unterminated pattern.
size_t QuotedEnd(std::string_view pattern, size_t open) {
  const size_t close = pattern.find(pattern[open], open + 1);
  return close == std::string_view::npos ? pattern.size() : close + 1;
}

// A pattern with a designator item shows the hour on the 12-hour clock.
bool UsesTwelveHourClock(std::string_view pattern) {
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] == '"' || pattern[i] == '\'') {
      i = QuotedEnd(pattern, i);
    } else if (DesignatorItemLength(pattern, i) > 0) {
      return true;
    } else {
      ++i;
    }
  }
  return false;
}

int WeekdayOf(const core::SystemTime& fields) {
  const std::int64_t days = DaysFromCivil(fields.Year, fields.Month, fields.Day);
  return static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}

class PatternWriter {
 public:
  PatternWriter(const core::SystemTime& fields, const RegionalSettings& settings, bool twelveHour)
      : fields_(fields), settings_(settings), twelveHour_(twelveHour) {}

  std::string Write(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size();) i = WriteItemAt(pattern, i);
    return std::move(out_);
  }

 private:
  size_t WriteItemAt(std::string_view pattern, size_t at) {
    const char c = pattern[at];
    if (c == '"' || c == '\'') {
      const size_t close = pattern.find(c, at + 1);
      if (close == std::string_view::npos) {
        out_.append(pattern.substr(at + 1));
        return pattern.size();
      }
      out_.append(pattern.substr(at + 1, close - at - 1));
      return close + 1;
    }
    if (c == '/') return Append(settings_.DateSeparator, at + 1);
    if (c == ':') return Append(settings_.TimeSeparator, at + 1);
    if (const size_t length = DesignatorItemLength(pattern, at)) {
      WriteDesignator(pattern.substr(at, length));
      afterHour_ = false;
      return at + length;
    }
    const char letter = core::AsciiLower(c);
    if (std::string_view("ymdhnsz").find(letter) == std::string_view::npos)
      return Append(c, at + 1);
    size_t end = at;
    while (end < pattern.size() && core::AsciiLower(pattern[end]) == letter) ++end;
    WriteNumberItem(letter, static_cast<int>(end - at));
    afterHour_ = letter == 'h';
    return end;
  }

  size_t Append(char c, size_t next) {
    out_ += c;
    return next;
  }

  void WriteDesignator(std::string_view item) {
    const bool morning = fields_.Hour < 12;
    if (item.size() == 4) {
      out_ += morning ? settings_.TimeAMString : settings_.TimePMString;
    } else if (item.size() == 5) {
      out_.append(morning ? item.substr(0, 2) : item.substr(3, 2));
    } else {
      out_ += morning ? item[0] : item[2];
    }
  }

  void WriteNumberItem(char letter, int count) {
    switch (letter) {
      case 'y':
        out_ += count <= 2 ? Padded(fields_.Year % 100, 2) : Padded(fields_.Year, 4);
        break;
      case 'm':
        if (count <= 2 && afterHour_) {
          out_ += Padded(fields_.Minute, count);
        } else if (count <= 2) {
          out_ += Padded(fields_.Month, count);
        } else if (fields_.Month >= 1 && fields_.Month <= 12) {
          out_ += settings_.ShortMonthNames[fields_.Month - 1];
        }
        break;
      case 'd':
        if (count <= 2) {
          out_ += Padded(fields_.Day, count);
        } else {
          const std::string name = kEnglishDayNames[WeekdayOf(fields_)];
          out_ += count == 3 ? name.substr(0, 3) : name;
        }
        break;
      case 'h':
        out_ += Padded(DisplayedHour(), count >= 2 ? 2 : 1);
        break;
      case 'n':
        out_ += Padded(fields_.Minute, count >= 2 ? 2 : 1);
        break;
      case 's':
        out_ += Padded(fields_.Second, count >= 2 ? 2 : 1);
        break;
      case 'z':
        out_ += Padded(fields_.Millisecond, count >= 2 ? 3 : 1);
        break;
    }
  }

  int DisplayedHour() const {
    if (!twelveHour_) return fields_.Hour;
    const int hour = fields_.Hour % 12;
    return hour == 0 ? 12 : hour;
  }

  const core::SystemTime& fields_;
  const RegionalSettings& settings_;
  const bool twelveHour_;
  bool afterHour_ = false;
  std::string out_;
};

std::string FormatFields(std::string_view pattern, const core::SystemTime& fields,
                         const RegionalSettings& settings) {
  return PatternWriter(fields, settings, UsesTwelveHourClock(pattern)).Write(pattern);
}

// ---- Parsing ----

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

DateOrder DateOrderOf(std::string_view shortDateFormat) {
  for (size_t i = 0; i < shortDateFormat.size();) {
    if (shortDateFormat[i] == '"' || shortDateFormat[i] == '\'') {
      i = QuotedEnd(shortDateFormat, i);
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
      if (!word.empty() && EqualsIgnoringCase(text_.substr(position_), word)) {
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

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  date = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochSerial);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  const std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  time = static_cast<double>(ms) / kMillisecondsPerDay;
  return true;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date >= 0 ? date + time : date - time;
}

core::SystemTime DecodeDateTime(TDateTime moment) {
  core::SystemTime fields;
  if (!std::isfinite(moment) || std::fabs(moment) > kLargestDayCount) return fields;
  // The day is the integral part toward zero and the time the fraction's size, so rounding
  // the size of the whole value keeps both halves together.
  const std::int64_t total = std::llround(std::fabs(moment) * kMillisecondsPerDay);
  const std::int64_t days = total / kMsPerDay;
  std::int64_t ms = total % kMsPerDay;
  CivilFromDays((moment < 0 ? -days : days) - kUnixEpochSerial, fields);
  fields.Millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  fields.Second = static_cast<int>(ms % 60);
  ms /= 60;
  fields.Minute = static_cast<int>(ms % 60);
  fields.Hour = static_cast<int>(ms / 60);
  return fields;
}

TDateTime EncodeDateTime(const core::SystemTime& fields) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(fields.Year, fields.Month, fields.Day, date) ||
      !TryEncodeTime(fields.Hour, fields.Minute, fields.Second, fields.Millisecond, time))
    throw EConvertError("Invalid date or time fields");
  return ComposeDateTime(date, time);
}

std::string FormatDateTime(std::string_view pattern, TDateTime moment,
                           const RegionalSettings& settings) {
  return FormatFields(pattern, DecodeDateTime(moment), settings);
}

std::string DateTimeToStr(TDateTime moment, const RegionalSettings& settings) {
  const core::SystemTime fields = DecodeDateTime(moment);
  std::string text = FormatFields(settings.ShortDateFormat, fields, settings);
  if (fields.Hour != 0 || fields.Minute != 0 || fields.Second != 0)
    text += ' ' + FormatFields(settings.LongTimeFormat, fields, settings);
  return text;
}

std::string DateTimeToStrOrEmpty(TDateTime moment) {
  return moment == 0 ? std::string() : DateTimeToStr(moment);
}

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
