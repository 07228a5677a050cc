#include "kit/helpers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// Writes the bytes to a file opened in the given mode; false when any step fails, with the
// system's text for the first failure in reason.
bool WriteWholeText(const std::string& text, const std::string& fileName, const char* mode,
                    std::string& reason) {
  errno = 0;
  std::FILE* file = std::fopen(fileName.c_str(), mode);
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = std::fflush(file) == 0 && written;
  if (!written) reason = std::strerror(errno);
  const bool closed = std::fclose(file) == 0;
  if (written && !closed) reason = std::strerror(errno);
  return closed && written;
}

bool WriteWholeText(const std::string& text, const std::string& fileName, const char* mode) {
  std::string ignored;
  return WriteWholeText(text, fileName, mode, ignored);
}

// The available figure as a whole percentage of the total, halves to even; false for a zero
// total. Values beyond the signed range are held at its largest value.
bool FillMemoryGroup(std::uint64_t total, std::uint64_t available, std::int64_t& totalField,
                     std::int64_t& availableField, std::int32_t& percentField) {
  constexpr std::uint64_t kLargest = INT64_MAX;
  totalField = static_cast<std::int64_t>(std::min(total, kLargest));
  availableField = static_cast<std::int64_t>(std::min(available, kLargest));
  if (total == 0) return false;
  const long double percent =
      static_cast<long double>(available) / static_cast<long double>(total) * 100.0L;
  percentField = static_cast<std::int32_t>(std::nearbyint(percent));
  return true;
}

}  // namespace

bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append) {
  std::string ignored;
  return AppendTextToFile(text, fileName, append, ignored);
}

bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append,
                      std::string& reason) {
  try {
    // A file that stays (read-only, in use) is not written to: root could still open it, and the
    // old text would then lead the new one.
    if (!append && platform::FileExists(fileName) && !platform::RemoveFile(fileName)) {
      reason = "an earlier file of that name cannot be replaced";
      return false;
    }
    if (text.empty()) return true;
    // Binary, so that the text is written unchanged; callers bring their own line ends.
    if (!WriteWholeText(text, fileName, "ab", reason)) return false;
    if (platform::FileExists(fileName)) return true;
    reason = "the file is gone after the write";
    return false;
  } catch (const std::exception& failure) {
    reason = failure.what();
    return false;
  } catch (...) {
    reason = "an unknown failure";
    return false;
  }
}

bool AppendTimestampedLine(const std::string& text, const std::string& fileName) {
  try {
    const bool existed = platform::FileExists(fileName);
    if (text.empty()) {
      platform::RemoveFile(fileName);
      return true;
    }
    return WriteWholeText(DateTimeToStr(Now()) + ": " + text + "\r\n", fileName,
                          existed ? "ab" : "wb");
  } catch (...) {
    return false;
  }
}

std::string TimeToStrMs(TDateTime moment) {
  return FormatDateTime("hh:mm:ss.zzz", moment == -1 ? Now() : moment);
}

std::string IfThenStr(bool condition, const std::string& first, const std::string& second) {
  return condition ? first : second;
}

std::string GetHostName() { return platform::ComputerName(); }

std::string GetAppPath() { return ProgramDirectoryOf(platform::ExecutablePath()); }

std::string ProgramDirectoryOf(const std::string& programPath) {
  std::size_t end = programPath.size();
  while (end > 0 && !platform::IsPathSeparator(programPath[end - 1])) --end;
  std::string directory = programPath.substr(0, end);
  if (directory.compare(0, 4, "\\\\?\\") == 0) directory.erase(0, 4);
  return directory;
}

tMemoryStatusRec GetMemoryStatus() {
  tMemoryStatusRec status;
  try {
    platform::MemoryFigures figures;
    if (!platform::ReadMemoryFigures(figures)) return status;
    status.MemoryLoad = static_cast<std::int32_t>(figures.Load);
    if (!FillMemoryGroup(figures.TotalPhys, figures.AvailPhys, status.TotalPhys, status.AvailPhys,
                         status.AvailPhysPercent) ||
        !FillMemoryGroup(figures.TotalPageFile, figures.AvailPageFile, status.TotalPageFile,
                         status.AvailPageFile, status.AvailPageFilePercent) ||
        !FillMemoryGroup(figures.TotalVirtual, figures.AvailVirtual, status.TotalVirtual,
                         status.AvailVirtual, status.AvailVirtualPercent))
      return status;
    status.Valid = true;
  } catch (...) {
  }
  return status;
}

tMachineUpTime GetMachineUpTime() {
  return MachineUpTimeFromTicks(platform::MillisecondsSinceBoot());
}

tMachineUpTime MachineUpTimeFromTicks(std::uint64_t ticks) {
  constexpr std::uint64_t kWeek = 604800000, kDay = 86400000, kHour = 3600000, kMinute = 60000;
  std::uint64_t remainder = ticks;
  const std::uint64_t weeks = remainder / kWeek;
  remainder -= weeks * kWeek;
  const std::uint64_t days = remainder / kDay;
  remainder -= days * kDay;
  const std::uint64_t hours = remainder / kHour;
  remainder -= hours * kHour;
  const std::uint64_t minutes = remainder / kMinute;
  remainder -= minutes * kMinute;
  const std::uint64_t seconds = remainder / 1000;

  tMachineUpTime upTime;
  upTime.Ticks = static_cast<std::int64_t>(std::min<std::uint64_t>(ticks, INT64_MAX));
  upTime.Text = std::to_string(weeks) + "w" + std::to_string(days) + "d" + std::to_string(hours) +
                "h" + std::to_string(minutes) + "m" + std::to_string(seconds) + "s";
  upTime.Days = static_cast<double>(
      static_cast<long double>(7 * weeks + days) + static_cast<long double>(hours) / 24.0L +
      static_cast<long double>(minutes) / 1440.0L + static_cast<long double>(seconds) / 86400.0L);
  return upTime;
}
