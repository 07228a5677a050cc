#include "platform/system.h"

#include <chrono>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/win32/windows_api.h"

// After windows.h, whose types it uses.
#include <shellapi.h>

namespace platform {

std::string ComputerName() {
  // Room for 253 characters and the terminating zero; the call reports how many it wrote.
  char buffer[254] = {};
  DWORD length = 253;
  if (!GetComputerNameA(buffer, &length) || length > 253) return {};
  return std::string(buffer, length);
}

std::vector<std::string> ProgramArguments(int argc, char** argv, std::vector<std::string>& lost) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  // Without the wide command line, or when it splits otherwise than the C library did, the
  // narrow arguments stand.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const std::wstring_view text(wide[i]);
    const std::u16string units(text.begin(), text.end());
    std::string narrow = WideToAnsi(units);
    if (AnsiToWide(narrow) != units) lost.push_back(narrow);
    arguments.push_back(std::move(narrow));
  }
  LocalFree(wide);
  return arguments;
}

std::string ExecutablePath() {
  // MAX_PATH bytes hold the usual path; a longer one gets a larger buffer.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return {};  // no path of the system is longer
    path.resize(path.size() * 2);
  }
}

// A backslash or a slash ends a directory, and the colon ends a drive.
bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool ReadMemoryFigures(MemoryFigures& figures) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  figures.Load = status.dwMemoryLoad;
  figures.TotalPhys = status.ullTotalPhys;
  figures.AvailPhys = status.ullAvailPhys;
  figures.TotalPageFile = status.ullTotalPageFile;
  figures.AvailPageFile = status.ullAvailPageFile;
  figures.TotalVirtual = status.ullTotalVirtual;
  figures.AvailVirtual = status.ullAvailVirtual;
  return true;
}

std::uint64_t MillisecondsSinceBoot() { return GetTickCount64(); }

void Beep(std::uint32_t frequency, std::uint32_t durationMilliseconds) {
  const auto start = std::chrono::steady_clock::now();
  ::Beep(frequency, durationMilliseconds);
  // Without a speaker the call may come back at once; the tone's time passes all the same.
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  if (elapsed >= 0 && static_cast<std::uint64_t>(elapsed) < durationMilliseconds)
    SleepMilliseconds(durationMilliseconds - static_cast<std::uint32_t>(elapsed));
}

std::string CurrentUserName() {
  char buffer[257] = {};  // the longest user name and its zero
  DWORD length = sizeof buffer;
  if (!GetUserNameA(buffer, &length) || length == 0) return {};
  return std::string(buffer, length - 1);
}

bool CanSwitchUser() { return false; }

bool SwitchToUser(const std::string&, std::string& error) {
  error = "a program runs as the user who starts it on Windows";
  return false;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value, std::string& error) {
  // The C library's copy of the environment is what getenv reads.
  if (_putenv_s(name.c_str(), value.c_str()) == 0) return true;
  error = "the environment refused " + name;
  return false;
}

}  // namespace platform
