// The regional values from the POSIX locale. The locale is opened as a handle per category and
// queried with nl_langinfo_l, so the process's own C locale is never switched.
#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "core/regional.h"
#include "platform/posix/handles.h"

namespace platform {
namespace {

// The C locale and its aliases carry no regional values of their own.
bool IsPlainCLocale(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0 || name.rfind("C@", 0) == 0;
}

#ifndef _NL_LOCALE_NAME
// The locale name the environment selects for a category when none is given.
std::string NameFromEnvironment(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}
#endif

// One category of a locale, opened for querying and released on leaving the scope.
class CategoryLocale {
 public:
  CategoryLocale(int mask, int category, const char* categoryVariable, const std::string& name)
      : handle_(newlocale(mask, name.c_str(), static_cast<locale_t>(0))) {
    if (!handle_) return;
#ifdef _NL_LOCALE_NAME
    resolvedName_ = nl_langinfo_l(_NL_LOCALE_NAME(category), handle_.get());
#else
    (void)category;
    resolvedName_ = name.empty() ? NameFromEnvironment(categoryVariable) : name;
#endif
    (void)categoryVariable;
  }

  // False for a locale that cannot be opened and for the C locale.
  bool HasRegionalValues() const { return handle_ && !IsPlainCLocale(resolvedName_); }
  std::string Item(nl_item item) const { return nl_langinfo_l(item, handle_.get()); }

 private:
  UniqueLocale handle_;
  std::string resolvedName_;
};

constexpr nl_item kAbbreviatedMonths[12] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                            ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                            ABMON_9, ABMON_10, ABMON_11, ABMON_12};

}  // namespace

LocaleValues ReadLocaleValuesFor(const std::string& localeName) {
  LocaleItems items;
  const CategoryLocale time(LC_TIME_MASK, LC_TIME, "LC_TIME", localeName);
  if (time.HasRegionalValues()) {
    items.DateFormat = time.Item(D_FMT);
    items.TimeFormat = time.Item(T_FMT);
    items.TimeFormatAmPm = time.Item(T_FMT_AMPM);
    items.AMString = time.Item(AM_STR);
    items.PMString = time.Item(PM_STR);
    for (int month = 0; month < 12; ++month)
      items.AbbreviatedMonths[month] = time.Item(kAbbreviatedMonths[month]);
  }
  const CategoryLocale numeric(LC_NUMERIC_MASK, LC_NUMERIC, "LC_NUMERIC", localeName);
  if (numeric.HasRegionalValues()) {
    items.Radix = numeric.Item(RADIXCHAR);
    items.ThousandsSeparator = numeric.Item(THOUSEP);
  }
  return InterpretLocaleItems(items);
}

LocaleValues ReadLocaleValues() { return ReadLocaleValuesFor(""); }

bool LocaleAvailable(const std::string& localeName) {
  return bool(UniqueLocale(newlocale(LC_ALL_MASK, localeName.c_str(), static_cast<locale_t>(0))));
}

}  // namespace platform
