#include "core/datetime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "tests/support/scoped.h"

namespace {

TDateTime Moment(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                 int millisecond = 0) {
  return EncodeDateTime({year, month, day, hour, minute, second, millisecond});
}

std::string FieldsText(const core::SystemTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, t.Millisecond);
  return text;
}

std::string MomentText(TDateTime moment) { return FieldsText(DecodeDateTime(moment)); }

// The month/day/year settings with a four-digit year that the settings file examples assume.
RegionalSettings MonthDayYearSettings() {
  RegionalSettings settings;
  settings.ShortDateFormat = "m/d/yyyy";
  return settings;
}

RegionalSettings EnglishUsSettings() {
  RegionalSettings settings;
  settings.ShortDateFormat = "MM/dd/yyyy";
  settings.LongTimeFormat = "hh:mm:ss AMPM";
  settings.TimeAMString = "AM";
  settings.TimePMString = "PM";
  return settings;
}

RegionalSettings GermanSettings() {
  RegionalSettings settings;
  settings.ShortDateFormat = "dd.MM.yyyy";
  settings.DateSeparator = '.';
  settings.LongTimeFormat = "hh:mm:ss";
  settings.DecimalSeparator = ',';
  settings.ThousandSeparator = '.';
  settings.ShortMonthNames = {"Jan", "Feb", "M\xc3\xa4r", "Apr", "Mai", "Jun",
                              "Jul", "Aug", "Sep",        "Okt", "Nov", "Dez"};
  return settings;
}

// Separators that differ from the pattern's own characters, so that copying them shows.
RegionalSettings UnusualSeparatorSettings() {
  RegionalSettings settings;
  settings.DateSeparator = '-';
  settings.TimeSeparator = '.';
  settings.TimeAMString = "AM";
  settings.TimePMString = "PM";
  return settings;
}

TEST(CalendarTest, EncodesDatesAsDaysSince18991230) {
  struct Case {
    int year, month, day;
    double serial;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},    {1899, 12, 29, -1},   {1900, 1, 1, 2},    {1900, 3, 1, 61},
      {2000, 2, 29, 36585}, {2017, 10, 9, 43017}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
  };
  for (const Case& c : cases) {
    TDateTime date = 12345;
    ASSERT_TRUE(TryEncodeDate(c.year, c.month, c.day, date)) << c.year << "-" << c.month;
    EXPECT_EQ(date, c.serial) << c.year << "-" << c.month << "-" << c.day;
    const core::SystemTime back = DecodeDateTime(c.serial);
    EXPECT_EQ(back.Year, c.year);
    EXPECT_EQ(back.Month, c.month);
    EXPECT_EQ(back.Day, c.day);
  }
}

TEST(CalendarTest, RejectsDatesOutsideTheGregorianYears1To9999) {
  struct Case {
    int year, month, day;
  };
  const Case cases[] = {{2017, 2, 29}, {1900, 2, 29}, {2100, 2, 29}, {0, 12, 31},  {10000, 1, 1},
                        {2017, 13, 1}, {2017, 0, 1},  {2017, 4, 31}, {2017, 1, 0}, {2017, 1, 32}};
  for (const Case& c : cases) {
    TDateTime date = 7;
    EXPECT_FALSE(TryEncodeDate(c.year, c.month, c.day, date))
        << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(date, 7);
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2016));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2017));
  EXPECT_EQ(DaysInMonth(2016, 2), 29);
  EXPECT_EQ(DaysInMonth(2017, 2), 28);
  EXPECT_EQ(DaysInMonth(2017, 9), 30);
  EXPECT_EQ(DaysInMonth(2017, 12), 31);
}

