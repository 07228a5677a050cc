#include "core/calendar.h"

#include <cmath>

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

}  // namespace

int core::DayOfWeek(int year, int month, int day) {
  const std::int64_t days = DaysFromCivil(year, month, day);
  return static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}

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
