#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/support/terminal.h"

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void ChildOnTerminal(int master, const char* slaveName, const char* directory,
                                  const char* executable, char* const* argv, char* const* envp) {
  close(master);
  if (setsid() < 0) _exit(125);
  int slave = open(slaveName, O_RDWR);
  if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) _exit(125);
  dup2(slave, 0);
  dup2(slave, 1);
  dup2(slave, 2);
  if (slave > 2) close(slave);
  if (*directory != '\0' && chdir(directory) != 0) _exit(126);
  execve(executable, argv, envp);
  _exit(127);
}

}  // namespace

TerminalResult RunOnTerminal(const std::string& executable,
                             const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment,
                             const std::string& workingDirectory,
                             std::chrono::milliseconds timeout) {
  TerminalResult result;
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return result;
  const char* name = nullptr;
  if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
    close(master);
    return result;
  }
  const std::string slaveName = name;

  // Everything the child needs is built before the fork.
  std::vector<std::string> args = {executable};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string entry = *variable;
    if (environment.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
  }
  for (const auto& [key, value] : environment) env.push_back(key + "=" + value);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  pid_t child = fork();
  if (child < 0) {
    close(master);
    return result;
  }
  if (child == 0)
    ChildOnTerminal(master, slaveName.c_str(), workingDirectory.c_str(), executable.c_str(),
                    argv.data(), envp.data());
  result.Available = true;

  // The master reads end (EIO) once the child and all it started have closed the terminal.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(child, SIGKILL);
      result.Stopped = true;
      break;
    }
    pollfd fd = {master, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    ssize_t count = read(master, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    result.Output.append(buffer, static_cast<std::size_t>(count));
  }
  close(master);
  int status = 0;
  waitpid(child, &status, 0);
  if (!result.Stopped && WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  return result;
}