TEST(CalendarTest, FollowsTheGregorianLeapRules) {
  // Every fourth year, but not a century year unless it divides by 400.
  struct Case {
    int year;
    bool leap;
  };
  const Case cases[] = {{1600, true},  {1700, false}, {1800, false}, {1900, false},
                        {2000, true},  {2004, true},  {2023, false}, {2024, true},
                        {2100, false}, {2400, true},  {4, true},     {1, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
    EXPECT_EQ(DaysInMonth(c.year, 2), c.leap ? 29 : 28) << c.year;
    TDateTime date = 0;
    EXPECT_EQ(TryEncodeDate(c.year, 2, 29, date), c.leap) << c.year;
  }
  EXPECT_EQ(DaysInMonth(2017, 0), 0);
  EXPECT_EQ(DaysInMonth(2017, 13), 0);
}

TEST(CalendarTest, KnowsTheWeekdaysAndTheStartOfUnixTime) {
  struct Case {
    int year, month, day;
    int weekday;  // 0 Sunday .. 6 Saturday
  };
  const Case cases[] = {{1899, 12, 30, 6}, {1900, 1, 1, 1}, {1970, 1, 1, 4},   {2000, 2, 29, 2},
                        {2038, 1, 19, 2},  {1, 1, 1, 1},    {9999, 12, 31, 5}, {1600, 3, 1, 3},
                        {2024, 2, 29, 4},  {1969, 7, 20, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(core::DayOfWeek(c.year, c.month, c.day), c.weekday)
        << c.year << "-" << c.month << "-" << c.day;
  TDateTime unixStart = 0;
  ASSERT_TRUE(TryEncodeDate(1970, 1, 1, unixStart));
  EXPECT_EQ(unixStart, 25569);
  EXPECT_EQ(core::kUnixEpochSerial, 25569);
}

TEST(CalendarTest, EveryDayOfTheYears1To9999FollowsTheDayBeforeAndEncodesBack) {
  // Each day decodes to the day after its predecessor (the month and year turning over after
  // the month's last day) and encodes back to its own number; the walk ends on 9999-12-31.
  core::SystemTime previous = DecodeDateTime(-693593);
  ASSERT_EQ(FieldsText(previous), "0001-01-01 00:00:00.000");
  int failures = 0;
  for (int serial = -693592; serial <= 2958465 && failures < 5; ++serial) {
    const core::SystemTime day = DecodeDateTime(serial);
    const bool monthEnded = previous.Day == DaysInMonth(previous.Year, previous.Month);
    const bool yearEnded = monthEnded && previous.Month == 12;
    const int year = previous.Year + (yearEnded ? 1 : 0);
    const int month = yearEnded ? 1 : previous.Month + (monthEnded ? 1 : 0);
    const int dayOfMonth = monthEnded ? 1 : previous.Day + 1;
    TDateTime back = 0;
    if (day.Year != year || day.Month != month || day.Day != dayOfMonth ||
        !TryEncodeDate(day.Year, day.Month, day.Day, back) || back != serial) {
      ADD_FAILURE() << serial << " decodes to " << FieldsText(day) << ", encodes to " << back;
      ++failures;
    }
    previous = day;
  }
  EXPECT_EQ(FieldsText(previous), "9999-12-31 00:00:00.000");
  TDateTime after = 0;
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, after));
}

TEST(CalendarTest, EncodesTimesOfDayOnlyWithinTheirRanges) {
  struct Case {
    int hour, minute, second, millisecond;
    std::optional<double> milliseconds;  // of the day, when valid
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0.0},    {16, 24, 0, 0, 59040000.0}, {23, 59, 59, 999, 86399999.0},
      {24, 0, 0, 0, {}},    {12, 60, 0, 0, {}},         {12, 0, 60, 0, {}},
      {12, 0, 0, 1000, {}}, {-1, 0, 0, 0, {}},          {0, 0, 0, -1, {}},
  };
  for (const Case& c : cases) {
    TDateTime time = -3;
    const bool ok = TryEncodeTime(c.hour, c.minute, c.second, c.millisecond, time);
    ASSERT_EQ(ok, c.milliseconds.has_value()) << c.hour << ":" << c.minute << ":" << c.second;
    if (ok) {
      EXPECT_DOUBLE_EQ(time * kMillisecondsPerDay, *c.milliseconds);
    }
  }
}

