// The regional values from the system's locale data: the thread's locale, or a locale named like
// "de-DE" (or in the "de_DE.UTF-8" form of other systems).
#include "platform/locale.h"

#include <optional>
#include <string>

#include "core/regional.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// The C locale and its aliases carry no regional values of their own.
bool IsPlainCLocale(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0 || name.rfind("C@", 0) == 0;
}

// "de_DE.UTF-8" and "de_DE@euro" as the system names them, "de-DE"; empty when the name holds
// anything but ASCII.
std::wstring SystemLocaleName(const std::string& name) {
  const std::string base = name.substr(0, name.find_first_of(".@"));
  std::wstring wide;
  for (char c : base) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
    wide += c == '_' ? L'-' : static_cast<wchar_t>(c);
  }
  return wide;
}

// The installed locale of that name; 0 when there is none.
LCID LocaleIdFor(const std::string& name) {
  const std::wstring systemName = SystemLocaleName(name);
  if (systemName.empty()) return 0;  // the empty name would be the invariant locale
  const LCID id = LocaleNameToLCID(systemName.c_str(), 0);
  // Names the system does not know may come back as a stand-in for a custom locale.
  if (id == 0 || id == LOCALE_CUSTOM_UNSPECIFIED || id == LOCALE_CUSTOM_DEFAULT ||
      id == LOCALE_CUSTOM_UI_DEFAULT || !IsValidLocale(id, LCID_INSTALLED))
    return 0;
  return id;
}

// One value of the locale in the ANSI code page of the process; empty when the locale has none.
std::string Item(LCID locale, LCTYPE type) {
  const LCTYPE flags = type | LOCALE_USE_CP_ACP;
  const int size = GetLocaleInfoA(locale, flags, nullptr, 0);
  if (size <= 1) return {};
  std::string value(static_cast<std::size_t>(size), '\0');
  const int written = GetLocaleInfoA(locale, flags, value.data(), size);
  if (written <= 1) return {};
  value.resize(static_cast<std::size_t>(written) - 1);  // the terminating zero
  return value;
}

std::optional<std::string> PresentText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// A separator is the value's first character, as long as that is a single byte.
std::optional<char> FirstCharacter(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const auto first = static_cast<BYTE>(text[0]);
  if (IsDBCSLeadByte(first) || (GetACP() == CP_UTF8 && first >= 0x80)) return std::nullopt;
  return text[0];
}

LocaleValues ValuesOf(LCID locale) {
  LocaleValues values;
  values.ShortDateFormat = PresentText(Item(locale, LOCALE_SSHORTDATE));
  values.DateSeparator = FirstCharacter(Item(locale, LOCALE_SDATE));
  values.TimeSeparator = FirstCharacter(Item(locale, LOCALE_STIME));
  values.TimeAMString = PresentText(Item(locale, LOCALE_S1159));
  values.TimePMString = PresentText(Item(locale, LOCALE_S2359));
  values.DecimalSeparator = FirstCharacter(Item(locale, LOCALE_SDECIMAL));
  values.ThousandSeparator = FirstCharacter(Item(locale, LOCALE_STHOUSAND));

  std::array<std::string, 12> months;
  bool allMonths = true;
  for (int month = 0; month < 12; ++month) {
    months[month] = Item(locale, LOCALE_SABBREVMONTHNAME1 + month);
    allMonths &= !months[month].empty();
  }
  if (allMonths) values.ShortMonthNames = months;

  // The long time format's flags: "1" asks for the hour's leading zero, "0" for the 12-hour
  // clock, "1" for the designator in front; a flag the locale does not give keeps its default.
  const std::string leadingZero = Item(locale, LOCALE_ITLZERO);
  const std::string clock = Item(locale, LOCALE_ITIME);
  const std::string designatorPosition = Item(locale, LOCALE_ITIMEMARKPOSN);
  if (!leadingZero.empty()) values.LeadingZeroHour = leadingZero != "0";
  if (!clock.empty()) values.TwelveHourClock = clock == "0";
  values.DesignatorFirst = values.TwelveHourClock && designatorPosition == "1";
  return values;
}

}  // namespace

LocaleValues ReadLocaleValues() { return ValuesOf(GetThreadLocale()); }

LocaleValues ReadLocaleValuesFor(const std::string& localeName) {
  if (localeName.empty()) return ReadLocaleValues();
  if (IsPlainCLocale(localeName)) return {};
  const LCID locale = LocaleIdFor(localeName);
  if (locale == 0) return {};
  return ValuesOf(locale);
}

bool LocaleAvailable(const std::string& localeName) {
  return localeName.empty() || IsPlainCLocale(localeName) || LocaleIdFor(localeName) != 0;
}

}  // namespace platform
