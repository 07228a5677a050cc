// A text file of stamped lines that the Windows service keeps, rotated at a size: when the next
// line would take the file past its limit, NAME.<keep> goes, NAME.<n> becomes NAME.<n+1> and NAME
// becomes NAME.1, and the line starts a fresh NAME. Each line is "yyyy-mm-dd hh:nn:ss.zzz " (local
// time), the text and CR LF. A file that cannot be written is said once on standard error (the
// service has no other place left), and again after it could be written once more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"

namespace service {

constexpr std::uint64_t kLogFileLimit = std::uint64_t{1} << 20;  // 1 MiB
constexpr int kLogFilesKept = 3;                                 // NAME.1 to NAME.3

struct RotatingLog {
  std::string Path;
  std::uint64_t Limit = kLogFileLimit;
  int Keep = kLogFilesKept;
  std::uint64_t Size = 0;  // NAME's size, read when the first line is written
  bool SizeKnown = false;
  bool Failing = false;
};

// Whether a file of size bytes must rotate before a line of adding bytes: a line is never split
// and a single line longer than the limit still goes into a file of its own.
bool RotatesBefore(std::uint64_t size, std::size_t adding, std::uint64_t limit);

// NAME.<number>, or NAME for 0.
std::string RotatedName(const std::string& path, int number);

// The line as the file holds it: the moment, a blank, the text, CR LF.
std::string StampedLine(TDateTime moment, std::string_view text);

// Appends the text as one stamped line, rotating first when it is due. False when the line
// could not be written.
bool AppendLine(RotatingLog& log, TDateTime moment, std::string_view text);

}  // namespace service
