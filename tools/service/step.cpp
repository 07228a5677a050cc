// What the steps share (step.h).
#include "tools/service/step.h"

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/system.h"

namespace fs = std::filesystem;

namespace service {

Paths PathsIn(const std::string& directory) {
  const fs::path folder(directory);
  return {(folder / "EventLog.XML").string(), (folder / kProgramFileName).string(),
          (folder / kStateFileName).string()};
}

std::string ProgramBesideThisTool() {
  const fs::path folder = fs::path(platform::ExecutablePath()).parent_path();
  return ((folder.empty() ? fs::path(".") : folder) / kProgramFileName).string();
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Reading ReadWholeFile(const std::string& path, std::size_t limit, platform::Links links,
                      std::string& bytes, std::string& error) {
  platform::WholeFile file = platform::ReadRegularFile(path, limit, links);
  bytes = std::move(file.Content);
  switch (file.Outcome) {
    case platform::WholeFileOutcome::Read:
      return Reading::Read;
    case platform::WholeFileOutcome::SymbolicLink:
      error = path + ": is a symbolic link, which is not followed here";
      break;
    case platform::WholeFileOutcome::NotRegular:
      error = path + ": is not a regular file";
      break;
    case platform::WholeFileOutcome::TooLarge:
      error = path + ": holds more than " + std::to_string(limit) + " bytes";
      break;
    case platform::WholeFileOutcome::CannotOpen:
    case platform::WholeFileOutcome::ReadFailed:
      if (file.Missing) return Reading::Missing;
      error = path + ": " + file.Reason;
      break;
  }
  return Reading::Refused;
}

}  // namespace service
