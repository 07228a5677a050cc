// The user's locale: the regional values it reports.
#pragma once

#include <string>

#include "core/regional.h"

namespace platform {
// Reads the user's locale.
LocaleValues ReadLocaleValues();
// Reads the named locale; the empty name is the user's locale as the environment sets it.
LocaleValues ReadLocaleValuesFor(const std::string& localeName);
// Whether the named locale is installed on the machine.
bool LocaleAvailable(const std::string& localeName);
}  // namespace platform

// Fills the settings of the run from the user's locale; called once at start-up.
void LoadRegionalSettings();
