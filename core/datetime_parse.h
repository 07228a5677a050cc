// Date-time text read back into a moment by the regional rules.
#pragma once

#include <string_view>

#include "core/calendar.h"
#include "core/regional.h"

// Parses date-time text by the regional rules, two-digit years placed around currentYear; false
// when the text is not a date-time. (platform/clock.h has the form that uses this year.)
bool TryStrToDateTime(std::string_view text, TDateTime& moment, const RegionalSettings& settings,
                      int currentYear);
