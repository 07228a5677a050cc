#include "tests/support/process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tests/support/process.h"

std::vector<std::string> ChildEnvironment(const ProcessRun& run) {
  std::vector<std::string> entries;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string entry = *variable;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = run.Environment.count(name) > 0;
    for (const auto& removed : run.RemovedVariables) replaced = replaced || removed == name;
    if (!replaced) entries.push_back(entry);
  }
  for (const auto& [name, value] : run.Environment) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

namespace {

[[noreturn]] void ChildExec(const ProcessRun& run, char* const* argv, char* const* envp,
                            int inputFd, int outputFd, int errorFd) {
  dup2(inputFd, 0);
  dup2(outputFd, 1);
  dup2(errorFd, 2);
  if (!run.WorkingDirectory.empty() && chdir(run.WorkingDirectory.c_str()) != 0) _exit(126);
  execve(run.Executable.c_str(), argv, envp);
  _exit(127);
}

std::size_t CountOccurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

}  // namespace

ProcessResult RunProcess(const ProcessRun& run) {
  int input[2], output[2], errors[2];
  // Close-on-exec, so that a child started from another thread does not hold these pipes open.
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::vector<std::string> arguments = {run.Executable};
  arguments.insert(arguments.end(), run.Arguments.begin(), run.Arguments.end());
  std::vector<std::string> environment = ChildEnvironment(run);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    close(input[1]);
    close(output[0]);
    close(errors[0]);
    ChildExec(run, argv.data(), envp.data(), input[0], output[1], errors[1]);
  }
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!run.Input.empty()) {
    // Inputs in the tests are small enough for the pipe's buffer.
    ssize_t written = write(input[1], run.Input.data(), run.Input.size());
    (void)written;
  }
  if (run.CloseInput) close(input[1]);

  ProcessResult result;
  auto deadline = std::chrono::steady_clock::now() + run.Timeout;
  pollfd fds[2] = {{output[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
  bool requested = false;
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    bool awaited = !run.StopWhenOutputHolds.empty() &&
                   CountOccurrences(result.Output, run.StopWhenOutputHolds) >=
                       static_cast<std::size_t>(run.StopAfterOccurrences);
    if (left.count() <= 0 || awaited) {
      kill(child, SIGKILL);
      result.Stopped = true;
      break;
    }
    if (run.RequestWhen && !requested && run.RequestWhen(result.Output, result.Errors)) {
      kill(child, SignalNumber(run.RequestSent));
      requested = true;
    }
    // A program the test watches is looked at again at least every 20 ms.
    const int wait = run.RequestWhen && !requested
                         ? std::min<int>(20, static_cast<int>(left.count()))
                         : static_cast<int>(left.count());
    if (poll(fds, 2, wait) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.Output : result.Errors).append(buffer, static_cast<std::size_t>(count));
      }
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (!run.CloseInput) close(input[1]);
  int status = 0;
  waitpid(child, &status, 0);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

int SignalNumber(ProcessRun::Request request) {
  return request == ProcessRun::Request::Interrupt ? SIGINT : SIGTERM;
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "eventlog-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

void SetTestEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void ClearTestEnvironment(const std::string& name) { unsetenv(name.c_str()); }
