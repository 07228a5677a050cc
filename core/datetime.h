// Date-time values: the calendar (core/calendar.h), the text a moment is written as
// (core/datetime_format.h) and the text read back into a moment (core/datetime_parse.h).
#pragma once

#include "core/calendar.h"
#include "core/datetime_format.h"
#include "core/datetime_parse.h"
