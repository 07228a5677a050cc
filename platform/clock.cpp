#include "platform/clock.h"

TDateTime Now() { return EncodeDateTime(platform::LocalNow()); }

bool TryStrToDateTime(std::string_view text, TDateTime& moment, const RegionalSettings& settings) {
  return TryStrToDateTime(text, moment, settings, platform::LocalNow().Year);
}
