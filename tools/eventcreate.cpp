// eventcreate: appends one record to an event log file, the way an application reports an
// event to the event log service.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii.h"
#include "core/evt_codec.h"
#include "platform/eventwriter.h"
#include "platform/text.h"
#include "tools/arguments.h"

namespace {

constexpr const char* kUsage =
    "usage: eventcreate [--dir DIR] --log NAME --source NAME --id N\n"
    "                   [--type error|warning|information|success|audit-success|audit-failure]\n"
    "                   [--category N] [--computer NAME] [--time UNIX_SECONDS]\n"
    "                   [--string TEXT]... [--data-hex HEX] [--max-size BYTES]\n"
    "       eventcreate --help\n"
    "       eventcreate --version\n";

constexpr const char* kDescription =
    "\n"
    "Appends one record to the log file DIR/NAME.evt (DIR: EVENTLOG_DIR, else\n"
    "/var/log/eventlog; the name compared without regard to case, SysEvent.Evt, AppEvent.Evt and\n"
    "SecEvent.Evt serving for System, Application and Security), creating the log with\n"
    "--max-size bytes (20 MiB by default) when it is missing and overwriting the oldest records\n"
    "when it is full.\n"
    "\n"
    "  --id N          decimal or 0x hexadecimal, all 32 bits; EventLog sees the low 16 bits, so\n"
    "                  an ID above 65535 gets a warning (the record is still written)\n"
    "  --type TYPE     in any letter case; information by default\n"
    "  --category N    0 to 65535\n"
    "  --computer NAME the computer named in the record; this host's name by default\n"
    "  --time SECONDS  the generation time, seconds since 1970 (UTC); now by default\n"
    "  --string TEXT   an insertion string, once per string; the first is what EventLog shows\n"
    "                  as the details\n"
    "  --data-hex HEX  the record's binary data, as pairs of hex digits\n"
    "\n"
    "Exit codes:\n"
    "  0  written; also --help and --version\n"
    "  1  the log could not be written: its folder or file cannot be made, opened, locked or\n"
    "     written\n"
    "  2  bad arguments, or a record too big for the log (nothing written)\n";

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
  std::uint32_t maxSize = core::evt::kDefaultMaxSize;
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

// A type by its name in any letter case.
std::optional<std::uint16_t> ParseType(std::string_view name) {
  struct Entry {
    std::string_view name;
    std::uint16_t type;
  };
  static constexpr Entry kTypes[] = {{"error", 1},   {"warning", 2},       {"information", 4},
                                     {"success", 0}, {"audit-success", 8}, {"audit-failure", 16}};
  const std::string lower = core::AsciiLowered(name);
  for (const auto& entry : kTypes)
    if (entry.name == lower) return entry.type;
  return std::nullopt;
}

// The options; --help (any of its spellings, tools/arguments.h) and --version take no value,
// every other one takes one.
constexpr tools::OptionSpec kOptions[] = {
    {"--dir", true},     {"--log", true},      {"--source", true},   {"--id", true},
    {"--type", true},    {"--category", true}, {"--computer", true}, {"--time", true},
    {"--string", true},  {"--data-hex", true}, {"--max-size", true}, {"--help", false},
    {"--version", false}};

// Sets the option's value; an error text naming what is wrong with it.
std::string ApplyOption(std::string_view option, const std::string& value, Options& options) {
  if (option == "--dir") {
    options.dir = value;
  } else if (option == "--log") {
    if (value.empty()) return "the log name is empty";
    if (value.find('/') != std::string::npos)
      return "bad log name " + value + ": a log name cannot hold '/'";
    options.log = value;
  } else if (option == "--source") {
    options.source = value;
  } else if (option == "--id") {
    auto id = ParseNumber(value, 0xFFFFFFFF);
    if (!id)
      return "bad event ID " + value + ": a decimal or 0x-hexadecimal number up to 4294967295";
    options.id = std::uint32_t(*id);
  } else if (option == "--type") {
    auto type = ParseType(value);
    if (!type)
      return "bad type " + value +
             ": one of error, warning, information, success, audit-success, audit-failure";
    options.type = *type;
  } else if (option == "--category") {
    auto category = ParseNumber(value, 0xFFFF);
    if (!category) return "bad category " + value + ": a number from 0 to 65535";
    options.category = std::uint16_t(*category);
  } else if (option == "--computer") {
    options.computer = value;
  } else if (option == "--time") {
    auto time = ParseNumber(value, 0xFFFFFFFF);
    if (!time) return "bad time " + value + ": seconds since 1970 (UTC), up to 4294967295";
    options.time = std::uint32_t(*time);
  } else if (option == "--string") {
    options.strings.push_back(value);
  } else if (option == "--data-hex") {
    auto data = ParseHex(value);
    if (!data) return "bad hex data " + value + ": pairs of hex digits";
    options.data = *data;
  } else if (option == "--max-size") {
    auto size = ParseNumber(value, 0xFFFFFFF0);
    if (!size || *size < core::evt::kMinMaxSize)
      return "bad maximum size " + value + ": from " + std::to_string(core::evt::kMinMaxSize) +
             " to 4294967280 bytes";
    options.maxSize = std::uint32_t(*size) & ~3u;
  }
  return {};
}

// Reads the options; an error text on bad arguments.
std::string ParseOptions(int argc, char** argv, Options& options) {
  bool haveDir = false;
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (std::string error = tools::UsualArgumentError(argument); !error.empty()) return error;
    // --help and --version are answered before the options are read.
    if (std::string error = ApplyOption(argument.Name, argument.Value, options); !error.empty())
      return error;
    haveDir = haveDir || argument.Name == "--dir";
  }
  if (options.log.empty()) return "--log NAME is required";
  if (!options.source) return "--source NAME is required";
  if (!options.id) return "--id N is required";
  if (!haveDir) options.dir = platform::EventLogDirectory();
  return {};
}

