// The paths the check looks at: folders, the newest of the stamped files in a folder, the
// files that appeared in one, absolute paths.
#pragma once

#include <optional>
#include <set>
#include <string>

namespace check {

std::string JoinPath(const std::string& folder, const std::string& name);

// The name that sorts last among the matches: the newest for the 17-digit stamped names.
std::optional<std::string> NewestMatch(const std::string& folder, const std::string& pattern);

std::set<std::string> MatchingNames(const std::string& folder, const std::string& pattern);

// The first name of after that is not in before.
std::optional<std::string> NewName(const std::set<std::string>& before,
                                   const std::set<std::string>& after);

// Whether the path is a folder this user can list (empty: the current folder).
bool IsFolder(const std::string& path);

// The path made absolute and normal; the path itself when that fails.
std::string Absolute(const std::string& path);

}  // namespace check
