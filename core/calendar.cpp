#include "core/calendar.h"

#include <chrono>
#include <cmath>

#include "core/errors.h"

namespace {

namespace chrono = std::chrono;

constexpr std::int64_t kMsPerDay = 86400000;
// Day 0 of the date-time values.
constexpr chrono::sys_days kSerialZero{chrono::year{1899} / 12 / 30};
static_assert((chrono::sys_days{chrono::year{1970} / 1 / 1} - kSerialZero).count() ==
              core::kUnixEpochSerial);
// Beyond these the calendar arithmetic is meaningless; 10000 years each way is plenty (and well
// inside the years std::chrono can hold).
constexpr double kLargestDayCount = 4000000.0;

// The year as std::chrono holds it. Leap years repeat every 400 years, so a year outside the
// range chrono holds is taken by its place in that cycle.
chrono::year CalendarYear(int year) { return chrono::year{year % 400}; }

}  // namespace

int core::DayOfWeek(int year, int month, int day) {
  const chrono::year_month_day date{chrono::year{year}, chrono::month{static_cast<unsigned>(month)},
                                    chrono::day{static_cast<unsigned>(day)}};
  return static_cast<int>(chrono::weekday{chrono::sys_days{date}}.c_encoding());
}

bool IsLeapYear(int year) { return CalendarYear(year).is_leap(); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  const chrono::year_month_day_last last{
      CalendarYear(year), chrono::month_day_last{chrono::month{static_cast<unsigned>(month)}}};
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  const chrono::year_month_day civil{chrono::year{year},
                                     chrono::month{static_cast<unsigned>(month)},
                                     chrono::day{static_cast<unsigned>(day)}};
  if (!civil.ok()) return false;
  date = static_cast<double>((chrono::sys_days{civil} - kSerialZero).count());
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
  const chrono::year_month_day civil{kSerialZero + chrono::days{moment < 0 ? -days : days}};
  fields.Year = static_cast<int>(civil.year());
  fields.Month = static_cast<int>(static_cast<unsigned>(civil.month()));
  fields.Day = static_cast<int>(static_cast<unsigned>(civil.day()));
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
