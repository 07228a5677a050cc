#include "core/alert_json.h"

#include <chrono>
#include <cstdio>

#include "core/utf8.h"

namespace core {

namespace {

// Windows-1252's characters for 0x80 to 0x9F; 0 where the code page has none.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The length of the valid UTF-8 sequence of two to four bytes at the start, or 0: no stray or
// missing continuation byte, no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's bounds
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

void AppendEscaped(unsigned code, std::string& out) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", code);
  out += escape;
}

void AppendItems(const char* name, const tAlertItems& items, std::string& out) {
  out += '"';
  out += name;
  out += "\":{";
  bool first = true;
  for (const auto& [key, value] : items) {
    if (!first) out += ',';
    first = false;
    out += JsonString(key) + ':' + JsonString(value);
  }
  out += '}';
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x80) {
      if (const std::size_t length = Utf8SequenceLength(text.substr(at)); length > 0) {
        out.append(text.substr(at, length));
        at += length;
        continue;
      }
      const char16_t mapped = byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
      if (mapped == 0)
        AppendEscaped(byte, out);
      else
        AppendUtf8(mapped, out);
      ++at;
      continue;
    }
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F)
          AppendEscaped(byte, out);
        else
          out += static_cast<char>(byte);
    }
    ++at;
  }
  return out + '"';
}

std::string Rfc3339Utc(std::int64_t unixSeconds) {
  using namespace std::chrono;
  const sys_seconds moment{seconds(unixSeconds)};
  const sys_days day = floor<days>(moment);
  const year_month_day date(day);
  const hh_mm_ss<seconds> time(moment - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string AlertsBody(const tAlert& alert) {
  std::string body = "[{";
  AppendItems("labels", alert.Labels, body);
  body += ',';
  AppendItems("annotations", alert.Annotations, body);
  body += ",\"startsAt\":\"" + Rfc3339Utc(alert.StartsAtUnix) + "\",\"endsAt\":\"" +
          Rfc3339Utc(alert.EndsAtUnix) + "\"}]";
  return body;
}

}  // namespace core