TEST(CalendarTest, DecodesToTheNearestMillisecond) {
  const double day = 43017;  // 2017-10-09
  struct Case {
    double moment;
    const char* fields;
  };
  const Case cases[] = {
      {day + 59040000.4 / kMillisecondsPerDay, "2017-10-09 16:24:00.000"},
      {day + 59040000.6 / kMillisecondsPerDay, "2017-10-09 16:24:00.001"},
      {day + 86399999.4 / kMillisecondsPerDay, "2017-10-09 23:59:59.999"},
      {day + 86399999.6 / kMillisecondsPerDay, "2017-10-10 00:00:00.000"},
      {0, "1899-12-30 00:00:00.000"},
      // Before 1899-12-30 the integral part is the day and the fraction's size the time.
      {-1.5, "1899-12-29 12:00:00.000"},
      {-1.25, "1899-12-29 06:00:00.000"},
      {-0.25, "1899-12-30 06:00:00.000"},
      {-2 + 0.4 / kMillisecondsPerDay, "1899-12-28 00:00:00.000"},
      {-1 - 86399999.6 / kMillisecondsPerDay, "1899-12-28 00:00:00.000"},
      {-693593, "0001-01-01 00:00:00.000"},
  };
  for (const Case& c : cases) EXPECT_EQ(MomentText(c.moment), c.fields) << c.moment;
}

TEST(CalendarTest, EncodesFieldsWithTheTimeCountingAwayFromZeroBefore1899) {
  EXPECT_DOUBLE_EQ(Moment(2017, 10, 9, 18), 43017.75);
  EXPECT_DOUBLE_EQ(Moment(1899, 12, 29, 6), -1.25);
  EXPECT_DOUBLE_EQ(Moment(1899, 12, 30, 6), 0.25);
  EXPECT_DOUBLE_EQ(ComposeDateTime(-2, 0.5), -2.5);
  EXPECT_DOUBLE_EQ(ComposeDateTime(2, 0.5), 2.5);
  EXPECT_EQ(MomentText(Moment(2017, 10, 9, 16, 24, 5, 7)), "2017-10-09 16:24:05.007");
  EXPECT_THROW(EncodeDateTime({2017, 2, 29, 0, 0, 0, 0}), EConvertError);
  EXPECT_THROW(EncodeDateTime({2017, 2, 28, 24, 0, 0, 0}), EConvertError);
}

