// Regional settings: read once at start-up from the user's locale, never again.
#pragma once

#include <array>
#include <optional>
#include <string>

// What the locale reports; an absent value leaves the default in place.
struct LocaleValues {
  std::optional<std::string> ShortDateFormat;
  std::optional<char> DateSeparator;
  std::optional<char> TimeSeparator;
  std::optional<std::string> TimeAMString;
  std::optional<std::string> TimePMString;
  std::optional<char> DecimalSeparator;
  std::optional<char> ThousandSeparator;
  std::optional<std::array<std::string, 12>> ShortMonthNames;
  // The two flags the long time format is built from, and where the designator stands.
  bool LeadingZeroHour = false;
  bool TwelveHourClock = true;
  bool DesignatorFirst = false;
};

struct RegionalSettings {
  std::string ShortDateFormat = "m/d/yy";
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string LongTimeFormat = "h:mm:ss AMPM";
  std::string TimeAMString = "am";
  std::string TimePMString = "pm";
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
};

// The locale's items as the C library reports them: the date and time formats in strftime
// notation (TimeFormatAmPm being what %r stands for); an empty text is a value left out.
struct LocaleItems {
  std::string DateFormat;
  std::string TimeFormat;
  std::string TimeFormatAmPm;
  std::string AMString;
  std::string PMString;
  std::string Radix;
  std::string ThousandsSeparator;
  std::array<std::string, 12> AbbreviatedMonths;
};

// Turns the locale's items into regional values: "%d" becomes "dd", "%e" "d", "%m" "MM", "%y"
// "yy", "%Y" "yyyy"; the first literal character of the date format is the date separator; the
// hour directive of the time format decides the clock, the leading zero and the time separator.
// A separator character of more than one byte leaves the default separator in its place, the
// date's items then joined by it alone.
LocaleValues InterpretLocaleItems(const LocaleItems& items);

// The defaults overlaid with what the locale reports, the long time format built from its flags.
RegionalSettings BuildRegionalSettings(const LocaleValues& values);

// The settings of the run; LoadRegionalSettings (platform/locale.h) fills them from the locale at
// start-up.
RegionalSettings& FormatSettings();
