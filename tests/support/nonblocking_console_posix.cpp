#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "tests/support/nonblocking_console.h"
#include "tests/support/process_posix.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The smallest pipe the system grants, so that a long report fills it many times over.
constexpr int kSmallPipe = 4096;

bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool IsNonBlocking(int fd) { return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0; }

}  // namespace

NonBlockingResult RunOnNonBlockingPipes(const NonBlockingRun& run) {
  int input[2], output[2], errors[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  // The program's ends only: each end of a pipe has its own file status flags.
  if (!MakeNonBlocking(input[0]) || !MakeNonBlocking(output[1]))
    throw std::runtime_error("cannot make the pipes non-blocking");
  fcntl(output[1], F_SETPIPE_SZ, kSmallPipe);
  NonBlockingResult outcome;
  outcome.InputWasNonBlocking = IsNonBlocking(input[0]);
  outcome.OutputWasNonBlocking = IsNonBlocking(output[1]);

  const ProcessRun& process = run.Process;
  std::vector<std::string> arguments = {process.Executable};
  arguments.insert(arguments.end(), process.Arguments.begin(), process.Arguments.end());
  std::vector<std::string> environment = ChildEnvironment(process);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    dup2(errors[1], 2);
    if (!process.WorkingDirectory.empty() && chdir(process.WorkingDirectory.c_str()) != 0)
      _exit(126);
    execve(process.Executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  signal(SIGPIPE, SIG_IGN);

  ProcessResult& result = outcome.Result;
  const auto start = Clock::now();
  const auto deadline = start + process.Timeout;
  std::size_t nextPiece = 0;
  auto nextPieceAt = start + (run.Input.empty() ? milliseconds(0) : run.Input[0].After);
  int inputFd = input[1];
  if (run.Input.empty()) {
    close(inputFd);
    inputFd = -1;
  }
  pollfd fds[2] = {{output[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto now = Clock::now();
    if (now >= deadline) {
      kill(child, SIGKILL);
      result.Stopped = true;
      break;
    }
    if (inputFd >= 0 && now >= nextPieceAt) {
      const std::string& text = run.Input[nextPiece].Text;
      // The pieces are small enough for the pipe's buffer.
      if (write(inputFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot feed the input");
      if (++nextPiece == run.Input.size()) {
        close(inputFd);
        inputFd = -1;
      } else {
        nextPieceAt = now + run.Input[nextPiece].After;
      }
    }
    auto until = inputFd >= 0 ? std::min(nextPieceAt, deadline) : deadline;
    const auto wait = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
    if (poll(fds, 2, static_cast<int>(std::max<long long>(wait, 0))) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const std::size_t size = i == 0 ? std::min(run.ReadSize, sizeof buffer) : sizeof buffer;
      const ssize_t count = read(fds[i].fd, buffer, size);
      if (count <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.Output : result.Errors).append(buffer, static_cast<std::size_t>(count));
      if (i == 0) std::this_thread::sleep_for(run.ReadPause);
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (inputFd >= 0) close(inputFd);
  int status = 0;
  waitpid(child, &status, 0);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}
