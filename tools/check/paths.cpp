// The paths the check looks at (paths.h).
#include "tools/check/paths.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "platform/system.h"

namespace check {

namespace fs = std::filesystem;

// Joined by hand rather than by std::filesystem, whose "/" puts a backslash between the two on
// Windows: the joined paths are printed, the same on both systems.
std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (platform::IsPathSeparator(folder.back())) return folder + name;
  return folder + "/" + name;
}

// The name that sorts last among the matches: the newest for the 17-digit stamped names.
std::optional<std::string> NewestMatch(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  if (!platform::FindFileNames(JoinPath(folder, pattern), names) || names.empty())
    return std::nullopt;
  return std::ranges::max(names);
}

std::set<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  platform::FindFileNames(JoinPath(folder, pattern), names);
  return {names.begin(), names.end()};
}

std::optional<std::string> NewName(const std::set<std::string>& before,
                                   const std::set<std::string>& after) {
  const auto fresh =
      std::ranges::find_if(after, [&](const std::string& name) { return !before.contains(name); });
  if (fresh == after.end()) return std::nullopt;
  return *fresh;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  const fs::directory_iterator listing(platform::PathOf(path.empty() ? "." : path), error);
  return !error;
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(platform::PathOf(path), error);
  return error ? path : platform::PathText(absolute.lexically_normal());
}

}  // namespace check
