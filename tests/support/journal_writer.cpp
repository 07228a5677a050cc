#include "tests/support/journal_writer.h"

#include "tests/support/process.h"

namespace {

constexpr char kBootId[] = "0123456789abcdef0123456789abcdef";
// Monotonic time counts from this moment on, so every entry lies after the boot.
constexpr std::uint64_t kBootMicroseconds = 1000000000000000;

bool NeedsBinaryForm(const std::string& value) {
  return value.find('\n') != std::string::npos || value.find('\0') != std::string::npos;
}

void AppendLittleEndian64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(char(value >> (8 * i)));
}

}  // namespace

std::string JournalExportText(const std::vector<JournalEntry>& entries) {
  std::string text;
  for (const JournalEntry& entry : entries) {
    text += "__REALTIME_TIMESTAMP=" + std::to_string(entry.RealtimeMicroseconds) + "\n";
    text +=
        "__MONOTONIC_TIMESTAMP=" + std::to_string(entry.RealtimeMicroseconds - kBootMicroseconds) +
        "\n";
    text += std::string("_BOOT_ID=") + kBootId + "\n";
    for (const auto& [key, value] : entry.Fields) {
      if (NeedsBinaryForm(value)) {
        text += key + "\n";
        AppendLittleEndian64(text, value.size());
        text += value + "\n";
      } else {
        text += key + "=" + value + "\n";
      }
    }
    text += "\n";
  }
  return text;
}

std::string JournalRemotePath() {
  for (const char* path :
       {"/lib/systemd/systemd-journal-remote", "/usr/lib/systemd/systemd-journal-remote"})
    if (PathExists(path)) return path;
  return {};
}

std::string WriteJournalFile(const std::string& path, const std::vector<JournalEntry>& entries) {
  ProcessRun run;
  run.Executable = JournalRemotePath();
  if (run.Executable.empty()) return "systemd-journal-remote is not installed";
  run.Arguments = {"-o", path, "-"};
  run.Input = JournalExportText(entries);
  run.Timeout = std::chrono::milliseconds(120000);
  ProcessResult result = RunProcess(run);
  if (result.ExitCode != 0)
    return "systemd-journal-remote ended with " + std::to_string(result.ExitCode) + ": " +
           result.Errors;
  return {};
}
