// Date-time values as text: a moment written by a pattern of the regional settings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/calendar.h"
#include "core/regional.h"

// Formats a moment with a pattern: y, m, d, h, n, s, z items without regard to letter case,
// "mmm" the abbreviated month name, an m item after an hour item meaning minutes, "AMPM",
// "am/pm" and "a/p" designators, ":" and "/" the regional separators, quoted text as it stands.
std::string FormatDateTime(std::string_view pattern, TDateTime moment,
                           const RegionalSettings& settings = FormatSettings());

// Short date, then a blank and the long time unless the time is exactly midnight.
std::string DateTimeToStr(TDateTime moment, const RegionalSettings& settings = FormatSettings());

// The date-time text, or the empty text when the moment is exactly 0.
std::string DateTimeToStrOrEmpty(TDateTime moment);

// Where quoted text of a pattern ends, its quote (' or ") at open: after the closing quote, or
// at the end of an unterminated pattern.
std::size_t QuotedTextEnd(std::string_view pattern, std::size_t open);
