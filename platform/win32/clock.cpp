// The clock and the time zone from the system's time services; the zone is the machine's
// current one, as the control panel sets it.
#include "platform/clock.h"

#include "core/datetime.h"
#include "platform/errors.h"
#include "platform/win32/windows_api.h"

using core::SystemTime;

namespace platform {
namespace {

SystemTime FieldsOf(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

// The calendar of the date-time values: years 1 to 9999, the time of day below 24 hours.
bool FieldsAreValid(const SystemTime& t) {
  TDateTime date = 0, time = 0;
  return TryEncodeDate(t.Year, t.Month, t.Day, date) &&
         TryEncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond, time);
}

SYSTEMTIME SystemFieldsOf(const SystemTime& t) {
  SYSTEMTIME fields{};
  fields.wYear = static_cast<WORD>(t.Year);
  fields.wMonth = static_cast<WORD>(t.Month);
  fields.wDay = static_cast<WORD>(t.Day);
  fields.wHour = static_cast<WORD>(t.Hour);
  fields.wMinute = static_cast<WORD>(t.Minute);
  fields.wSecond = static_cast<WORD>(t.Second);
  fields.wMilliseconds = static_cast<WORD>(t.Millisecond);
  return fields;
}

}  // namespace

SystemTime LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FieldsOf(now);
}

bool UtcToLocal(const SystemTime& utc, SystemTime& local, std::uint32_t& errorCode) {
  errorCode = 0;
  // Fields the calendar does not know are refused before the system sees them; the system
  // itself refuses the years before 1601.
  if (!FieldsAreValid(utc)) {
    errorCode = ERROR_INVALID_PARAMETER;
    return false;
  }
  const SYSTEMTIME universal = SystemFieldsOf(utc);
  SYSTEMTIME converted;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &converted)) {
    errorCode = GetLastError();
    if (errorCode == 0) errorCode = ERROR_INVALID_PARAMETER;
    return false;
  }
  const SystemTime result = FieldsOf(converted);
  if (!FieldsAreValid(result)) {  // the zone's offset carried it beyond the year 9999
    errorCode = ERROR_INVALID_PARAMETER;
    return false;
  }
  local = result;
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  // The largest count would wait for ever; it waits its 49.7 days in two steps instead.
  if (milliseconds == INFINITE) {
    Sleep(INFINITE - 1);
    milliseconds = 1;
  }
  Sleep(milliseconds);
}

}  // namespace platform
