// The settings texts: the fuzz input is the number text, the marker text, the date-time text
// or the format pattern, read or written under several regional settings.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "core/regional.h"
#include "monitor/settings.h"
#include "platform/clock.h"

namespace {

LocaleItems Items(std::string date, std::string time, std::string amPm, std::string am,
                  std::string pm, std::string radix, std::string thousands) {
  LocaleItems items;
  items.DateFormat = std::move(date);
  items.TimeFormat = std::move(time);
  items.TimeFormatAmPm = std::move(amPm);
  items.AMString = std::move(am);
  items.PMString = std::move(pm);
  items.Radix = std::move(radix);
  items.ThousandsSeparator = std::move(thousands);
  return items;
}

// The settings the harness runs under; the first three write four-digit years.
const std::vector<RegionalSettings>& AllSettings() {
  static const std::vector<RegionalSettings> all = {
      BuildRegionalSettings(
          InterpretLocaleItems(Items("%d.%m.%Y", "%T", "", "", "", ",", "."))),  // like de_DE
      BuildRegionalSettings(InterpretLocaleItems(Items("%F", "%H:%M:%S", "", "", "", ".", ""))),
      BuildRegionalSettings(InterpretLocaleItems(
          Items("%m/%d/%Y", "%r", "%I:%M:%S %p", "AM", "PM", ".", ","))),  // like en_US
      RegionalSettings{},                                                  // C
      BuildRegionalSettings(InterpretLocaleItems(
          Items("%Y\xeb\x85\x84 %m\xec\x9b\x94 %d\xec\x9d\xbc", "%p %I\xec\x8b\x9c %M\xeb\xb6\x84",
                "%p %I:%M:%S", "\xec\x98\xa4\xec\xa0\x84", "\xec\x98\xa4\xed\x9b\x84", ",", ""))),
  };
  return all;
}

constexpr double kSecond = 1.0 / 86400;

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s: '%.*s'\n", what, int(text.size()), text.data());
  std::abort();
}

void NumberText(const std::string& text) {
  StrToIntOrZero(text);
  if (text.size() < 4) return;
  std::int32_t value;
  std::memcpy(&value, text.data(), 4);
  const std::string decimal = std::to_string(value);
  if (StrToIntOrZero(decimal) != value) Fail("decimal read back", decimal);
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(value));
  if (StrToIntOrZero(hex) != value) Fail("hexadecimal read back", hex);
}

void MarkerText(const std::string& text) {
  // The text, a start marker and an end marker, split at the first two zero bytes.
  const std::size_t first = text.find('\0');
  const std::size_t second = first == std::string::npos ? first : text.find('\0', first + 1);
  if (second == std::string::npos) return;
  const std::string body = text.substr(second + 1);
  const std::string between =
      ExtractBetween(body, text.substr(0, first), text.substr(first + 1, second - first - 1));
  if (body.find(between) == std::string::npos) Fail("not a part of the text", between);
}

void DateTimeText(std::string_view text, const RegionalSettings& settings, bool fourDigitYears,
                  int currentYear) {
  TDateTime moment = 0;
  if (!TryStrToDateTime(text, moment, settings, currentYear)) return;
  if (!std::isfinite(moment)) Fail("not finite", text);
  const std::string printed = DateTimeToStr(moment, settings);
  if (!fourDigitYears) return;
  TDateTime again = 0;
  if (!TryStrToDateTime(printed, again, settings, currentYear))
    Fail("printed text rejected", printed);
  if (std::fabs(again - moment) >= kSecond) Fail("printed text reads back otherwise", printed);
}

void Pattern(std::string_view pattern, TDateTime moment, const RegionalSettings& settings) {
  FormatDateTime(pattern, moment, settings);
  RegionalSettings patterned = settings;
  patterned.ShortDateFormat = std::string(pattern);
  patterned.LongTimeFormat = std::string(pattern);
  DateTimeToStr(moment, patterned);
  TDateTime parsed;
  TryStrToDateTime(DateTimeToStr(moment, settings), parsed, patterned, 2017);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::vector<RegionalSettings>& all = AllSettings();
  const std::size_t which = (data[0] >> 2) % all.size();
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] & 3) {
    case 0:
      NumberText(text);
      MarkerText(text);
      break;
    case 1:
    case 2:
      DateTimeText(text, all[which], which < 3, data[0] & 1 ? 2017 : 1950 + (data[0] >> 5) * 10);
      break;
    case 3: {
      // Eight bytes of the moment (any double, NaN and infinities too), then the pattern.
      if (text.size() < 8) return 0;
      TDateTime moment;
      std::memcpy(&moment, text.data(), 8);
      Pattern(std::string_view(text).substr(8), moment, all[which]);
      break;
    }
  }
  return 0;
}
