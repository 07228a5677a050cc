// The body of an alert post to Alertmanager (POST /api/v2/alerts): a JSON array holding one alert
// with its labels, annotations, start and end. Our texts are 8-bit: a run of bytes that is valid
// UTF-8 stays as it is, every other byte is read as Windows-1252, so the body is always valid
// JSON in UTF-8 whatever the event's texts hold. Pure functions on strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// A name and its text, in the order the body lists them.
using tAlertItems = std::vector<std::pair<std::string, std::string>>;

struct tAlert {
  tAlertItems Labels;             // what makes the alert one alert to Alertmanager
  tAlertItems Annotations;        // what it says beside
  std::int64_t StartsAtUnix = 0;  // seconds since 1970 (UTC)
  std::int64_t EndsAtUnix = 0;
};

// The text as a JSON string with its quotes: '"' and '\' escaped, control characters and DEL
// as \b \f \n \r \t or \u00XX, valid UTF-8 as it stands, any other byte as its Windows-1252
// character in UTF-8 (the five bytes that code page leaves out as U+0081 ... U+009D, escaped).
std::string JsonString(std::string_view text);

// The moment as RFC 3339 in UTC: "2017-10-09T16:24:00Z".
std::string Rfc3339Utc(std::int64_t unixSeconds);

// [{"labels":{...},"annotations":{...},"startsAt":"...","endsAt":"..."}]
std::string AlertsBody(const tAlert& alert);

}  // namespace core
