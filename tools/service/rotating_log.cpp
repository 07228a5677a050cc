// The service's rotating log files (rotating_log.h).
#include "tools/service/rotating_log.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "monitor/delivery_state.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace service {

bool RotatesBefore(std::uint64_t size, std::size_t adding, std::uint64_t limit) {
  return size > 0 && size + adding > limit;
}

std::string RotatedName(const std::string& path, int number) {
  return number == 0 ? path : path + "." + std::to_string(number);
}

std::string StampedLine(TDateTime moment, std::string_view text) {
  std::string line = DeliveryStateTime(moment);
  line += ' ';
  line += text;
  line += "\r\n";
  return line;
}

bool AppendLine(RotatingLog& log, TDateTime moment, std::string_view text) {
  const std::string line = StampedLine(moment, text);
  std::error_code error;
  if (!log.SizeKnown) {
    const std::uintmax_t size = fs::file_size(platform::PathOf(log.Path), error);
    log.Size = error ? 0 : size;
    log.SizeKnown = true;
  }
  if (RotatesBefore(log.Size, line.size(), log.Limit)) {
    fs::remove(platform::PathOf(RotatedName(log.Path, log.Keep)), error);
    for (int number = log.Keep - 1; number >= 0; --number) {
      const fs::path from = platform::PathOf(RotatedName(log.Path, number));
      if (fs::exists(from, error))
        fs::rename(from, platform::PathOf(RotatedName(log.Path, number + 1)), error);
    }
    log.Size = 0;
  }
  std::ofstream file(platform::PathOf(log.Path), std::ios::binary | std::ios::app);
  file.write(line.data(), static_cast<std::streamsize>(line.size()));
  file.flush();
  if (!file) {
    if (!log.Failing)
      std::fprintf(stderr, "eventlog-service: cannot write %s; its lines are lost until it can\n",
                   log.Path.c_str());
    log.Failing = true;
    return false;
  }
  log.Failing = false;
  log.Size += line.size();
  return true;
}

}  // namespace service
