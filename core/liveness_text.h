// The liveness file's text: what one watch has done since its start, in the Prometheus text
// exposition format (version 0.0.4) that node_exporter's textfile collector reads. Pure
// formatting, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// What the file says of one watch. Texts are UTF-8; times are seconds since 1970 (UTC).
struct tLivenessFigures {
  std::string Watch;  // every series carries it as the label watch
  std::string Log;    // the log the watch searches
  std::int32_t EventID = 0;
  std::string Host;     // the computer's name
  std::string Version;  // EventLog's version
  double StartUnix = 0;
  std::int32_t Sleep = 0;       // the Sleep setting: seconds between cycles, 0 or less one cycle
  double LastCycleEndUnix = 0;  // 0 before the first cycle has ended
  std::int64_t Cycles = 0;
  std::int64_t Reports = 0;
  std::int64_t PagesAccepted = 0;
  std::int64_t PagesRefused = 0;
  std::int64_t PagesFailed = 0;
  std::int64_t AlertPostsAccepted = 0;
  std::int64_t AlertPostsFailed = 0;
};

// A label value as the format writes it between its quotes: a malformed UTF-8 sequence becomes
// "?" (the file must stay valid UTF-8), then backslash, double quote and line feed are escaped
// as \\, \" and \n.
std::string LabelValueText(std::string_view utf8);

// A time as seconds with three decimals ("1507566240.125"); a count in decimal.
std::string SecondsText(double seconds);

// The whole file: a HELP and a TYPE line for each family, then its series, each line ended by
// LF.
std::string LivenessText(const tLivenessFigures& figures);

}  // namespace core
