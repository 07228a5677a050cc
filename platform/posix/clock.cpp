// The clock and the time zone from the C library; the zone follows TZ and the system's zone
// database.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>
#include <chrono>

#include "core/datetime.h"
#include "platform/errors.h"

using core::SystemTime;

namespace platform {
namespace {

SystemTime FieldsOf(const struct tm& calendar, int millisecond) {
  const int second = calendar.tm_sec > 59 ? 59 : calendar.tm_sec;  // a leap second
  return {calendar.tm_year + 1900,
          calendar.tm_mon + 1,
          calendar.tm_mday,
          calendar.tm_hour,
          calendar.tm_min,
          second,
          millisecond};
}

bool FieldsAreValid(const SystemTime& t) {
  TDateTime date = 0, time = 0;
  return TryEncodeDate(t.Year, t.Month, t.Day, date) &&
         TryEncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond, time);
}

// Seconds since 1970 of UTC fields that have been checked.
time_t SecondsSinceEpoch(const SystemTime& utc) {
  const std::chrono::sys_days date{std::chrono::year{utc.Year} /
                                   std::chrono::month{static_cast<unsigned>(utc.Month)} /
                                   std::chrono::day{static_cast<unsigned>(utc.Day)}};
  const long long days = date.time_since_epoch().count();
  return static_cast<time_t>(((days * 24 + utc.Hour) * 60 + utc.Minute) * 60 + utc.Second);
}

}  // namespace

SystemTime LocalNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm calendar {};
  tzset();
  localtime_r(&now.tv_sec, &calendar);
  return FieldsOf(calendar, static_cast<int>(now.tv_nsec / 1000000));
}

bool UtcToLocal(const SystemTime& utc, SystemTime& local, std::uint32_t& errorCode) {
  errorCode = 0;
  if (!FieldsAreValid(utc)) {
    errorCode = EINVAL;
    return false;
  }
  const time_t seconds = SecondsSinceEpoch(utc);
  struct tm calendar {};
  tzset();  // localtime_r need not look at TZ again by itself
  errno = 0;
  if (localtime_r(&seconds, &calendar) == nullptr) {
    errorCode = errno != 0 ? static_cast<std::uint32_t>(errno) : EOVERFLOW;
    return false;
  }
  const SystemTime converted = FieldsOf(calendar, utc.Millisecond);
  if (!FieldsAreValid(converted)) {  // the zone's offset carried it out of years 1 to 9999
    errorCode = EOVERFLOW;
    return false;
  }
  local = converted;
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  struct timespec remaining {
    static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000
  };
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
