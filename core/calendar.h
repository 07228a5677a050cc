// The calendar of date-time values: a TDateTime is a double holding days since 1899-12-30 00:00,
// the fraction being the time of day (for moments before 1899-12-30 the fraction still counts
// forward from midnight). Days are counted in the proleptic Gregorian calendar by std::chrono.
#pragma once

#include <cstdint>

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

// 1970-01-01, the start of Unix time, as a date-time value: days since 1899-12-30.
inline constexpr std::int64_t kUnixEpochSerial = 25569;

// The day of the week of a date, 0 for Sunday to 6 for Saturday.
int DayOfWeek(int year, int month, int day);
}  // namespace core

constexpr double kMillisecondsPerDay = 86400000.0;

bool IsLeapYear(int year);
// The days of the month; 0 for a month outside 1 to 12.
int DaysInMonth(int year, int month);
// A date of the years 1 to 9999; false for any other date or one that does not exist.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
// Joins a date and a time of day: date + time on or after 1899-12-30, date - time before.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// Splits a moment, rounded to the millisecond, into its fields; all fields 0 for a moment that
// is not finite or lies more than 4000000 days from 1899-12-30.
core::SystemTime DecodeDateTime(TDateTime moment);
// Joins fields into a moment; the fields must form a valid date and time (else EConvertError).
TDateTime EncodeDateTime(const core::SystemTime& fields);
