// The part of the file service that is the same on both systems: the texts of a refused read.
#include "platform/files.h"

namespace platform {

bool IsRefused(const WholeFile& file) {
  return file.Outcome == WholeFileOutcome::SymbolicLink ||
         file.Outcome == WholeFileOutcome::NotRegular || file.Outcome == WholeFileOutcome::TooLarge;
}

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kMebibyte = std::size_t(1) << 20;
  if (bytes >= kMebibyte && bytes % kMebibyte == 0)
    return std::to_string(bytes / kMebibyte) + " MiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string WholeFileProblem(const std::string& name, const WholeFile& file, std::size_t limit) {
  switch (file.Outcome) {
    case WholeFileOutcome::Read:
      return {};
    case WholeFileOutcome::CannotOpen:
      return "cannot open " + name + ": " + file.Reason;
    case WholeFileOutcome::SymbolicLink:
      return name + " is a symbolic link, which is not followed";
    case WholeFileOutcome::NotRegular:
      return name + " is not a regular file but " + file.Reason;
    case WholeFileOutcome::TooLarge:
      return name + " is larger than " + SizeText(limit) +
             (SizeText(limit).find("MiB") != std::string::npos
                  ? " (" + std::to_string(limit) + " bytes)"
                  : std::string());
    case WholeFileOutcome::ReadFailed:
      return "cannot read " + name + ": " + file.Reason;
  }
  return {};
}

}  // namespace platform
