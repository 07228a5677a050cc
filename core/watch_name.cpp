// The name of a watch (watch_name.h).
#include "core/watch_name.h"

#include <filesystem>

#include "core/ascii.h"

namespace core {

std::string WatchNameProblem(std::string_view name) {
  const std::string rule =
      "a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not EventLog";
  if (name.empty()) return "the watch name is empty: " + rule;
  if (name.size() > kWatchNameMaxLength)
    return "the watch name has " + std::to_string(name.size()) + " characters: " + rule;
  for (std::size_t at = 0; at < name.size(); ++at) {
    const char c = name[at];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    // The name itself is not repeated: it may hold a line end or a path.
    if (!letter && !digit && c != '-' && c != '_')
      return "the watch name holds a character that is not allowed at position " +
             std::to_string(at + 1) + ": " + rule;
  }
  if (EqualsIgnoringAsciiCase(name, "EventLog"))
    return "the watch name '" + std::string(name) +
           "' is taken by the plain service's settings file EventLog.XML: " + rule;
  return {};
}

std::optional<std::string> WatchLogFile(const std::string& baseName,
                                        const std::string& plainDirectory,
                                        const std::string& watchDirectory) {
  namespace fs = std::filesystem;
  if (baseName.empty()) return std::nullopt;
  const fs::path base = fs::path(baseName).lexically_normal();
  if (base.parent_path() != fs::path(plainDirectory).lexically_normal() || !base.has_filename())
    return std::nullopt;
  return (fs::path(watchDirectory) / base.filename()).generic_string();
}

}  // namespace core
