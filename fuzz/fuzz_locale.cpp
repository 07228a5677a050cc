// The locale's items, taken from the fuzz input line by line, mapped to regional settings that
// then write and read date-times.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"
#include "core/regional.h"
#include "platform/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  LocaleItems items;
  std::string* fields[7 + 12] = {&items.DateFormat,        &items.TimeFormat, &items.TimeFormatAmPm,
                                 &items.AMString,          &items.PMString,   &items.Radix,
                                 &items.ThousandsSeparator};
  for (int i = 0; i < 12; ++i) fields[7 + i] = &items.AbbreviatedMonths[i];
  for (std::string* field : fields) {
    const std::size_t end = input.find('\n');
    *field = std::string(input.substr(0, end));
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }
  const RegionalSettings settings = BuildRegionalSettings(InterpretLocaleItems(items));
  for (TDateTime moment : {43017.68333333333, 0.0, -700000.25, 2958465.99999}) {
    const std::string text = DateTimeToStr(moment, settings);
    TDateTime parsed;
    TryStrToDateTime(text, parsed, settings, 2017);
  }
  return 0;
}
