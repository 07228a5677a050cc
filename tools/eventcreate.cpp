// eventcreate: appends one record to an event log file, the way an application reports an
// event to the event log service.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/charset.h"
#include "platform/posix/evt_format.h"

namespace {

constexpr const char* kUsage =
    "usage: eventcreate [--dir DIR] --log NAME --source NAME --id N\n"
    "                   [--type error|warning|information|success|audit-success|audit-failure]\n"
    "                   [--category N] [--computer NAME] [--time UNIX_SECONDS]\n"
    "                   [--string TEXT]... [--data-hex HEX] [--max-size BYTES]\n";

struct Options {
  std::string dir;
  std::string log;
  std::optional<std::string> source;
  std::optional<std::uint32_t> id;
  std::uint16_t type = 4;
  std::uint16_t category = 0;
  std::optional<std::string> computer;
  std::optional<std::uint32_t> time;
  std::vector<std::string> strings;
  std::vector<std::uint8_t> data;
  std::uint32_t maxSize = platform::evt::kDefaultMaxSize;
};

// A decimal or 0x-hexadecimal number up to limit.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t limit) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'                 ? c - '0'
                : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
    if (digit < 0) return std::nullopt;
    value = value * base + std::uint64_t(digit);
    if (value > limit) return std::nullopt;
  }
  return value;
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    auto byte = ParseNumber("0x" + std::string(text.substr(i, 2)), 0xFF);
    if (!byte) return std::nullopt;
    bytes.push_back(std::uint8_t(*byte));
  }
  return bytes;
}

std::optional<std::uint16_t> ParseType(std::string_view name) {
  struct Entry {
    std::string_view name;
    std::uint16_t type;
  };
  static constexpr Entry kTypes[] = {{"error", 1},   {"warning", 2},       {"information", 4},
                                     {"success", 0}, {"audit-success", 8}, {"audit-failure", 16}};
  for (const auto& entry : kTypes)
    if (entry.name == name) return entry.type;
  return std::nullopt;
}

// Reads the options; an error text on bad arguments.
std::string ParseOptions(int argc, char** argv, Options& options) {
  bool haveDir = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view option = argv[i];
    if (i + 1 >= argc) return "missing value for " + std::string(option);
    std::string value = argv[++i];
    if (option == "--dir") {
      options.dir = value;
      haveDir = true;
    } else if (option == "--log") {
      options.log = value;
    } else if (option == "--source") {
      options.source = value;
    } else if (option == "--id") {
      auto id = ParseNumber(value, 0xFFFFFFFF);
      if (!id) return "bad event ID " + value;
      options.id = std::uint32_t(*id);
    } else if (option == "--type") {
      auto type = ParseType(value);
      if (!type) return "bad type " + value;
      options.type = *type;
    } else if (option == "--category") {
      auto category = ParseNumber(value, 0xFFFF);
      if (!category) return "bad category " + value;
      options.category = std::uint16_t(*category);
    } else if (option == "--computer") {
      options.computer = value;
    } else if (option == "--time") {
      auto time = ParseNumber(value, 0xFFFFFFFF);
      if (!time) return "bad time " + value;
      options.time = std::uint32_t(*time);
    } else if (option == "--string") {
      options.strings.push_back(value);
    } else if (option == "--data-hex") {
      auto data = ParseHex(value);
      if (!data) return "bad hex data " + value;
      options.data = *data;
    } else if (option == "--max-size") {
      auto size = ParseNumber(value, 0xFFFFFFF0);
      if (!size || *size < platform::evt::kMinMaxSize) return "bad maximum size " + value;
      options.maxSize = std::uint32_t(*size) & ~3u;
    } else {
      return "unknown option " + std::string(option);
    }
  }
  if (options.log.empty() || options.log.find('/') != std::string::npos)
    return "--log NAME is required";
  if (!options.source) return "--source NAME is required";
  if (!options.id) return "--id N is required";
  if (!haveDir) options.dir = platform::evt::LogDirectory();
  return {};
}

platform::evt::NewRecord BuildRecord(const Options& options) {
  const auto now = std::uint32_t(std::time(nullptr));
  platform::evt::NewRecord record;
  record.TimeWritten = now;
  record.TimeGenerated = options.time.value_or(now);
  record.EventID = *options.id;
  record.EventType = options.type;
  record.EventCategory = options.category;
  record.Source = platform::AnsiToWide(*options.source);
  record.Computer =
      platform::AnsiToWide(options.computer.value_or(platform::evt::LocalComputerName()));
  for (const auto& text : options.strings) record.Strings.push_back(platform::AnsiToWide(text));
  record.Data = options.data;
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (std::string error = ParseOptions(argc, argv, options); !error.empty()) {
    std::fprintf(stderr, "eventcreate: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  const platform::evt::NewRecord record = BuildRecord(options);
  const std::size_t length = platform::evt::EncodeRecord(record, 0).size();
  if (length > platform::evt::kMaxRecordSize ||
      length + platform::evt::kEofSize + platform::evt::kHeaderSize > options.maxSize) {
    std::fprintf(stderr, "eventcreate: the record (%zu bytes) does not fit into the log\n%s",
                 length, kUsage);
    return 2;
  }
  if (!platform::evt::MakeDirectories(options.dir)) {
    std::fprintf(stderr, "eventcreate: cannot create %s\n", options.dir.c_str());
    return 1;
  }
  std::string error =
      platform::evt::AppendRecord(options.dir, options.log, record, options.maxSize);
  if (!error.empty()) {
    std::fprintf(stderr, "eventcreate: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
