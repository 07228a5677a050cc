#include "platform/locale.h"

void LoadRegionalSettings() {
  FormatSettings() = BuildRegionalSettings(platform::ReadLocaleValues());
}
