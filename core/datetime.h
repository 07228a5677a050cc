// Date-time values: a double holding days since 1899-12-30 00:00, the fraction being the time
// of day (for moments before 1899-12-30 the fraction still counts forward from midnight).
#pragma once

#include <string>
#include <string_view>

#include "core/regional.h"

using TDateTime = double;

namespace core {
// A calendar moment split into its fields, as the system's time services exchange it.
struct SystemTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};
}  // namespace core

constexpr double kMillisecondsPerDay = 86400000.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
// Joins a date and a time of day: date + time on or after 1899-12-30, date - time before.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// Splits a moment, rounded to the millisecond, into its fields.
core::SystemTime DecodeDateTime(TDateTime moment);
// Joins fields into a moment; the fields must form a valid date and time.
TDateTime EncodeDateTime(const core::SystemTime& fields);

// Formats a moment with a pattern: y, m, d, h, n, s, z items without regard to letter case,
// "mmm" the abbreviated month name, an m item after an hour item meaning minutes, "AMPM",
// "am/pm" and "a/p" designators, ":" and "/" the regional separators, quoted text as it stands.
std::string FormatDateTime(std::string_view pattern, TDateTime moment,
                           const RegionalSettings& settings = FormatSettings());

// Short date, then a blank and the long time unless the time is exactly midnight.
std::string DateTimeToStr(TDateTime moment, const RegionalSettings& settings = FormatSettings());

// The date-time text, or the empty text when the moment is exactly 0.
std::string DateTimeToStrOrEmpty(TDateTime moment);

// Parses date-time text by the regional rules, two-digit years placed around currentYear; false
// when the text is not a date-time. (platform/clock.h has the form that uses this year.)
bool TryStrToDateTime(std::string_view text, TDateTime& moment, const RegionalSettings& settings,
                      int currentYear);