// The first of --help and --version among the options, or empty; an option's value is no
// option, whatever it reads.
std::string_view AskedForInformation(int argc, char** argv) {
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (argument.Kind != tools::ArgumentKind::Option) continue;
    if (argument.Name == "--help") return "--help";
    if (argument.Name == "--version") return "--version";
  }
  return {};
}

// EventLog sees only the low 16 bits of a record's ID, and a setting above 65535 never matches.
void WarnAboutWideId(std::uint32_t id) {
  if (id <= 0xFFFF) return;
  std::fprintf(stderr,
               "eventcreate: warning: event ID %u is above 65535: EventLog shows this record's ID "
               "as %u (its low 16 bits), and an <EventID> of %u never matches it\n",
               id, id & 0xFFFFu, id);
}

core::evt::NewRecord BuildRecord(const Options& options) {
  // The record holds seconds in 32 bits: past 2106-02-07 06:28:15 UTC it keeps the largest time
  // it can hold rather than a wrapped one.
  const auto now = std::uint32_t(std::clamp<std::time_t>(std::time(nullptr), 0, 0xFFFFFFFF));
  core::evt::NewRecord record;
  record.TimeWritten = now;
  record.TimeGenerated = options.time.value_or(now);
  record.EventID = *options.id;
  record.EventType = options.type;
  record.EventCategory = options.category;
  record.Source = platform::AnsiToWide(*options.source);
  record.Computer = platform::AnsiToWide(options.computer.value_or(platform::LocalComputerName()));
  for (const auto& text : options.strings) record.Strings.push_back(platform::AnsiToWide(text));
  record.Data = options.data;
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  tools::ProgramArguments arguments(argc, argv);
  if (!arguments.Problem().empty()) {
    std::fprintf(stderr, "eventcreate: %s\n", arguments.Problem().c_str());
    return 2;
  }
  argc = arguments.Count();
  argv = arguments.Values();
  if (const std::string_view asked = AskedForInformation(argc, argv); asked == "--help") {
    std::fputs(kUsage, stdout);
    std::fputs(kDescription, stdout);
    return 0;
  } else if (asked == "--version") {
    std::puts("eventcreate " EVENTLOG_VERSION);
    return 0;
  }
  Options options;
  if (std::string error = ParseOptions(argc, argv, options); !error.empty()) {
    std::fprintf(stderr, "eventcreate: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  WarnAboutWideId(*options.id);
  const core::evt::NewRecord record = BuildRecord(options);
  const std::size_t length = core::evt::EncodeRecord(record, 0).size();
  if (length > core::evt::kMaxRecordSize ||
      length + core::evt::kEofSize + core::evt::kHeaderSize > options.maxSize) {
    std::fprintf(stderr, "eventcreate: the record (%zu bytes) does not fit into the log\n%s",
                 length, kUsage);
    return 2;
  }
  std::string note;
  if (std::string error = platform::MakeLogDirectory(options.dir, note); !error.empty()) {
    std::fprintf(stderr, "eventcreate: %s\n", error.c_str());
    return 1;
  }
  if (!note.empty()) std::fprintf(stderr, "eventcreate: note: %s\n", note.c_str());
  std::string error = platform::AppendEvent(options.dir, options.log, record, options.maxSize);
  if (!error.empty()) {
    std::fprintf(stderr, "eventcreate: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
