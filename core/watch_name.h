// The name of a watch: one of several EventLog services on one machine, each with its own
// settings, working folder and journal identifier. The name becomes part of file names, unit
// names and service names, so it is kept to a safe set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace core {

constexpr std::size_t kWatchNameMaxLength = 64;

// Empty when the name is good: 1 to 64 characters, each an ASCII letter, digit, "-" or "_", and
// not "EventLog" in any letter case (that name is the plain service's settings file). Otherwise
// a sentence that names the problem and the rule.
std::string WatchNameProblem(std::string_view name);

// The daily log files' base name for a watch: a base name in the plain service's working folder
// (as the shared environment file sets it for every service) moves into the watch's folder, so
// that two watches never append to one file; any other base name stays. Nothing when it stays.
std::optional<std::string> WatchLogFile(const std::string& baseName,
                                        const std::string& plainDirectory,
                                        const std::string& watchDirectory);

}  // namespace core
