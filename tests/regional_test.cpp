#include "core/regional.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "platform/locale.h"
#include "tests/support/scoped.h"

namespace {

const std::array<std::string, 12> kEnglishMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

TDateTime October9At1624() { return EncodeDateTime({2017, 10, 9, 16, 24, 0, 0}); }

void ExpectNoRegionalValues(const LocaleValues& values, const std::string& name) {
  EXPECT_FALSE(values.ShortDateFormat) << name;
  EXPECT_FALSE(values.DateSeparator) << name;
  EXPECT_FALSE(values.TimeSeparator) << name;
  EXPECT_FALSE(values.TimeAMString) << name;
  EXPECT_FALSE(values.TimePMString) << name;
  EXPECT_FALSE(values.DecimalSeparator) << name;
  EXPECT_FALSE(values.ThousandSeparator) << name;
  EXPECT_FALSE(values.ShortMonthNames) << name;
  EXPECT_FALSE(values.LeadingZeroHour) << name;
  EXPECT_TRUE(values.TwelveHourClock) << name;
  EXPECT_FALSE(values.DesignatorFirst) << name;
}

TEST(RegionalSettingsTest, DefaultsHoldWithoutLocaleValues) {
  const RegionalSettings settings = BuildRegionalSettings(LocaleValues{});
  EXPECT_EQ(settings.ShortDateFormat, "m/d/yy");
  EXPECT_EQ(settings.DateSeparator, '/');
  EXPECT_EQ(settings.TimeSeparator, ':');
  EXPECT_EQ(settings.LongTimeFormat, "h:mm:ss AMPM");
  EXPECT_EQ(settings.TimeAMString, "am");
  EXPECT_EQ(settings.TimePMString, "pm");
  EXPECT_EQ(settings.DecimalSeparator, '.');
  EXPECT_EQ(settings.ShortMonthNames, kEnglishMonths);
  EXPECT_EQ(DateTimeToStr(October9At1624(), settings), "10/9/17 4:24:00 pm");
}

TEST(RegionalSettingsTest, LocaleValuesReplaceTheDefaults) {
  LocaleValues values;
  values.ShortDateFormat = "yyyy-MM-dd";
  values.DateSeparator = '-';
  values.TimeSeparator = '.';
  values.TimeAMString = "vorm.";
  values.TimePMString = "nachm.";
  values.DecimalSeparator = ',';
  values.ThousandSeparator = ' ';
  std::array<std::string, 12> months = kEnglishMonths;
  months[4] = "Mai";
  values.ShortMonthNames = months;
  const RegionalSettings settings = BuildRegionalSettings(values);
  EXPECT_EQ(settings.ShortDateFormat, "yyyy-MM-dd");
  EXPECT_EQ(settings.DateSeparator, '-');
  EXPECT_EQ(settings.TimeSeparator, '.');
  EXPECT_EQ(settings.TimeAMString, "vorm.");
  EXPECT_EQ(settings.TimePMString, "nachm.");
  EXPECT_EQ(settings.DecimalSeparator, ',');
  EXPECT_EQ(settings.ThousandSeparator, ' ');
  EXPECT_EQ(settings.ShortMonthNames[4], "Mai");
  EXPECT_EQ(DateTimeToStr(October9At1624(), settings), "2017-10-09 4.24.00 nachm.");
}

TEST(RegionalSettingsTest, LongTimeFormatFollowsTheClockFlags) {
  struct Case {
    bool leadingZero, twelveHour, designatorFirst;
    const char* format;
  };
  const Case cases[] = {
      {false, true, false, "h:mm:ss AMPM"}, {true, true, false, "hh:mm:ss AMPM"},
      {true, true, true, "AMPM hh:mm:ss"},  {false, true, true, "AMPM h:mm:ss"},
      {true, false, false, "hh:mm:ss"},     {false, false, true, "h:mm:ss"},
  };
  for (const Case& c : cases) {
    LocaleValues values;
    values.LeadingZeroHour = c.leadingZero;
    values.TwelveHourClock = c.twelveHour;
    values.DesignatorFirst = c.designatorFirst;
    EXPECT_EQ(BuildRegionalSettings(values).LongTimeFormat, c.format);
  }
}

TEST(LocaleItemsTest, DateFormatsBecomeShortDateFormatsAndSeparators) {
  struct Case {
    const char* dateFormat;
    std::optional<std::string> shortDate;
    std::optional<char> separator;
  };
  const Case cases[] = {
      {"%m/%d/%Y", "MM/dd/yyyy", '/'},
      {"%d.%m.%Y", "dd.MM.yyyy", '.'},
      {"%D", "MM/dd/yy", '/'},
      {"%F", "yyyy-MM-dd", '-'},
      {"%e/%m/%y", "d/MM/yy", '/'},
      {"%Y. %m. %d.", "yyyy. MM. dd.", '.'},
      {"%d %b %Y", "dd MMM yyyy", ' '},
      {"%Od/%Om/%Ey", "dd/MM/yy", '/'},
      {"%d de %B de %Y", "dd\" de \"MMMM\" de \"yyyy", ' '},
      // Marks of more than one byte (Japanese, Korean) cannot be the separator character: the
      // default one joins the items, in the locale's order.
      {"%Y\xe5\xb9\xb4%m\xe6\x9c\x88%d\xe6\x97\xa5", "yyyy/MM/dd", std::nullopt},
      {"%Y\xeb\x85\x84 %m\xec\x9b\x94 %d\xec\x9d\xbc", "yyyy/MM/dd", std::nullopt},
      {"%d\xc2\xb7%m\xc2\xb7%Y", "dd/MM/yyyy", std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    LocaleItems items;
    items.DateFormat = c.dateFormat;
    const LocaleValues values = InterpretLocaleItems(items);
    EXPECT_EQ(values.ShortDateFormat, c.shortDate) << c.dateFormat;
    EXPECT_EQ(values.DateSeparator, c.separator) << c.dateFormat;
  }
}

TEST(LocaleItemsTest, TimeFormatsDecideClockLeadingZeroAndSeparator) {
  struct Case {
    const char* timeFormat;
    const char* amPmFormat;
    std::optional<char> separator;
    const char* longTime;
  };
  const Case cases[] = {
      {"%r", "%I:%M:%S %p", ':', "hh:mm:ss AMPM"},
      {"%r", "", ':', "hh:mm:ss AMPM"},
      {"%T", "", ':', "hh:mm:ss"},
      {"%H:%M:%S", "%I:%M:%S %p", ':', "hh:mm:ss"},
      {"%R", "", ':', "hh:mm:ss"},
      {"%k.%M.%S", "", '.', "h:mm:ss"},
      {"%l:%M:%S %p", "", ':', "h:mm:ss AMPM"},
      {"%p %I:%M:%S", "", ':', "AMPM hh:mm:ss"},
      {"%r", "%p %l.%M.%S", '.', "AMPM h:mm:ss"},
      {"%Hh%M", "", 'h', "hh:mm:ss"},
      {"%H%M%S", "", ':', "hh:mm:ss"},
      {"%OH:%OM", "", ':', "hh:mm:ss"},
      // Marks of more than one byte (Korean, Japanese) give way to the default separator.
      {"%H\xec\x8b\x9c %M\xeb\xb6\x84 %S\xec\xb4\x88", "", ':', "hh:mm:ss"},
      {"%r", "%p %I\xec\x8b\x9c %M\xeb\xb6\x84 %S\xec\xb4\x88", ':', "AMPM hh:mm:ss"},
      {"%H\xe6\x99\x82%M\xe5\x88\x86%S\xe7\xa7\x92", "", ':', "hh:mm:ss"},
      {"%M:%S", "", std::nullopt, "h:mm:ss AMPM"},
      {"", "%I:%M:%S %p", std::nullopt, "h:mm:ss AMPM"},
  };
  for (const Case& c : cases) {
    LocaleItems items;
    items.TimeFormat = c.timeFormat;
    items.TimeFormatAmPm = c.amPmFormat;
    const LocaleValues values = InterpretLocaleItems(items);
    EXPECT_EQ(values.TimeSeparator, c.separator) << c.timeFormat << " / " << c.amPmFormat;
    EXPECT_EQ(BuildRegionalSettings(values).LongTimeFormat, c.longTime)
        << c.timeFormat << " / " << c.amPmFormat;
  }
}

TEST(LocaleItemsTest, TextsAndSeparatorsAreTakenOnlyWhenPresent) {
  LocaleItems items;
  items.AMString = "AM";
  items.Radix = ",";
  items.ThousandsSeparator = "\xe2\x80\xaf";  // a multi-byte blank fits no separator
  items.AbbreviatedMonths = kEnglishMonths;
  LocaleValues values = InterpretLocaleItems(items);
  EXPECT_EQ(values.TimeAMString, "AM");
  EXPECT_FALSE(values.TimePMString);
  EXPECT_EQ(values.DecimalSeparator, ',');
  EXPECT_FALSE(values.ThousandSeparator);
  EXPECT_EQ(values.ShortMonthNames, kEnglishMonths);

  items.AbbreviatedMonths[11].clear();
  items.ThousandsSeparator = ".";
  values = InterpretLocaleItems(items);
  EXPECT_FALSE(values.ShortMonthNames);
  EXPECT_EQ(values.ThousandSeparator, '.');
  ExpectNoRegionalValues(InterpretLocaleItems(LocaleItems{}), "no items");
}

TEST(PosixLocaleTest, CLocalesCarryNoRegionalValues) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8", "xx_XX.no-such-locale"})
    ExpectNoRegionalValues(platform::ReadLocaleValuesFor(name), name);
}

TEST(PosixLocaleTest, ReadsEnglishUs) {
  if (!platform::LocaleAvailable("en_US.UTF-8")) GTEST_SKIP() << "en_US.UTF-8 is not installed";
  const LocaleValues values = platform::ReadLocaleValuesFor("en_US.UTF-8");
  EXPECT_EQ(values.ShortDateFormat, "MM/dd/yyyy");
  EXPECT_EQ(values.DateSeparator, '/');
  EXPECT_EQ(values.TimeSeparator, ':');
  EXPECT_EQ(values.TimeAMString, "AM");
  EXPECT_EQ(values.TimePMString, "PM");
  EXPECT_EQ(values.DecimalSeparator, '.');
  EXPECT_EQ(values.ThousandSeparator, ',');
  EXPECT_EQ(values.ShortMonthNames, kEnglishMonths);
  EXPECT_TRUE(values.LeadingZeroHour);
  EXPECT_TRUE(values.TwelveHourClock);
  EXPECT_FALSE(values.DesignatorFirst);
  EXPECT_EQ(DateTimeToStr(October9At1624(), BuildRegionalSettings(values)),
            "10/09/2017 04:24:00 PM");
}

TEST(PosixLocaleTest, ReadsGermanWithUtf8MonthNames) {
  if (!platform::LocaleAvailable("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const LocaleValues values = platform::ReadLocaleValuesFor("de_DE.UTF-8");
  EXPECT_EQ(values.ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(values.DateSeparator, '.');
  EXPECT_EQ(values.TimeSeparator, ':');
  EXPECT_FALSE(values.TimeAMString);
  EXPECT_FALSE(values.TimePMString);
  EXPECT_EQ(values.DecimalSeparator, ',');
  EXPECT_EQ(values.ThousandSeparator, '.');
  ASSERT_TRUE(values.ShortMonthNames);
  EXPECT_EQ((*values.ShortMonthNames)[2], "M\xc3\xa4r");
  EXPECT_EQ((*values.ShortMonthNames)[9], "Okt");
  EXPECT_TRUE(values.LeadingZeroHour);
  EXPECT_FALSE(values.TwelveHourClock);
  const RegionalSettings settings = BuildRegionalSettings(values);
  EXPECT_EQ(DateTimeToStr(October9At1624(), settings), "09.10.2017 16:24:00");
  EXPECT_EQ(FormatDateTime("d mmm yyyy", EncodeDateTime({2017, 3, 1, 0, 0, 0, 0}), settings),
            "1 M\xc3\xa4r 2017");
}

TEST(PosixLocaleTest, LoadsTheEnvironmentsLocaleWithoutSwitchingTheProcessLocale) {
  if (!platform::LocaleAvailable("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const ScopedFormatSettings keep;
  struct Case {
    const char *all, *time, *numeric, *lang;
    const char* text;  // October 9th, 16:24, in the loaded settings
    char decimal;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", nullptr, nullptr, nullptr, "09.10.2017 16:24:00", ','},
      {nullptr, nullptr, nullptr, "de_DE.UTF-8", "09.10.2017 16:24:00", ','},
      {"C", nullptr, nullptr, "de_DE.UTF-8", "10/9/17 4:24:00 pm", '.'},
      {nullptr, "de_DE.UTF-8", "C", nullptr, "09.10.2017 16:24:00", '.'},
      {nullptr, "C.UTF-8", "de_DE.UTF-8", nullptr, "10/9/17 4:24:00 pm", ','},
      {nullptr, nullptr, nullptr, nullptr, "10/9/17 4:24:00 pm", '.'},
  };
  for (const Case& c : cases) {
    const ScopedEnvironment all("LC_ALL", c.all), time("LC_TIME", c.time),
        numeric("LC_NUMERIC", c.numeric), lang("LANG", c.lang);
    LoadRegionalSettings();
    EXPECT_EQ(DateTimeToStrOrEmpty(October9At1624()), c.text) << c.text;
    EXPECT_EQ(FormatSettings().DecimalSeparator, c.decimal) << c.text;
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
  }
}

}  // namespace