TEST(FormatDateTimeTest, WritesEachPatternItem) {
  const TDateTime afternoon = Moment(2017, 10, 9, 16, 24, 5, 7);
  const TDateTime early = Moment(2005, 3, 4, 0, 6, 8, 90);
  const TDateTime noon = Moment(2017, 10, 9, 12, 0, 0);
  const RegionalSettings plain;
  const RegionalSettings unusual = UnusualSeparatorSettings();
  const RegionalSettings german = GermanSettings();
  struct Case {
    const char* pattern;
    TDateTime moment;
    const RegionalSettings* settings;
    const char* text;
  };
  const Case cases[] = {
      // The patterns the system itself uses.
      {"yyyymmdd", afternoon, &plain, "20171009"},
      {"yyyymmddhhnnsszzz", afternoon, &plain, "20171009162405007"},
      {"yyyymmddhhnnsszzz", early, &plain, "20050304000608090"},
      {"YYYY-MM-DD HH:MM:SS", afternoon, &plain, "2017-10-09 16:24:05"},
      {"YYYY-MM-DD HH:MM:SS", afternoon, &unusual, "2017-10-09 16.24.05"},
      {"MMM DD YYYY HH:MM:SS", afternoon, &plain, "Oct 09 2017 16:24:05"},
      {"MMM DD YYYY HH:MM:SS", early, &german, "M\xc3\xa4r 04 2005 00:06:08"},
      {"HH:MM:SS", early, &unusual, "00.06.08"},
      {"hh:mm:ss.zzz", afternoon, &plain, "16:24:05.007"},
      {"hh:mm:ss.zzz", early, &unusual, "00.06.08.090"},
      // Short forms, separators and month names.
      {"d/m/yy", early, &plain, "4/3/05"},
      {"d/m/yy", early, &unusual, "4-3-05"},
      {"h:n:s.z", early, &plain, "0:6:8.90"},
      {"yyyy", Moment(33, 1, 1), &plain, "0033"},
      {"mmm mmmm", early, &plain, "Mar Mar"},
      {"ddd dddd", afternoon, &plain, "Mon Monday"},
      // m after an hour item means minutes, also across blanks and separators.
      {"h m", afternoon, &plain, "16 24"},
      {"mm hh mm", afternoon, &plain, "10 16 24"},
      {"hh:mmm", afternoon, &plain, "16:Oct"},
      // Designators switch to the 12-hour clock.
      {"h:mm AMPM", afternoon, &unusual, "4.24 PM"},
      {"h:mm ampm", early, &plain, "12:06 am"},
      {"h:mm AMPM", noon, &plain, "12:00 pm"},
      {"AMPM hh:nn", afternoon, &plain, "pm 04:24"},
      {"hh:nn am/pm", afternoon, &plain, "04:24 pm"},
      {"HH:NN AM/PM", early, &plain, "12:06 AM"},
      {"h a/p", afternoon, &plain, "4 p"},
      {"h A/P", Moment(2017, 1, 1, 9), &plain, "9 A"},
      // Quoted text and other characters stand as they are.
      {"'Day' d \"of\" mmm", afternoon, &plain, "Day 9 of Oct"},
      {"yyyymmdd'T'hhnn", afternoon, &plain, "20171009T1624"},
      {"yyyymmddThhnn", afternoon, &plain, "20171009T1624"},
      {"'h:mm' hh", afternoon, &plain, "h:mm 16"},
      {"\"ampm\" hh", afternoon, &plain, "ampm 16"},
      {"'open", afternoon, &plain, "open"},
      // Moments before 1899-12-30.
      {"yyyy-mm-dd hh:nn", -1.25, &plain, "1899-12-29 06:00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, c.moment, *c.settings), c.text) << c.pattern;
}

TEST(DateTimeToStrTest, WritesShortDateAndLongTimeUnlessMidnight) {
  RegionalSettings designatorFirst;
  designatorFirst.LongTimeFormat = "AMPM h:mm:ss";
  const RegionalSettings plain;
  const RegionalSettings english = EnglishUsSettings();
  const RegionalSettings german = GermanSettings();
  struct Case {
    const RegionalSettings* settings;
    TDateTime moment;
    const char* text;
  };
  const Case cases[] = {
      {&plain, Moment(2017, 10, 9, 16, 24), "10/9/17 4:24:00 pm"},
      {&english, Moment(2017, 10, 9, 16, 24), "10/09/2017 04:24:00 PM"},
      {&german, Moment(2017, 10, 9, 16, 24), "09.10.2017 16:24:00"},
      {&designatorFirst, Moment(2017, 10, 9, 16, 24), "10/9/17 pm 4:24:00"},
      {&plain, Moment(2017, 10, 9), "10/9/17"},
      {&plain, Moment(2017, 10, 9, 0, 0, 0, 500), "10/9/17"},
      {&german, Moment(2017, 10, 9, 0, 0, 0, 999), "09.10.2017"},
      {&plain, Moment(2017, 10, 9, 0, 0, 1), "10/9/17 12:00:01 am"},
      {&german, Moment(2017, 10, 9, 0, 1), "09.10.2017 00:01:00"},
      {&plain, -1.25, "12/29/99 6:00:00 am"},
      {&german, -1.25, "29.12.1899 06:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToStr(c.moment, *c.settings), c.text);
}

TEST(DateTimeToStrTest, OrEmptyGivesNothingOnlyForZeroAndUsesTheRunSettings) {
  const ScopedFormatSettings german(GermanSettings());
  EXPECT_EQ(DateTimeToStrOrEmpty(0), "");
  EXPECT_EQ(DateTimeToStrOrEmpty(43017.5), "09.10.2017 12:00:00");
  EXPECT_EQ(DateTimeToStrOrEmpty(-0.5), "30.12.1899 12:00:00");
  EXPECT_EQ(DateTimeToStrOrEmpty(-1), "29.12.1899");
  EXPECT_EQ(DateTimeToStrOrEmpty(1e-12), "30.12.1899");
}

TEST(TryStrToDateTimeTest, ParsesByTheRegionalRules) {
  const RegionalSettings monthFirst = MonthDayYearSettings();
  RegionalSettings dayFirst = monthFirst;
  dayFirst.ShortDateFormat = "dd/mm/yyyy";
  RegionalSettings yearFirst = monthFirst;
  yearFirst.ShortDateFormat = "yyyy-mm-dd";
  yearFirst.DateSeparator = '-';
  RegionalSettings german = GermanSettings();
  german.TimeAMString = "vorm.";
  german.TimePMString = "nachm.";
  struct Case {
    const RegionalSettings* settings;
    const char* text;
    const char* expected;  // nullptr when rejected
  };
  const Case cases[] = {
      {&monthFirst, "10/9/2017 4:24:00 PM", "2017-10-09 16:24:00.000"},
      {&monthFirst, "10/9/2017", "2017-10-09 00:00:00.000"},
      {&monthFirst, "10/9", "2017-10-09 00:00:00.000"},
      {&monthFirst, "16:24", "1899-12-30 16:24:00.000"},
      {&monthFirst, "10/9/17", "2017-10-09 00:00:00.000"},
      {&monthFirst, "10/9/2017 16:24 more words", "2017-10-09 16:24:00.000"},
      {&monthFirst, "2017-10-09", nullptr},
      {&monthFirst, "", nullptr},
      {&monthFirst, "   ", nullptr},
      // Blanks before numbers and separators; one trailing date separator.
      {&monthFirst, "  10 / 9 / 2017   4 : 24  ", "2017-10-09 04:24:00.000"},
      {&monthFirst, "10/9/2017/ 4:24", "2017-10-09 04:24:00.000"},
      {&monthFirst, "10/9/2017 ", "2017-10-09 00:00:00.000"},
      // Numbers are read while below 1000; leading zeros count as digits.
      {&monthFirst, "0010/009/2017", "2017-10-09 00:00:00.000"},
      {&monthFirst, "10/9/017", "0017-10-09 00:00:00.000"},
      {&monthFirst, "10/9/07", "2007-10-09 00:00:00.000"},
      {&monthFirst, "10/9/7", "2007-10-09 00:00:00.000"},
      {&monthFirst, "10/9/20171", "2017-10-09 01:00:00.000"},
      {&monthFirst, "1/1/0001", "0001-01-01 00:00:00.000"},
      {&monthFirst, "12/31/9999 23:59:59.999", "9999-12-31 23:59:59.999"},
      // Dates that do not exist, and incomplete dates.
      {&monthFirst, "2/29/2017", nullptr},
      {&monthFirst, "2/29/2016", "2016-02-29 00:00:00.000"},
      {&monthFirst, "1/1/000", nullptr},
      {&monthFirst, "13/1/2017", nullptr},
      {&monthFirst, "10/9/", nullptr},
      {&monthFirst, "10/9/2017 16:", nullptr},
      {&monthFirst, "10/9/2017 garbage", nullptr},
      // Before 1899-12-30 the time counts away from zero.
      {&monthFirst, "12/29/1899 6:00 am", "1899-12-29 06:00:00.000"},
      // Designators in front or behind, regional or AM/PM, without regard to case.
      {&monthFirst, "10/9/2017 PM 4:24", "2017-10-09 16:24:00.000"},
      {&monthFirst, "10/9/2017 pm4:24", "2017-10-09 16:24:00.000"},
      {&monthFirst, "4:24:05.5 pM", "1899-12-30 16:24:05.005"},
      {&monthFirst, "12:00 AM", "1899-12-30 00:00:00.000"},
      {&monthFirst, "12:30 am", "1899-12-30 00:30:00.000"},
      {&monthFirst, "12:30 PM", "1899-12-30 12:30:00.000"},
      {&monthFirst, "0:30 PM", nullptr},
      {&monthFirst, "13:00 PM", nullptr},
      {&monthFirst, "AM 13:00", nullptr},
      {&german, "4:24 nachm.", "1899-12-30 16:24:00.000"},
      {&german, "NACHM. 4:24", "1899-12-30 16:24:00.000"},
      {&german, "4:24 PM", "1899-12-30 16:24:00.000"},
      {&german, "11:00 Vorm.", "1899-12-30 11:00:00.000"},
      // Time ranges and separators that need their numbers.
      {&monthFirst, "24:00", nullptr},
      {&monthFirst, "23:60", nullptr},
      {&monthFirst, "23:59:60", nullptr},
      {&monthFirst, "1:02:03.1000", nullptr},
      {&monthFirst, "1:02:03.999", "1899-12-30 01:02:03.999"},
      {&monthFirst, "1:02:03.", nullptr},
      {&monthFirst, "16:", nullptr},
      {&monthFirst, "16", "1899-12-30 16:00:00.000"},
      // A time alone must use up the text, trailing blanks apart.
      {&monthFirst, "16:24   ", "1899-12-30 16:24:00.000"},
      {&monthFirst, "16:24 x", nullptr},
      // Other date orders and regional separators.
      {&dayFirst, "10/9/2017", "2017-09-10 00:00:00.000"},
      {&dayFirst, "10/9", "2017-09-10 00:00:00.000"},
      {&yearFirst, "2017-10-09", "2017-10-09 00:00:00.000"},
      {&yearFirst, "17-10-9 4:24", "2017-10-09 04:24:00.000"},
      {&yearFirst, "10-9", "2017-10-09 00:00:00.000"},
      {&yearFirst, "10/9/2017", nullptr},
      {&german, "09.10.2017 16:24:00,5", "2017-10-09 16:24:00.005"},
      {&german, "09.10.2017 16:24:00.5", "2017-10-09 16:24:00.000"},
  };
  for (const Case& c : cases) {
    TDateTime moment = 99;
    const bool ok = TryStrToDateTime(c.text, moment, *c.settings, 2017);
    ASSERT_EQ(ok, c.expected != nullptr) << '"' << c.text << '"';
    if (ok) {
      EXPECT_EQ(MomentText(moment), c.expected) << '"' << c.text << '"';
    } else {
      EXPECT_EQ(moment, 99) << '"' << c.text << '"';
    }
  }
}

TEST(TryStrToDateTimeTest, PlacesShortYearsInTheWindowAroundTheCurrentYear) {
  struct Case {
    int currentYear;
    const char* text;
    int year;
  };
  const Case cases[] = {
      {2017, "1/1/17", 2017}, {2017, "1/1/67", 1967}, {2017, "1/1/66", 2066},
      {2017, "1/1/0", 2000},  {2017, "1/1/99", 1999}, {2050, "1/1/99", 2099},
      {2050, "1/1/00", 2000}, {2049, "1/1/99", 1999}, {2049, "1/1/98", 2098},
      {1968, "1/1/17", 2017}, {2067, "1/1/17", 2017}, {2068, "1/1/17", 2117},
      {2030, "1/1", 2030},
  };
  const RegionalSettings settings = MonthDayYearSettings();
  for (const Case& c : cases) {
    TDateTime moment = 0;
    ASSERT_TRUE(TryStrToDateTime(c.text, moment, settings, c.currentYear)) << c.text;
    EXPECT_EQ(DecodeDateTime(moment).Year, c.year) << c.text << " in " << c.currentYear;
  }
}

TEST(TryStrToDateTimeTest, ReadsBackThePrintedTextToTheSecond) {
  RegionalSettings designatorFirst = EnglishUsSettings();
  designatorFirst.LongTimeFormat = "AMPM h:mm:ss";
  RegionalSettings dottedClock = GermanSettings();
  dottedClock.TimeSeparator = '.';
  dottedClock.LongTimeFormat = "h:mm:ss";
  struct Named {
    const char* name;
    RegionalSettings settings;
    bool fourDigitYear;
  };
  const Named settingsList[] = {{"defaults", RegionalSettings{}, false},
                                {"english", EnglishUsSettings(), true},
                                {"german", GermanSettings(), true},
                                {"designator first", designatorFirst, true},
                                {"dotted clock", dottedClock, true}};
  const std::vector<TDateTime> inWindow = {
      Moment(2017, 10, 9, 16, 24),      Moment(2017, 10, 9),
      Moment(2017, 10, 9, 12, 0, 0),    Moment(2017, 10, 9, 0, 0, 1),
      Moment(2017, 10, 9, 23, 59, 59),  Moment(1967, 1, 1, 0, 30, 15, 400),
      Moment(2066, 12, 31, 11, 59, 59), Moment(2000, 2, 29, 12, 34, 56, 789)};
  const std::vector<TDateTime> farAway = {Moment(1899, 12, 29, 6), Moment(1, 1, 1, 13, 1, 2),
                                          Moment(9999, 12, 31, 23, 59, 59),
                                          Moment(1899, 12, 30, 18)};
  for (const Named& named : settingsList) {
    std::vector<TDateTime> moments = inWindow;
    if (named.fourDigitYear) moments.insert(moments.end(), farAway.begin(), farAway.end());
    for (TDateTime moment : moments) {
      const std::string text = DateTimeToStr(moment, named.settings);
      TDateTime parsed = 0;
      ASSERT_TRUE(TryStrToDateTime(text, parsed, named.settings, 2017))
          << named.name << ": " << text;
      core::SystemTime expected = DecodeDateTime(moment);
      expected.Millisecond = 0;
      EXPECT_EQ(MomentText(parsed), FieldsText(expected)) << named.name << ": " << text;
    }
  }
}

TEST(TryStrToDateTimeTest, UsesTheCurrentYearAndTheRunSettingsByDefault) {
  const ScopedFormatSettings german(GermanSettings());
  TDateTime moment = 0;
  ASSERT_TRUE(TryStrToDateTime("9.10", moment));
  const core::SystemTime fields = DecodeDateTime(moment);
  EXPECT_EQ(fields.Day, 9);
  EXPECT_EQ(fields.Month, 10);
  EXPECT_EQ(fields.Year, platform::LocalNow().Year);
}

TEST(ClockTest, NowIsTheLocalWallClockOfTheCurrentZone) {
  const ScopedEnvironment utc("TZ", "UTC0");
  const auto unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const TDateTime now = Now();
  const double unixDays = 25569 + unixMs / kMillisecondsPerDay;
  EXPECT_NEAR((now - unixDays) * 86400, 0, 2);
  const ScopedEnvironment india("TZ", "IST-5:30");
  EXPECT_NEAR((Now() - now) * 24, 5.5, 0.01);
}

TEST(ClockTest, ConvertsUtcFieldsThroughTheZoneRules) {
  const ScopedEnvironment eastern("TZ", "EST5EDT,M3.2.0,M11.1.0");
  struct Case {
    core::SystemTime utc;
    const char* local;  // nullptr when refused
  };
  const Case cases[] = {
      {{2017, 10, 9, 20, 24, 0, 123}, "2017-10-09 16:24:00.123"},
      {{2017, 1, 15, 12, 0, 0, 0}, "2017-01-15 07:00:00.000"},
      {{2017, 3, 12, 6, 59, 59, 999}, "2017-03-12 01:59:59.999"},
      {{2017, 3, 12, 7, 0, 0, 0}, "2017-03-12 03:00:00.000"},
      {{2017, 1, 1, 3, 0, 0, 0}, "2016-12-31 22:00:00.000"},
      {{1601, 1, 1, 12, 0, 0, 0}, "1601-01-01 07:00:00.000"},
      {{1, 1, 1, 0, 0, 0, 0}, nullptr},
      {{2017, 13, 1, 0, 0, 0, 0}, nullptr},
      {{2017, 2, 29, 0, 0, 0, 0}, nullptr},
      {{2017, 1, 1, 24, 0, 0, 0}, nullptr},
      {{2017, 1, 1, 0, 0, 0, 1000}, nullptr},
  };
  for (const Case& c : cases) {
    core::SystemTime local{};
    std::uint32_t code = 12345;
    const bool ok = platform::UtcToLocal(c.utc, local, code);
    ASSERT_EQ(ok, c.local != nullptr) << FieldsText(c.utc);
    if (ok) {
      EXPECT_EQ(FieldsText(local), c.local);
      EXPECT_EQ(code, 0u);
    } else {
      EXPECT_NE(code, 0u) << FieldsText(c.utc);
      EXPECT_FALSE(platform::SystemErrorText(code).empty());
    }
  }
}

TEST(ClockTest, ErrorTextsAndSleeping) {
  EXPECT_EQ(platform::SystemErrorText(2), "No such file or directory");
  const auto start = std::chrono::steady_clock::now();
  platform::SleepMilliseconds(0);
  platform::SleepMilliseconds(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

}  // namespace
