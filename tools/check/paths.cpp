// The paths the check looks at (paths.h).
#include "tools/check/paths.h"

#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "platform/system.h"

namespace check {

namespace fs = std::filesystem;

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
  std::string newest = names.front();
  for (const auto& name : names)
    if (name > newest) newest = name;
  return newest;
}

std::set<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  platform::FindFileNames(JoinPath(folder, pattern), names);
  return {names.begin(), names.end()};
}

std::optional<std::string> NewName(const std::set<std::string>& before,
                                   const std::set<std::string>& after) {
  for (const auto& name : after)
    if (before.count(name) == 0) return name;
  return std::nullopt;
}

bool IsFolder(const std::string& path) {
  std::vector<std::string> names;
  return platform::FindFileNames(JoinPath(path, "*"), names);
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

}  // namespace check
