#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/process.h"

namespace {

// A program path as the build names it: a Unix path under Wine is reached through drive Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// One argument quoted the way the C runtime splits a command line.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// The child's environment block: the test's own, with the run's changes, sorted by name.
std::string EnvironmentBlock(const ProcessRun& run) {
  std::map<std::string, std::string> variables;
  LPCH block = GetEnvironmentStringsA();
  for (LPCH entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
    std::string text = entry;
    std::size_t equals = text.find('=', 1);  // "=C:=C:\..." entries start with "="
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsA(block);
  for (const auto& removed : run.RemovedVariables) variables.erase(removed);
  for (const auto& [name, value] : run.Environment) variables[name] = value;
  std::string result;
  for (const auto& [name, value] : variables) result += name + "=" + value + '\0';
  return result + '\0';
}

std::size_t CountOccurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

struct Pipe {
  HANDLE Read = nullptr;
  HANDLE Write = nullptr;
};

Pipe InheritablePipe(bool childReads) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
  Pipe pipe;
  if (!CreatePipe(&pipe.Read, &pipe.Write, &attributes, 0))
    throw std::runtime_error("CreatePipe failed");
  // Only the child's end is inherited.
  SetHandleInformation(childReads ? pipe.Write : pipe.Read, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

// Collects what a pipe delivers until its writers are gone.
class PipeReader {
 public:
  explicit PipeReader(HANDLE pipe) : thread_([this, pipe] { Read(pipe); }) {}
  ~PipeReader() {
    if (thread_.joinable()) thread_.join();
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  void Join() { thread_.join(); }

 private:
  void Read(HANDLE pipe) {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(buffer, count);
    }
    CloseHandle(pipe);
  }
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

std::wstring Wide(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

}  // namespace

ProcessResult RunProcess(const ProcessRun& run) {
  Pipe input = InheritablePipe(true);
  Pipe output = InheritablePipe(false);
  Pipe errors = InheritablePipe(false);

  std::string commandLine = Quoted(WindowsPath(run.Executable));
  std::wstring wideCommandLine = Wide(commandLine, CP_ACP);
  for (const auto& argument : run.Arguments) {
    commandLine += " " + Quoted(argument);
    wideCommandLine += L" " + Wide(Quoted(argument), run.Utf8Arguments ? CP_UTF8 : CP_ACP);
  }
  std::string environment = EnvironmentBlock(run);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.Read;
  startup.hStdOutput = output.Write;
  startup.hStdError = errors.Write;
  PROCESS_INFORMATION child{};
  const std::string directory = WindowsPath(run.WorkingDirectory);
  const std::wstring wideDirectory = Wide(directory, CP_ACP);
  // The environment block stays in the code page (no CREATE_UNICODE_ENVIRONMENT).
  if (!CreateProcessW(nullptr, wideCommandLine.data(), nullptr, nullptr, TRUE, 0,
                      environment.data(), wideDirectory.empty() ? nullptr : wideDirectory.c_str(),
                      &startup, &child))
    throw std::runtime_error("CreateProcess failed for " + commandLine);
  CloseHandle(child.hThread);
  CloseHandle(input.Read);
  CloseHandle(output.Write);
  CloseHandle(errors.Write);

  PipeReader outputReader(output.Read);
  PipeReader errorReader(errors.Read);
  if (!run.Input.empty()) {
    DWORD written = 0;
    WriteFile(input.Write, run.Input.data(), static_cast<DWORD>(run.Input.size()), &written,
              nullptr);
  }
  if (run.CloseInput) CloseHandle(input.Write);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + run.Timeout;
  for (;;) {
    if (WaitForSingleObject(child.hProcess, 20) == WAIT_OBJECT_0) break;
    const bool awaited = !run.StopWhenOutputHolds.empty() &&
                         CountOccurrences(outputReader.Text(), run.StopWhenOutputHolds) >=
                             static_cast<std::size_t>(run.StopAfterOccurrences);
    if (awaited || std::chrono::steady_clock::now() >= deadline) {
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, INFINITE);
      result.Stopped = true;
      break;
    }
  }
  if (!run.CloseInput) CloseHandle(input.Write);
  outputReader.Join();
  errorReader.Join();
  result.Output = outputReader.Text();
  result.Errors = errorReader.Text();
  DWORD exitCode = 0;
  GetExitCodeProcess(child.hProcess, &exitCode);
  result.ExitCode = result.Stopped ? -1 : static_cast<int>(exitCode);
  CloseHandle(child.hProcess);
  return result;
}

TemporaryDirectory::TemporaryDirectory() {
  static std::atomic<unsigned> sequence{0};
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = base / ("eventlog-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(sequence++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

void SetTestEnvironment(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

void ClearTestEnvironment(const std::string& name) { _putenv_s(name.c_str(), ""); }
